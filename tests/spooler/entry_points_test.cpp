#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "spooler/context.h"
#include "tests/support/spooler_double.h"

namespace sd = spooler_double;

namespace {

const WCHAR kPrinter[] = L"Capture Printer";
// Two entries and the names "RAW" and "TEXT" with their terminators: 26 bytes
// with 32-bit pointers, 34 with 64-bit ones.
constexpr DWORD kEntryBytes = static_cast<DWORD>(sizeof(DATATYPES_INFO_1W));
constexpr DWORD kDatatypesBytes = 2 * kEntryBytes + 8 + 10;

struct OpenData {
  std::wstring datatype = L"RAW";
  std::wstring parameters = L"COPIES=1;";
  std::wstring documentName = L"Quarterly.pdf";
  std::wstring outputFile = L"C:\\port.out";
  bool withParameters = true;
  bool withOutputFile = true;
  DWORD jobId = 12;

  PRINTPROCESSOROPENDATA Build() {
    PRINTPROCESSOROPENDATA data = {};
    data.pDatatype = &datatype[0];
    data.pParameters = withParameters ? &parameters[0] : nullptr;
    data.pDocumentName = &documentName[0];
    data.pOutputFile = withOutputFile ? &outputFile[0] : nullptr;
    data.JobId = jobId;
    return data;
  }
};

class EntryPointTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sd::Reset();
    sd::AddPrinter(kPrinter);
  }
  void TearDown() override { sd::Reset(); }

  HANDLE Open(OpenData data = OpenData()) {
    PRINTPROCESSOROPENDATA openData = data.Build();
    return OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &openData);
  }
};

TEST(EnumDatatypes, TooSmallBufferReportsNeededBytes) {
  for (DWORD bufferBytes : {DWORD{0}, DWORD{1}, kDatatypesBytes - 1}) {
    BYTE buffer[64];
    DWORD needed = 0, returned = 99;
    SetLastError(0);
    EXPECT_FALSE(
        EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, buffer, bufferBytes, &needed, &returned));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER));
    EXPECT_EQ(needed, kDatatypesBytes);
    EXPECT_EQ(returned, 0u);
  }
}

TEST(EnumDatatypes, ExactBufferHoldsEntriesAndNamesFromTheEnd) {
  alignas(8) BYTE buffer[kDatatypesBytes + 8];
  std::memset(buffer, 0xCC, sizeof(buffer));
  DWORD needed = 0, returned = 0;
  ASSERT_TRUE(EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, buffer, kDatatypesBytes, &needed,
                                           &returned));
  EXPECT_EQ(needed, kDatatypesBytes);
  ASSERT_EQ(returned, 2u);
  // RAW ends at the last byte, TEXT right before it.
  const DATATYPES_INFO_1W* entries = reinterpret_cast<const DATATYPES_INFO_1W*>(buffer);
  const BYTE* rawName = reinterpret_cast<const BYTE*>(entries[0].pName);
  const BYTE* textName = reinterpret_cast<const BYTE*>(entries[1].pName);
  EXPECT_EQ(rawName, buffer + kDatatypesBytes - 8);
  EXPECT_EQ(textName, buffer + kDatatypesBytes - 8 - 10);
  EXPECT_EQ(textName, buffer + 2 * kEntryBytes);
  EXPECT_STREQ(entries[0].pName, L"RAW");
  EXPECT_STREQ(entries[1].pName, L"TEXT");
  // Nothing beyond the buffer size is touched.
  for (size_t i = kDatatypesBytes; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], 0xCC);
}

TEST(EnumDatatypes, LargerBufferKeepsNamesAtItsEnd) {
  alignas(8) BYTE buffer[200] = {};
  DWORD needed = 0, returned = 0;
  ASSERT_TRUE(EnumPrintProcessorDatatypesW(nullptr, nullptr, 1, buffer, sizeof(buffer), &needed,
                                           &returned));
  EXPECT_EQ(needed, kDatatypesBytes);
  ASSERT_EQ(returned, 2u);
  const DATATYPES_INFO_1W* entries = reinterpret_cast<const DATATYPES_INFO_1W*>(buffer);
  EXPECT_EQ(reinterpret_cast<const BYTE*>(entries[0].pName), buffer + sizeof(buffer) - 8);
  EXPECT_STREQ(entries[0].pName, L"RAW");
  EXPECT_STREQ(entries[1].pName, L"TEXT");
}

TEST_F(EntryPointTest, DatatypeDecidesTheIndex) {
  struct Case {
    const WCHAR* datatype;
    DWORD index;
  } cases[] = {{L"RAW", 0}, {L"raw", 0},          {L"TEXT", 1}, {L"Text", 1},
               {L"EMF", 2}, {L"NT EMF 1.008", 2}, {L"RAW ", 2}, {L"RA", 2}};
  for (const Case& c : cases) {
    OpenData data;
    data.datatype = c.datatype;
    HANDLE handle = Open(data);
    ASSERT_NE(handle, nullptr) << c.datatype;
    EXPECT_EQ(static_cast<PrintProcessorContext*>(handle)->DatatypeIndex, c.index) << c.datatype;
    EXPECT_TRUE(ClosePrintProcessor(handle));
  }
}

