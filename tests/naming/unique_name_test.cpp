// Base/extension split, unique output paths in real folders, file checks.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cwctype>
#include <set>
#include <thread>

#include "tests/naming/naming_test_support.h"

namespace {

using naming_test::CaptureInto;
using naming_test::GuardedBuffer;
using naming_test::ListFolder;
using naming_test::ReadWholeFile;
using naming_test::TempFolder;
using naming_test::WriteNewFile;

struct Paths {
  BOOL found;
  std::wstring data;
  std::wstring ticket;
};

Paths FindPaths(LONG number, const std::wstring& folder, const WCHAR* base, const WCHAR* extension,
                DWORD capacityChars = 270) {
  GuardedBuffer data(capacityChars, L'#'), ticket(capacityChars, L'#');
  const BOOL found = FindUniqueNameForOutputFile(number, folder.c_str(), base, extension,
                                                 data.data(), ticket.data(), capacityChars);
  EXPECT_TRUE(data.GuardIntact() && ticket.GuardIntact());
  return {found, data.text(), ticket.text()};
}

TEST(ExtractBaseNameAndExtension, SplitsAndStaysInItsBuffers) {
  const struct {
    const WCHAR* source;
    const WCHAR* base;
    const WCHAR* extension;
  } cases[] = {
      {L"Report.pdf", L"Report", L"pdf"},
      {L"archive.tar.gz", L"archive.tar", L"gz"},
      {L"notes.backup", L"notes.backup", L""},
      {L"x.12345", L"x.12345", L""},
      {L"Report.", L"Report", L""},
      {L".pdf", L"", L"pdf"},
      {L"a.b\\c", L"a", L"b\\c"},
      {L"Report", L"Report", L""},
      {L"", L"", L""},
      {nullptr, L"", L""},
  };
  for (const auto& c : cases) {
    GuardedBuffer base(270, L'#'), extension(32, L'#');
    ExtractBaseNameAndExtension(c.source, base.data(), 540, extension.data(), 64);
    EXPECT_EQ(base.text(), c.base) << (c.source ? c.source : L"(null)");
    EXPECT_EQ(extension.text(), c.extension);
    // Rewritten whole: nothing of the old content is left behind the name.
    EXPECT_EQ(std::wstring(base.storage.data(), 270).find(L'#'), std::wstring::npos);
    EXPECT_EQ(std::wstring(extension.storage.data(), 32).find(L'#'), std::wstring::npos);
  }
  // Small buffers; an odd byte count is rounded down to whole characters.
  GuardedBuffer base(3, L'#'), extension(2, L'#'), one(1, L'#');
  ExtractBaseNameAndExtension(L"Report.pdf", base.data(), 6, extension.data(), 4);
  ExtractBaseNameAndExtension(L"Report.pdf", one.data(), 3, nullptr, 0);
  EXPECT_EQ(base.text() + L"|" + extension.text() + L"|" + one.text(), L"Re|p|");
  EXPECT_TRUE(base.GuardIntact() && extension.GuardIntact() && one.GuardIntact());
}

// Numbered from the job id while taken; folders count as taken, tickets do
// not; numbers wrap and never make a device name.
TEST(FindUniqueNameForOutputFile, Numbering) {
  TempFolder out;
  const std::wstring& dir = out.path;
  Paths first = FindPaths(37, dir, L"Report", L"PDF");
  EXPECT_TRUE(first.found);
  EXPECT_EQ(first.data + first.ticket, dir + L"Report.PDF" + dir + L"Report.XPF");
  ASSERT_TRUE(WriteNewFile(dir + L"Report.PDF", ""));
  Paths second = FindPaths(37, dir, L"Report", L"PDF");
  EXPECT_EQ(second.data + second.ticket, dir + L"Report37.PDF" + dir + L"Report37.XPF");
  ASSERT_TRUE(WriteNewFile(second.data, ""));
  ASSERT_TRUE(WriteNewFile(dir + L"Ticket.XPF", ""));
  ASSERT_TRUE(CreateDirectoryW((dir + L"Folder.PDF").c_str(), nullptr));
  ASSERT_TRUE(WriteNewFile(dir + L"Report2147483647.PDF", ""));
  ASSERT_TRUE(WriteNewFile(dir + L"COM.PS", ""));
  ASSERT_TRUE(WriteNewFile(dir + L"lpt.PS", ""));
  const struct {
    LONG number;
    const WCHAR* base;
    const WCHAR* extension;
    const WCHAR* expected;
  } cases[] = {
      {37, L"Report", L"PDF", L"Report38.PDF"},
      {37, L"Ticket", L"PDF", L"Ticket.PDF"},
      {37, L"Folder", L"PDF", L"Folder37.PDF"},
      {0, L"Report", L"PDF", L"Report0.PDF"},
      {-5, L"Report", L"PDF", L"Report-5.PDF"},
      {LONG_MIN, L"Report", L"PDF", L"Report-2147483648.PDF"},
      {LONG_MAX, L"Report", L"PDF", L"Report-2147483648.PDF"},
      {1, L"COM", L"PS", L"COM10.PS"},
      {-1, L"COM", L"PS", L"COM-1.PS"},
      {0, L"lpt", L"PS", L"lpt10.PS"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(FindPaths(c.number, dir, c.base, c.extension).data, dir + c.expected) << c.expected;
  }
  // A missing folder gives the unnumbered path.
  Paths missing = FindPaths(37, dir + L"nowhere\\", L"Report", L"PDF");
  EXPECT_TRUE(missing.found);
  EXPECT_EQ(missing.data, dir + L"nowhere\\Report.PDF");
}

TEST(FindUniqueNameForOutputFile, BadArgumentsAreRefused) {
  WCHAR data[16] = L"x", ticket[16] = L"y";
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, nullptr, L"R", L"PDF", data, ticket, 16));
  EXPECT_EQ(data[0] + ticket[0], 0);
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, L"C:\\", L"R", L"PDF", nullptr, ticket, 16));
  data[0] = L'x';
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, L"C:\\", L"R", L"PDF", data, ticket, 0));
  EXPECT_EQ(data[0], L'x');
}

