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
  BOOL found = FindUniqueNameForOutputFile(number, folder.c_str(), base, extension, data.data(),
                                           ticket.data(), capacityChars);
  EXPECT_TRUE(data.GuardIntact());
  EXPECT_TRUE(ticket.GuardIntact());
  return {found, data.text(), ticket.text()};
}

TEST(ExtractBaseNameAndExtension, Splits) {
  struct Case {
    const WCHAR* source;
    const WCHAR* base;
    const WCHAR* extension;
  } cases[] = {
      {L"Report.pdf", L"Report", L"pdf"},
      {L"Site.html", L"Site", L"html"},
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
}

TEST(ExtractBaseNameAndExtension, SmallBuffersAreNotOverrun) {
  GuardedBuffer base(3, L'#'), extension(2, L'#');
  ExtractBaseNameAndExtension(L"Report.pdf", base.data(), 6, extension.data(), 4);
  EXPECT_EQ(base.text(), L"Re");
  EXPECT_EQ(extension.text(), L"p");
  EXPECT_TRUE(base.GuardIntact());
  EXPECT_TRUE(extension.GuardIntact());
  // An odd byte count is rounded down to whole characters.
  GuardedBuffer one(1, L'#');
  ExtractBaseNameAndExtension(L"Report.pdf", one.data(), 3, nullptr, 0);
  EXPECT_EQ(one.text(), L"");
  EXPECT_TRUE(one.GuardIntact());
}

TEST(FindUniqueNameForOutputFile, NumbersFromTheJobIdWhileTaken) {
  TempFolder out;
  Paths first = FindPaths(37, out.path, L"Report", L"PDF");
  EXPECT_TRUE(first.found);
  EXPECT_EQ(first.data, out.path + L"Report.PDF");
  EXPECT_EQ(first.ticket, out.path + L"Report.XPF");

  ASSERT_TRUE(WriteNewFile(first.data, "a"));
  Paths second = FindPaths(37, out.path, L"Report", L"PDF");
  EXPECT_EQ(second.data, out.path + L"Report37.PDF");
  EXPECT_EQ(second.ticket, out.path + L"Report37.XPF");

  ASSERT_TRUE(WriteNewFile(second.data, "b"));
  Paths third = FindPaths(37, out.path, L"Report", L"PDF");
  EXPECT_EQ(third.data, out.path + L"Report38.PDF");
  EXPECT_EQ(third.ticket, out.path + L"Report38.XPF");
}

TEST(FindUniqueNameForOutputFile, FolderCountsAsTakenTicketDoesNot) {
  TempFolder out;
  ASSERT_TRUE(WriteNewFile(out.path + L"Report.XPF", ""));
  EXPECT_EQ(FindPaths(37, out.path, L"Report", L"PDF").data, out.path + L"Report.PDF");
  ASSERT_TRUE(CreateDirectoryW((out.path + L"Report.PDF").c_str(), nullptr));
  EXPECT_EQ(FindPaths(37, out.path, L"Report", L"PDF").data, out.path + L"Report37.PDF");
}

TEST(FindUniqueNameForOutputFile, NumberEdges) {
  struct Case {
    LONG first;
    const WCHAR* expected;
  } cases[] = {
      {0, L"Report0.PDF"},
      {-5, L"Report-5.PDF"},
      {LONG_MIN, L"Report-2147483648.PDF"},
      {LONG_MAX, L"Report2147483647.PDF"},
  };
  TempFolder out;
  ASSERT_TRUE(WriteNewFile(out.path + L"Report.PDF", ""));
  for (const Case& c : cases) {
    EXPECT_EQ(FindPaths(c.first, out.path, L"Report", L"PDF").data, out.path + c.expected);
  }
  // Past the largest number the count wraps instead of overflowing.
  ASSERT_TRUE(WriteNewFile(out.path + L"Report2147483647.PDF", ""));
  EXPECT_EQ(FindPaths(LONG_MAX, out.path, L"Report", L"PDF").data,
            out.path + L"Report-2147483648.PDF");
}

TEST(FindUniqueNameForOutputFile, MissingFolderGivesTheUnnumberedPath) {
  TempFolder out;
  std::wstring missing = out.path + L"nowhere\\";
  Paths paths = FindPaths(37, missing, L"Report", L"PDF");
  EXPECT_TRUE(paths.found);
  EXPECT_EQ(paths.data, missing + L"Report.PDF");
}

TEST(FindUniqueNameForOutputFile, BadArgumentsAreRefused) {
  WCHAR data[16] = L"x", ticket[16] = L"y";
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, nullptr, L"R", L"PDF", data, ticket, 16));
  EXPECT_EQ(data[0], L'\0');
  EXPECT_EQ(ticket[0], L'\0');
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, L"C:\\", L"R", L"PDF", nullptr, ticket, 16));
  data[0] = L'x';
  EXPECT_FALSE(FindUniqueNameForOutputFile(1, L"C:\\", L"R", L"PDF", data, ticket, 0));
  EXPECT_EQ(data[0], L'x');
}