TEST_F(EntryPointTest, OpenFillsTheRecord) {
  OpenData data;
  data.parameters = L"COPIES=3;";
  HANDLE handle = Open(data);
  ASSERT_NE(handle, nullptr);
  auto* context = static_cast<PrintProcessorContext*>(handle);
  EXPECT_EQ(context->Signature, 0x5051u);
  EXPECT_EQ(ReadContextFlags(context), 0);
  EXPECT_NE(context->Printer, nullptr);
  EXPECT_EQ(context->JobId, 12u);
  EXPECT_EQ(context->Copies, 3u);
  EXPECT_STREQ(context->PrinterName, kPrinter);
  EXPECT_STREQ(context->Datatype, L"RAW");
  EXPECT_STREQ(context->DocumentName, L"Quarterly.pdf");
  EXPECT_STREQ(context->OutputFile, L"C:\\port.out");
  EXPECT_STREQ(context->Parameters, L"COPIES=3;");
  // The pause event starts signalled.
  EXPECT_EQ(WaitForSingleObject(context->PauseEvent, 0), WAIT_OBJECT_0);
  EXPECT_TRUE(ClosePrintProcessor(handle));
  EXPECT_EQ(sd::OpenHandleCount(), 0);
}

TEST_F(EntryPointTest, MissingOptionalStringsStayNull) {
  OpenData data;
  data.withOutputFile = false;
  data.withParameters = false;
  HANDLE handle = Open(data);
  ASSERT_NE(handle, nullptr);
  auto* context = static_cast<PrintProcessorContext*>(handle);
  EXPECT_EQ(context->OutputFile, nullptr);
  EXPECT_EQ(context->Parameters, nullptr);
  EXPECT_EQ(context->Copies, 1u);
  EXPECT_TRUE(ClosePrintProcessor(handle));
}

TEST_F(EntryPointTest, BadOpenDataFailsWith87BeforeOpeningThePrinter) {
  SetLastError(0);
  EXPECT_EQ(OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), nullptr), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  PRINTPROCESSOROPENDATA noDatatype = {};
  SetLastError(0);
  EXPECT_EQ(OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &noDatatype), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

  OpenData empty;
  empty.datatype = L"";
  SetLastError(0);
  EXPECT_EQ(Open(empty), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::OpenPrinter), 0u);
}

TEST_F(EntryPointTest, PrinterThatCannotBeOpenedFailsTheOpenWithItsError) {
  sd::FailCall(sd::SpoolerCall::OpenPrinter, ERROR_ACCESS_DENIED);
  SetLastError(0);
  EXPECT_EQ(Open(), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ACCESS_DENIED));

  sd::Reset();
  PRINTPROCESSOROPENDATA openData = OpenData().Build();
  EXPECT_EQ(OpenPrintProcessor(const_cast<WCHAR*>(L"No Such Printer"), &openData), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PRINTER_NAME));
}

TEST_F(EntryPointTest, OpenOnDirectPrinterForcesOneCopy) {
  sd::Reset();
  sd::AddPrinter(kPrinter, PRINTER_ATTRIBUTE_DIRECT);
  OpenData data;
  data.parameters = L"COPIES=9;";
  HANDLE handle = Open(data);
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(static_cast<PrintProcessorContext*>(handle)->Copies, 1u);
  EXPECT_TRUE(ClosePrintProcessor(handle));
}

TEST_F(EntryPointTest, CloseReleasesPrinterAndClearsSignature) {
  HANDLE handle = Open();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(sd::OpenHandleCount(), 1);
  EXPECT_TRUE(ClosePrintProcessor(handle));
  EXPECT_EQ(sd::OpenHandleCount(), 0);
  const std::vector<sd::CallRecord> calls = sd::Calls();
  ASSERT_FALSE(calls.empty());
  EXPECT_EQ(calls.back().call, sd::SpoolerCall::ClosePrinter);
}

TEST(ValidateHandle, RejectsNullForeignAndUnreadableHandles) {
  DWORD zeroWord = 0;
  DWORD otherWord = 0x5052;
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
  ASSERT_NE(reserved, nullptr);
  BYTE* guarded = static_cast<BYTE*>(VirtualAlloc(nullptr, 8192, MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(guarded, nullptr);
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
                  reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(8)),
                  INVALID_HANDLE_VALUE};
  for (HANDLE handle : bad) {
    SetLastError(0);
    EXPECT_EQ(ValidateHandle(handle), nullptr) << handle;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << handle;
    SetLastError(0);
    EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, const_cast<WCHAR*>(L"P, Job 1")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    SetLastError(0);
    EXPECT_FALSE(ClosePrintProcessor(handle));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
  }
  VirtualFree(reserved, 0, MEM_RELEASE);
  VirtualFree(guarded, 0, MEM_RELEASE);
}

