// The entry points the spooler calls, the pass-through of other datatypes and
// the copy count, over the spooler double.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "spooler/context.h"
#include "spooler/parameters.h"
#include "tests/support/guarded_block.h"
#include "tests/support/spooler_double.h"

namespace sd = spooler_double;
using Call = sd::SpoolerCall;

namespace {

const WCHAR kPrinter[] = L"Plotter";
const WCHAR kJob[] = L"Plotter, Job 7";
constexpr size_t kChunk = 32768;

// Two entries, then "TEXT" and "RAW" with terminators at the buffer's end.
constexpr DWORD kDatatypesBytes = static_cast<DWORD>(2 * sizeof(DATATYPES_INFO_1W) + 8 + 10);

TEST(EnumDatatypes, RawAndTextFitTheGivenBufferAndNothingBeyondIsTouched) {
  for (DWORD bufferBytes : {DWORD{0}, kDatatypesBytes - 1, kDatatypesBytes, DWORD{200}}) {
    alignas(8) BYTE buffer[208];
    std::memset(buffer, 0xCC, sizeof(buffer));
    DWORD needed = 0, returned = 99;
    const bool fits = bufferBytes >= kDatatypesBytes;
    SetLastError(0xdeadbeef);
    EXPECT_EQ(!!EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, buffer, bufferBytes, &needed,
                                             &returned),
              fits);
    EXPECT_EQ(needed, kDatatypesBytes);
    EXPECT_EQ(returned, fits ? 2u : 0u);
    EXPECT_TRUE(fits || GetLastError() == ERROR_INSUFFICIENT_BUFFER);
    const auto* entries = reinterpret_cast<const DATATYPES_INFO_1W*>(buffer);
    EXPECT_TRUE(!fits || (!wcscmp(entries[0].pName, L"RAW") && !wcscmp(entries[1].pName, L"TEXT")));
    for (size_t i = bufferBytes; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], 0xCC) << i;
  }
}

// The spooler may hand back any handle: none may crash the entry points.
TEST(ValidateHandle, RejectsNullForeignAndUnreadableHandles) {
  DWORD otherWord = 0x5052;
  // A signature split across the end of readable memory, and unreadable memory.
  GuardedBlock guarded;
  BYTE* split = guarded.Place("\x51\x50", 2);
  HANDLE bad[] = {nullptr, &otherWord, split + 2, split, INVALID_HANDLE_VALUE};
  for (HANDLE handle : bad) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, const_cast<WCHAR*>(L"P, Job 1")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << handle;
    EXPECT_FALSE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));
    EXPECT_FALSE(ClosePrintProcessor(handle));
  }
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
    std::string bytes(c.sizeBytes, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>(i * 131 + i / 251);
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

// The copy count from the spooler's parameter string: a malformed string
// must neither crash the open nor ask for more copies than were given.
TEST(CopyCount, FromParameterStringAndPrinter) {
  const struct {
    const WCHAR* parameters;
    DWORD attributes;
    DWORD copies;
  } cases[] = {
      // clang-format off
      {L"A=1;copies=4;", 0, 4},
      {L"COPIES=x;COPIES=2;", 0, 2},
      {L" COPIES=\t3;", 0, 3},
      {L"COPIES=3", 0, 1},
      {L"COPIES =3;", 0, 1},
      {L"=3;X=1 2;COPIES=8;", 0, 8},
      {L"COPY=3;", 0, 1},
      {nullptr, 0, 1},
      {L"COPIES=99999999999;", 0, MAXDWORD},
      {L"COPIES=12;", PRINTER_ATTRIBUTE_DIRECT, 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    sd::Reset();
    sd::AddPrinter(kPrinter, c.attributes);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(kPrinter), &printer, nullptr));
    EXPECT_EQ(SettleCopyCount(c.parameters, printer), c.copies) << (&c - cases);
  }
}

}  // namespace
