// Validity rules under the ANSI code page 1252.
#include <gtest/gtest.h>

#include <thread>
#include <utility>

#include "tests/naming/naming_test_support.h"

namespace {

using NameCase = std::pair<const WCHAR*, const WCHAR*>;

TEST(ValidName, TrimsReplacesAndStaysWithinCapacity) {
  ASSERT_EQ(GetACP(), 1252u);
  const NameCase cases[] = {{L" \t\r\nReport \t\v\f", L"Report"},
                            {L"<a>|b*c?d\\e:f/g", L"a__b_c_d_e_f_g"},
                            {L"(x)", L"x_"},
                            {L"say \"hi\"", L"say \"hi\""},
                            {L"a\u0001b\u001fc", L"a_b_c"},
                            {L"a\u007fb\u0081c\u0090d\u009d", L"a_b_c_d_"},
                            {L"_a_", L"a_"},
                            {L"___", L"_"},
                            {L"\t\t\t", L"_"},
                            {L"\u00c9t\u00e9 \u20ac", L"\u00c9t\u00e9 \u20ac"},
                            {L"a\u65e5\u672cb", L"a__b"},
                            {L"a\U0001F600b", L"a__b"},
                            {L"x\xd800", L"x_"}};
  for (const NameCase& c : cases) {
    GuardedBuffer out(260);
    EXPECT_EQ(ValidName(c.first, out.data(), 260), 1u) << c.first;
    EXPECT_EQ(out.text(), c.second);
  }
  GuardedBuffer small(4, L'#'), wide(300), untouched(8, L'#');
  EXPECT_EQ(ValidName(L"abcdefgh", small.data(), 4), 1u);
  EXPECT_EQ(small.text(), L"abc");
  EXPECT_TRUE(small.GuardIntact());
  EXPECT_EQ(ValidName(std::wstring(400, L'x').c_str(), wide.data(), 300), 1u);
  EXPECT_EQ(wide.text(), std::wstring(259, L'x'));  // longer than the working copy
  EXPECT_EQ(ValidName(L"", untouched.data(), 8) + ValidName(nullptr, untouched.data(), 8) +
                ValidName(L"abc", untouched.data(), 0) + ValidName(L"abc", nullptr, 8),
            0u);
  EXPECT_EQ(std::wstring(untouched.storage.data(), 8), L"########");
}

// Parentheses go, empty names get the fixed name, devices and dot-only names
// are mended, and hostile titles stay one component inside the folder.
TEST_F(PrefixRulesTest, NamesWithoutRules) {
  const NameCase cases[] = {{L"  (Quarterly Report)", L"Quarterly Report"},
                            {L"()", L"_"},
                            {L"(Budget", L"Budget"},
                            {L"\t(Budget)", L"Budget_"},
                            {L"\"quoted\"", L"\"quoted\""},
                            {L"(   )", L"_"},
                            {L"", L"spoold_file"},
                            {L"    ", L"spoold_file"},
                            {L"nul", L"nul_"},
                            {L"Com1", L"Com1_"},
                            {L"lpt0", L"lpt0_"},
                            {L"prn ", L"prn_"},
                            {L"AUX.report", L"AUX_.report"},
                            {L"aux  .txt", L"aux_  .txt"},
                            {L"NUL...", L"NUL_..."},
                            {L"(con)", L"con_"},
                            {L"CONOUT$", L"CONOUT$_"},
                            {L"com\u00b9", L"com\u00b9_"},
                            {L"CONSOLE", L"CONSOLE"},
                            {L"COM10", L"COM10"},
                            {L".", L"_"},
                            {L"..", L"_"},
                            {L". .", L"_"},
                            {L".hidden", L".hidden"},
                            {L"..\\..\\Windows\\evil", L".._.._Windows_evil"}};
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.first), c.second) << c.first;
  for (const WCHAR* title : {L"../../etc/passwd", L"C:\\x", L"\\\\server\\share\\f",
                             L"file.txt:stream", L"\\\\?\\C:\\a", L"..", L"a\u001bb"}) {
    const std::wstring name = Apply(title);
    EXPECT_EQ(name.find_first_of(L"\\/:*?<>|"), std::wstring::npos) << title << " -> " << name;
    EXPECT_TRUE(!name.empty() && name != L"." && name != L"..") << title;
  }
  GuardedBuffer untouched(270, L'#');
  ApplyValidityRules(nullptr, untouched.data(), 540);
  EXPECT_EQ(std::wstring(untouched.storage.data(), 270), std::wstring(270, L'#'));
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
  EXPECT_EQ(Apply(L"Quarterly Report", 2), L"");
  EXPECT_EQ(Apply(L"NUL", 8), L"NU");  // too small to insert: cut, never a device
}

