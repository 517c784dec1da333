#include "tests/capture/capture_fixture.h"
#include "tests/memory_failure/failing_memory.h"

namespace {

// Allocations number from the open on: the record (1), the strings copied
// at open (2-5), the capture's read buffer (6) and job record (7), then the
// Japanese passes' blocks: both over the hex document name (8-9), the first
// over the title (10). Without its record the open fails before the printer
// is opened; without its read buffer or job record the capture fails before
// it starts a document; any other allocation that fails loses nothing of
// the job, not even its name. Nothing leaks.
TEST_F(CaptureTest, EachFailedAllocationOfOpenAndCapture) {
  const std::string bytes = "%PDF-1.4\n%%Title:Kept\n";
  for (unsigned failing = 1; failing <= 10; ++failing) {
    SCOPED_TRACE(failing);
    Reset();
    sd::AddJob(JobName(kCaptureJobId), bytes);
    std::wstring datatype = L"RAW", documentName = L"<4D656D6F>", parameters = L"COPIES=1;";
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = &datatype[0];
    data.pDocumentName = &documentName[0];
    data.pParameters = &parameters[0];
    FailAllocation(failing);
    HANDLE handle = OpenPrintProcessor(const_cast<WCHAR*>(kCapturePrinter), &data);
    const bool captures = failing != 1 && failing != 6 && failing != 7;
    EXPECT_EQ(handle == nullptr, failing == 1);
    if (handle) {
      EXPECT_EQ(Print(handle), captures);
      FailAllocation(0);
      EXPECT_TRUE(ClosePrintProcessor(handle));
    }
    FailAllocation(0);
    EXPECT_EQ(OutputNames(),
              captures ? std::vector<std::wstring>{L"Kept.PDF"} : std::vector<std::wstring>{});
    EXPECT_EQ(Output(L"Kept.PDF"), captures ? bytes : "");
    EXPECT_EQ(sd::Documents().size(), captures ? 1u : 0u);
    EXPECT_EQ(RecordedMessages().size(), captures ? 2u : 0u);
    EXPECT_EQ(sd::OpenHandleCount(), 0);
  }
}

}  // namespace
