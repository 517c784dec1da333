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

TEST(ValidName, CodePageIs1252) {
  ASSERT_EQ(GetACP(), 1252u);
}

TEST(ValidName, TrimsReplacesAndDropsLeadingUnderscores) {
  const NameCase cases[] = {
      {L"Report", L"Report"},
      {L" \t\r\nReport \t\v\f", L"Report"},
      {L"a:b/c", L"a_b_c"},
      {L"<a>|b*c?d\\e", L"a__b_c_d_e"},
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
      {L"\u65e5\u672c", L"_"},
      {L"a\U0001F600b", L"a__b"},  // each half of the pair alone
      {L"x\xd800", L"x_"},         // lone surrogate
  };
  for (const NameCase& c : cases) {
    GuardedBuffer out(260);
    EXPECT_EQ(ValidName(c.name, out.data(), 260), 1u) << c.name;
    EXPECT_EQ(out.text(), c.expected);
  }
}

TEST(ValidName, EmptyNullOrNoRoomWritesNothing) {
  GuardedBuffer out(8, L'#');
  EXPECT_EQ(ValidName(L"", out.data(), 8), 0u);
  EXPECT_EQ(ValidName(nullptr, out.data(), 8), 0u);
  EXPECT_EQ(ValidName(L"abc", out.data(), 0), 0u);
  EXPECT_EQ(ValidName(L"abc", nullptr, 8), 0u);
  EXPECT_EQ(std::wstring(out.storage.data(), 8), L"########");
}

TEST(ValidName, StaysWithinCapacityAndTerminates) {
  GuardedBuffer out(4, L'#');
  EXPECT_EQ(ValidName(L"abcdefgh", out.data(), 4), 1u);
  EXPECT_EQ(out.text(), L"abc");
  EXPECT_TRUE(out.GuardIntact());
  // Longer than the working copy: no overrun, the start is kept.
  std::wstring longName(400, L'x');
  GuardedBuffer wide(300);
  EXPECT_EQ(ValidName(longName.c_str(), wide.data(), 300), 1u);
  EXPECT_EQ(wide.text(), std::wstring(259, L'x'));
}

TEST_F(PrefixRulesTest, NamesWithoutRules) {
  const NameCase cases[] = {
      {L"(Quarterly Report)", L"Quarterly Report"},
      {L"  (Quarterly Report)", L"Quarterly Report"},
      {L"()", L"_"},
      {L"(Budget", L"Budget"},
      {L"\t(Budget)", L"Budget_"},
      {L"a:b/c", L"a_b_c"},
      {L"@home", L"home"},
      {L"\"quoted\"", L"\"quoted\""},
      {L"\t\t", L"_"},
      {L"(   )", L"_"},
      {L"x\u65e5\u672c\u8a9e", L"x___"},
  };
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.name), c.expected) << c.name;
}

TEST_F(PrefixRulesTest, EmptyWorkingNameBecomesTheFixedName) {
  EXPECT_EQ(Apply(L""), L"spoold_file");
  EXPECT_EQ(Apply(L"    "), L"spoold_file");
  AddRule(L"draft", L"Draft - ");
  EXPECT_EQ(Apply(L"Draft - "), L"spoold_file");
  EXPECT_EQ(Apply(L"(draft - )"), L"spoold_file");
}

TEST_F(PrefixRulesTest, NullNameLeavesResultAlone) {
  GuardedBuffer out(270, L'#');
  ApplyValidityRules(nullptr, out.data(), 540);
  EXPECT_EQ(std::wstring(out.storage.data(), 270), std::wstring(270, L'#'));
}

TEST_F(PrefixRulesTest, LengthLimitKeepsTheEnd) {
  std::wstring name;
  for (int i = 0; i < 75; ++i) name += static_cast<WCHAR>(L'a' + i % 26);
  EXPECT_EQ(Apply(name), name.substr(5));
  EXPECT_EQ(Apply(name.substr(5)), name.substr(5));
  // Titles longer than the working copies keep their end too.
  std::wstring longTitle = L"Intro " + std::wstring(300, L'x') + L" the end";
  std::wstring result = Apply(longTitle + L"      ");
  EXPECT_EQ(result.size(), 70u);
  EXPECT_EQ(result.substr(62), L" the end");
}

TEST_F(PrefixRulesTest, ResultBufferSizeIsHonoured) {
  EXPECT_EQ(Apply(L"Quarterly Report", 10), L"port");  // 5 chars with terminator, the end kept
  EXPECT_EQ(Apply(L"Quarterly Report", 2), L"");
  EXPECT_EQ(Apply(L"Quarterly Report", 1), L"");
  // Too small to mend by insertion: the name is cut instead, never a device.
  EXPECT_EQ(Apply(L"NUL", 8), L"NU");
}

TEST_F(PrefixRulesTest, NoDeviceNameAndNoDotOnlyName) {
  const NameCase cases[] = {
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
  };
  for (const NameCase& c : cases) EXPECT_EQ(Apply(c.name), c.expected) << c.name;
  // A device stem uncovered by the length limit is mended within 70 characters.
  std::wstring tail = L"CON." + std::wstring(66, L'x');
  std::wstring result = Apply(L"abcde" + tail);
  EXPECT_EQ(result, L"CON_." + std::wstring(65, L'x'));
}

TEST_F(PrefixRulesTest, HostileTitlesStayOneComponent) {
  const WCHAR* titles[] = {L"..\\..\\Windows\\evil",
                           L"../../etc/passwd",
                           L"C:\\x",
                           L"\\\\server\\share\\f",
                           L"file.txt:stream",
                           L"\\\\?\\C:\\a",
                           L"a\x1b"
                           L"b"};
  for (const WCHAR* title : titles) {
    std::wstring name = Apply(title);
    EXPECT_FALSE(name.empty()) << title;
    EXPECT_EQ(name.find_first_of(L"\\/:*?<>|"), std::wstring::npos) << title << " -> " << name;
    EXPECT_NE(name, L".");
    EXPECT_NE(name, L"..");
  }
  EXPECT_EQ(Apply(L"..\\..\\Windows\\evil"), L".._.._Windows_evil");
}

