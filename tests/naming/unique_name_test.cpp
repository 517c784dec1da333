// Base/extension split and unique output paths in real folders.
#include <gtest/gtest.h>

#include <climits>

#include "tests/naming/naming_test_support.h"

namespace {

struct Paths {
  BOOL found;
  std::wstring data, ticket;
};

Paths FindPaths(LONG number, const std::wstring& folder, const WCHAR* base, const WCHAR* extension,
                DWORD capacityChars = 270, BOOL withTicket = FALSE) {
  GuardedBuffer data(capacityChars, L'#'), ticket(capacityChars, L'#');
  const BOOL found =
      FindUniqueNameForOutputFile(number, folder.c_str(), base, extension, data.data(),
                                  ticket.data(), capacityChars, withTicket);
  EXPECT_TRUE(data.GuardIntact() && ticket.GuardIntact());
  return {found, data.text(), ticket.text()};
}

// Numbered from the job id while taken; folders count as taken, tickets only
// for a job that has one; numbers wrap and never make a device name.
TEST(FindUniqueNameForOutputFile, Numbering) {
  TempFolder out;
  const std::wstring& dir = out.path;
  for (const WCHAR* taken :
       {L"Report.PDF", L"Report37.PDF", L"Ticket.XPF", L"Report2147483647.PDF", L"COM.PS"})
    ASSERT_TRUE(WriteNewFile(dir + taken, ""));
  ASSERT_TRUE(CreateDirectoryW((dir + L"Folder.PDF").c_str(), nullptr));
  const struct {
    LONG number;
    const WCHAR *base, *extension, *expected;
    BOOL withTicket;
  } cases[] = {
      // clang-format off
      {37, L"Fresh", L"PDF", L"Fresh.PDF", FALSE},
      {37, L"Report", L"PDF", L"Report38.PDF", FALSE},
      {37, L"Ticket", L"PDF", L"Ticket.PDF", FALSE},
      {37, L"Ticket", L"PDF", L"Ticket37.PDF", TRUE},
      {37, L"Folder", L"PDF", L"Folder37.PDF", FALSE},
      {LONG_MAX, L"Report", L"PDF", L"Report-2147483648.PDF", FALSE},
      {1, L"COM", L"PS", L"COM10.PS", FALSE},
      // clang-format on
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindPaths(c.number, dir, c.base, c.extension, 270, c.withTicket).data,
              dir + c.expected);
  }
}

// Paths that do not fit are shortened in the name, or refused; the longer of
// the two extensions decides.
TEST(FindUniqueNameForOutputFile, ShortensToTheCapacityOrRefuses) {
  const struct {
    DWORD capacityChars;
    const WCHAR *extension, *data, *ticket;  // "" when refused
  } cases[] = {
      // clang-format off
      {17, L"PDF", L"Q:\\out\\Repor.PDF", L"Q:\\out\\Repor.XPF"},
      {12, L"PDF", L"", L""},
      {13, L"jp", L"Q:\\out\\R.jp", L"Q:\\out\\R.XPF"},
      {13, L"html", L"", L""},
      // clang-format on
  };
  for (const auto& c : cases) {
    Paths paths = FindPaths(37, L"Q:\\out\\", L"Report", c.extension, c.capacityChars);
    EXPECT_EQ(paths.found != FALSE, *c.data != 0) << c.capacityChars << c.extension;
    EXPECT_EQ(paths.data + L"|" + paths.ticket, std::wstring(c.data) + L"|" + c.ticket);
  }
  const std::wstring tooDeep = L"Q:\\" + std::wstring(251, L'a') + L"\\";  // longer than a path
  EXPECT_EQ(FindPaths(37, tooDeep, L"Report", L"PDF").found, FALSE);
}

// Device names are mended, separators and control characters replaced, and
// trailing dots and blanks dropped as Windows drops them: the file exists
// under exactly the path handed on.
TEST(FindUniqueNameForOutputFile, HostileNamesStayInTheFolder) {
  const WCHAR* const cases[][4] = {
      // clang-format off
      {L"..\\evil", L"PDF", L".._evil.PDF", L".._evil.XPF"},
      {L"x/y", L"p:q", L"x_y.p_q", L"x_y.XPF"},
      {L"*", L"?", L"_._", L"_.XPF"},
      {L"", L"", L"37", L"37.XPF"},
      {L"CON", L"PS", L"CON_.PS", L"CON_.XPF"},
      {L"lpt1 ", L"txt", L"lpt1_ .txt", L"lpt1_ .XPF"},
      {L"Report. ", L"tx. ", L"Report. .tx", L"Report. .XPF"},
      {L"a\x7F", L"b\x85\x9F", L"a_.b__", L"a_.XPF"},
      // clang-format on
  };
  for (const auto& c : cases) {
    TempFolder out;
    Paths paths = FindPaths(37, out.path, c[0], c[1]);
    ASSERT_TRUE(paths.found) << c[0];
    EXPECT_EQ(paths.data, out.path + c[2]) << c[0];
    EXPECT_EQ(paths.ticket, out.path + c[3]) << c[0];
    ASSERT_TRUE(WriteNewFile(paths.data, "job bytes")) << c[0] << " " << GetLastError();
    EXPECT_EQ(ListFolder(out.path), std::vector<std::wstring>{c[2]}) << c[0];
  }
}

}  // namespace
