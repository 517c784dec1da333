#include "format/japanese.h"
#include "spooler/context.h"
#include "tests/capture/capture_fixture.h"
#include "tests/memory_failure/failing_memory.h"

namespace sd = spooler_double;

namespace {

class MemoryFailureTest : public CaptureTest {
 protected:
  void TearDown() override {
    FailAllocation(0);
    CaptureTest::TearDown();
  }

  HANDLE OpenWithParameters(const WCHAR* parameters) {
    std::wstring datatype = L"RAW", documentName = L"Memo.txt", copy = parameters;
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = &datatype[0];
    data.pDocumentName = &documentName[0];
    data.pParameters = &copy[0];
    return OpenPrintProcessor(const_cast<WCHAR*>(kCapturePrinter), &data);
  }
};

// Without its record the open fails before the printer is opened; a string
// that cannot be copied leaves its field null, and neither the open nor the
// close may fail or crash on it.
TEST_F(MemoryFailureTest, FailedAllocationsAtOpen) {
  for (unsigned failing : {1u, 2u, 3u, 4u, 5u}) {
    FailAllocation(failing);
    HANDLE handle = OpenWithParameters(L"COPIES=1;");
    EXPECT_EQ(handle == nullptr, failing == 1) << failing;
    if (handle) {
      EXPECT_TRUE(ClosePrintProcessor(handle)) << failing;
    }
    EXPECT_EQ(sd::OpenHandleCount(), 0) << failing;
  }
}

TEST_F(MemoryFailureTest, CaptureWithoutReadBufferFailsBeforeStartingADocument) {
  CaptureRequest request;
  request.bytes = "%PDF-1.4\n%%Title:NoMemory\n";
  HANDLE handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  FailAllocation(1, true);
  EXPECT_FALSE(Print(handle));
  FailAllocation(0);
  EXPECT_TRUE(ClosePrintProcessor(handle));
  EXPECT_TRUE(sd::Documents().empty());
  EXPECT_TRUE(OutputFiles().empty());
  EXPECT_TRUE(RecordedMessages().empty());
}

TEST_F(MemoryFailureTest, JapanesePassesKeepTheTextWithoutMemory) {
  const WCHAR* texts[] = {L"Report.pdf", L"<E697A5E69CAC>"};
  for (const WCHAR* text : texts) {
    WCHAR pass1[270];
    WCHAR pass2[260];
    FailAllocation(1, true);
    CheckForJapaneseEncoding(text, pass1, 270);
    CheckForJapaneseEncoding1(text, pass2, 260);
    FailAllocation(0);
    EXPECT_STREQ(pass1, text);
    EXPECT_STREQ(pass2, text);
  }
}

TEST_F(MemoryFailureTest, JobStillCapturedWhenOnlyTheDocumentNameCannotBeCopied) {
  CaptureRequest request;
  request.bytes = "%PDF-1.4\n%%Title:Kept\n";
  request.documentName = L"Name.pdf";
  FailAllocation(4);  // the document name's copy at open
  HANDLE handle = OpenJob(request);
  FailAllocation(0);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(static_cast<PrintProcessorContext*>(handle)->DocumentName, nullptr);
  EXPECT_TRUE(Print(handle));
  EXPECT_TRUE(ClosePrintProcessor(handle));
  EXPECT_EQ(Output(L"Kept.PDF"), request.bytes);
}

}  // namespace
