#!/bin/bash
# The capture against a printer on the built-in print processor with a file
# port, through Wine's real spooler, in one fresh prefix: printer "Bench Link"
# (output folder on C:, the spool folder's volume: hard links), "Bench Copy"
# (output folder on Z:: copies) and "Bench File Port" (winprint, file port).
# Prints one ratio line per figure (median and min-max of per-round ratios),
# with the queue listener off and on, then the system calls per 4 KiB job of
# the client process (strace -c -f over the whole Wine process, the count of
# 1 job taken from that of 1 + N jobs; the wineserver is not a child and is
# not counted), and what loading each processor DLL costs. What the small-job
# fixed cost is made of: docs/performance.md; bench/trace-jobs.sh counts it.
#   bench/spooler-bench.sh [--quick] [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
rounds=7
small_jobs=30
build=""
for argument in "$@"; do
  case "$argument" in
    --quick) rounds=5 small_jobs=20 ;;
    -*) echo "usage: bench/spooler-bench.sh [--quick] [build-dir]" >&2; exit 2 ;;
    *) build="$argument" ;;
  esac
done
build="${build:-${root}/build}"

"${root}/scripts/install-deps.sh"
"${root}/scripts/build.sh" "$build" >/dev/null
build="$(cd "$build" && pwd)"

prefix="${build}/bench-prefix"
copy_folder="${build}/bench-copy"
export HALVEK_WINEPREFIX="$prefix" WINEPREFIX="$prefix" WINEDEBUG=-all
run() { "${build}/wine-run.sh" "$@"; }
win_path() { echo "Z:${1//\//\\}"; }

echo "== fresh Wine prefix: ${prefix}"
rm -rf "$copy_folder"
bash "${root}/scripts/wine-prefix.sh" start "$build" "$prefix" >/dev/null
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT

setup="${build}/bin/halvek-setup.exe"
run "$setup" install --printer "Bench Link" --port 'C:\bnlink.prn' \
  --output-folder 'C:\bench-link' >/dev/null
run "$setup" add-printer "Bench Copy" --port 'C:\bncopy.prn' \
  --output-folder "$(win_path "$copy_folder")" >/dev/null

bench="${build}/bin/spooler_bench.exe"
echo "== ${rounds} rounds (the machine may be shared: ratios, not times, are the figures)"
run "$bench" --rounds "$rounds" --small-jobs "$small_jobs"

echo "== what the spooler's per-job load of each processor DLL costs"
run "$bench" --load-cost 50

echo "== system calls per 4 KiB job of the client process (strace -c -f)"
extra_jobs=20
calls() {
  strace -f -c -o "${build}/bench-strace.txt" "${build}/wine-run.sh" "$bench" --count "$1" 4 "$2"
  awk '$NF == "total" { print $4 }' "${build}/bench-strace.txt"
}
for kind in link copy file; do
  one=$(calls "$kind" 1)
  many=$(calls "$kind" $((extra_jobs + 1)))
  echo "${kind}: $(((many - one) / extra_jobs)) system calls per job"
done
