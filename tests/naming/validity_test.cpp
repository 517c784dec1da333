// Validity rules under the ANSI code page 1252.
#include <gtest/gtest.h>

#include <thread>

#include "tests/naming/naming_test_support.h"

namespace {

using naming_test::Apply;
using naming_test::GuardedBuffer;
using naming_test::kPrefixKey;
using naming_test::PrefixRulesTest;

struct NameCase {
  const WCHAR* name;
  const WCHAR* expected;
};

TEST(ValidName, TrimsReplacesAndStaysWithinCapacity) {
  ASSERT_EQ(GetACP(), 1252u);
  const NameCase cases[] = {
      {L" \t\r\nReport \t\v\f", L"Report"},
      {L"<a>|b*c?d\\e:f/g", L"a__b_c_d_e_f_g"},
      {L"@home", L"home"},
      {L"(x)", L"x_"},
      {L"say \"hi\"", L"say \"hi\""},
      {L"a\x01"
       L"b\x1f"
       L"c",
       L"a_b_c"},
      {L"_a_", L"a_"},
      {L"___", L"_"},
      {L"\t\t\t", L"_"},
      {L"\u00c9t\u00e9 \u20ac", L"\u00c9t\u00e9 \u20ac"},  // in 1252
      {L"a\u65e5\u672cb", L"a__b"},                        // not in 1252
      {L"a\U0001F600b", L"a__b"},                          // each half of the pair alone
      {L"x\xd800", L"x_"},                                 // lone surrogate
  };
  for (const NameCase& c : cases) {
    GuardedBuffer out(260);
    EXPECT_EQ(ValidName(c.name, out.data(), 260), 1u) << c.name;
    EXPECT_EQ(out.text(), c.expected);
  }
  GuardedBuffer small(4, L'#');
  EXPECT_EQ(ValidName(L"abcdefgh", small.data(), 4), 1u);
  EXPECT_EQ(small.text(), L"abc");
  EXPECT_TRUE(small.GuardIntact());
  // Longer than the working copy: no overrun, the start is kept.
  GuardedBuffer wide(300);
  EXPECT_EQ(ValidName(std::wstring(400, L'x').c_str(), wide.data(), 300), 1u);
  EXPECT_EQ(wide.text(), std::wstring(259, L'x'));
}

TEST(ValidName, EmptyNullOrNoRoomWritesNothing) {
  GuardedBuffer out(8, L'#');
  EXPECT_EQ(ValidName(L"", out.data(), 8), 0u);
  EXPECT_EQ(ValidName(nullptr, out.data(), 8), 0u);
  EXPECT_EQ(ValidName(L"abc", out.data(), 0), 0u);
  EXPECT_EQ(ValidName(L"abc", nullptr, 8), 0u);
  EXPECT_EQ(std::wstring(out.storage.data(), 8), L"########");
}

TEST_F(PrefixRulesTest, NamesWithoutRules) {
  const NameCase cases[] = {
      {L"  (Quarterly Report)", L"Quarterly Report"},
      {L"()", L"_"},
      {L"(Budget", L"Budget"},
      {L"\t(Budget)", L"Budget_"},
      {L"a:b/c", L"a_b_c"},
      {L"@home", L"home"},
      {L"\"quoted\"", L"\"quoted\""},
      {L"(   )", L"_"},
      {L"x\u65e5\u672c\u8a9e", L"x___"},
      // Empty working names become the fixed name.
      {L"", L"spoold_file"},
      {L"    ", L"spoold_file"},
      // No device name, no dot-only name.
      {L"CON", L"CON_"},
      {L"nul", L"nul_"},
      {L"Com1", L"Com1_"},
      {L"LPT9", L"LPT9_"},
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
      {L"MyCON", L"MyCON"},
      {L".", L"_"},
      {L"..", L"_"},
      {L". .", L"_"},
      {L".hidden", L".hidden"},
      {L"..\\..\\Windows\\evil", L".._.._Windows_evil"},
  };
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.name), c.expected) << c.name;
  // Hostile titles stay one component inside the folder.
  for (const WCHAR* title :
       {L"../../etc/passwd", L"C:\\x", L"\\\\server\\share\\f", L"file.txt:stream", L"\\\\?\\C:\\a",
        L"a\x1b"
        L"b"}) {
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
  EXPECT_EQ(Apply(name.substr(5)), name.substr(5));
  // Titles longer than the working copies keep their end too.
  const std::wstring result = Apply(L"Intro " + std::wstring(300, L'x') + L" the end      ");
  EXPECT_EQ(result.size(), 70u);
  EXPECT_EQ(result.substr(62), L" the end");
  // A device stem uncovered by the length limit is mended within 70 characters.
  EXPECT_EQ(Apply(L"abcdeCON." + std::wstring(66, L'x')), L"CON_." + std::wstring(65, L'x'));
  EXPECT_EQ(Apply(L"Quarterly Report", 10), L"port");
  EXPECT_EQ(Apply(L"Quarterly Report", 2), L"");
  EXPECT_EQ(Apply(L"Quarterly Report", 1), L"");
  // Too small to mend by insertion: the name is cut instead, never a device.
  EXPECT_EQ(Apply(L"NUL", 8), L"NU");
}

