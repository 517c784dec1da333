// Naming under the Japanese ANSI code page 932: Japanese names survive the
// rules and land in real files.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/naming/naming_test_support.h"

namespace {

TEST(ValidName932, JapaneseSurvivesWhatTheCodePageLacksDoesNot) {
  ASSERT_EQ(GetACP(), 932u);
  const struct {
    const WCHAR* name;
    const WCHAR* expected;
  } cases[] = {
      {L"\u4f1a\u8b70\u8cc7\u6599", L"\u4f1a\u8b70\u8cc7\u6599"},
      {L"\uff8a\uff9d\uff76\uff78", L"\uff8a\uff9d\uff76\uff78"},  // half-width katakana
      {L"\u5831\u544a\uff1a\u4e0a\u671f", L"\u5831\u544a\uff1a\u4e0a\u671f"},  // full-width colon
      {L"\u3000\u8cc7\u6599\u3000", L"\u8cc7\u6599"},  // ideographic spaces are white space
      {L"\u8cc7\u6599\U0001F600", L"\u8cc7\u6599__"},
      {L"a:\u8cc7/\u6599", L"a_\u8cc7_\u6599"},
  };
  for (const auto& c : cases) {
    GuardedBuffer out(260);
    EXPECT_EQ(ValidName(c.name, out.data(), 260), 1u);
    EXPECT_EQ(out.text(), c.expected) << c.name;
  }
}

TEST_F(PrefixRulesTest, JapanesePrefixIsRemovedAndTheNameLandsInAFile) {
  AddRule(L"draft", L"\u4e0b\u66f8\u304d\uff1a");
  const std::wstring name = L"\u5831\u544a\u66f8 2026\u5e74";
  EXPECT_EQ(Apply(L"(\u4e0b\u66f8\u304d\uff1a" + name + L")"), name);
  TempFolder out;
  const std::wstring title = L"\u4e0b\u66f8\u304d\uff1a" + name + L".pdf";
  const std::wstring first = CaptureInto(out.path, title, L"PDF", 37, "first");
  const std::wstring second = CaptureInto(out.path, title, L"PDF", 37, "second");
  EXPECT_EQ(first, out.path + name + L".PDF");
  EXPECT_EQ(second, out.path + name + L"37.PDF");
  std::vector<std::wstring> expected = {name + L".PDF", name + L"37.PDF"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(out.path), expected);
  EXPECT_EQ(ReadWholeFile(first) + ReadWholeFile(second), "firstsecond");

  // A long title keeps its last 70 characters.
  std::wstring longTitle;
  for (int i = 0; i < 100; ++i) longTitle += static_cast<WCHAR>(0x3041 + i % 83);  // hiragana
  EXPECT_EQ(Apply(longTitle), longTitle.substr(30));
  TempFolder longOut;
  EXPECT_EQ(CaptureInto(longOut.path, longTitle, L"PS", 5, "x"),
            longOut.path + longTitle.substr(30) + L".PS");
  EXPECT_EQ(ListFolder(longOut.path), std::vector<std::wstring>{longTitle.substr(30) + L".PS"});
}

}  // namespace
