#include <atomic>
#include <cstring>
#include <cwchar>

#include "spooler/memory.h"
#include "tests/capture/capture_fixture.h"

namespace {
// Allocations number from 1 after each reset; the one numbered
// `failingAllocation` (0: none) fails.
std::atomic<unsigned> allocations{0}, failingAllocation{0};
}  // namespace

// Linked in place of the system's memory helpers.
void* AllocSplMem(DWORD sizeBytes) {
  if (++allocations == failingAllocation) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  return GlobalAlloc(GPTR, sizeBytes);
}

WCHAR* AllocSplStr(const WCHAR* text) {
  if (!text) return nullptr;
  const DWORD sizeBytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(WCHAR));
  WCHAR* copy = static_cast<WCHAR*>(AllocSplMem(sizeBytes));
  if (copy) std::memcpy(copy, text, sizeBytes);
  return copy;
}

namespace {

// Allocations number from the open on: the record (1), the strings copied
// at open (2-5), the capture's read buffer (6) and job record (7), then the
// Japanese passes' blocks: both over the hex document name (8-9), the first
// over the title (10). Without its record the open fails before the printer
// is opened; without its read buffer or job record the capture fails; any
// other allocation that fails loses nothing of the job, not even its name.
// No printer handle stays open. The last round fails none and counts them,
// so that an allocation added later is not left out.
TEST_F(CaptureTest, EachFailedAllocationOfOpenAndCapture) {
  constexpr unsigned kAllocations = 10;
  const CaptureRequest request = {
      "%PDF-1.4\n%%Title:Kept\n", L"<4D656D6F>", 0, kCaptureJobId, false, L"COPIES=1;"};
  for (unsigned failing = 1; failing <= kAllocations + 1; ++failing) {
    SCOPED_TRACE(failing);
    Reset();
    allocations = 0;
    failingAllocation = failing;
    HANDLE handle = OpenJob(request);
    const bool captures = failing != 1 && failing != 6 && failing != 7;
    EXPECT_EQ(handle == nullptr, failing == 1);
    EXPECT_EQ(handle && Print(handle), captures);
    if (failing > kAllocations) {
      EXPECT_EQ(allocations, kAllocations);
    }
    failingAllocation = 0;
    EXPECT_TRUE(!handle || ClosePrintProcessor(handle));
    EXPECT_EQ(OutputNames().size(), captures ? 1u : 0u);
    EXPECT_EQ(Output(L"Kept.PDF"), captures ? request.bytes : "");
    EXPECT_EQ(sd::OpenHandleCount(), 0);
  }
}

}  // namespace
