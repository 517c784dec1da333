// The decoder on a Japanese system (ANSI code page 932): titles the pipeline
// already read as Shift_JIS are real Unicode and must come back unchanged.
#include <gtest/gtest.h>

#include "tests/ostralib/decoder_support.h"

using decoder_test::AnsiText;
using decoder_test::Decode;
using decoder_test::DecodeResult;
using decoder_test::Succeeded;

namespace {

TEST(DecoderOnJapaneseSystem, AnsiReadShiftJisIsLeftAlone) {
  ASSERT_EQ(932u, GetACP());
  const char* titles[] = {"\x93\xFA\x96\x7B\x8C\xEA", "\x95\xF1\x8D\x90\x8F\x91.pdf",
                          "\xB1\xDD\xB9\xB0\xC4"};  // 日本語, 報告書.pdf, ｱﾝｹｰﾄ
  for (const char* title : titles) {
    DecodeResult result = Decode(AnsiText(title));
    EXPECT_FALSE(Succeeded(result)) << title;
    EXPECT_EQ("", result.utf8);
  }
}

TEST(DecoderOnJapaneseSystem, EucAndIsoTitlesStillDecode) {
  ASSERT_EQ(932u, GetACP());
  // EUC-JP bytes are no valid Shift_JIS text as a whole, so the pipeline's
  // ANSI read cannot hold them one per character: only ISO-2022-JP, all
  // ASCII, still reaches the decoder intact.
  DecodeResult result = Decode(AnsiText("\x1B$BF|K\\8l\x1B(B"));
  EXPECT_TRUE(Succeeded(result));
  EXPECT_EQ("\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", result.utf8);
}

}  // namespace
