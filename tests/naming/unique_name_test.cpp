// Base/extension split, unique output paths in real folders, file checks.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <thread>

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

TEST(ExtractBaseNameAndExtension, SplitsAndStaysInItsBuffers) {
  const WCHAR* const cases[][3] = {{L"archive.tar.gz", L"archive.tar", L"gz"},
                                   {L"notes.backup", L"notes.backup", L""},
                                   {L"Report.", L"Report", L""},
                                   {L".pdf", L"", L"pdf"},
                                   {L"a.b\\c", L"a", L"b\\c"},
                                   {L"Report", L"Report", L""},
                                   {nullptr, L"", L""}};
  for (const auto& c : cases) {
    GuardedBuffer base(270, L'#'), extension(32, L'#');
    ExtractBaseNameAndExtension(c[0], base.data(), 540, extension.data(), 64);
    EXPECT_EQ(base.text() + L"|" + extension.text(), std::wstring(c[1]) + L"|" + c[2]);
    // Rewritten whole: nothing of the old content is left behind the name.
    EXPECT_EQ((std::wstring(base.storage.data(), 270) + std::wstring(extension.storage.data(), 32))
                  .find(L'#'),
              std::wstring::npos);
  }
  // Small buffers; an odd byte count is rounded down to whole characters.
  GuardedBuffer base(3, L'#'), extension(2, L'#'), one(1, L'#');
  ExtractBaseNameAndExtension(L"Report.pdf", base.data(), 6, extension.data(), 4);
  ExtractBaseNameAndExtension(L"Report.pdf", one.data(), 3, nullptr, 0);
  EXPECT_EQ(base.text() + L"|" + extension.text() + L"|" + one.text(), L"Re|p|");
  EXPECT_TRUE(base.GuardIntact() && extension.GuardIntact() && one.GuardIntact());
}

// Numbered from the job id while taken; folders count as taken, tickets only
// for a job that has one; numbers wrap and never make a device name.
TEST(FindUniqueNameForOutputFile, Numbering) {
  TempFolder out;
  const std::wstring& dir = out.path;
  Paths first = FindPaths(37, dir, L"Report", L"PDF");
  EXPECT_TRUE(first.found);
  EXPECT_EQ(first.data + first.ticket, dir + L"Report.PDF" + dir + L"Report.XPF");
  for (const WCHAR* taken : {L"Report.PDF", L"Report37.PDF", L"Ticket.XPF", L"Report2147483647.PDF",
                             L"COM.PS", L"lpt.PS"})
    ASSERT_TRUE(WriteNewFile(dir + taken, ""));
  ASSERT_TRUE(CreateDirectoryW((dir + L"Folder.PDF").c_str(), nullptr));
  const struct {
    LONG number;
    const WCHAR *base, *extension, *expected;
  } cases[] = {{37, L"Report", L"PDF", L"Report38.PDF"},
               {37, L"Ticket", L"PDF", L"Ticket.PDF"},
               {37, L"Folder", L"PDF", L"Folder37.PDF"},
               {-5, L"Report", L"PDF", L"Report-5.PDF"},
               {LONG_MAX, L"Report", L"PDF", L"Report-2147483648.PDF"},
               {1, L"COM", L"PS", L"COM10.PS"},
               {-1, L"COM", L"PS", L"COM-1.PS"},
               {0, L"lpt", L"PS", L"lpt10.PS"}};
  for (const auto& c : cases) {
    EXPECT_EQ(FindPaths(c.number, dir, c.base, c.extension).data, dir + c.expected);
  }
  EXPECT_EQ(FindPaths(37, dir, L"Ticket", L"PDF", 270, TRUE).data, dir + L"Ticket37.PDF");
  EXPECT_EQ(FindPaths(37, dir + L"nowhere\\", L"Report", L"PDF").data,
            dir + L"nowhere\\Report.PDF");  // a missing folder: the unnumbered path
}

TEST(FindUniqueNameForOutputFile, BadArgumentsAreRefused) {
  WCHAR data[16] = L"x", ticket[16] = L"y";
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, nullptr, L"R", L"PDF", data, ticket, 16, FALSE));
  EXPECT_EQ(data[0] + ticket[0], 0);
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, L"C:\\", L"R", L"PDF", nullptr, ticket, 16, FALSE));
  data[0] = L'x';
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, L"C:\\", L"R", L"PDF", data, ticket, 0, FALSE));
  EXPECT_EQ(data[0], L'x');
}

// Paths that do not fit are shortened in the name, or refused; the longer of
// the two extensions decides.
TEST(FindUniqueNameForOutputFile, ShortensToTheCapacityOrRefuses) {
  const struct {
    DWORD capacityChars;
    const WCHAR *extension, *data, *ticket;  // "" when refused
  } cases[] = {{18, L"PDF", L"Q:\\out\\Report.PDF", L"Q:\\out\\Report.XPF"},
               {17, L"PDF", L"Q:\\out\\Repor.PDF", L"Q:\\out\\Repor.XPF"},
               {13, L"PDF", L"Q:\\out\\R.PDF", L"Q:\\out\\R.XPF"},
               {12, L"PDF", L"", L""},
               {13, L"jp", L"Q:\\out\\R.jp", L"Q:\\out\\R.XPF"},
               {13, L"html", L"", L""}};
  for (const auto& c : cases) {
    Paths paths = FindPaths(37, L"Q:\\out\\", L"Report", c.extension, c.capacityChars);
    EXPECT_EQ(paths.found != FALSE, *c.data != 0) << c.capacityChars << c.extension;
    EXPECT_EQ(paths.data + L"|" + paths.ticket, std::wstring(c.data) + L"|" + c.ticket);
  }
  TempFolder out;  // room for exactly "R.PDF", none for a number
  const DWORD capacityChars = static_cast<DWORD>(out.path.size() + 6);
  ASSERT_TRUE(WriteNewFile(FindPaths(37, out.path, L"Report", L"PDF", capacityChars).data, ""));
  Paths second = FindPaths(37, out.path, L"Report", L"PDF", capacityChars);
  EXPECT_EQ(second.found, FALSE);
  EXPECT_EQ(second.data + second.ticket, L"");
  EXPECT_EQ(ListFolder(out.path), std::vector<std::wstring>{L"R.PDF"});
  const std::wstring tooDeep = L"Q:\\" + std::wstring(251, L'a') + L"\\";  // longer than a path
  EXPECT_EQ(FindPaths(37, tooDeep, L"Report", L"PDF").found, FALSE);
  EXPECT_EQ(FindPaths(37, tooDeep.substr(0, 250) + L"\\", L"Report", L"PDF").data.size(), 259u);
}

