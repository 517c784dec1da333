#!/bin/bash
# Prints every office title of tests/fixtures/japanese, in Shift_JIS, EUC-JP
# and ISO-2022-JP, through Wine's spooler under code page 932 and reports how
# many captured files carry the exact Japanese name. Takes several minutes,
# so it is not part of the test suite. Needs a built tree.
#   scripts/measure-japanese-corpus.sh [build-dir]
set -euo pipefail
root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="$(cd "${1:-${root}/build}" && pwd)"
prefix="${build}/e2e-prefix"
trace="${build}/e2e-trace.log"

bash "${root}/scripts/wine-prefix.sh" start "$build" "$prefix"
trap 'bash "${root}/scripts/wine-prefix.sh" stop "$build" "$prefix"' EXIT
HALVEK_WINEPREFIX="$prefix" HALVEK_E2E_TRACE="$trace" HALVEK_WINE_LOCALE=ja_JP.UTF-8 \
  bash "${root}/tests/e2e/run-group.sh" "$trace" "${build}/wine-run.sh" \
  "${build}/bin/test_e2e.exe" --gtest_filter='SpoolerCorpus932.*'
