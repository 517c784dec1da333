#!/bin/bash
# The main job: installs what is missing, builds, and shows the print
# processor's exports.
#   scripts/run-main.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${1:-${root}/build}"

"${root}/scripts/install-deps.sh"
"${root}/scripts/build.sh" "$build"
echo "built: ${build}/bin/halvekprint.dll"
x86_64-w64-mingw32-objdump -p "${build}/bin/halvekprint.dll" | sed -n '/^There is an export table/,/^$/p;/Ordinal\/Name Pointer/,/^$/p'
