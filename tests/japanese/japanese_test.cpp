// The two Japanese passes with the real companion library, under code page
// 1252; the title corpora check them at large.
#include "format/japanese.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

namespace {

using Pass = void (*)(const WCHAR*, WCHAR*, DWORD);
const Pass kLibrary = CheckForJapaneseEncoding, kHex = CheckForJapaneseEncoding1;

// Full-width digits are in the platform's digit class but have no value; a
// zero byte ends the text; a cut never splits a surrogate pair, nor a UTF-8
// sequence; the result is terminated within the capacity.
TEST(JapanesePasses, DecodeOrLeaveAloneWithinTheCapacity) {
  ASSERT_EQ(1252u, GetACP());
  std::wstring hex = L"<", long932, longDecoded;
  for (int i = 0; i < 133; ++i) hex += L"41";
  for (int i = 0; i < 100; ++i) long932 += L"\u201C\u00FA\u2013{", longDecoded += L"\x65E5\x672C";
  const struct {
    Pass pass;
    std::wstring source, expected;
    DWORD capacityChars;
  } cases[] = {
      // clang-format off
      {kHex, L"   <E697A5E69CAC>", L"\x65E5\x672C", 260},
      {kHex, L"<\xFF14\xFF11>", L"<\xFF14\xFF11>", 260},
      {kHex, L"<410042>rest>", L"A", 260},
      {kHex, hex + L">", std::wstring(133, L'A'), 260},
      {kHex, L"ab\xD83D\xDE00z", L"ab", 4},
      {kLibrary, L"\u201C\u00FA\u2013{\u0152\u00EA.pdf", L"\x65E5\x672C\x8A9E.pdf", 270},
      {kLibrary, std::wstring(300, L'd'), std::wstring(269, L'd'), 270},
      {kLibrary, std::wstring(300, L'd'), L"", 1},
      {kLibrary, long932, longDecoded.substr(0, 89), 270},  // 269 UTF-8 bytes: 89 characters
      // clang-format on
  };
  for (const auto& c : cases) {
    std::vector<WCHAR> destination(c.capacityChars + 8, 0xABCD);
    c.pass(c.source.c_str(), destination.data(), c.capacityChars);
    EXPECT_EQ(std::count(destination.begin() + c.capacityChars, destination.end(), 0xABCD), 8)
        << "written past the capacity";
    const size_t textChars = wcsnlen(destination.data(), c.capacityChars);
    EXPECT_LT(textChars, c.capacityChars) << "destination not terminated";
    EXPECT_EQ(std::wstring(destination.data(), textChars), c.expected) << c.source.size();
  }
}

}  // namespace
