#!/bin/bash
# Mutation check: applies each mutant of scripts/mutants.txt in turn to a
# copy of the tree, builds it, runs the test suite and reports whether the
# suite killed the mutant (some test failed). Run by hand; it takes a while.
#   scripts/mutation-check.sh [--only ID[,ID...]] [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
only=""
if [[ "${1:-}" == "--only" ]]; then only=",$2,"; shift 2; fi
build="${1:-${root}/build-mutation}"
work="${build}/source"
tree="${build}/tree"
list="${root}/scripts/mutants.txt"
jobs=2

"${root}/scripts/install-deps.sh" >/dev/null
# The copy keeps the times of files that did not change since the last run,
# so that only what changed is built again.
rm -rf "${work}.last"
[[ -d "$work" ]] && mv "$work" "${work}.last"
mkdir -p "$work"
(cd "$root" && git ls-files -z --cached --others --exclude-standard |
  xargs -0 cp -p --parents -t "$work")
(cd "$work" && find . -type f -print0) | while IFS= read -r -d '' file; do
  cmp -s "${work}/${file}" "${work}.last/${file}" || touch "${work}/${file}"
done
rm -rf "${work}.last"
# A run stopped halfway may have left a mutant built: the files that take
# mutants are built afresh.
grep -v '^#' "$list" | awk -F' [|] ' 'NF == 5 { print $2 }' | sort -u |
  (cd "$work" && xargs -r touch)
cmake -S "$work" -B "$tree" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="${work}/cmake/mingw-w64-x86_64.cmake" >/dev/null
cmake --build "$tree" -j "$jobs" >/dev/null

# One wineserver of this tree's own prefix per run of the suite, as in
# scripts/test.sh.
export WINEPREFIX="${tree}/wineprefix" WINEDEBUG=-all
start_wine() {
  "${tree}/wine-run.sh" cmd /c exit >/dev/null 2>&1 </dev/null || true
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w || true
  /usr/lib/wine/wineserver -p
  "${tree}/wine-run.sh" cmd /c exit >/dev/null 2>&1 </dev/null || true
}
stop_wine() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  WINEPREFIX="${tree}/e2e-prefix" /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
}
trap stop_wine EXIT

# Prints "ID<TAB>file<TAB>fault" for each selected mutant.
mutants() {
  python3 - "$list" "$only" <<'PY'
import sys
only = sys.argv[2]
for line in open(sys.argv[1], encoding="utf-8"):
    if not line.strip() or line.startswith("#"):
        continue
    ident, path, _, _, fault = [part.strip() for part in line.split(" | ")]
    if not only or "," + ident + "," in only:
        print(ident, path, fault, sep="\t")
PY
}

# Applies mutant ID to its file in the copy; false when its text is missing.
apply_mutant() {
  python3 - "$list" "$1" "$work" <<'PY'
import sys
for line in open(sys.argv[1], encoding="utf-8"):
    if not line.strip() or line.startswith("#"):
        continue
    ident, path, text, replacement, _ = [part.strip() for part in line.split(" | ")]
    if ident != sys.argv[2]:
        continue
    text = text.replace("\\n", "\n")
    replacement = "" if replacement == "-" else replacement.replace("\\n", "\n")
    target = sys.argv[3] + "/" + path
    source = open(target, encoding="utf-8").read()
    if text not in source:
        sys.exit(1)
    open(target, "w", encoding="utf-8").write(source.replace(text, replacement, 1))
PY
}

run_suite() {
  start_wine
  # The first failing test is enough to kill a mutant; a failure that does
  # not repeat (a test process that could not start on a loaded machine) is
  # not, and the suite runs once more.
  for round in 1 2; do
    if (cd "$tree" && timeout 1800 ctest -j "$jobs" --stop-on-failure >"$1" 2>&1 </dev/null); then
      return 0
    fi
    (cd "$tree" && ctest --rerun-failed >>"$1" 2>&1 </dev/null) || return 1
    echo "(round ${round}: the failure did not repeat)" >>"$1"
  done
  return 0
}

# A mutant counts only against a suite that passes on the tree as it is.
if ! run_suite "${build}/baseline.test.log"; then
  echo "the suite fails without any mutant: see ${build}/baseline.test.log" >&2
  exit 1
fi

killed=0 survived=0 invalid=0
while IFS=$'\t' read -r id file fault; do
  started=$SECONDS
  if ! apply_mutant "$id"; then
    echo "INVALID  $id  (text not found in $file)"
    invalid=$((invalid + 1))
  elif ! cmake --build "$tree" -j "$jobs" >"${build}/${id}.build.log" 2>&1 </dev/null; then
    echo "INVALID  $id  (does not build)"
    invalid=$((invalid + 1))
  else
    if run_suite "${build}/${id}.test.log"; then
      echo "SURVIVED $id  $fault  ($((SECONDS - started))s)"
      survived=$((survived + 1))
    else
      echo "KILLED   $id  $(grep -oE '[^ ]+ \.+\*+(Failed|Timeout|Exception)' \
        "${build}/${id}.test.log" | tail -1 | cut -d' ' -f1)  ($((SECONDS - started))s)"
      killed=$((killed + 1))
    fi
  fi
  cp "${root}/${file}" "${work}/${file}"
done < <(mutants)
echo "killed ${killed}, survived ${survived}, invalid ${invalid}"
