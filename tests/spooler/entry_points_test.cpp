#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "spooler/context.h"
#include "tests/support/spooler_double.h"

namespace sd = spooler_double;

namespace {

const WCHAR kPrinter[] = L"Capture Printer";
// Two entries, then "TEXT" and "RAW" with terminators at the buffer's end.
constexpr DWORD kEntryBytes = static_cast<DWORD>(sizeof(DATATYPES_INFO_1W));
constexpr DWORD kDatatypesBytes = 2 * kEntryBytes + 8 + 10;

// Clears the error so that the next check cannot pass on a stale one.
void ExpectError(DWORD error) {
  EXPECT_EQ(GetLastError(), error);
  SetLastError(0);
}

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sd::Reset();
    sd::AddPrinter(kPrinter);
    SetLastError(0);
  }
  void TearDown() override { sd::Reset(); }

  HANDLE Open(std::wstring datatype = L"RAW", const WCHAR* parameters = L"COPIES=3;",
              const WCHAR* outputFile = L"C:\\port.out") {
    std::wstring documentName = L"Quarterly.pdf";
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = &datatype[0];
    data.pParameters = const_cast<WCHAR*>(parameters);
    data.pDocumentName = &documentName[0];
    data.pOutputFile = const_cast<WCHAR*>(outputFile);
    data.JobId = 12;
    return OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &data);
  }
};

TEST(EnumDatatypes, NamesSitAtTheEndOfTheGivenBufferAndNothingBeyondIsTouched) {
  for (DWORD bufferBytes : {DWORD{0}, kDatatypesBytes - 1, kDatatypesBytes, DWORD{200}}) {
    alignas(8) BYTE buffer[208];
    std::memset(buffer, 0xCC, sizeof(buffer));
    DWORD needed = 0, returned = 99;
    const bool fits = bufferBytes >= kDatatypesBytes;
    SetLastError(0);
    EXPECT_EQ(!!EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, buffer, bufferBytes, &needed,
                                             &returned),
              fits);
    EXPECT_EQ(needed, kDatatypesBytes);
    EXPECT_EQ(returned, fits ? 2u : 0u);
    if (!fits) ExpectError(ERROR_INSUFFICIENT_BUFFER);
    const auto* entries = reinterpret_cast<const DATATYPES_INFO_1W*>(buffer);
    if (fits) {
      EXPECT_EQ(reinterpret_cast<const BYTE*>(entries[0].pName), buffer + bufferBytes - 8);
      EXPECT_EQ(reinterpret_cast<const BYTE*>(entries[1].pName), buffer + bufferBytes - 18);
      EXPECT_STREQ(entries[0].pName, L"RAW");
      EXPECT_STREQ(entries[1].pName, L"TEXT");
    }
    for (size_t i = bufferBytes; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], 0xCC) << i;
  }
}

TEST_F(EntryPointTest, DatatypeDecidesTheIndex) {
  const std::pair<const WCHAR*, DWORD> cases[] = {{L"RAW", 0},  {L"raw", 0},          {L"TEXT", 1},
                                                  {L"Text", 1}, {L"NT EMF 1.008", 2}, {L"RAW ", 2}};
  for (const auto& c : cases) {
    HANDLE handle = Open(c.first);
    ASSERT_NE(handle, nullptr) << c.first;
    EXPECT_EQ(static_cast<PrintProcessorContext*>(handle)->DatatypeIndex, c.second) << c.first;
    EXPECT_TRUE(ClosePrintProcessor(handle));
  }
}

TEST_F(EntryPointTest, OpenFillsTheRecordAndCloseReleasesThePrinter) {
  HANDLE handle = Open();
  ASSERT_NE(handle, nullptr);
  auto* context = static_cast<PrintProcessorContext*>(handle);
  EXPECT_EQ(context->Signature, 0x5051u);
  EXPECT_EQ(ReadContextFlags(context), 0);
  EXPECT_EQ(context->JobId, 12u);
  EXPECT_EQ(context->Copies, 3u);
  EXPECT_STREQ(context->PrinterName, kPrinter);
  EXPECT_STREQ(context->Datatype, L"RAW");
  EXPECT_STREQ(context->DocumentName, L"Quarterly.pdf");
  EXPECT_STREQ(context->OutputFile, L"C:\\port.out");
  EXPECT_STREQ(context->Parameters, L"COPIES=3;");
  EXPECT_EQ(WaitForSingleObject(context->PauseEvent, 0), WAIT_OBJECT_0);
  EXPECT_EQ(sd::OpenHandleCount(), 1);
  EXPECT_TRUE(ClosePrintProcessor(handle));
  EXPECT_EQ(sd::OpenHandleCount(), 0);

  handle = Open(L"RAW", nullptr, nullptr);
  ASSERT_NE(handle, nullptr);
  context = static_cast<PrintProcessorContext*>(handle);
  EXPECT_EQ(context->OutputFile, nullptr);
  EXPECT_EQ(context->Parameters, nullptr);
  EXPECT_EQ(context->Copies, 1u);
  EXPECT_TRUE(ClosePrintProcessor(handle));
}