TEST_F(PrefixRulesTest, FirstMatchingRuleIsRemovedIgnoringCase) {
  AddRule(L"draft", L"Draft - ");
  EXPECT_EQ(Apply(L"draft - Budget"), L"Budget");
  EXPECT_EQ(Apply(L"(DRAFT - Budget)"), L"Budget");  // matched after the parentheses go
  EXPECT_EQ(Apply(L"  Draft - Budget"), L"Budget");
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
  EXPECT_EQ(Apply(L"Draft"), L"Draft");  // rule longer than the name
}

TEST_F(PrefixRulesTest, OnlyTheFirstInEnumerationOrderApplies) {
  AddRule(L"b_short", L"Draft");
  AddRule(L"a_long", L"Draft - ");
  std::vector<std::wstring> order = RegistryValueNames(HKEY_LOCAL_MACHINE, kPrefixKey);
  ASSERT_EQ(order.size(), 2u);
  std::wstring expected = order[0] == L"a_long" ? L"Budget" : L"- Budget";
  EXPECT_EQ(Apply(L"Draft - Budget"), expected);
  // Removed once only, even when the rest starts with the prefix again.
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  AddRule(L"only", L"Re ");
  EXPECT_EQ(Apply(L"Re Re Budget"), L"Re Budget");
}

TEST_F(PrefixRulesTest, OtherTypesAreSkippedAndEnumerationGoesOn) {
  const WCHAR multi[] = L"Draft \0";
  DWORD number = 7;
  AddRule(L"0expand", L"Draft ", REG_EXPAND_SZ);
  AddRawValue(L"1multi", REG_MULTI_SZ, multi, sizeof multi);
  AddRawValue(L"2dword", REG_DWORD, &number, sizeof number);
  AddRule(L"3rule", L"Dra");
  ASSERT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, kPrefixKey).back(), L"3rule");
  EXPECT_EQ(Apply(L"Draft Budget"), L"ft Budget");
}

TEST_F(PrefixRulesTest, EmptyRuleMatchesEverythingAndEndsTheSearch) {
  AddRule(L"0empty", L"");
  AddRule(L"1rule", L"Draft ");
  ASSERT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, kPrefixKey).front(), L"0empty");
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
}

TEST_F(PrefixRulesTest, BufferLimitsOfTheEnumeration) {
  const std::wstring longest(129, L'p');  // 260 bytes with its terminator
  AddRule(L"0fits", longest);
  EXPECT_EQ(Apply(longest + L"Tail"), L"Tail");

  struct TooLarge {
    const char* label;
    std::wstring valueName;
    DWORD type;
    DWORD dataSizeBytes;
  } tooLarge[] = {
      {"REG_SZ of 130 characters", L"0big", REG_SZ, 262},
      {"REG_BINARY of 261 bytes", L"0big", REG_BINARY, 261},
      {"value name of 260 characters", L"0" + std::wstring(259, L'n'), REG_SZ, 4},
  };
  for (const TooLarge& c : tooLarge) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
    std::vector<WCHAR> data(c.dataSizeBytes / 2 + 1, L'Q');
    data[(c.dataSizeBytes - 1) / 2] = L'\0';
    AddRawValue(c.valueName.c_str(), c.type, data.data(), c.dataSizeBytes);
    AddRule(L"1rule", L"Draft ");
    std::vector<std::wstring> order = RegistryValueNames(HKEY_LOCAL_MACHINE, kPrefixKey);
    ASSERT_EQ(order.size(), 2u);
    ASSERT_EQ(order[0], c.valueName) << c.label;
    EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget") << c.label;
  }
}

TEST_F(PrefixRulesTest, UnterminatedStoredStringIsReadWithinItsLength) {
  const WCHAR prefix[] = {L'D', L'r', L'a', L'f', L't', L' '};
  AddRawValue(L"raw", REG_SZ, prefix, sizeof prefix);
  EXPECT_EQ(Apply(L"Draft Budget"), L"Budget");
}

TEST_F(PrefixRulesTest, RulesAreReadAfreshForEveryName) {
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
  AddRule(L"rule", L"Draft ");
  EXPECT_EQ(Apply(L"Draft Budget"), L"Budget");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
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

TEST(RegistryGuard, RestoresValuesSubkeysAndAbsence) {
  const WCHAR key[] = L"Software\\Halvek\\GuardProbe";
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, key, L"kept", L"one"), ERROR_SUCCESS);
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, (std::wstring(key) + L"\\child").c_str(), L"deep",
                              L"two"),
            ERROR_SUCCESS);
  {
    ScopedRegistryValues guard(HKEY_LOCAL_MACHINE, key);
    EXPECT_TRUE(guard.existed());
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, key, L"added", L"x"), ERROR_SUCCESS);
  }
  EXPECT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, key), std::vector<std::wstring>{L"kept"});
  EXPECT_EQ(RegistryValueNames(HKEY_LOCAL_MACHINE, (std::wstring(key) + L"\\child").c_str()),
            std::vector<std::wstring>{L"deep"});
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
  {
    ScopedRegistryValues guard(HKEY_LOCAL_MACHINE, key);
    EXPECT_FALSE(guard.existed());
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, key, L"added", L"x"), ERROR_SUCCESS);
  }
  HKEY opened = nullptr;
  EXPECT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, key, 0, KEY_READ, &opened), ERROR_FILE_NOT_FOUND);
}

}  // namespace
