#include "format/japanese.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr WCHAR kGuard = 0xABCD;

// Runs a pass into capacityChars with guard units behind; fails the test on
// a write past the capacity or an unterminated destination.
std::wstring RunPass(void (*pass)(const WCHAR*, WCHAR*, DWORD), const std::wstring& source,
                     DWORD capacityChars) {
  std::vector<WCHAR> destination(capacityChars + 8, kGuard);
  pass(source.c_str(), destination.data(), capacityChars);
  for (size_t i = capacityChars; i < destination.size(); ++i) {
    EXPECT_EQ(kGuard, destination[i]) << "written past the capacity at " << i;
  }
  size_t length = 0;
  while (length < capacityChars && destination[length]) ++length;
  EXPECT_LT(length, capacityChars) << "destination not terminated";
  return std::wstring(destination.data(), length);
}

std::wstring FromAnsi(const std::string& bytes) {
  std::wstring text(bytes.size() + 1, L'\0');
  text.resize(MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                  static_cast<int>(text.size())));
  return text;
}

TEST(Wcshextob, MapsHexDigitsAndNothingElse) {
  const std::wstring digits = L"09afAF", others = L"gG/:@` \xFF10\xFF21";
  const BYTE values[] = {0, 9, 10, 15, 10, 15};
  for (size_t i = 0; i < digits.size(); ++i) EXPECT_EQ(values[i], wcshextob(digits[i]));
  for (WCHAR c : others) EXPECT_EQ(255, wcshextob(c)) << int(c);
  EXPECT_EQ(255, wcshextob(0));
}

TEST(CheckForJapaneseEncoding1, HexStringsAndTheTextsLeftAlone) {
  std::wstring hex = L"<";
  for (int i = 0; i < 133; ++i) hex += L"41";
  hex += L">";
  const struct {
    std::wstring source;
    std::wstring expected;
    DWORD capacityChars;
  } cases[] = {
      {L"<E697A5E69CAC>", L"\x65E5\x672C", 260},
      {L"<e697a5e69cac>", L"\x65E5\x672C", 260},
      {L"   <4142>", L"AB", 260},
      {L"   Report", L"Report", 260},
      {L"<>", L"", 260},
      {L"<41 42>", L"<41 42>", 260},
      {L"<41G2>", L"<41G2>", 260},
      {L"<414>", L"A", 260},
      {L"<4142>rest>", L"AB", 260},
      {L"<4142", L"<4142", 260},
      {L"   ", L"", 260},
      {L"<", L"<", 260},
      {L"", L"", 260},
      {L"\t<4142>", L"\t<4142>", 260},
      // Full-width digits are in the platform's digit class but have no value.
      {L"<\xFF14\xFF11>", L"<\xFF14\xFF11>", 260},
      {L"<FF41>",
       L"\xFFFD"
       L"A",
       260},                     // invalid UTF-8, converted leniently
      {L"<410042>", L"A", 260},  // a zero byte ends the text
      // Cut to the capacity, never a half surrogate pair at the cut.
      {std::wstring(300, L'x'), std::wstring(259, L'x'), 260},
      {hex, std::wstring(133, L'A'), 260},
      {hex, hex.substr(0, 9), 10},  // more bytes than fit: the text stays, cut
      {L"<41414141414141>", L"<41414", 7},
      {L"ab\xD83D\xDE00z", L"ab", 4},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, RunPass(CheckForJapaneseEncoding1, c.source, c.capacityChars))
        << std::string(c.source.begin(), c.source.end());
  }
  WCHAR untouched[1] = {kGuard};
  CheckForJapaneseEncoding1(L"<4142>", untouched, 0);
  EXPECT_EQ(kGuard, untouched[0]);
}

TEST(CheckForJapaneseEncoding, DecodesJapaneseBytesAndKeepsEverythingElse) {
  ASSERT_EQ(1252u, GetACP());
  const std::wstring nihongo = L"\x65E5\x672C\x8A9E";
  std::string long932;
  std::wstring longDecoded;
  for (int i = 0; i < 100; ++i) {
    long932 += "\x93\xFA\x96\x7B";
    longDecoded += L"\x65E5\x672C";
  }
  const struct {
    std::wstring source;
    std::wstring expected;
    DWORD capacityChars;
  } cases[] = {
      {FromAnsi("\x93\xFA\x96\x7B\x8C\xEA.pdf"), nihongo + L".pdf", 270},
      {FromAnsi("\xC6\xFC\xCB\xDC\xB8\xEC"), nihongo, 270},
      {FromAnsi("\x1B$BF|K\\8l\x1B(B"), nihongo, 270},
      {L"Stra\xDF"
       L"e R\xE9sum\xE9",
       L"Stra\xDF"
       L"e R\xE9sum\xE9",
       270},
      {L"\x5831\x544A\x66F8.pdf", L"\x5831\x544A\x66F8.pdf", 270},
      {L"  Printer, Job 12", L"  Printer, Job 12", 270},
      {L"", L"", 270},
      {std::wstring(300, L'd'), std::wstring(269, L'd'), 270},
      {std::wstring(300, L'd'), L"", 1},
      // 269 bytes of UTF-8 hold 89 whole characters.
      {FromAnsi(long932), longDecoded.substr(0, 89), 270},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, RunPass(CheckForJapaneseEncoding, c.source, c.capacityChars))
        << c.source.size();
  }
}

TEST(JapanesePasses, BothInOrderAsThePipelineRunsThem) {
  WCHAR first[270];
  WCHAR second[260];
  CheckForJapaneseEncoding(L"  <E5A0B1E5918A>", first, 270);
  CheckForJapaneseEncoding1(first, second, 260);
  EXPECT_EQ(std::wstring(L"\x5831\x544A"), second);
}

}  // namespace