TEST(FindUniqueNameForOutputFile, DeepFolderKeepsBelowMaxPathWithOneStem) {
  TempFolder out;
  std::wstring folder = out.path;
  while (folder.size() < 200) {
    folder += std::wstring(std::min<size_t>(40, std::max<size_t>(1, 199 - folder.size())), L'd');
    folder += L"\\";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << folder.size();
  }
  ASSERT_EQ(folder.size(), 200u);
  const std::wstring base = L"B" + std::wstring(69, L'b');
  for (int i = 0; i < 3; ++i) {
    Paths paths = FindPaths(37, folder, base.c_str(), L"PDF");
    ASSERT_TRUE(paths.found);
    EXPECT_EQ(paths.data.substr(0, paths.data.size() - 3) + L"XPF", paths.ticket);
    EXPECT_TRUE(WriteNewFile(paths.data, "x") && WriteNewFile(paths.ticket, "t"));
  }
  const std::wstring b55 = base.substr(0, 55), b53 = base.substr(0, 53);
  EXPECT_EQ(ListFolder(folder),
            (std::vector<std::wstring>{b53 + L"37.PDF", b53 + L"37.XPF", b53 + L"38.PDF",
                                       b53 + L"38.XPF", b55 + L".PDF", b55 + L".XPF"}));
}

// Device names are mended, control characters replaced, and trailing dots
// and blanks dropped as Windows drops them: the file exists under exactly
// the path handed on.
TEST(FindUniqueNameForOutputFile, HostileNamesStayInTheFolder) {
  const WCHAR* const cases[][4] = {
      {L"..\\evil", L"PDF", L".._evil.PDF", L".._evil.XPF"},
      {L"a", L"b\\c", L"a.b_c", L"a.XPF"},
      {L"x/y", L"p:q", L"x_y.p_q", L"x_y.XPF"},
      {L"*", L"?", L"_._", L"_.XPF"},
      {L"say \"hi\"", L"PDF", L"say _hi_.PDF", L"say _hi_.XPF"},
      {L"", L"", L"37", L"37.XPF"},
      {L"..", L"", L"..37", L"..37.XPF"},
      {L"", L"PDF", L".PDF", L".XPF"},
      {L"CON", L"PS", L"CON_.PS", L"CON_.XPF"},
      {L"nul", L"", L"nul_", L"nul_.XPF"},
      {L"AUX.report", L"PS", L"AUX_.report.PS", L"AUX_.report.XPF"},
      {L"lpt1 ", L"txt", L"lpt1_ .txt", L"lpt1_ .XPF"},
      {L"Untitled - Notepad", L"", L"Untitled - Notepad", L"Untitled - Notepad.XPF"},
      {L"Report. ", L"tx. ", L"Report. .tx", L"Report. .XPF"},
      {L"a\x7F", L"b\x85\x9F", L"a_.b__", L"a_.XPF"},
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

TEST(FindUniqueNameForOutputFile, ConcurrentCapturesNeverShareAFile) {
  TempFolder out;
  std::vector<std::vector<std::wstring>> made(4);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 15; ++i)
        made[t].push_back(
            CaptureInto(out.path, L"Report.pdf", L"PDF", 37, std::to_string(t * 15 + i)));
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::wstring> distinct;
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 15; ++i) {
      EXPECT_EQ(ReadWholeFile(made[t][i]), std::to_string(t * 15 + i));
      distinct.insert(made[t][i]);
    }
  }
  EXPECT_EQ(distinct.size(), 60u);
  EXPECT_EQ(distinct.count(out.path + L"Report.PDF") + distinct.count(out.path + L"Report95.PDF"),
            2u);
}

TEST(FileExists, FilesAndFoldersExistNothingElseAndHardLinksWork) {
  TempFolder out;
  const std::wstring link = out.path + L"Report.PDF", spool = out.path + L"00037.SPL";
  ASSERT_TRUE(WriteNewFile(spool, "spooled bytes"));
  ASSERT_TRUE(CreateDirectoryW((out.path + L"sub").c_str(), nullptr));
  EXPECT_TRUE(FileExists(spool.c_str()) && FileExists((out.path + L"sub").c_str()));
  EXPECT_FALSE(FileExists((out.path + L"missing.SPL").c_str()));
  EXPECT_FALSE(FileExists((out.path + L"nowhere\\00037.SPL").c_str()));
  EXPECT_FALSE(FileExists(L"") || FileExists(nullptr));
  CreateHardLinkWFunction createHardLink = GetCreateHardLinkW();
  ASSERT_NE(createHardLink, nullptr);
  ASSERT_TRUE(createHardLink(link.c_str(), spool.c_str(), nullptr)) << GetLastError();
  EXPECT_EQ(ReadWholeFile(link), "spooled bytes");
  EXPECT_FALSE(createHardLink(link.c_str(), spool.c_str(), nullptr));
}

}  // namespace
