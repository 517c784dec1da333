// On a Japanese system (ANSI code page 932) titles the pipeline already read
// as Shift_JIS are real Unicode and must come back unchanged.
#include <gtest/gtest.h>

#include "tests/ostralib/decoder_support.h"

using decoder_test::AnsiText;
using decoder_test::Decode;

namespace {

TEST(DecoderOnJapaneseSystem, AnsiReadShiftJisIsLeftAloneIsoStillDecodes) {
  ASSERT_EQ(932u, GetACP());
  // 日本語, 報告書.pdf, ｱﾝｹｰﾄ
  for (const char* title :
       {"\x93\xFA\x96\x7B\x8C\xEA", "\x95\xF1\x8D\x90\x8F\x91.pdf", "\xB1\xDD\xB9\xB0\xC4"}) {
    const decoder_test::DecodeResult result = Decode(AnsiText(title));
    EXPECT_FALSE(result.succeeded()) << title;
    EXPECT_EQ("", result.utf8);
  }
  // EUC-JP does not survive the ANSI read here; ISO-2022-JP, all ASCII, does.
  const decoder_test::DecodeResult iso = Decode(AnsiText("\x1B$BF|K\\8l\x1B(B"));
  EXPECT_TRUE(iso.succeeded());
  EXPECT_EQ("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", iso.utf8);
}

}  // namespace
