#!/bin/bash
# Installs what is missing, builds, and runs the whole test suite under Wine.
#   scripts/test.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${root}/build}"

"${root}/scripts/install-deps.sh"
"${root}/scripts/build.sh" "$build"

# One wineserver for the whole run: every test process attaches to it
# instead of starting its own.
export WINEPREFIX="${build}/wineprefix"
export WINEDEBUG=-all
"${build}/wine-run.sh" cmd /c exit >/dev/null 2>&1 </dev/null || true
/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -w || true
/usr/lib/wine/wineserver -p
# Wine's background services start with the first process; start them here,
# with no output captured, so that they never hold a test's output pipe open.
"${build}/wine-run.sh" cmd /c exit >/dev/null 2>&1 </dev/null || true
trap '/usr/lib/wine/wineserver -k >/dev/null 2>&1 || true' EXIT

cd "$build"
ctest --output-on-failure -j "$(nproc)"
