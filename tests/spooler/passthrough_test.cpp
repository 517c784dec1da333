#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "spooler/context.h"
#include "tests/support/spooler_double.h"

namespace sd = spooler_double;
using Call = sd::SpoolerCall;

namespace {

const WCHAR kPrinter[] = L"Plotter";
const WCHAR kJob[] = L"Plotter, Job 7";
constexpr size_t kChunk = 32768;

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
    std::wstring datatype = L"NT EMF 1.008", documentName = L"Drawing.emf", port = L"LPT1:";
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = &datatype[0];
    data.pDocumentName = &documentName[0];
    data.pOutputFile = &port[0];
    handle_ = OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &data);
    ASSERT_NE(handle_, nullptr);
  }
  void TearDown() override {
    ClosePrintProcessor(handle_);
    sd::Reset();
  }

  BOOL Run() { return PrintDocumentOnPrintProcessor(handle_, const_cast<WCHAR*>(kJob)); }
  // Runs `action` inside the job's nth ReadPrinter, at a chunk boundary.
  static void OnRead(unsigned nth, std::function<void()> action) {
    sd::SetHook([nth, action](Call call, unsigned number) {
      if (call == Call::ReadPrinter && number == nth) action();
    });
  }
  // The document written, which must have been ended; the job handle closed.
  static std::string Written() {
    const std::vector<sd::PrinterDocument> documents = sd::Documents();
    EXPECT_EQ(documents.size(), 1u);
    EXPECT_TRUE(documents.back().ended);
    EXPECT_EQ(sd::OpenHandleCount(), 1);
    return documents.back().data;
  }

  HANDLE handle_ = nullptr;
};

TEST_F(PassThroughTest, CopiesEveryByteUnchangedInBufferSizedChunks) {
  const struct {
    size_t sizeBytes;
    DWORD maxChunkBytes;
    std::vector<DWORD> writes;
  } cases[] = {
      {0, 0, {}},
      {32768, 0, {32768}},
      {100000, 0, {32768, 32768, 32768, 1696}},
      {10000, 3000, {3000, 3000, 3000, 1000}},
  };
  for (const auto& c : cases) {
    const std::string bytes = Pattern(c.sizeBytes);
    sd::AddJob(kJob, bytes, c.maxChunkBytes);
    EXPECT_TRUE(Run()) << c.sizeBytes;
    const sd::PrinterDocument document = sd::Documents().back();
    EXPECT_EQ(document.printer, kPrinter);
    EXPECT_EQ(document.name, L"Drawing.emf");
    EXPECT_EQ(document.outputFile, L"LPT1:");
    EXPECT_FALSE(document.datatypeGiven);
    EXPECT_TRUE(document.ended);
    EXPECT_TRUE(document.data == bytes) << c.sizeBytes;
    EXPECT_EQ(document.writeSizes, c.writes) << c.sizeBytes;
    EXPECT_EQ(sd::OpenHandleCount(), 1);
  }
}

TEST_F(PassThroughTest, StartDocFailureFailsWithoutEndingADocument) {
  sd::AddJob(kJob, Pattern(10));
  sd::FailCall(Call::StartDocPrinter, ERROR_NOT_ENOUGH_MEMORY);
  SetLastError(0);
  EXPECT_FALSE(Run());
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(sd::CallCount(Call::EndDocPrinter) + sd::CallCount(Call::ReadPrinter), 0u);
}

TEST_F(PassThroughTest, JobThatCannotBeOpenedEndsTheEmptyDocumentAndFails) {
  EXPECT_FALSE(Run());  // no job registered
  EXPECT_TRUE(Written().empty());
}

TEST_F(PassThroughTest, FailedReadEndsTheDocumentAfterTheChunksWritten) {
  const std::string bytes = Pattern(100000);
  sd::AddJob(kJob, bytes);
  sd::FailCall(Call::ReadPrinter, ERROR_GEN_FAILURE, 3);
  EXPECT_TRUE(Run());
  EXPECT_TRUE(Written() == bytes.substr(0, 2 * kChunk));
}

TEST_F(PassThroughTest, FailedOrShortWritesDoNotStopTheCopy) {
  sd::AddJob(kJob, Pattern(100000));
  sd::FailCall(Call::WritePrinter, ERROR_DISK_FULL, 2);
  sd::SetWritePrinterLimit(1000);
  EXPECT_TRUE(Run());
  EXPECT_EQ(sd::CallCount(Call::WritePrinter), 4u);
  EXPECT_EQ(Written().size(), 3000u);
}

TEST_F(PassThroughTest, PauseThenResumeFromAnotherThreadCopiesEveryByteOnce) {
  const std::string bytes = Pattern(5 * kChunk + 17);
  sd::AddJob(kJob, bytes);
  std::atomic<unsigned> writesWhilePaused{0};
  std::thread control;
  OnRead(2, [&]() {
    ControlPrintProcessor(handle_, JOB_CONTROL_PAUSE);
    control = std::thread([&]() {
      Sleep(150);
      writesWhilePaused = sd::CallCount(Call::WritePrinter);
      ControlPrintProcessor(handle_, JOB_CONTROL_RESUME);
    });
  });
  EXPECT_TRUE(Run());
  control.join();
  EXPECT_EQ(writesWhilePaused, 1u);
  EXPECT_TRUE(Written() == bytes);
  EXPECT_EQ(sd::CallCount(Call::WritePrinter), 6u);
}

TEST_F(PassThroughTest, CancelDuringPauseDropsTheChunkInHand) {
  const std::string bytes = Pattern(5 * kChunk);
  sd::AddJob(kJob, bytes);
  std::thread control;
  OnRead(3, [&]() {
    ControlPrintProcessor(handle_, JOB_CONTROL_PAUSE);
    control = std::thread([&]() {
      Sleep(100);
      ControlPrintProcessor(handle_, JOB_CONTROL_CANCEL);
    });
  });
  EXPECT_TRUE(Run());
  control.join();
  EXPECT_TRUE(Written() == bytes.substr(0, 2 * kChunk));
  EXPECT_EQ(sd::CallCount(Call::ReadPrinter), 3u);
}

TEST_F(PassThroughTest, CancelWhileRunningStopsAtTheNextChunk) {
  const std::string bytes = Pattern(4 * kChunk);
  sd::AddJob(kJob, bytes);
  OnRead(2, [&]() { ControlPrintProcessor(handle_, JOB_CONTROL_CANCEL); });
  EXPECT_TRUE(Run());
  EXPECT_TRUE(Written() == bytes.substr(0, kChunk));
}

TEST_F(PassThroughTest, MissingPauseEventDoesNotHangAPausedJob) {
  const std::string bytes = Pattern(3 * kChunk);
  sd::AddJob(kJob, bytes);
  auto* context = static_cast<PrintProcessorContext*>(handle_);
  CloseHandle(context->PauseEvent);
  context->PauseEvent = nullptr;
  ASSERT_TRUE(ControlPrintProcessor(handle_, JOB_CONTROL_PAUSE));
  EXPECT_TRUE(Run());
  EXPECT_TRUE(Written() == bytes);
}

}  // namespace