// Paths that do not fit are shortened in the name, or refused.
TEST(FindUniqueNameForOutputFile, ShortensToTheCapacityOrRefuses) {
  const struct {
    DWORD capacityChars;
    const WCHAR* extension;
    const WCHAR* data;  // "" when refused
    const WCHAR* ticket;
  } cases[] = {
      {270, L"PDF", L"Q:\\out\\Report.PDF", L"Q:\\out\\Report.XPF"},
      {18, L"PDF", L"Q:\\out\\Report.PDF", L"Q:\\out\\Report.XPF"},
      {17, L"PDF", L"Q:\\out\\Repor.PDF", L"Q:\\out\\Repor.XPF"},
      {13, L"PDF", L"Q:\\out\\R.PDF", L"Q:\\out\\R.XPF"},
      {12, L"PDF", L"", L""},
      {1, L"PDF", L"", L""},
      // The longer of the two extensions decides.
      {13, L"jp", L"Q:\\out\\R.jp", L"Q:\\out\\R.XPF"},
      {13, L"html", L"", L""},
  };
  for (const auto& c : cases) {
    Paths paths = FindPaths(37, L"Q:\\out\\", L"Report", c.extension, c.capacityChars);
    EXPECT_EQ(paths.found != FALSE, *c.data != 0) << c.capacityChars << c.extension;
    EXPECT_EQ(paths.data, c.data) << c.capacityChars << c.extension;
    EXPECT_EQ(paths.ticket, c.ticket) << c.capacityChars << c.extension;
  }
  // Room for exactly "R.PDF" and none for a number.
  TempFolder out;
  const DWORD capacityChars = static_cast<DWORD>(out.path.size() + 6);
  Paths first = FindPaths(37, out.path, L"Report", L"PDF", capacityChars);
  EXPECT_EQ(first.data, out.path + L"R.PDF");
  ASSERT_TRUE(WriteNewFile(first.data, ""));
  Paths second = FindPaths(37, out.path, L"Report", L"PDF", capacityChars);
  EXPECT_FALSE(second.found);
  EXPECT_EQ(second.data + second.ticket, L"");
  // A folder longer than a path may be.
  const std::wstring tooDeep = L"Q:\\" + std::wstring(251, L'a') + L"\\";
  Paths deep = FindPaths(37, tooDeep, L"Report", L"PDF");
  EXPECT_FALSE(deep.found);
  EXPECT_EQ(deep.data, L"");
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
  std::wstring base(70, L'b');
  base[0] = L'B';
  std::set<std::wstring> created;
  for (int i = 0; i < 3; ++i) {
    Paths paths = FindPaths(37, folder, base.c_str(), L"PDF");
    ASSERT_TRUE(paths.found);
    EXPECT_LE(paths.data.size(), 259u);
    EXPECT_EQ(paths.data.substr(0, 201), folder + L"B");
    EXPECT_EQ(paths.data.substr(0, paths.data.size() - 3),
              paths.ticket.substr(0, paths.ticket.size() - 3));
    EXPECT_TRUE(WriteNewFile(paths.data, "x")) << GetLastError();
    EXPECT_TRUE(WriteNewFile(paths.ticket, "t")) << GetLastError();
    created.insert(paths.data);
  }
  EXPECT_EQ(created.size(), 3u);
  EXPECT_EQ(created.count(folder + base.substr(0, 55) + L".PDF"), 1u);
  EXPECT_EQ(created.count(folder + base.substr(0, 53) + L"37.PDF"), 1u);
  EXPECT_EQ(ListFolder(folder).size(), 6u);
}

