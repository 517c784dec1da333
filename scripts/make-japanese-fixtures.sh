#!/bin/bash
# Regenerates the encoded title corpora of tests/fixtures/japanese from the
# UTF-8 title lists there, with iconv as the reference converter. Each output
# line is one title's bytes in hex.
set -euo pipefail
dir="$(cd "$(dirname "$0")/.." && pwd)/tests/fixtures/japanese"

encode_lines() {  # list, iconv target, output
  local list=$1 target=$2 output=$3
  : >"$output"
  while IFS= read -r title || [ -n "$title" ]; do
    printf '%s' "$title" | iconv -f UTF-8 -t "$target" | od -An -v -tx1 | tr -d ' \n' >>"$output"
    printf '\n' >>"$output"
  done <"$list"
}

encode_lines "$dir/japanese-titles.txt" CP932 "$dir/japanese-titles.sjis.hex"
encode_lines "$dir/japanese-titles.txt" EUC-JP "$dir/japanese-titles.eucjp.hex"
encode_lines "$dir/japanese-titles.txt" ISO-2022-JP "$dir/japanese-titles.iso2022jp.hex"
encode_lines "$dir/western-titles.txt" CP1252 "$dir/western-titles.cp1252.hex"
echo "fixtures written to $dir"
