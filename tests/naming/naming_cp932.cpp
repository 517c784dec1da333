// Naming under the Japanese ANSI code page 932: Japanese names survive the
// rules and land in real files.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/naming/naming_test_support.h"

namespace {

using naming_test::Apply;
using naming_test::CaptureInto;
using naming_test::GuardedBuffer;
using naming_test::ListFolder;
using naming_test::PrefixRulesTest;
using naming_test::ReadWholeFile;
using naming_test::TempFolder;

TEST(ValidName932, CodePageIs932) {
  ASSERT_EQ(GetACP(), 932u);
}

TEST(ValidName932, JapaneseSurvivesWhatTheCodePageLacksDoesNot) {
  struct Case {
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
  EXPECT_EQ(Apply(L"(\u4e0b\u66f8\u304d\uff1a\u5831\u544a\u66f8 2026\u5e74)"),
            L"\u5831\u544a\u66f8 2026\u5e74");

  TempFolder out;
  std::wstring title = L"\u4e0b\u66f8\u304d\uff1a\u5831\u544a\u66f8 2026\u5e74.pdf";
  std::wstring first = CaptureInto(out.path, title, L"PDF", 37, "first");
  std::wstring second = CaptureInto(out.path, title, L"PDF", 37, "second");
  EXPECT_EQ(first, out.path + L"\u5831\u544a\u66f8 2026\u5e74.PDF");
  EXPECT_EQ(second, out.path + L"\u5831\u544a\u66f8 2026\u5e7437.PDF");
  std::vector<std::wstring> expected = {L"\u5831\u544a\u66f8 2026\u5e74.PDF",
                                        L"\u5831\u544a\u66f8 2026\u5e7437.PDF"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(out.path), expected);
  EXPECT_EQ(ReadWholeFile(first), "first");
  EXPECT_EQ(ReadWholeFile(second), "second");
}

TEST_F(PrefixRulesTest, LongJapaneseTitleKeepsItsLast70Characters) {
  std::wstring title;
  for (int i = 0; i < 100; ++i) title += static_cast<WCHAR>(0x3041 + i % 83);  // hiragana
  std::wstring name = Apply(title);
  EXPECT_EQ(name, title.substr(30));
  TempFolder out;
  std::wstring path = CaptureInto(out.path, title, L"PS", 5, "x");
  EXPECT_EQ(path, out.path + title.substr(30) + L".PS");
  EXPECT_EQ(ListFolder(out.path), std::vector<std::wstring>{title.substr(30) + L".PS"});
}

}  // namespace
