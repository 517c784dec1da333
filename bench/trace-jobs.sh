#!/bin/bash
# What one small job costs in calls, per printer of the benchmark prefix
# (made by bench/spooler-bench.sh): the DLLs loaded and freed, and the
# Windows API calls that the print processor's own DLLs make (Wine's relay
# trace, calls returning into them: bench/relay_calls.py). Each count is
# that of 1 + N jobs less that of 1 job, divided by N.
#   bench/trace-jobs.sh [build-dir] [N]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-${root}/build}" && pwd)"
extra_jobs="${2:-10}"
export HALVEK_WINEPREFIX="${build}/bench-prefix" WINEPREFIX="${build}/bench-prefix"
[ -f "${WINEPREFIX}/system.reg" ] || { echo "run bench/spooler-bench.sh first"; exit 1; }
bench="${build}/bin/spooler_bench.exe"
out="${build}/bench-trace"
mkdir -p "$out"
/usr/lib/wine/wineserver -p </dev/null >/dev/null 2>&1 || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT
WINEDEBUG=-all "${build}/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1 || true

# trace KIND JOBS CHANNELS: the client's debug output of JOBS 4 KiB jobs.
trace() {
  WINEDEBUG="$3" "${build}/wine-run.sh" "$bench" --count "$1" 4 "$2" 2>"${out}/$1-$2.txt" || true
}
# per_job KIND PATTERN: the lines matching, per job.
per_job() {
  local one many
  one=$(grep -c -- "$2" "${out}/$1-1.txt" || true)
  many=$(grep -c -- "$2" "${out}/$1-$((extra_jobs + 1)).txt" || true)
  echo $(((many - one) / extra_jobs))
}
# calls KIND DLL...: API calls per job made from those DLLs, by name.
calls() {
  local kind=$1
  shift
  for jobs in 1 $((extra_jobs + 1)); do
    python3 "${root}/bench/relay_calls.py" "${out}/${kind}-${jobs}.txt" "$@" | sort -k2 \
      >"${out}/${kind}-${jobs}.calls"
  done
  join -1 2 -2 2 -a 2 -e 0 -o '0,1.1,2.1' "${out}/${kind}-1.calls" \
    "${out}/${kind}-$((extra_jobs + 1)).calls" |
    awk -v n="$extra_jobs" '{ d = ($3 - $2) / n; if (d > 0) printf "%6.1f %s\n", d, $1 }' |
    sort -rn
}

processor="${WINEPREFIX}/drive_c/windows/system32/spool/prtprocs/x64"
for kind in link copy file; do
  dlls=("${processor}/halvekprint.dll" "${processor}/ostralib.dll")
  [ "$kind" = file ] && dlls=("${processor}/winprint.dll")
  for jobs in 1 $((extra_jobs + 1)); do trace "$kind" "$jobs" "+relay,+loaddll"; done
  echo "== ${kind}: per 4 KiB job"
  echo "DLLs loaded and freed: $(per_job "$kind" 'loaddll:free_modref Unloaded')"
  calls "$kind" "${dlls[@]}" >"${out}/${kind}.per-job"
  echo "API calls from $(basename -a "${dlls[@]}" | tr '\n' ' '): $(awk '{ s += $1 } END { print s }' "${out}/${kind}.per-job")"
  head -40 "${out}/${kind}.per-job"
done
