#!/bin/bash
# Regenerates the encoded title corpora of tests/fixtures/japanese from the
# UTF-8 title lists there, with iconv as the reference converter. Each output
# line is one title's bytes in hex, or "-" where the encoding cannot hold the
# title; lines match the list's lines one for one.
#
# The office titles are written in the forms code page 932 holds (U+FF5E,
# U+FF0D, NEC and IBM extensions). Their EUC-JP is Microsoft's flavour
# (EUC-JP-MS: NEC row 13, U+FF5E as A1C1); a title that needs a three-byte
# JIS X 0212 code there is left out of EUC-JP and ISO-2022-JP. Their
# ISO-2022-JP is made from those EUC-JP bytes the way Windows' converter
# writes it: JIS X 0208 under ESC $ B, half-width katakana under ESC ( I.
set -euo pipefail
dir="$(cd "$(dirname "$0")/.." && pwd)/tests/fixtures/japanese"

hex_of() {  # bytes on stdin as one hex line
  od -An -v -tx1 | tr -d ' \n'
}

# EUC-JP bytes (hex) to ISO-2022-JP bytes (hex); "-" for a three-byte code.
euc_hex_to_iso2022jp() {
  perl -e '
    my @b = map { hex } unpack("(A2)*", $ARGV[0]);
    my ($out, $mode) = ("", "ascii");
    my %esc = (ascii => "\e(B", jis => "\e\$B", kana => "\e(I");
    for (my $i = 0; $i < @b; ++$i) {
      my ($want, $chars);
      if ($b[$i] == 0x8F) { print "-"; exit; }
      if ($b[$i] == 0x8E) { $want = "kana"; $chars = chr($b[++$i] & 0x7F); }
      elsif ($b[$i] >= 0xA1) { $want = "jis"; $chars = chr($b[$i] & 0x7F) . chr($b[++$i] & 0x7F); }
      else { $want = "ascii"; $chars = chr($b[$i]); }
      $out .= $esc{$want} if $want ne $mode;
      $mode = $want;
      $out .= $chars;
    }
    $out .= $esc{ascii} if $mode ne "ascii";
    print unpack("H*", $out);' "$1"
}

encode_lines() {  # list, iconv target, output
  local list=$1 target=$2 output=$3
  : >"$output"
  while IFS= read -r title || [ -n "$title" ]; do
    printf '%s' "$title" | iconv -f UTF-8 -t "$target" | hex_of >>"$output"
    printf '\n' >>"$output"
  done <"$list"
}

encode_office_lines() {  # list, output stem
  local list=$1 stem=$2 bytes euc
  : >"$stem.sjis.hex"
  : >"$stem.eucjp.hex"
  : >"$stem.iso2022jp.hex"
  while IFS= read -r title || [ -n "$title" ]; do
    bytes=$(printf '%s' "$title" | iconv -f UTF-8 -t CP932 | hex_of)
    printf '%s\n' "$bytes" >>"$stem.sjis.hex"
    euc=$(printf '%s' "$title" | iconv -f UTF-8 -t EUC-JP-MS 2>/dev/null | hex_of) || euc=""
    [[ -z "$euc" || "$euc" =~ ^(..)*8f ]] && euc="-"
    printf '%s\n' "$euc" >>"$stem.eucjp.hex"
    if [ "$euc" = "-" ]; then echo "-"; else euc_hex_to_iso2022jp "$euc"; echo; fi \
      >>"$stem.iso2022jp.hex"
  done <"$list"
}

# Western titles must have bytes that read as Shift_JIS or as EUC-JP, or
# they would test nothing.
check_western() {  # list
  local title bytes
  while IFS= read -r title || [ -n "$title" ]; do
    bytes=$(printf '%s' "$title" | iconv -f UTF-8 -t CP1252)
    if ! printf '%s' "$bytes" | iconv -f CP932 -t UTF-8 >/dev/null 2>&1 &&
      ! printf '%s' "$bytes" | iconv -f EUC-JP -t UTF-8 >/dev/null 2>&1; then
      echo "not valid Shift_JIS or EUC-JP in code page 1252: $title" >&2
      return 1
    fi
  done <"$1"
}

encode_lines "$dir/japanese-titles.txt" CP932 "$dir/japanese-titles.sjis.hex"
encode_lines "$dir/japanese-titles.txt" EUC-JP "$dir/japanese-titles.eucjp.hex"
encode_lines "$dir/japanese-titles.txt" ISO-2022-JP "$dir/japanese-titles.iso2022jp.hex"
encode_lines "$dir/western-titles.txt" CP1252 "$dir/western-titles.cp1252.hex"
encode_office_lines "$dir/office-titles.txt" "$dir/office-titles"
check_western "$dir/western-accented.txt"
encode_lines "$dir/western-accented.txt" CP1252 "$dir/western-accented.cp1252.hex"
echo "fixtures written to $dir"
