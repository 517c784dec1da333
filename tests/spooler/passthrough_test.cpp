#include <gtest/gtest.h>

#include <string>

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

// Jobs of other datatypes go to the printer unchanged, in the document the
// job names, ended whatever happens to the copy.
class PassThroughTest : public ::testing::Test {
 protected:
  void SetUp() override { Open(); }
  void TearDown() override {
    ClosePrintProcessor(handle_);
    sd::Reset();
  }
  void Open() {
    sd::Reset();
    sd::AddPrinter(kPrinter);
    std::wstring datatype = L"NT EMF 1.008", documentName = L"Drawing.emf";
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = &datatype[0];
    data.pDocumentName = &documentName[0];
    handle_ = OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &data);
    ASSERT_NE(handle_, nullptr);
  }

  BOOL Run() { return PrintDocumentOnPrintProcessor(handle_, const_cast<WCHAR*>(kJob)); }
  static std::string Written() {
    const std::vector<sd::PrinterDocument> documents = sd::Documents();
    EXPECT_EQ(documents.size(), 1u);
    EXPECT_TRUE(documents.back().ended);
    EXPECT_EQ(documents.back().name, L"Drawing.emf");
    EXPECT_EQ(sd::OpenHandleCount(), 1);  // the job's handle is closed
    return documents.back().data;
  }

  HANDLE handle_ = nullptr;
};

TEST_F(PassThroughTest, CopiesEveryByteUnchanged) {
  const struct {
    size_t sizeBytes;
    DWORD maxChunkBytes;
    unsigned failedRead;  // 0: none
    size_t writtenBytes;
  } cases[] = {
      // clang-format off
      {0, 0, 0, 0},
      {100000, 0, 0, 100000},
      {10000, 3000, 0, 10000},
      {100000, 0, 3, 2 * kChunk},
      // clang-format on
  };
  for (const auto& c : cases) {
    ClosePrintProcessor(handle_);
    Open();
    const std::string bytes = Pattern(c.sizeBytes);
    sd::AddJob(kJob, bytes, c.maxChunkBytes);
    if (c.failedRead) sd::FailCall(Call::ReadPrinter, ERROR_GEN_FAILURE, c.failedRead);
    EXPECT_TRUE(Run()) << c.sizeBytes;
    EXPECT_TRUE(Written() == bytes.substr(0, c.writtenBytes)) << c.sizeBytes;
  }
}

TEST_F(PassThroughTest, CancelWhileRunningStopsAtTheNextChunk) {
  const std::string bytes = Pattern(4 * kChunk);
  sd::AddJob(kJob, bytes);
  sd::SetHook([this](Call call, unsigned number) {
    if (call == Call::ReadPrinter && number == 2)
      ControlPrintProcessor(handle_, JOB_CONTROL_CANCEL);
  });
  EXPECT_TRUE(Run());
  EXPECT_TRUE(Written() == bytes.substr(0, kChunk));
}

}  // namespace