TEST_F(EntryPointTest, BadOpenDataFailsWith87BeforeOpeningThePrinter) {
  PRINTPROCESSOROPENDATA noDatatype = {};
  EXPECT_EQ(OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), nullptr), nullptr);
  ExpectError(ERROR_INVALID_PARAMETER);
  EXPECT_EQ(OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &noDatatype), nullptr);
  ExpectError(ERROR_INVALID_PARAMETER);
  EXPECT_EQ(Open(L""), nullptr);
  ExpectError(ERROR_INVALID_PARAMETER);
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::OpenPrinter), 0u);
}

TEST_F(EntryPointTest, PrinterThatCannotBeOpenedFailsTheOpenWithItsError) {
  sd::FailCall(sd::SpoolerCall::OpenPrinter, ERROR_ACCESS_DENIED);
  EXPECT_EQ(Open(), nullptr);
  ExpectError(ERROR_ACCESS_DENIED);
  sd::Reset();
  EXPECT_EQ(Open(), nullptr);
  ExpectError(ERROR_INVALID_PRINTER_NAME);
}

TEST(ValidateHandle, RejectsNullForeignAndUnreadableHandles) {
  DWORD zeroWord = 0, otherWord = 0x5052;
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
  BYTE* guarded = static_cast<BYTE*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_TRUE(reserved && guarded);
  DWORD oldProtect = 0;
  ASSERT_TRUE(VirtualProtect(guarded + 4096, 4096, PAGE_NOACCESS, &oldProtect));
  // A signature split across the end of readable memory.
  std::memcpy(guarded + 4096 - 2, "\x51\x50", 2);
  HANDLE bad[] = {nullptr,
                  &zeroWord,
                  &otherWord,
                  reserved,
                  guarded + 4096,
                  guarded + 4096 - 2,
                  reinterpret_cast<HANDLE>(8),
                  INVALID_HANDLE_VALUE};
  SetLastError(0);
  for (HANDLE handle : bad) {
    EXPECT_EQ(ValidateHandle(handle), nullptr) << handle;
    ExpectError(ERROR_INVALID_HANDLE);
    EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, const_cast<WCHAR*>(L"P, Job 1")));
    ExpectError(ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));
    ExpectError(ERROR_INVALID_HANDLE);
    EXPECT_FALSE(ClosePrintProcessor(handle));
    ExpectError(ERROR_INVALID_HANDLE);
  }
  VirtualFree(reserved, 0, MEM_RELEASE);
  VirtualFree(guarded, 0, MEM_RELEASE);
}

TEST_F(EntryPointTest, ControlCommandsMoveTheFlagsAndTheEvent) {
  HANDLE handle = Open();
  ASSERT_NE(handle, nullptr);
  auto* context = static_cast<PrintProcessorContext*>(handle);
  const LONG aborted = ContextFlag::Aborted, paused = ContextFlag::Paused;
  const struct {
    DWORD command;
    LONG flags;
    DWORD wait;  // of the auto-reset pause event, which one wait consumes
  } steps[] = {
      {JOB_CONTROL_RESUME, 0, WAIT_OBJECT_0},
      {JOB_CONTROL_PAUSE, paused, WAIT_TIMEOUT},
      {JOB_CONTROL_RESUME, 0, WAIT_OBJECT_0},
      {JOB_CONTROL_PAUSE, paused, WAIT_TIMEOUT},
      {JOB_CONTROL_CANCEL, aborted, WAIT_OBJECT_0},
      {JOB_CONTROL_PAUSE, aborted | paused, WAIT_TIMEOUT},  // aborted is final
      {JOB_CONTROL_RESUME, aborted, WAIT_OBJECT_0},
  };
  for (const auto& step : steps) {
    EXPECT_TRUE(ControlPrintProcessor(handle, step.command));
    EXPECT_EQ(ReadContextFlags(context), step.flags) << step.command;
    EXPECT_EQ(WaitForSingleObject(context->PauseEvent, 0), step.wait) << step.command;
  }
  for (DWORD command : {0u, 4u, 0xFFFFFFFFu}) {
    SetLastError(1234);
    EXPECT_FALSE(ControlPrintProcessor(handle, command));
    ExpectError(1234);
  }
  EXPECT_EQ(ReadContextFlags(context), aborted);
  EXPECT_TRUE(ClosePrintProcessor(handle));
}

TEST_F(EntryPointTest, MissingJobNameFailsBeforeAnySpoolerCall) {
  for (const WCHAR* datatype : {L"RAW", L"EMF"}) {
    HANDLE handle = Open(datatype);
    ASSERT_NE(handle, nullptr);
    const size_t callsBefore = sd::Calls().size();
    for (WCHAR* name : {static_cast<WCHAR*>(nullptr), const_cast<WCHAR*>(L"")}) {
      EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, name)) << datatype;
      ExpectError(ERROR_INVALID_PARAMETER);
    }
    EXPECT_EQ(sd::Calls().size(), callsBefore) << datatype;
    EXPECT_TRUE(ClosePrintProcessor(handle));
  }
}

// No box (the export check refuses a MessageBox import); setup succeeds.
TEST(InstallPrintProcessor, ReturnsTrue) {
  EXPECT_TRUE(InstallPrintProcessor(nullptr));
}

}  // namespace
