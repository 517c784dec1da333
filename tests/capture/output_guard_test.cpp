// The checks that keep captured files inside their output folder, against a
// real folder and a symbolic link to it made when the build was configured.
#include "capture/output_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/capture/capture_fixture.h"

namespace {

namespace sd = spooler_double;

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
  HANDLE file = CreateFileW(created.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  EXPECT_TRUE(FileLiesInFolder(file, LinkFixture(L"real\\").c_str()));
  EXPECT_FALSE(FileLiesInFolder(file, LinkFixture(L"linked\\").c_str()));
  EXPECT_FALSE(FileLiesInFolder(file, LinkFixture(L"real\\inner\\").c_str()));
  CloseHandle(file);
}

TEST(OutputGuard, OnlyAJobTheSpoolerHasFinishedCountsAsComplete) {
  struct Case {
    DWORD status;
    DWORD failedError;  // GetJobW fails with this (0: succeeds)
    bool spooling;
  };
  // clang-format off
  const Case cases[] = {
      {0, 0, false},
      {JOB_STATUS_PRINTING, 0, false},
      {JOB_STATUS_SPOOLING | JOB_STATUS_PRINTING, 0, true},
      {JOB_STATUS_SPOOLING, ERROR_INVALID_HANDLE, false},
  };
  // clang-format on
  for (const Case& c : cases) {
    sd::Reset();
    sd::AddPrinter(L"P");
    sd::AddJob(L"P, Job 3", "data");
    sd::SetJobStatus(L"P, Job 3", c.status);
    if (c.failedError) sd::FailCall(sd::SpoolerCall::GetJob, c.failedError);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(L"P"), &printer, nullptr));
    EXPECT_EQ(JobStillSpooling(printer, 3), c.spooling) << c.status << " " << c.failedError;
    ClosePrinter(printer);
  }
  sd::Reset();
}

}  // namespace
