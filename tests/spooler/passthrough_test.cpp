#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "spooler/context.h"
#include "tests/support/spooler_double.h"

namespace sd = spooler_double;

namespace {

const WCHAR kPrinter[] = L"Plotter";
const WCHAR kJob[] = L"Plotter, Job 7";

std::string Pattern(size_t sizeBytes) {
  std::string bytes(sizeBytes, '\0');
  for (size_t i = 0; i < sizeBytes; ++i) bytes[i] = static_cast<char>((i * 131 + i / 251) & 0xFF);
  return bytes;
}

class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sd::Reset();
    sd::AddPrinter(kPrinter);
  }
  void TearDown() override {
    if (handle_) ClosePrintProcessor(handle_);
    sd::Reset();
  }

  HANDLE Open() {
    std::wstring datatype = L"NT EMF 1.008";
    std::wstring documentName = L"Drawing.emf";
    std::wstring outputFile = L"LPT1:";
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = &datatype[0];
    data.pDocumentName = &documentName[0];
    data.pOutputFile = &outputFile[0];
    handle_ = OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &data);
    EXPECT_NE(handle_, nullptr);
    return handle_;
  }

  BOOL Run() { return PrintDocumentOnPrintProcessor(handle_, const_cast<WCHAR*>(kJob)); }

  HANDLE handle_ = nullptr;
};

TEST_F(PassThroughTest, CopiesEveryByteUnchangedInBufferSizedChunks) {
  struct Case {
    size_t sizeBytes;
    DWORD maxChunkBytes;
    std::vector<DWORD> writes;
  } cases[] = {
      {0, 0, {}},
      {1, 0, {1}},
      {32768, 0, {32768}},
      {32769, 0, {32768, 1}},
      {100000, 0, {32768, 32768, 32768, 1696}},
      {10000, 3000, {3000, 3000, 3000, 1000}},
  };
  for (const Case& c : cases) {
    sd::Reset();
    sd::AddPrinter(kPrinter);
    const std::string bytes = Pattern(c.sizeBytes);
    sd::AddJob(kJob, bytes, c.maxChunkBytes);
    Open();
    EXPECT_TRUE(Run()) << c.sizeBytes;
    const std::vector<sd::PrinterDocument> documents = sd::Documents();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_EQ(documents[0].printer, kPrinter);
    EXPECT_EQ(documents[0].name, L"Drawing.emf");
    EXPECT_EQ(documents[0].outputFile, L"LPT1:");
    EXPECT_FALSE(documents[0].datatypeGiven);
    EXPECT_TRUE(documents[0].ended);
    EXPECT_TRUE(documents[0].data == bytes) << c.sizeBytes;
    EXPECT_EQ(documents[0].writeSizes, c.writes) << c.sizeBytes;
    // Only the context's printer handle stays open: the job handle was closed.
    EXPECT_EQ(sd::OpenHandleCount(), 1);
    ClosePrintProcessor(handle_);
    handle_ = nullptr;
  }
}

TEST_F(PassThroughTest, CallsAreMadeInOrder) {
  sd::AddJob(kJob, Pattern(40000));
  Open();
  EXPECT_TRUE(Run());
  std::vector<sd::SpoolerCall> order;
  for (const sd::CallRecord& record : sd::Calls()) order.push_back(record.call);
  using C = sd::SpoolerCall;
  const std::vector<C> expected = {
      C::OpenPrinter, C::StartDocPrinter, C::OpenPrinter, C::ReadPrinter,  C::WritePrinter,
      C::ReadPrinter, C::WritePrinter,    C::ReadPrinter, C::ClosePrinter, C::EndDocPrinter};
  EXPECT_EQ(order, expected);
}

TEST_F(PassThroughTest, StartDocFailureFailsWithoutEndingADocument) {
  sd::AddJob(kJob, Pattern(10));
  Open();
  sd::FailCall(sd::SpoolerCall::StartDocPrinter, ERROR_NOT_ENOUGH_MEMORY);
  SetLastError(0);
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::EndDocPrinter), 0u);
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::ReadPrinter), 0u);
}

TEST_F(PassThroughTest, JobThatCannotBeOpenedEndsTheEmptyDocumentAndFails) {
  Open();  // no job registered under kJob
  EXPECT_FALSE(Run());
  const std::vector<sd::PrinterDocument> documents = sd::Documents();
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_TRUE(documents[0].ended);
  EXPECT_TRUE(documents[0].data.empty());
  EXPECT_EQ(sd::OpenHandleCount(), 1);
}

TEST_F(PassThroughTest, FailedReadEndsTheDocumentAfterTheChunksWritten) {
  const std::string bytes = Pattern(100000);
  sd::AddJob(kJob, bytes);
  sd::FailCall(sd::SpoolerCall::ReadPrinter, ERROR_GEN_FAILURE, 3);
  Open();
  EXPECT_TRUE(Run());
  const std::vector<sd::PrinterDocument> documents = sd::Documents();
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_TRUE(documents[0].ended);
  EXPECT_TRUE(documents[0].data == bytes.substr(0, 65536));
  EXPECT_EQ(sd::OpenHandleCount(), 1);
}

