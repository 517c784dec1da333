#include <gtest/gtest.h>

#include <functional>

#include "platform/registry_names.h"
#include "platform/trace.h"
#include "tests/capture/capture_fixture.h"

namespace {

// A failing job tells the operator why in the log, under its number; a log
// that cannot be written or has grown full never stops a job, and a full
// one is set aside whole.
TEST_F(CaptureTest, CaptureLogSaysWhyAJobFailedAndNeverStopsOne) {
  const std::wstring log = outputFolder_ + L"..\\capture.log";
  const std::string full(kCaptureLogLimitBytes, 'x');
  const auto setLog = [](const std::wstring& path) {
    SetRegistryString(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kCaptureLogValue, path);
  };
  struct Case {
    std::function<void()> arrange;
    BOOL result;
    const char* reason;  // null: the job is captured
  } cases[] = {
      // clang-format off
      {[this] { SetOutputPath(L""); }, FALSE, "Job left in the spooler: setting missing or unusable: OutputPath"},
      {[this] { SetOutputPath(outputFolder_ + L"gone"); }, FALSE, "Job deleted: no file could be made in the output folder: "},
      {[] { FailOutputWritesFrom(1, ERROR_DISK_FULL); }, FALSE, "Job failed, its output was removed: "},
      {[&] { setLog(outputFolder_ + L"..\\none\\x.log"); }, TRUE, nullptr},
      {[&] { WriteFileBytes(log, full); }, TRUE, nullptr},
      // clang-format on
  };
  for (const Case& c : cases) {
    Reset();
    DeleteFileW(log.c_str());
    DeleteFileW((log + L".1").c_str());
    setLog(log);
    SetOutputPath(outputFolder_);
    c.arrange();
    CaptureRequest request;
    request.bytes = "%!PS-Adobe-3.0\n%%Title: Logged\n";
    EXPECT_EQ(Capture(request), c.result);
    const std::string text = ReadWholeFile(log);
    if (c.reason) {
      EXPECT_NE(text.find(c.reason), std::string::npos) << text;
      EXPECT_NE(text.find("job " + std::to_string(kCaptureJobId) + " "), std::string::npos);
    } else {
      EXPECT_EQ(Output(L"Logged.PS"), request.bytes);
    }
    EXPECT_LT(text.size(), full.size());
  }
  EXPECT_EQ(ReadWholeFile(log + L".1"), full);
}

}  // namespace
