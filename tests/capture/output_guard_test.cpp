// The checks that keep captured files inside their output folder, against a
// real folder and a symbolic link to it made when the build was configured.
#include "capture/output_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/capture/capture_fixture.h"

namespace {

TEST(OutputGuard, FoldersReachedThroughALinkAreRefused) {
  struct Case {
    const WCHAR* folder;
    bool refused;
  };
  // clang-format off
  const Case cases[] = {
      {L"real\\", false},
      {L"real\\inner", false},
      {L"linked\\", true},
      {L"linked\\inner\\", true},
      {L"missing\\", false},
  };
  // clang-format on
  for (const Case& c : cases) {
    EXPECT_EQ(LiesUnderReparsePoint(LinkFixture(c.folder).c_str()), c.refused) << c.folder;
  }
}

TEST(OutputGuard, FileMustLieInTheConfiguredFolderItself) {
  const std::wstring created = LinkFixture(L"linked\\guard.tmp");
  const UniqueFile file(CreateFileW(created.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.valid());
  EXPECT_TRUE(FileLiesInFolder(file.get(), LinkFixture(L"real\\").c_str()));
  EXPECT_FALSE(FileLiesInFolder(file.get(), LinkFixture(L"linked\\").c_str()));
  EXPECT_FALSE(FileLiesInFolder(file.get(), LinkFixture(L"real\\inner\\").c_str()));
}

}  // namespace
