// Title decoders: hex, octal and the escaped title lines.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "tests/format/format_test_support.h"

namespace {

// A hex title ends at its ">", its line's end or the block's end, whichever
// comes first: a cut group is completed with 0 digits and nothing behind the
// title is read. The mark is compared exactly.
TEST(HexDecoders, MarkGroupsEndAndCapacity) {
  std::string longHex = "FEFF";
  for (int i = 0; i < 300; ++i) longHex += "0058";
  const std::pair<std::string, std::wstring> unicode[] = {
      {"FEFF00410042>\n%", L"AB"},
      {"feff00410042>\n%", L""},
      {"FEFF00E965E5672C>\n", L"\u00e9\u65e5\u672c"},
      {"FEF", L""},
      {"FEFF00410042", L"AB"},
      {"FEFF0041004", L"A@"},
      {"FEFF00520065007>\n%%EndComments\n", L"Rep"},
      {longHex, std::wstring(260, L'X')}};
  for (const auto& c : unicode) {
    WCHAR title[300] = {};
    DecodeUnicodeFromASCIIHex(Bytes(c.first), Length(c.first), title);
    EXPECT_EQ(std::wstring(title), c.second) << c.first.substr(0, 20);
  }
  const std::pair<std::string, std::string> ascii[] = {
      {"41424>\r\n", "AB\x40"},
      {"E4F6FC>\n", "\xE4\xF6\xFC"},
      {"4142", "AB"},
      {"414", "A\x40"},
      {"41424>\n4344", "AB\x40"},
      {"4142\r4344>", "AB"},
      {std::string(800, '5'), std::string(259, 'U')}};
  for (const auto& c : ascii) {
    BYTE work[kTitleWorkBytes + 1];
    std::memset(work, 0xAA, sizeof(work));
    DecodeASCIIFromASCIHex(Bytes(c.first), Length(c.first), work);
    EXPECT_EQ(work[kTitleWorkBytes], 0xAA) << "wrote past the work buffer";
    const char* text = reinterpret_cast<const char*>(work);
    EXPECT_LT(strnlen(text, kTitleWorkBytes), kTitleWorkBytes) << "not terminated";
    EXPECT_EQ(std::string(text, strnlen(text, kTitleWorkBytes)), c.second) << c.first.substr(0, 9);
  }
}

}  // namespace