TEST_F(EntryPointTest, ControlCommandsMoveTheFlagsAndTheEvent) {
  HANDLE handle = Open();
  ASSERT_NE(handle, nullptr);
  auto* context = static_cast<PrintProcessorContext*>(handle);

  // Resume while running changes nothing: the event stays signalled.
  EXPECT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_RESUME));
  EXPECT_EQ(ReadContextFlags(context), 0);

  EXPECT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));
  EXPECT_EQ(ReadContextFlags(context), ContextFlag::Paused);
  EXPECT_EQ(WaitForSingleObject(context->PauseEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  EXPECT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_RESUME));
  EXPECT_EQ(ReadContextFlags(context), 0);
  EXPECT_EQ(WaitForSingleObject(context->PauseEvent, 0), WAIT_OBJECT_0);
  // Auto-reset: one resume releases one wait.
  EXPECT_EQ(WaitForSingleObject(context->PauseEvent, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  EXPECT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));
  EXPECT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_CANCEL));
  EXPECT_EQ(ReadContextFlags(context), ContextFlag::Aborted);
  EXPECT_EQ(WaitForSingleObject(context->PauseEvent, 0), WAIT_OBJECT_0);

  // Aborted is final; a pause after it only sets the paused bit.
  EXPECT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));
  EXPECT_EQ(ReadContextFlags(context), ContextFlag::Aborted | ContextFlag::Paused);
  EXPECT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_RESUME));
  EXPECT_EQ(ReadContextFlags(context), ContextFlag::Aborted);

  EXPECT_TRUE(ClosePrintProcessor(handle));
}

TEST_F(EntryPointTest, MissingJobNameFailsBeforeAnySpoolerCall) {
  for (const char* datatype : {"RAW", "EMF"}) {
    OpenData data;
    data.datatype = std::wstring(datatype, datatype + std::strlen(datatype));
    HANDLE handle = Open(data);
    ASSERT_NE(handle, nullptr);
    const unsigned callsBefore = static_cast<unsigned>(sd::Calls().size());
    for (WCHAR* name : {static_cast<WCHAR*>(nullptr), const_cast<WCHAR*>(L"")}) {
      SetLastError(0);
      EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, name)) << datatype;
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    }
    EXPECT_EQ(sd::Calls().size(), callsBefore) << datatype;
    EXPECT_TRUE(ClosePrintProcessor(handle));
  }
}

TEST_F(EntryPointTest, UnknownControlCommandFailsAndKeepsLastError) {
  HANDLE handle = Open();
  ASSERT_NE(handle, nullptr);
  for (DWORD command : {0u, 4u, 5u, 0xFFFFFFFFu}) {
    SetLastError(1234);
    EXPECT_FALSE(ControlPrintProcessor(handle, command));
    EXPECT_EQ(GetLastError(), 1234u);
  }
  EXPECT_EQ(ReadContextFlags(static_cast<PrintProcessorContext*>(handle)), 0);
  EXPECT_TRUE(ClosePrintProcessor(handle));
}

TEST_F(EntryPointTest, PauseHoldsTheLoopUntilResumeAndCancelStopsIt) {
  HANDLE handle = Open();
  ASSERT_NE(handle, nullptr);
  auto* context = static_cast<PrintProcessorContext*>(handle);
  ASSERT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));

  struct Loop {
    PrintProcessorContext* context;
    HANDLE started;
    volatile LONG aborted;
  } loop = {context, CreateEventW(nullptr, TRUE, FALSE, nullptr), -1};
  auto body = [](void* argument) -> DWORD {
    Loop* state = static_cast<Loop*>(argument);
    SetEvent(state->started);
    InterlockedExchange(&state->aborted, WaitWhilePausedThenCheckAborted(state->context) ? 1 : 0);
    return 0;
  };
  HANDLE thread = CreateThread(nullptr, 0, body, &loop, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(loop.started, 10000), WAIT_OBJECT_0);
  // The loop really waits while paused.
  EXPECT_EQ(WaitForSingleObject(thread, 200), static_cast<DWORD>(WAIT_TIMEOUT));
  EXPECT_EQ(InterlockedCompareExchange(&loop.aborted, 0, 0), -1);

  ASSERT_TRUE(ControlPrintProcessor(handle, JOB_CONTROL_CANCEL));
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_EQ(loop.aborted, 1);
  CloseHandle(thread);
  CloseHandle(loop.started);
  EXPECT_TRUE(ClosePrintProcessor(handle));
}

// The test prefix has no display, so the box cannot be shown and MessageBoxW
// fails at once: setup still reports success whatever became of the box.
TEST(InstallPrintProcessor, ReturnsTrueWhateverBecameOfTheBox) {
  EXPECT_TRUE(InstallPrintProcessor(nullptr));
  EXPECT_TRUE(InstallPrintProcessor(GetDesktopWindow()));
}

}  // namespace
