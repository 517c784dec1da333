#!/bin/bash
# Checks the export and import directories of the built DLLs.
#   check_exports.sh halvekprint.dll [ostralib.dll]
set -u
objdump=x86_64-w64-mingw32-objdump
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

exports_of() {  # the names in the export table, sorted
  "$objdump" -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/{t=1;next} t&&/^[ \t]*\[/{print $NF;next} t&&NF==0{t=0}' | sort
}
module_name_of() {
  "$objdump" -p "$1" | awk '/^Name[ \t]+[0-9a-f]+ /{print $3; exit}' | head -1
}
imports_of() {
  "$objdump" -p "$1" | sed -n 's/^[ \t]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u
}
check_imports() {  # dll, allowed names...
  local dll=$1; shift
  local allowed=" $* "
  for name in $(imports_of "$dll"); do
    [[ "$allowed" == *" $name "* ]] || fail "$(basename "$dll") imports $name"
  done
}

processor=$1
expected_exports="ClosePrintProcessor
ControlPrintProcessor
EnumPrintProcessorDatatypesW
InstallPrintProcessor
OpenPrintProcessor
PrintDocumentOnPrintProcessor"
actual=$(exports_of "$processor")
[ "$actual" == "$expected_exports" ] || fail "halvekprint.dll exports: $(echo $actual)"
[ "$(module_name_of "$processor")" == "halvekprint.dll" ] || fail "module name: $(module_name_of "$processor")"
check_imports "$processor" kernel32.dll advapi32.dll user32.dll winspool.drv ostralib.dll \
  msvcrt.dll api-ms-win-crt-runtime-l1-1-0.dll
echo "halvekprint.dll imports: $(echo $(imports_of "$processor"))"

if [ $# -ge 2 ] && [ -n "$2" ]; then
  library=$2
  expected_library="DecoderFinalize
DecoderInit
DecoderProcess
DecoderStatus
MsgQueAlloc
MsgQueCreate
MsgQueDelete
MsgQueFree
MsgQueSendMessage"
  actual=$(exports_of "$library")
  [ "$actual" == "$expected_library" ] || fail "ostralib.dll exports: $(echo $actual)"
  [ "$(module_name_of "$library")" == "ostralib.dll" ] || fail "module name: $(module_name_of "$library")"
  check_imports "$library" kernel32.dll msvcrt.dll
  echo "ostralib.dll imports: $(echo $(imports_of "$library"))"
fi

[ $failures -eq 0 ] && echo "exports and imports as expected"
exit $((failures > 0))
