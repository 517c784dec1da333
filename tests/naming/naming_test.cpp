// The name rules under code page 1252, and unique output paths in real
// folders; every result buffer has guard characters behind its capacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cwchar>
#include <string>
#include <vector>

#include "naming/naming_internal.h"
#include "tests/support/registry_guard.h"
#include "tests/support/test_files.h"

namespace {

// The text write leaves in capacityChars of fill that have guard characters
// behind them.
template <typename Write>
std::wstring Guarded(size_t capacityChars, WCHAR fill, Write write) {
  std::vector<WCHAR> buffer(capacityChars + 16, 0xCDCD);
  std::fill_n(buffer.begin(), capacityChars, fill);
  write(buffer.data());
  EXPECT_EQ(std::count(buffer.begin() + capacityChars, buffer.end(), 0xCDCD), 16)
      << "wrote past " << capacityChars << " characters";
  return std::wstring(buffer.data(), wcsnlen(buffer.data(), capacityChars));
}

std::wstring Apply(const std::wstring& name, DWORD sizeBytes = 540) {
  return Guarded(sizeBytes / sizeof(WCHAR), L'\0',
                 [&](WCHAR* result) { ApplyValidityRules(name.c_str(), result, sizeBytes); });
}

// The Prefix key, emptied for the test and restored afterwards.
class NameRules : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey); }
  void AddRule(const WCHAR* valueName, const void* data, DWORD sizeBytes, DWORD type = REG_SZ) {
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kPrefixKey, valueName, type, data, sizeBytes),
              ERROR_SUCCESS);
  }
  ScopedRegistryValues guard_{HKEY_LOCAL_MACHINE, kPrefixKey};
};

// Trimmed, parentheses dropped, unfit characters and those outside the code
// page replaced, devices and dot-only names mended, the end of a long name
// kept.
TEST_F(NameRules, WithoutPrefixRules) {
  ASSERT_EQ(GetACP(), 1252u);
  const std::wstring x(300, L'x');
  const struct {
    std::wstring name, expected;
    DWORD sizeBytes;
  } cases[] = {
      // clang-format off
      {L" \t\r\nReport \t\v\f", L"Report", 540},
      {L"<a>|b*c?d\\e:f/g", L"a__b_c_d_e_f_g", 540},
      {L"a\u0001b\u007fc\u0085d", L"a_b_c_d", 540},
      {L"\u00c9t\u00e9 \u20ac", L"\u00c9t\u00e9 \u20ac", 540},
      {L"a\u65e5\u672cb\U0001F600", L"a__b__", 540},
      {L"  (Quarterly Report)", L"Quarterly Report", 540},
      {L"aux  .txt", L"aux_  .txt", 540},
      {L"com\u00b9", L"com\u00b9_", 540},
      {L". .", L"_", 540},
      {L"..\\..\\Windows\\evil", L".._.._Windows_evil", 540},
      {L"Intro " + x + L" the end      ", x.substr(0, 62) + L" the end", 540},
      {L"abcdeCON." + x.substr(0, 66), L"CON_." + x.substr(0, 65), 540},
      {L"Quarterly Report", L"port", 10},
      {L"NUL", L"NU", 8},  // too small to insert: cut, never a device
      // clang-format on
  };
  for (const auto& c : cases) EXPECT_EQ(Apply(c.name, c.sizeBytes), c.expected) << c.name;
}

// Read afresh for every name; the first string value in enumeration order
// that begins the name is removed once, ignoring case, after the parentheses
// go; a stored string need not carry its terminator; a value too large for
// the enumeration's buffers ends the search. A name left empty is never used.
TEST_F(NameRules, FirstMatchingPrefixRuleIsRemoved) {
  EXPECT_EQ(Apply(L"Draft - Budget"), L"Draft - Budget");
  const DWORD number = 7;
  AddRule(L"0expand", L"Draft ", 14, REG_EXPAND_SZ);
  AddRule(L"1dword", &number, sizeof number, REG_DWORD);
  AddRule(L"a_short", L"draft", 12);
  AddRule(L"b_long", L"Draft - ", 18);
  EXPECT_EQ(Apply(L"(DRAFT - Budget)"), L"- Budget");
  EXPECT_EQ(Apply(L"Draft Draft x"), L"Draft x");
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey);
  const std::wstring longest(129, L'p');  // 260 bytes with its terminator
  AddRule(L"0fits", longest.c_str(), 260);
  AddRule(L"1raw", L"Draft ", 12);  // no terminator
  EXPECT_EQ(Apply(longest + L"Tail"), L"Tail");
  EXPECT_EQ(Apply(L"(draft )"), L"spoold_file");
  const std::vector<WCHAR> big(131, L'Q');
  AddRule(L"0big", big.data(), 262);
  EXPECT_EQ(Apply(L"Draft Budget"), L"Draft Budget");
}