TEST(FindUniqueNameForOutputFile, ShortensToTheCapacityOrRefuses) {
  struct Case {
    DWORD capacityChars;
    BOOL found;
    const WCHAR* data;
    const WCHAR* ticket;
  } cases[] = {
      {270, TRUE, L"Q:\\out\\Report.PDF", L"Q:\\out\\Report.XPF"},
      {18, TRUE, L"Q:\\out\\Report.PDF", L"Q:\\out\\Report.XPF"},
      {17, TRUE, L"Q:\\out\\Repor.PDF", L"Q:\\out\\Repor.XPF"},
      {13, TRUE, L"Q:\\out\\R.PDF", L"Q:\\out\\R.XPF"},
      {12, FALSE, L"", L""},
      {1, FALSE, L"", L""},
  };
  for (const auto& c : cases) {
    Paths paths = FindPaths(37, L"Q:\\out\\", L"Report", L"PDF", c.capacityChars);
    EXPECT_EQ(paths.found, c.found) << c.capacityChars;
    EXPECT_EQ(paths.data, c.data) << c.capacityChars;
    EXPECT_EQ(paths.ticket, c.ticket) << c.capacityChars;
  }
  // The longer of the two extensions decides.
  Paths longExtension = FindPaths(37, L"Q:\\out\\", L"Report", L"jp", 13);
  EXPECT_EQ(longExtension.data, L"Q:\\out\\R.jp");
  EXPECT_EQ(longExtension.ticket, L"Q:\\out\\R.XPF");
  Paths html = FindPaths(37, L"Q:\\out\\", L"Report", L"html", 13);
  EXPECT_FALSE(html.found);
  EXPECT_EQ(html.data, L"");
}

std::wstring DeepFolder(const std::wstring& root, size_t lengthChars) {
  std::wstring folder = root;
  while (folder.size() < lengthChars) {
    size_t segmentChars = std::min<size_t>(40, lengthChars - folder.size() - 1);
    if (segmentChars == 0) segmentChars = 1;
    folder += std::wstring(segmentChars, L'd') + L"\\";
    EXPECT_TRUE(CreateDirectoryW(folder.c_str(), nullptr)) << folder.size();
  }
  return folder;
}

