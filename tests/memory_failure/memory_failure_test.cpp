#include "format/japanese.h"
#include "spooler/context.h"
#include "spooler/parameters.h"
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

TEST_F(MemoryFailureTest, RecordAllocationFailsTheOpenBeforeThePrinterIsOpened) {
  FailAllocation(1);
  EXPECT_EQ(OpenWithParameters(L"COPIES=2;"), nullptr);
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::OpenPrinter), 0u);
  EXPECT_EQ(sd::OpenHandleCount(), 0);
}

TEST_F(MemoryFailureTest, FailedStringCopiesLeaveNullFieldsAndTheOpenSucceeds) {
  struct Case {
    unsigned failing;
    size_t field;  // allocation 1 is the record, then the strings in field order
  } cases[] = {{2, 0}, {3, 1}, {4, 2}, {5, 4}};
  for (const Case& c : cases) {
    FailAllocation(c.failing);
    HANDLE handle = OpenWithParameters(L"COPIES=1;");
    ASSERT_NE(handle, nullptr) << c.failing;
    auto* context = static_cast<PrintProcessorContext*>(handle);
    const WCHAR* fields[] = {context->PrinterName, context->Datatype, context->DocumentName,
                             context->OutputFile, context->Parameters};
    for (size_t i = 0; i < 5; ++i) {
      EXPECT_EQ(fields[i] == nullptr, i == c.field || i == 3) << c.failing << " field " << i;
    }
    EXPECT_TRUE(ClosePrintProcessor(handle));
  }
}

TEST_F(MemoryFailureTest, PrinterQueryWithoutMemoryFallsBackToOneCopy) {
  sd::SetPrinterInfoNeededBytes(kCapturePrinter, 4096);
  // Allocation 1 is the first buffer, 2 the larger one asked for.
  for (const auto& c : {std::pair<unsigned, unsigned>{1, 0}, {2, 1}}) {
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(kCapturePrinter), &printer, nullptr));
    const unsigned queriesBefore = sd::CallCount(sd::SpoolerCall::GetPrinter);
    FailAllocation(c.first);
    DWORD error = 0;
    EXPECT_EQ(GetPrinterInfo(printer, 2, &error), nullptr);
    EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
    EXPECT_EQ(sd::CallCount(sd::SpoolerCall::GetPrinter) - queriesBefore, c.second);
    FailAllocation(c.first);
    EXPECT_EQ(SettleCopyCount(L"COPIES=3;", printer), 1u);
    ClosePrinter(printer);
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