// "data path|ticket path", behind a "-" when refused.
std::wstring FindPaths(LONG number, const std::wstring& folder, const WCHAR* base,
                       const WCHAR* extension, DWORD capacityChars = 270, BOOL withTicket = FALSE) {
  BOOL found = FALSE;
  std::wstring ticket;
  const std::wstring data = Guarded(capacityChars, L'#', [&](WCHAR* dataPath) {
    ticket = Guarded(capacityChars, L'#', [&](WCHAR* ticketPath) {
      found = FindUniqueNameForOutputFile(number, folder.c_str(), base, extension, dataPath,
                                          ticketPath, capacityChars, withTicket);
    });
  });
  return (found ? L"" : L"-") + data + L"|" + ticket;
}

// Numbered from the job id while taken; folders count as taken, tickets only
// for a job that has one; numbers wrap and never make a device name; paths
// that do not fit are shortened in the name (the longer extension decides),
// or refused. Separators and control characters are replaced and trailing
// dots and blanks dropped as Windows drops them, so the path handed on is
// the file's own and lies in the folder.
TEST(FindUniqueNameForOutputFile, NumberedSafePathsThatFit) {
  TempFolder out;
  const std::wstring& dir = out.path;
  for (const WCHAR* taken :
       {L"Report.PDF", L"Report37.PDF", L"Ticket.XPF", L"Report2147483647.PDF", L"COM.PS"})
    ASSERT_TRUE(WriteNewFile(dir + taken, ""));
  ASSERT_TRUE(CreateDirectoryW((dir + L"Folder.PDF").c_str(), nullptr));
  const struct {
    LONG number;
    const WCHAR *base, *extension;
    std::wstring expected;
    DWORD capacityChars;
    BOOL withTicket;
  } cases[] = {
      // clang-format off
      {37, L"Report", L"PDF", dir + L"Report38.PDF|" + dir + L"Report38.XPF", 270, FALSE},
      {37, L"Ticket", L"PDF", dir + L"Ticket37.PDF|" + dir + L"Ticket37.XPF", 270, TRUE},
      {37, L"Folder", L"PDF", dir + L"Folder37.PDF|" + dir + L"Folder37.XPF", 270, FALSE},
      {LONG_MAX, L"Report", L"PDF", dir + L"Report-2147483648.PDF|" + dir + L"Report-2147483648.XPF", 270, FALSE},
      {1, L"COM", L"PS", dir + L"COM10.PS|" + dir + L"COM10.XPF", 270, FALSE},
      {37, L"Report", L"PDF", L"Q:\\out\\Repor.PDF|Q:\\out\\Repor.XPF", 17, FALSE},
      {37, L"Report", L"PDF", L"-|", 12, FALSE},
      {37, L"Report", L"jp", L"Q:\\out\\R.jp|Q:\\out\\R.XPF", 13, FALSE},
      {37, L"..\\evil", L"PDF", dir + L".._evil.PDF|" + dir + L".._evil.XPF", 270, FALSE},
      {37, L"x/y", L"p:q", dir + L"x_y.p_q|" + dir + L"x_y.XPF", 270, FALSE},
      {37, L"", L"", dir + L"37|" + dir + L"37.XPF", 270, FALSE},
      {37, L"Report. ", L"tx. ", dir + L"Report. .tx|" + dir + L"Report. .XPF", 270, FALSE},
      {37, L"a\x7F", L"b\x85\x9F", dir + L"a_.b__|" + dir + L"a_.XPF", 270, FALSE},
      // clang-format on
  };
  for (const auto& c : cases) {
    const std::wstring folder = c.capacityChars < 20 ? L"Q:\\out\\" : dir;
    EXPECT_EQ(FindPaths(c.number, folder, c.base, c.extension, c.capacityChars, c.withTicket),
              c.expected);
  }
  // A folder that leaves no room for a name gives no path at all.
  EXPECT_EQ(FindPaths(37, L"Q:\\" + std::wstring(251, L'a') + L"\\", L"Report", L"PDF"), L"-|");
}

}  // namespace
