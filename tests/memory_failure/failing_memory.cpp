#include "tests/memory_failure/failing_memory.h"

#include <atomic>
#include <cstring>
#include <cwchar>

#include "spooler/memory.h"

namespace {
std::atomic<unsigned> allocations{0};
std::atomic<unsigned> failingAllocation{0};
std::atomic<bool> failLater{false};
}  // namespace

void FailAllocation(unsigned nth, bool andLater) {
  allocations = 0;
  failingAllocation = nth;
  failLater = andLater;
}

void* AllocSplMem(DWORD sizeBytes) {
  const unsigned number = ++allocations;
  const unsigned failing = failingAllocation;
  if (failing != 0 && (number == failing || (failLater && number > failing))) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* block = GlobalAlloc(GMEM_FIXED, sizeBytes);
  if (block) std::memset(block, 0, sizeBytes);
  return block;
}

WCHAR* AllocSplStr(const WCHAR* text) {
  if (!text) return nullptr;
  const DWORD sizeBytes = static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(WCHAR));
  WCHAR* copy = static_cast<WCHAR*>(AllocSplMem(sizeBytes));
  if (copy) std::memcpy(copy, text, sizeBytes);
  return copy;
}