// Read afresh for every name; the first value in enumeration order wins and
// is removed once, ignoring case, after the parentheses go.
TEST_F(PrefixRulesTest, FirstMatchingRuleIsRemoved) {
  EXPECT_EQ(Apply(L"Draft - Budget"), L"Draft - Budget");
  AddRule(L"a_short", L"draft");
  AddRule(L"b_long", L"Draft - ");
  const NameCase cases[] = {{L"Draft - Budget", L"- Budget"},
                            {L"(DRAFT - Budget)", L"- Budget"},
                            {L"Dra", L"Dra"},
                            {L"Draft Draft x", L"Draft x"}};
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.first), c.second) << c.first;
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  AddRule(L"rule", L"Draft - ");
  EXPECT_EQ(Apply(L"(draft - )"), L"spoold_file");
}

TEST_F(PrefixRulesTest, ValuesThatAreNoRules) {
  const WCHAR multi[] = L"Draft \0";
  const DWORD number = 7;
  AddRule(L"0expand", L"Draft ", REG_EXPAND_SZ);  // other types are skipped
  AddRaw(L"1multi", REG_MULTI_SZ, multi, sizeof multi);
  AddRaw(L"2dword", REG_DWORD, &number, sizeof number);
  AddRule(L"3rule", L"Dra");
  EXPECT_EQ(Apply(L"Draft Budget"), L"ft Budget");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  AddRule(L"0empty", L"");  // matches everything and ends the search
  AddRule(L"1rule", L"Draft ");
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  const WCHAR raw[] = {L'D', L'r', L'a', L'f', L't', L' '};  // no terminator stored
  AddRaw(L"raw", REG_SZ, raw, sizeof raw);
  EXPECT_EQ(Apply(L"Draft Budget"), L"Budget");
}

TEST_F(PrefixRulesTest, BufferLimitsOfTheEnumeration) {
  const std::wstring longest(129, L'p');  // 260 bytes with its terminator
  AddRule(L"0fits", longest);
  EXPECT_EQ(Apply(longest + L"Tail"), L"Tail");
  const struct {
    std::wstring valueName;
    DWORD type;
    DWORD dataSizeBytes;
  } tooLarge[] = {{L"0big", REG_SZ, 262},
                  {L"0big", REG_BINARY, 261},
                  {L"0" + std::wstring(259, L'n'), REG_SZ, 4}};  // name of 260 characters
  for (const auto& c : tooLarge) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
    std::vector<WCHAR> data(c.dataSizeBytes / 2 + 1, L'Q');
    data[(c.dataSizeBytes - 1) / 2] = L'\0';
    AddRaw(c.valueName.c_str(), c.type, data.data(), c.dataSizeBytes);
    AddRule(L"1rule", L"Draft ");
    EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget") << c.dataSizeBytes;
  }
}

TEST_F(PrefixRulesTest, ConcurrentCallsShareNothing) {
  AddRule(L"rule", L"Draft ");
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"Draft (a)", L"a_"}, {L"CON", L"CON_"}, {L"Draft Budget", L"Budget"}, {L"x:y", L"x_y"}};
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        WCHAR out[270] = {};
        ApplyValidityRules(cases[(t + i) % 4].first.c_str(), out, sizeof out);
        wrong[t] += cases[(t + i) % 4].second != out;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
