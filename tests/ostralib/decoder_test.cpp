// Built twice: the Western program (code page 1252) and, with HALVEK_CP932,
// the Japanese one.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "platform/ostralib.h"

namespace {

// The status (-1 on success) and the output up to its terminator, which
// lies within OutputSize; nothing is written behind that.
std::pair<int, std::string> Decode(const std::wstring& input, DWORD sizeBytes = 270) {
  std::vector<BYTE> output(sizeBytes + 16, 0xCC);
  std::fill_n(output.begin(), sizeBytes, 0);
  DecoderRecord record = {input.c_str(), output.data(), sizeBytes};
  const bool ok = DecoderInit(&record) == 0 && DecoderProcess(&record) == 0;
  const int status = ok ? -1 : DecoderStatus(&record);
  DecoderFinalize(&record);
  const auto end = output.begin() + sizeBytes, zero = std::find(output.begin(), end, 0);
  EXPECT_TRUE(zero != end && std::count(end, output.end(), 0xCC) == 16) << "output overrun";
  return {status, std::string(output.begin(), zero)};
}

// Title bytes as the pipeline holds them: widened whole in the ANSI code page.
std::wstring Ansi(const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                  static_cast<int>(text.size())));
  return text;
}

const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語 in UTF-8
const std::string kNihongoSjis = "\x93\xFA\x96\x7B\x8C\xEA";

#ifdef HALVEK_CP932
// Shift_JIS titles read in code page 932 are already right: left alone.
TEST(DecoderOnJapaneseSystem, AnsiReadShiftJisIsLeftAlone) {
  ASSERT_EQ(932u, GetACP());
  for (const char* title : {"\x95\xF1\x8D\x90\x8F\x91.pdf", "\xB1\xDD\xB9"}) {
    EXPECT_EQ(Decode(Ansi(title)).first, 3) << title;
  }
}
#else

TEST(DecoderJapanese, DecodesJapaneseFailsOnAnythingElse) {
  std::string overlong;
  for (int i = 0; i < 1000; ++i) overlong += kNihongoSjis;
  const struct {
    std::wstring text;
    int status;  // -1: decodes to utf8; else the status of the failure
    std::string utf8 = "";
    DWORD sizeBytes = 270;
  } cases[] = {
      // clang-format off
      // Bytes the plain title copy escaped on a multi-byte code page.
      {L"\xDC93\xDCFA\xDC96{\xDC8C\xDCEA", -1, kNihongo},
      // EUC-JP wave dash in the form code page 932 holds.
      {Ansi("\xA3\xB4\xB7\xEE\xA1\xC1\xA3\xB6\xB7\xEE"), -1, u8"４月～６月"},
      // NEC specials in EUC-JP row 13; half-width katakana.
      {Ansi("\xAD\xEA\xBB\xB3\xC5\xC4"), -1, u8"㈱山田"},
      {Ansi("\x8E\xB6\x8E\xDE\x8E\xB2\x8E\xC4\x8E\xDE"), -1, u8"ｶﾞｲﾄﾞ"},
      {Ansi("\xCC\xB4"), -1, u8"夢"},
      // Long output is cut after the most whole characters that fit.
      {Ansi(overlong.substr(0, 300)), -1, "\xE6\x97\xA5", 6},
      {L"\x5831\x544A\x66F8.pdf", 2},  // already Unicode
      {Ansi("\x93\xFA\x96"), 4},  // truncated lead byte
      {Ansi("\x1B$ZF|K\\"), 4},  // broken escape
      {Ansi("\x1B$BF|\x1B(B\xE9"), 4},  // high byte in ISO-2022-JP
      {Ansi("Stra\xDF" "e"), 4},  // one katakana in Latin
      {Ansi("Mary\x92s Report"), 4},  // a single kanji
      {Ansi("A\x96\xB2" "B \x93\xFA\x96\x7B\x8C\xEA"), 4},  // a lone kanji inside a Latin word
      {Ansi("\x8A" "a\x9A" "ek"), 4},  // kanji spelled by Latin letters
      {Ansi("\xF0\x40\xF0\x41"), 4},  // user-defined area
      {Ansi(overlong), 7},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Decode(c.text, c.sizeBytes), std::make_pair(c.status, c.utf8)) << &c - cases;
  }
}

#endif

}  // namespace
