#include "format/japanese.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

struct Case {
  std::wstring source, expected;
  DWORD capacityChars;
};

// With guard units behind the capacity; the result must be terminated within it.
void ExpectPass(void (*pass)(const WCHAR*, WCHAR*, DWORD), const Case& c) {
  std::vector<WCHAR> destination(c.capacityChars + 8, 0xABCD);
  pass(c.source.c_str(), destination.data(), c.capacityChars);
  EXPECT_EQ(std::count(destination.begin() + c.capacityChars, destination.end(), 0xABCD), 8)
      << "written past the capacity";
  const std::wstring text(destination.data(), wcsnlen(destination.data(), c.capacityChars));
  EXPECT_LT(text.size(), c.capacityChars) << "destination not terminated";
  EXPECT_EQ(text, c.expected) << c.source.size();
}

// Full-width digits are in the platform's digit class but have no value; a
// zero byte ends the text; more bytes than fit leave the text as it came; a
// cut never splits a surrogate pair.
TEST(CheckForJapaneseEncoding1, HexStringsAndTheTextsLeftAlone) {
  std::wstring hex = L"<", full = L"<";
  for (int i = 0; i < 133; ++i) hex += L"41";
  for (int i = 0; i < 10; ++i) full += L"41";  // fills 10 units: no room for the terminator
  hex += L">", full += L">";
  const Case cases[] = {
      // clang-format off
      {L"<E697A5E69CAC>", L"\x65E5\x672C", 260},
      {L"   <4142>", L"AB", 260},
      {L"<41G2>", L"<41G2>", 260},
      {L"<4142>rest>", L"AB", 260},
      {L"<\xFF14\xFF11>", L"<\xFF14\xFF11>", 260},
      {L"<410042>", L"A", 260},
      {std::wstring(300, L'x'), std::wstring(259, L'x'), 260},
      {hex, std::wstring(133, L'A'), 260},
      {full, full.substr(0, 9), 10},
      {L"ab\xD83D\xDE00z", L"ab", 4},
      // clang-format on
  };
  for (const Case& c : cases) ExpectPass(CheckForJapaneseEncoding1, c);
}

// Sources are Japanese bytes as code page 1252 hands them on.
TEST(CheckForJapaneseEncoding, DecodesJapaneseBytesAndKeepsEverythingElse) {
  ASSERT_EQ(1252u, GetACP());
  const std::wstring nihongo = L"\x65E5\x672C\x8A9E";
  std::wstring long932;
  std::wstring longDecoded;
  for (int i = 0; i < 100; ++i) long932 += L"\u201C\u00FA\u2013{", longDecoded += L"\x65E5\x672C";
  const Case cases[] = {
      // clang-format off
      {L"\u201C\u00FA\u2013{\u0152\u00EA.pdf", nihongo + L".pdf", 270},
      {L"\u00C6\u00FC\u00CB\u00DC\u00B8\u00EC", nihongo, 270},
      {L"\x1B$BF|K\\8l\x1B(B", nihongo, 270},
      {L"Stra\u00DFe R\u00E9sum\u00E9", L"Stra\u00DFe R\u00E9sum\u00E9", 270},
      {L"\x5831\x544A\x66F8.pdf", L"\x5831\x544A\x66F8.pdf", 270},
      {std::wstring(300, L'd'), std::wstring(269, L'd'), 270},
      {std::wstring(300, L'd'), L"", 1},
      {long932, longDecoded.substr(0, 89), 270},  // 269 UTF-8 bytes: 89 characters
      // clang-format on
  };
  for (const Case& c : cases) ExpectPass(CheckForJapaneseEncoding, c);
  WCHAR first[270], second[260];  // both passes in the pipeline's order
  CheckForJapaneseEncoding(L"  <E5A0B1E5918A>", first, 270);
  CheckForJapaneseEncoding1(first, second, 260);
  EXPECT_EQ(std::wstring(L"\x5831\x544A"), second);
}

}  // namespace
