#include <gtest/gtest.h>

#include <functional>
#include <regex>
#include <sstream>

#include "platform/registry_names.h"
#include "platform/trace.h"
#include "tests/capture/capture_fixture.h"
#include "tests/support/registry_guard.h"
#include "tests/support/test_files.h"

namespace {

class CaptureLogTest : public CaptureTest {
 protected:
  void SetLog(const std::wstring& path) {
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kCaptureLogValue, path),
              ERROR_SUCCESS);
  }
  std::wstring LogPath() const { return outputFolder_ + L"..\\capture.log"; }
};

// A failing job tells the operator why in the log, every trace is one whole
// line with time, process and job, and a log that cannot be written or has
// grown full never stops a job.
TEST_F(CaptureLogTest, FailedJobsSayWhyAndTheLogNeverStopsAJob) {
  struct Case {
    const char* name;
    std::function<void()> arrange;
    BOOL result;
    const char* reason;  // a line of the log holds it; null: no log is written
  };
  const std::string full(kCaptureLogLimitBytes, 'x');
  // clang-format off
  const Case cases[] = {
      {"setting missing", [this] { SetOutputPath(L""); }, FALSE, "Job left in the spooler: setting missing or unusable: OutputPath"},
      {"folder missing", [this] { SetOutputPath(outputFolder_ + L"gone"); }, FALSE, "Job deleted: no file could be made in the output folder: "},
      {"disk full", [] { FailOutputWritesFrom(1, ERROR_DISK_FULL); }, FALSE, "Job failed, its output was removed: "},
      {"captured", [] {}, TRUE, "Known format after checking..."},
      {"log folder missing", [this] { SetLog(outputFolder_ + L"..\\none\\x.log"); }, TRUE, nullptr},
      {"log full", [this, &full] { WriteFileBytes(LogPath(), full); }, TRUE, "ApplyValidityRules:"},
  };
  // clang-format on
  const std::regex line(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} pid \d+ job (-?\d+) [^\r\n]*)");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeleteFileW(LogPath().c_str());
    DeleteFileW((LogPath() + L".1").c_str());
    SetLog(LogPath());
    SetOutputPath(outputFolder_);
    c.arrange();
    CaptureRequest request;
    request.bytes = "%!PS-Adobe-3.0\n%%Title: Logged\n";
    EXPECT_EQ(Capture(request), c.result);
    const std::string log = ReadWholeFile(LogPath());
    if (!c.reason) {
      EXPECT_TRUE(log.empty());
      EXPECT_EQ(Output(L"Logged.PS"), request.bytes);
    } else {
      EXPECT_NE(log.find(c.reason), std::string::npos) << log;
      std::istringstream lines(log);
      for (std::string text; std::getline(lines, text);) {
        if (!text.empty() && text.back() == '\r') text.pop_back();
        std::smatch parts;
        ASSERT_TRUE(std::regex_match(text, parts, line)) << text;
      }
      EXPECT_NE(log.find("job " + std::to_string(kCaptureJobId) + " "), std::string::npos);
      EXPECT_LT(log.size(), full.size());
    }
    if (std::string(c.name) == "log full") {
      EXPECT_EQ(ReadWholeFile(LogPath() + L".1"), full);
    }
    for (const OutputFile& file : OutputFiles()) DeleteFileW((outputFolder_ + file.name).c_str());
    ResetDoubles();
  }
}

}  // namespace