TEST(FindUniqueNameForOutputFile, DeepFolderKeepsBelowMaxPathWithOneStem) {
  TempFolder out;
  std::wstring folder = DeepFolder(out.path, 200);
  ASSERT_EQ(folder.size(), 200u);
  std::wstring base(70, L'b');
  base[0] = L'B';
  std::set<std::wstring> created;
  for (int i = 0; i < 3; ++i) {
    Paths paths = FindPaths(37, folder, base.c_str(), L"PDF");
    ASSERT_TRUE(paths.found);
    EXPECT_LE(paths.data.size(), 259u);
    EXPECT_LE(paths.ticket.size(), 259u);
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

TEST(FindUniqueNameForOutputFile, NoRoomForTheNumberIsRefused) {
  TempFolder out;
  // Room for exactly "R.PDF" behind the folder.
  DWORD capacityChars = static_cast<DWORD>(out.path.size() + 6);
  Paths first = FindPaths(37, out.path, L"Report", L"PDF", capacityChars);
  ASSERT_TRUE(first.found);
  EXPECT_EQ(first.data, out.path + L"R.PDF");
  ASSERT_TRUE(WriteNewFile(first.data, ""));
  Paths second = FindPaths(37, out.path, L"Report", L"PDF", capacityChars);
  EXPECT_FALSE(second.found);
  EXPECT_EQ(second.data, L"");
  EXPECT_EQ(second.ticket, L"");
  // A folder longer than a path may be.
  std::wstring tooDeep = L"Q:\\" + std::wstring(251, L'a') + L"\\";
  Paths deep = FindPaths(37, tooDeep, L"Report", L"PDF");
  EXPECT_FALSE(deep.found);
  EXPECT_EQ(deep.data, L"");
  Paths fits = FindPaths(37, tooDeep.substr(0, 250) + L"\\", L"Report", L"PDF");
  EXPECT_TRUE(fits.found);
  EXPECT_EQ(fits.data.size(), 259u);
}

// What Windows keeps of a final path component.
std::wstring StoredName(std::wstring name) {
  while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.pop_back();
  return name;
}

TEST(FindUniqueNameForOutputFile, HostileNamesStayInTheFolder) {
  struct Case {
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
    std::wstring stem = name.substr(0, name.size() - wcslen(c.extension));
    EXPECT_EQ(paths.ticket, out.path + stem + L"XPF");
    ASSERT_TRUE(WriteNewFile(paths.data, "job bytes")) << c.base << " " << GetLastError();
    EXPECT_EQ(ListFolder(out.path), std::vector<std::wstring>{StoredName(name)}) << c.base;
    EXPECT_EQ(ReadWholeFile(out.path + StoredName(name)), "job bytes");
  }
}

TEST(FindUniqueNameForOutputFile, NumberThatMakesADeviceIsSkipped) {
  TempFolder out;
  ASSERT_TRUE(WriteNewFile(out.path + L"COM.PS", ""));
  EXPECT_EQ(FindPaths(1, out.path, L"COM", L"PS").data, out.path + L"COM10.PS");
  EXPECT_EQ(FindPaths(-1, out.path, L"COM", L"PS").data, out.path + L"COM-1.PS");
  EXPECT_EQ(FindPaths(0, out.path, L"lpt", L"PS").data, out.path + L"lpt.PS");
  ASSERT_TRUE(WriteNewFile(out.path + L"lpt.PS", ""));
  EXPECT_EQ(FindPaths(0, out.path, L"lpt", L"PS").data, out.path + L"lpt10.PS");
}

// Checked on its own terms before anything is opened: opening a device could
// wait for ever.
bool LooksLikeDevice(const std::wstring& fileName) {
  std::wstring stem = fileName.substr(0, fileName.find(L'.'));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  for (WCHAR& c : stem) c = static_cast<WCHAR>(towupper(c));
  static const std::set<std::wstring> devices = {
      L"CON",  L"PRN",  L"AUX",  L"NUL",  L"COM1", L"COM2", L"COM3", L"COM4",
      L"COM5", L"COM6", L"COM7", L"COM8", L"COM9", L"LPT1", L"LPT2", L"LPT3",
      L"LPT4", L"LPT5", L"LPT6", L"LPT7", L"LPT8", L"LPT9"};
  return devices.count(stem) > 0;
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
    std::wstring name = paths.data.substr(out.path.size());
    ASSERT_FALSE(LooksLikeDevice(name)) << name;
    ASSERT_FALSE(LooksLikeDevice(paths.ticket.substr(out.path.size()))) << paths.ticket;
    ASSERT_TRUE(WriteNewFile(paths.data, "bytes")) << name;
    std::vector<std::wstring> listed = ListFolder(out.path);
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
        std::string bytes = std::to_string(t) + "/" + std::to_string(i);
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

TEST(FileExists, FilesAndFoldersExistNothingElse) {
  TempFolder out;
  ASSERT_TRUE(WriteNewFile(out.path + L"spool.SPL", "x"));
  ASSERT_TRUE(CreateDirectoryW((out.path + L"sub").c_str(), nullptr));
  struct Case {
    std::wstring path;
    BOOL exists;
  } cases[] = {
      {out.path + L"spool.SPL", TRUE},
      {out.path + L"sub", TRUE},
      {out.path + L"missing.SPL", FALSE},
      {out.path + L"nowhere\\spool.SPL", FALSE},
      {L"", FALSE},
  };
  for (const auto& c : cases) EXPECT_EQ(FileExists(c.path.c_str()), c.exists) << c.path;
  EXPECT_FALSE(FileExists(nullptr));
}

TEST(GetCreateHardLinkW, LinksARealFile) {
  CreateHardLinkWFunction createHardLink = GetCreateHardLinkW();
  ASSERT_NE(createHardLink, nullptr);
  TempFolder out;
  ASSERT_TRUE(WriteNewFile(out.path + L"00037.SPL", "spooled bytes"));
  ASSERT_TRUE(createHardLink((out.path + L"Report.PDF").c_str(), (out.path + L"00037.SPL").c_str(),
                             nullptr))
      << GetLastError();
  EXPECT_EQ(ReadWholeFile(out.path + L"Report.PDF"), "spooled bytes");
  EXPECT_FALSE(createHardLink((out.path + L"Report.PDF").c_str(), (out.path + L"00037.SPL").c_str(),
                              nullptr));
}

}  // namespace
