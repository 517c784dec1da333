#include <gtest/gtest.h>

#include <cstring>

#include "spooler/context.h"
#include "tests/support/guarded_block.h"

namespace {

// Two entries, then "TEXT" and "RAW" with terminators at the buffer's end.
constexpr DWORD kEntryBytes = static_cast<DWORD>(sizeof(DATATYPES_INFO_1W));
constexpr DWORD kDatatypesBytes = 2 * kEntryBytes + 8 + 10;

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
  void* reserved = VirtualAlloc(nullptr, 65536, MEM_RESERVE, PAGE_READWRITE);
  ASSERT_TRUE(reserved);
  // A signature split across the end of readable memory.
  GuardedBlock guarded;
  BYTE* split = guarded.Place("\x51\x50", 2);
  HANDLE bad[] = {nullptr, &otherWord, reserved, split + 2, split, INVALID_HANDLE_VALUE};
  for (HANDLE handle : bad) {
    SetLastError(0xdeadbeef);
    EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, const_cast<WCHAR*>(L"P, Job 1")));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE)) << handle;
    EXPECT_FALSE(ControlPrintProcessor(handle, JOB_CONTROL_PAUSE));
    EXPECT_FALSE(ClosePrintProcessor(handle));
  }
  VirtualFree(reserved, 0, MEM_RELEASE);
}

}  // namespace