TEST(FindUniqueNameForOutputFile, HostileNamesStayInTheFolder) {
  const struct {
    const WCHAR* base;
    const WCHAR* extension;
    const WCHAR* expectedName;
  } cases[] = {
      {L"..\\evil", L"PDF", L".._evil.PDF"},
      {L"a", L"b\\c", L"a.b_c"},
      {L"a", L"a:b", L"a.a_b"},
      {L"x/y", L"p/q", L"x_y.p_q"},
      {L"*", L"?", L"_._"},
      {L"say \"hi\"", L"PDF", L"say _hi_.PDF"},
      {L"", L"", L"37."},
      {L".", L"", L".37."},
      {L"..", L"", L"..37."},
      {L"", L"PDF", L".PDF"},
      {L"CON", L"PS", L"CON_.PS"},
      {L"nul", L"", L"nul_."},
      {L"AUX.report", L"PS", L"AUX_.report.PS"},
      {L"lpt1 ", L"txt", L"lpt1_ .txt"},
  };
  for (const auto& c : cases) {
    TempFolder out;
    Paths paths = FindPaths(37, out.path, c.base, c.extension);
    ASSERT_TRUE(paths.found) << c.base;
    EXPECT_EQ(paths.data, out.path + c.expectedName) << c.base;
    std::wstring name = paths.data.substr(out.path.size());
    EXPECT_EQ(paths.ticket, out.path + name.substr(0, name.size() - wcslen(c.extension)) + L"XPF");
    ASSERT_TRUE(WriteNewFile(paths.data, "job bytes")) << c.base << " " << GetLastError();
    // What Windows keeps of a final path component.
    while (name.back() == L'.' || name.back() == L' ') name.pop_back();
    EXPECT_EQ(ListFolder(out.path), std::vector<std::wstring>{name}) << c.base;
    EXPECT_EQ(ReadWholeFile(out.path + name), "job bytes");
  }
}