// Rules are read afresh for every name; the first value in enumeration
// order wins and is removed once, ignoring case.
TEST_F(PrefixRulesTest, FirstMatchingRuleIsRemoved) {
  EXPECT_EQ(Apply(L"Draft - Budget"), L"Draft - Budget");
  AddRule(L"draft", L"Draft - ");
  const NameCase cases[] = {
      {L"draft - Budget", L"Budget"},
      {L"(DRAFT - Budget)", L"Budget"},  // matched after the parentheses go
      {L"  Draft - Budget", L"Budget"},
      {L"Draft Budget", L"Draft Budget"},
      {L"Draft", L"Draft"},  // rule longer than the name
      {L"Draft - ", L"spoold_file"},
      {L"(draft - )", L"spoold_file"},
      {L"Draft - Draft - x", L"Draft - x"},
  };
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.name), c.expected) << c.name;

  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  AddRule(L"b_short", L"Draft");
  AddRule(L"a_long", L"Draft - ");
  const std::vector<std::wstring> order = RegistryValueNames(HKEY_LOCAL_MACHINE, kPrefixKey);
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(Apply(L"Draft - Budget"), order[0] == L"a_long" ? L"Budget" : L"- Budget");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  EXPECT_EQ(Apply(L"Draft - Budget"), L"Draft - Budget");
}

TEST_F(PrefixRulesTest, ValuesThatAreNoRules) {
  // Other types are skipped and the enumeration goes on.
  const WCHAR multi[] = L"Draft \0";
  const DWORD number = 7;
  AddRule(L"0expand", L"Draft ", REG_EXPAND_SZ);
  AddRawValue(L"1multi", REG_MULTI_SZ, multi, sizeof multi);
  AddRawValue(L"2dword", REG_DWORD, &number, sizeof number);
  AddRule(L"3rule", L"Dra");
  ASSERT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, kPrefixKey).back(), L"3rule");
  EXPECT_EQ(Apply(L"Draft Budget"), L"ft Budget");
  // An empty rule matches everything and ends the search.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  AddRule(L"0empty", L"");
  AddRule(L"1rule", L"Draft ");
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
  // A stored string without terminator is read within its length.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  const WCHAR raw[] = {L'D', L'r', L'a', L'f', L't', L' '};
  AddRawValue(L"raw", REG_SZ, raw, sizeof raw);
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
  } tooLarge[] = {
      {L"0big", REG_SZ, 262},
      {L"0big", REG_BINARY, 261},
      {L"0" + std::wstring(259, L'n'), REG_SZ, 4},  // value name of 260 characters
  };
  for (const auto& c : tooLarge) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
    std::vector<WCHAR> data(c.dataSizeBytes / 2 + 1, L'Q');
    data[(c.dataSizeBytes - 1) / 2] = L'\0';
    AddRawValue(c.valueName.c_str(), c.type, data.data(), c.dataSizeBytes);
    AddRule(L"1rule", L"Draft ");
    ASSERT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, kPrefixKey).front(), c.valueName);
    EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget") << c.dataSizeBytes;
  }
}

TEST_F(PrefixRulesTest, ConcurrentCallsShareNothing) {
  AddRule(L"rule", L"Draft ");
  const std::wstring names[] = {L"Draft (a)", L"CON", L"Draft Budget", L"x:y"};
  const std::wstring expected[] = {L"a_", L"CON_", L"Budget", L"x_y"};
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        WCHAR out[270] = {};
        ApplyValidityRules(names[(t + i) % 4].c_str(), out, sizeof out);
        if (expected[(t + i) % 4] != out) ++wrong[t];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

}  // namespace
