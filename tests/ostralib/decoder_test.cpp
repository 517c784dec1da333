// Built twice: the Western program (code page 1252) and, with HALVEK_CP932,
// the Japanese one.
#include <gtest/gtest.h>

#include <algorithm>

#include "platform/ostralib.h"

namespace {

struct Result {
  int status;        // DecoderStatus after a failure, else -1
  std::string utf8;  // the output up to its terminator
  bool ok;           // init and process succeeded, terminated, nothing written past OutputSize
};

Result Decode(const std::wstring& input, DWORD sizeBytes = 270) {
  std::vector<BYTE> output(sizeBytes + 16, 0xCC);
  std::fill(output.begin(), output.begin() + sizeBytes, 0);
  DecoderRecord record = {input.c_str(), output.data(), sizeBytes};
  const bool ok = DecoderInit(&record) == 0 && DecoderProcess(&record) == 0;
  Result result = {ok ? -1 : DecoderStatus(&record), "", ok};
  DecoderFinalize(&record);
  const auto end = output.begin() + sizeBytes, zero = std::find(output.begin(), end, 0);
  result.utf8.assign(output.begin(), zero);
  result.ok = ok && zero != end && std::all_of(end, output.end(), [](BYTE b) { return b == 0xCC; });
  return result;
}

std::wstring Widen(UINT codePage, const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  &text[0], static_cast<int>(text.size())));
  return text;
}
// Title bytes as the pipeline holds them: widened whole in the ANSI code page.
std::wstring Ansi(const std::string& bytes) {
  return Widen(CP_ACP, bytes);
}

const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語 in UTF-8
const std::string kNihongoSjis = "\x93\xFA\x96\x7B\x8C\xEA";
const std::string kNihongoEuc = "\xC6\xFC\xCB\xDC\xB8\xEC";
const std::string kNihongoIso = "\x1B$BF|K\\8l\x1B(B";

#ifdef HALVEK_CP932
// Shift_JIS titles read in code page 932 are already right: left alone.
TEST(DecoderOnJapaneseSystem, AnsiReadShiftJisIsLeftAloneIsoStillDecodes) {
  ASSERT_EQ(932u, GetACP());
  for (const char* title :
       {"\x93\xFA\x96\x7B\x8C\xEA", "\x95\xF1\x8D\x90\x8F\x91.pdf", "\xB1\xDD\xB9"}) {
    EXPECT_FALSE(Decode(Ansi(title)).ok) << title;
  }
  EXPECT_EQ(kNihongo, Decode(Ansi(kNihongoIso)).utf8);
}
#else

TEST(DecoderJapanese, EachEncodingDecodesAndFailuresLeaveNoOutput) {
  std::string overlong;
  for (int i = 0; i < 1000; ++i) overlong += kNihongoSjis;
  const std::string fifty = overlong.substr(0, 300);
  const struct {
    std::wstring text;
    int status;  // -1: decodes to utf8; 0: fails, any cause
    std::string utf8 = "";
    DWORD sizeBytes = 270;
  } cases[] = {
      // clang-format off
      {Ansi(kNihongoSjis), -1, kNihongo},
      {Ansi(kNihongoEuc), -1, kNihongo},
      {Ansi(kNihongoIso), -1, kNihongo},
      {Ansi("Excel" + kNihongoSjis + "2024.pdf"), -1, "Excel" + kNihongo + "2024.pdf"},
      // Bytes the plain title copy escaped on a multi-byte code page.
      {L"\xDC93\xDCFA\xDC96{\xDC8C\xDCEA", -1, kNihongo},
      // EUC-JP wave dash and minus in the forms code page 932 holds.
      {Ansi("\xA3\xB4\xB7\xEE\xA1\xC1\xA3\xB6\xB7\xEE"), -1, u8"４月～６月"},
      {Ansi("\xA3\xC1\xA1\xDD\xA3\xB1\xB7\xBF"), -1, u8"Ａ－１型"},
      // NEC specials, Shift_JIS and EUC-JP row 13; half-width katakana.
      {Ansi("\x87\x8A\x8ER\x93\x63"), -1, u8"㈱山田"},
      {Ansi("\xAD\xEA\xBB\xB3\xC5\xC4"), -1, u8"㈱山田"},
      {Ansi("\x8E\xB6\x8E\xDE\x8E\xB2\x8E\xC4\x8E\xDE"), -1, u8"ｶﾞｲﾄﾞ"},
      {Ansi("\xCC\xB4"), -1, u8"夢"},
      // Long output is cut after the most whole characters that fit.
      {Ansi(fifty), -1, "", 3},
      {Ansi(fifty), -1, "\xE6\x97\xA5", 6},
      {Ansi(fifty), -1, kNihongo, 11},
      {L"Quarterly report.pdf", 3},
      {L"\x5831\x544A\x66F8.pdf", 2},  // already Unicode
      {L"a\xD800" L"b", 2},
      {Ansi("\x93\xFA\x96"), 4},  // truncated lead byte
      {Ansi("\x1B$ZF|K\\"), 4},  // broken escape
      {Ansi("\x1B$BF|\x1B(B\xE9"), 4},  // high byte in ISO-2022-JP
      {Ansi("Stra\xDF" "e"), 4},  // one katakana in Latin
      {Ansi("Mary\x92s Report"), 4},  // a single kanji
      {Ansi("\x8A" "a\x9A" "ek"), 4},  // kanji spelled by Latin letters
      {Ansi("\xF0\x40\xF0\x41"), 4},  // user-defined area
      {Ansi(overlong), 7},
      // clang-format on
  };
  for (const auto& c : cases) {
    const Result result = Decode(c.text, c.sizeBytes);
    const int row = static_cast<int>(&c - cases);
    EXPECT_EQ(c.status < 0, result.ok) << row;
    if (c.status) {
      EXPECT_EQ(c.status, result.status) << row;
    }
    EXPECT_EQ(c.utf8, result.utf8) << row;
  }
}

#endif

}  // namespace