TEST_F(PassThroughTest, FailedOrShortWritesDoNotStopTheCopy) {
  const std::string bytes = Pattern(100000);
  sd::AddJob(kJob, bytes);
  sd::FailCall(sd::SpoolerCall::WritePrinter, ERROR_DISK_FULL, 2);
  sd::SetWritePrinterLimit(1000);
  Open();
  EXPECT_TRUE(Run());
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::WritePrinter), 4u);
  EXPECT_EQ(sd::UnreadBytes(kJob), 0u);
  EXPECT_TRUE(sd::Documents()[0].ended);
}

// Drives the loop from a control thread: the hook runs inside the job's
// ReadPrinter calls, so `atRead` picks the chunk boundary.
TEST_F(PassThroughTest, PauseThenResumeCopiesEveryByteOnce) {
  const std::string bytes = Pattern(5 * 32768 + 17);
  sd::AddJob(kJob, bytes);
  Open();
  HANDLE handle = handle_;
  std::atomic<bool> resumed{false};
  std::thread control;
  sd::SetHook([&](sd::SpoolerCall call, unsigned number) {
    if (call == sd::SpoolerCall::ReadPrinter && number == 2) {
      ControlPrintProcessor(handle, JOB_CONTROL_PAUSE);
      control = std::thread([&, handle]() {
        Sleep(150);
        // The loop is still held at the pause: the second chunk is not written.
        EXPECT_EQ(sd::CallCount(sd::SpoolerCall::WritePrinter), 1u);
        resumed = true;
        ControlPrintProcessor(handle, JOB_CONTROL_RESUME);
      });
    }
  });
  EXPECT_TRUE(Run());
  control.join();
  EXPECT_TRUE(resumed);
  EXPECT_TRUE(sd::Documents()[0].data == bytes);
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::WritePrinter), 6u);
}

TEST_F(PassThroughTest, CancelDuringPauseDropsTheChunkInHand) {
  const std::string bytes = Pattern(5 * 32768);
  sd::AddJob(kJob, bytes);
  Open();
  HANDLE handle = handle_;
  std::thread control;
  sd::SetHook([&](sd::SpoolerCall call, unsigned number) {
    if (call == sd::SpoolerCall::ReadPrinter && number == 3) {
      ControlPrintProcessor(handle, JOB_CONTROL_PAUSE);
      control = std::thread([handle]() {
        Sleep(100);
        ControlPrintProcessor(handle, JOB_CONTROL_CANCEL);
      });
    }
  });
  EXPECT_TRUE(Run());
  control.join();
  const std::vector<sd::PrinterDocument> documents = sd::Documents();
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_TRUE(documents[0].ended);
  EXPECT_TRUE(documents[0].data == bytes.substr(0, 2 * 32768));
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::ReadPrinter), 3u);
  EXPECT_EQ(sd::OpenHandleCount(), 1);
}

TEST_F(PassThroughTest, CancelWhileRunningStopsAtTheNextChunk) {
  const std::string bytes = Pattern(4 * 32768);
  sd::AddJob(kJob, bytes);
  Open();
  HANDLE handle = handle_;
  sd::SetHook([&](sd::SpoolerCall call, unsigned number) {
    if (call == sd::SpoolerCall::ReadPrinter && number == 2) {
      ControlPrintProcessor(handle, JOB_CONTROL_CANCEL);
    }
  });
  EXPECT_TRUE(Run());
  EXPECT_TRUE(sd::Documents()[0].data == bytes.substr(0, 32768));
}

TEST_F(PassThroughTest, MissingPauseEventDoesNotHangAPausedJob) {
  const std::string bytes = Pattern(3 * 32768);
  sd::AddJob(kJob, bytes);
  Open();
  auto* context = static_cast<PrintProcessorContext*>(handle_);
  CloseHandle(context->PauseEvent);
  context->PauseEvent = nullptr;
  ASSERT_TRUE(ControlPrintProcessor(handle_, JOB_CONTROL_PAUSE));
  EXPECT_TRUE(Run());
  EXPECT_TRUE(sd::Documents()[0].data == bytes);
}

TEST_F(PassThroughTest, JobsOnDifferentPrintersRunInParallel) {
  const WCHAR* printers[] = {L"P1", L"P2", L"P3", L"P4"};
  std::vector<std::string> payloads;
  for (int i = 0; i < 4; ++i) {
    sd::AddPrinter(printers[i]);
    payloads.push_back(Pattern(70000 + i * 1111));
    sd::AddJob(std::wstring(printers[i]) + L", Job " + std::to_wstring(i + 1), payloads[i]);
  }
  std::vector<std::thread> threads;
  std::atomic<int> succeeded{0};
  for (int i = 0; i < 4; ++i) {
    threads.emplace_back([&, i]() {
      std::wstring datatype = L"EMF";
      PRINTPROCESSOROPENDATA data = {};
      data.pDatatype = &datatype[0];
      HANDLE handle = OpenPrintProcessor(const_cast<WCHAR*>(printers[i]), &data);
      std::wstring job = std::wstring(printers[i]) + L", Job " + std::to_wstring(i + 1);
      if (handle && PrintDocumentOnPrintProcessor(handle, &job[0]) && ClosePrintProcessor(handle)) {
        ++succeeded;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(succeeded, 4);
  for (const sd::PrinterDocument& document : sd::Documents()) {
    const size_t index = static_cast<size_t>(document.printer[1] - L'1');
    EXPECT_TRUE(document.data == payloads[index]) << index;
    EXPECT_TRUE(document.ended);
  }
  EXPECT_EQ(sd::Documents().size(), 4u);
}

}  // namespace
