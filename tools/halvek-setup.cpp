// Operator setup of the print processor in the local spooler:
//   halvek-setup install [--printer NAME] [--port FILE] [--output-folder DIR]
//                        [--reader ACCOUNT] [--from DIR]
//   halvek-setup add-printer NAME --output-folder DIR [--port FILE] [--reader ACCOUNT]
//   halvek-setup set-prefix LABEL PREFIX | set-prefix --remove LABEL | set-prefix --clear
//   halvek-setup set-interpret-title on|off|default
//   halvek-setup set-hard-links on|off|default
//   halvek-setup log on FILE | log off | log show [N]
//   halvek-setup status
//   halvek-setup uninstall
// Every command can be run again and leaves the same state. Failures print
// the Win32 error text and exit with 1; bad usage exits with 2.
#include <string>

#include "platform/registry_names.h"
#include "platform/win.h"
#include "tools/setup/commands.h"
#include "tools/setup/common.h"

namespace {

using namespace setup;

// This tool and its DLLs must match the machine, and run natively: under
// WOW64 the spooler folders and keys it sees are redirected.
bool CheckMachine() {
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Function>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT nativeMachine = kBuiltMachine;
  BOOL wow64 = FALSE;
  if (isWow64Process2) {
    if (!isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) return true;
    wow64 = processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
  } else if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
    wow64 = FALSE;
  }
  if (wow64) {
    Complain(L"runs under WOW64: use the 64-bit halvek-setup built for this machine");
    return false;
  }
  if (nativeMachine != kBuiltMachine) {
    Complain(std::wstring(L"built for ") + kEnvironment +
             L", but this machine is another architecture: use the build for this machine "
             L"(x64 or ARM64)");
    return false;
  }
  return true;
}

void Usage() {
  Complain(
      L"usage:\n"
      L"  halvek-setup install [--printer NAME] [--port FILE] [--output-folder DIR]\n"
      L"                       [--reader ACCOUNT] [--from DIR]\n"
      L"  halvek-setup add-printer NAME --output-folder DIR [--port FILE] [--reader ACCOUNT]\n"
      L"  halvek-setup set-prefix LABEL PREFIX | --remove LABEL | --clear\n"
      L"  halvek-setup set-interpret-title on|off|default\n"
      L"  halvek-setup set-hard-links on|off|default\n"
      L"  halvek-setup log on FILE | log off | log show [N]\n"
      L"  halvek-setup status\n"
      L"  halvek-setup uninstall");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    Usage();
    return kExitUsage;
  }
  if (!CheckMachine()) return kExitFailure;
  const std::wstring command = argv[1];
  Options options;
  if (!ParseOptions(argc, argv, 2, &options)) return kExitUsage;
  if (command == L"install") return Install(options);
  if (command == L"add-printer") return AddPrinter(options);
  if (command == L"set-prefix") return SetPrefix(options);
  if (command == L"set-interpret-title") {
    return SetSwitch(options, L"set-interpret-title", kInterpretTitleValue);
  }
  if (command == L"set-hard-links") return SetSwitch(options, L"set-hard-links", kHardLinksValue);
  if (command == L"log") return Log(options);
  if (command == L"status" && options.positional.empty()) return Status();
  if (command == L"uninstall" && options.positional.empty()) return Uninstall();
  Usage();
  return kExitUsage;
}
