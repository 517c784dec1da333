// Validity rules under the ANSI code page 1252.
#include <gtest/gtest.h>

#include <utility>

#include "tests/naming/naming_test_support.h"

namespace {

using NameCase = std::pair<const WCHAR*, const WCHAR*>;

TEST(ValidName, TrimsReplacesAndStaysWithinCapacity) {
  ASSERT_EQ(GetACP(), 1252u);
  const NameCase cases[] = {
      // clang-format off
      {L" \t\r\nReport \t\v\f", L"Report"},
      {L"<a>|b*c?d\\e:f/g", L"a__b_c_d_e_f_g"},
      {L"a\u0001b\u001fc", L"a_b_c"},
      {L"_a_", L"a_"},
      {L"___", L"_"},
      {L"\u00c9t\u00e9 \u20ac", L"\u00c9t\u00e9 \u20ac"},
      {L"a\u65e5\u672cb", L"a__b"},
      {L"a\U0001F600b", L"a__b"},
      // clang-format on
  };
  for (const NameCase& c : cases) {
    GuardedBuffer out(260);
    EXPECT_EQ(ValidName(c.first, out.data(), 260), 1u) << c.first;
    EXPECT_EQ(out.text(), c.second);
  }
  GuardedBuffer small(4, L'#');
  EXPECT_EQ(ValidName(L"abcdefgh", small.data(), 4), 1u);
  EXPECT_EQ(small.text(), L"abc");
  EXPECT_TRUE(small.GuardIntact());
}

// Parentheses go, empty names get the fixed name, devices and dot-only names
// are mended, and hostile titles stay one component inside the folder.
TEST_F(PrefixRulesTest, NamesWithoutRules) {
  const NameCase cases[] = {
      // clang-format off
      {L"  (Quarterly Report)", L"Quarterly Report"},
      {L"()", L"_"},
      {L"\t(Budget)", L"Budget_"},
      {L"", L"spoold_file"},
      {L"    ", L"spoold_file"},
      {L"nul", L"nul_"},
      {L"prn ", L"prn_"},
      {L"aux  .txt", L"aux_  .txt"},
      {L"(con)", L"con_"},
      {L"com\u00b9", L"com\u00b9_"},
      {L"COM10", L"COM10"},
      {L".", L"_"},
      {L". .", L"_"},
      {L".hidden", L".hidden"},
      {L"..\\..\\Windows\\evil", L".._.._Windows_evil"},
      // clang-format on
  };
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.first), c.second) << c.first;
  for (const WCHAR* title : {L"../../etc/passwd", L"\\\\server\\share\\f", L"file.txt:stream",
                             L"\\\\?\\C:\\a", L"a\u001bb"}) {
    const std::wstring name = Apply(title);
    EXPECT_EQ(name.find_first_of(L"\\/:*?<>|"), std::wstring::npos) << title << " -> " << name;
  }
}

TEST_F(PrefixRulesTest, LengthLimitAndBufferSizeKeepTheEnd) {
  std::wstring name;
  for (int i = 0; i < 75; ++i) name += static_cast<WCHAR>(L'a' + i % 26);
  EXPECT_EQ(Apply(name), name.substr(5));
  const std::wstring result = Apply(L"Intro " + std::wstring(300, L'x') + L" the end      ");
  EXPECT_EQ(result.size(), 70u);  // longer than the working copies: the end kept too
  EXPECT_EQ(result.substr(62), L" the end");
  // A device stem uncovered by the length limit is mended within 70 characters.
  EXPECT_EQ(Apply(L"abcdeCON." + std::wstring(66, L'x')), L"CON_." + std::wstring(65, L'x'));
  EXPECT_EQ(Apply(L"Quarterly Report", 10), L"port");
  EXPECT_EQ(Apply(L"NUL", 8), L"NU");  // too small to insert: cut, never a device
}

// Read afresh for every name; the first value in enumeration order wins and
// is removed once, ignoring case, after the parentheses go. Values of other
// types are skipped; a stored string need not carry its terminator.
TEST_F(PrefixRulesTest, FirstMatchingRuleIsRemoved) {
  EXPECT_EQ(Apply(L"Draft - Budget"), L"Draft - Budget");
  const DWORD number = 7;
  AddRule(L"0expand", L"Draft ", REG_EXPAND_SZ);
  AddRaw(L"1dword", REG_DWORD, &number, sizeof number);
  AddRule(L"a_short", L"draft");
  AddRule(L"b_long", L"Draft - ");
  const NameCase cases[] = {
      // clang-format off
      {L"Draft - Budget", L"- Budget"},
      {L"(DRAFT - Budget)", L"- Budget"},
      {L"Dra", L"Dra"},
      {L"Draft Draft x", L"Draft x"},
      // clang-format on
  };
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.first), c.second) << c.first;
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  const WCHAR raw[] = {L'D', L'r', L'a', L'f', L't', L' '};
  AddRaw(L"raw", REG_SZ, raw, sizeof raw);
  EXPECT_EQ(Apply(L"Draft Budget"), L"Budget");
  EXPECT_EQ(Apply(L"(draft )"), L"spoold_file");
}

// A value too large for the enumeration's buffers ends the search safely.
TEST_F(PrefixRulesTest, BufferLimitsOfTheEnumeration) {
  const std::wstring longest(129, L'p');  // 260 bytes with its terminator
  AddRule(L"0fits", longest);
  EXPECT_EQ(Apply(longest + L"Tail"), L"Tail");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  std::vector<WCHAR> data(132, L'Q');
  data[130] = L'\0';
  AddRaw(L"0big", REG_SZ, data.data(), 262);
  AddRule(L"1rule", L"Draft ");
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
}

}  // namespace
