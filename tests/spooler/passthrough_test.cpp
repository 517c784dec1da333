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
// job names, ended whatever happens to the copy; a failed read or a cancel
// ends the copy at that chunk.
TEST(PassThrough, CopiesEveryByteUntilAReadFailsOrTheJobIsCancelled) {
  const struct {
    size_t sizeBytes;
    DWORD maxChunkBytes;
    unsigned failedRead, cancelledRead;  // 0: none
    size_t writtenBytes;
  } cases[] = {
      // clang-format off
      {0, 0, 0, 0, 0},
      {100000, 0, 0, 0, 100000},
      {10000, 3000, 0, 0, 10000},
      {100000, 0, 3, 0, 2 * kChunk},
      {4 * kChunk, 0, 0, 2, kChunk},
      // clang-format on
  };
  for (const auto& c : cases) {
    sd::Reset();
    sd::AddPrinter(kPrinter);
    const std::string bytes = Pattern(c.sizeBytes);
    sd::AddJob(kJob, bytes, c.maxChunkBytes);
    if (c.failedRead) sd::FailCall(Call::ReadPrinter, ERROR_GEN_FAILURE, c.failedRead);
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = const_cast<WCHAR*>(L"NT EMF 1.008");
    data.pDocumentName = const_cast<WCHAR*>(L"Drawing.emf");
    HANDLE processor = OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &data);
    ASSERT_NE(processor, nullptr);
    sd::SetHook([&](Call call, unsigned number) {
      if (call == Call::ReadPrinter && number == c.cancelledRead) {
        ControlPrintProcessor(processor, JOB_CONTROL_CANCEL);
      }
    });
    EXPECT_TRUE(PrintDocumentOnPrintProcessor(processor, const_cast<WCHAR*>(kJob)));
    const std::vector<sd::PrinterDocument> documents = sd::Documents();
    ASSERT_EQ(documents.size(), 1u);
    EXPECT_TRUE(documents[0].ended && documents[0].name == L"Drawing.emf");
    EXPECT_EQ(sd::OpenHandleCount(), 1);  // the job's handle is closed
    EXPECT_TRUE(documents[0].data == bytes.substr(0, c.writtenBytes)) << c.sizeBytes;
    ClosePrintProcessor(processor);
  }
  sd::Reset();
}

}  // namespace
