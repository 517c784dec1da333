#include "platform/registry_names.h"
#include "platform/trace.h"
#include "tests/capture/capture_fixture.h"

namespace {

// A log that cannot be written or has grown full never stops a job; a full
// one is set aside whole and a new one begun, its lines under the job's id.
TEST_F(CaptureTest, CaptureLogNeverStopsAJob) {
  const std::wstring log = root_->path + L"capture.log";
  const std::string full(kCaptureLogLimitBytes, 'x');
  ASSERT_TRUE(WriteNewFile(log, full));
  for (const std::wstring& path : {root_->path + L"none\\x.log", log}) {
    Reset();
    SetRegistryString(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kCaptureLogValue, path);
    CaptureRequest request;
    request.bytes = "%!PS-Adobe-3.0\n%%Title: Logged\n";
    EXPECT_TRUE(Capture(request));
    EXPECT_EQ(Output(L"Logged.PS"), request.bytes);
  }
  EXPECT_EQ(ReadWholeFile(log + L".1"), full);
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(text.find("job " + std::to_string(kCaptureJobId) + " "), std::string::npos);
  EXPECT_LT(text.size(), full.size());
}

}  // namespace