// Checked on its own terms before anything is opened: opening a device could
// wait for ever.
bool LooksLikeDevice(const std::wstring& fileName) {
  std::wstring stem = fileName.substr(0, fileName.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (WCHAR& c : stem) c = static_cast<WCHAR>(towupper(c));
  if (stem == L"CON" || stem == L"PRN" || stem == L"AUX" || stem == L"NUL") return true;
  return stem.size() == 4 && (stem.compare(0, 3, L"COM") == 0 || stem.compare(0, 3, L"LPT") == 0) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

TEST(FindUniqueNameForOutputFile, DeviceTitlesLandInTheFolder) {
  const WCHAR* titles[] = {L"CON",        L"nul",     L"Com1",  L"LPT9",
                           L"AUX.report", L"prn.txt", L"con  ", L"NUL..."};
  TempFolder out;
  for (const WCHAR* title : titles) {
    WCHAR base[270], titleExtension[32], validName[270] = {};
    ExtractBaseNameAndExtension(title, base, sizeof base, titleExtension, sizeof titleExtension);
    ApplyValidityRules(base, validName, sizeof validName);
    Paths paths = FindPaths(37, out.path, validName, L"PS");
    ASSERT_TRUE(paths.found);
    const std::wstring name = paths.data.substr(out.path.size());
    ASSERT_FALSE(LooksLikeDevice(name)) << name;
    ASSERT_FALSE(LooksLikeDevice(paths.ticket.substr(out.path.size()))) << paths.ticket;
    ASSERT_TRUE(WriteNewFile(paths.data, "bytes")) << name;
    const std::vector<std::wstring> listed = ListFolder(out.path);
    EXPECT_NE(std::find(listed.begin(), listed.end(), name), listed.end()) << name;
    EXPECT_EQ(ReadWholeFile(paths.data), "bytes") << name;
  }
  EXPECT_EQ(ListFolder(out.path).size(), 8u);
}

TEST(FindUniqueNameForOutputFile, ProbesAfreshAndConcurrentCapturesNeverShareAFile) {
  TempFolder out;
  constexpr int kThreads = 4, kFilesEach = 15;
  std::vector<std::vector<std::wstring>> made(kThreads);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kFilesEach; ++i) {
        const std::string bytes = std::to_string(t) + "/" + std::to_string(i);
        made[t].push_back(CaptureInto(out.path, L"Report.pdf", L"PDF", 37, bytes));
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  std::set<std::wstring> distinct;
  for (int t = 0; t < kThreads; ++t) {
    for (int i = 0; i < kFilesEach; ++i) {
      ASSERT_FALSE(made[t][i].empty());
      EXPECT_EQ(ReadWholeFile(made[t][i]), std::to_string(t) + "/" + std::to_string(i));
      distinct.insert(made[t][i]);
    }
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kThreads * kFilesEach));
  EXPECT_EQ(distinct.count(out.path + L"Report.PDF"), 1u);
  EXPECT_EQ(distinct.count(out.path + L"Report95.PDF"), 1u);
}

TEST(FileExists, FilesAndFoldersExistNothingElseAndHardLinksWork) {
  TempFolder out;
  ASSERT_TRUE(WriteNewFile(out.path + L"00037.SPL", "spooled bytes"));
  ASSERT_TRUE(CreateDirectoryW((out.path + L"sub").c_str(), nullptr));
  EXPECT_TRUE(FileExists((out.path + L"00037.SPL").c_str()));
  EXPECT_TRUE(FileExists((out.path + L"sub").c_str()));
  EXPECT_FALSE(FileExists((out.path + L"missing.SPL").c_str()));
  EXPECT_FALSE(FileExists((out.path + L"nowhere\\00037.SPL").c_str()));
  EXPECT_FALSE(FileExists(L""));
  EXPECT_FALSE(FileExists(nullptr));

  CreateHardLinkWFunction createHardLink = GetCreateHardLinkW();
  ASSERT_NE(createHardLink, nullptr);
  const std::wstring link = out.path + L"Report.PDF", spool = out.path + L"00037.SPL";
  ASSERT_TRUE(createHardLink(link.c_str(), spool.c_str(), nullptr)) << GetLastError();
  EXPECT_EQ(ReadWholeFile(link), "spooled bytes");
  EXPECT_FALSE(createHardLink(link.c_str(), spool.c_str(), nullptr));
}

}  // namespace
