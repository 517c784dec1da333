#include "spooler/context.h"

namespace {

// True when every byte of [start, start + sizeBytes) lies in committed memory
// that can be read. VirtualQuery answers without touching the memory, so an
// unreadable handle costs no exception; this works the same under MSVC and
// mingw, which has no structured exception handling in plain C++.
bool IsReadableRange(const void* start, size_t sizeBytes) {
  const BYTE* address = static_cast<const BYTE*>(start);
  const BYTE* end = address + sizeBytes;
  if (end < address) return false;
  while (address < end) {
    MEMORY_BASIC_INFORMATION region = {};
    if (VirtualQuery(address, &region, sizeof(region)) != sizeof(region)) return false;
    const DWORD readable = PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                           PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY;
    if (region.State != MEM_COMMIT || !(region.Protect & readable) ||
        (region.Protect & (PAGE_GUARD | PAGE_NOACCESS))) {
      return false;
    }
    const BYTE* regionEnd = static_cast<const BYTE*>(region.BaseAddress) + region.RegionSize;
    if (regionEnd <= address) return false;
    address = regionEnd;
  }
  return true;
}

}  // namespace

PrintProcessorContext* ValidateHandle(HANDLE handle) {
  // The whole record must be readable, not only its signature: the callers
  // go on to read its other fields.
  if (handle && IsReadableRange(handle, sizeof(PrintProcessorContext)) &&
      static_cast<PrintProcessorContext*>(handle)->Signature == kContextSignature) {
    return static_cast<PrintProcessorContext*>(handle);
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return nullptr;
}

bool WaitWhilePausedThenCheckAborted(PrintProcessorContext* context) {
  if ((ReadContextFlags(context) & ContextFlag::Paused) && context->PauseEvent) {
    WaitForSingleObject(context->PauseEvent, INFINITE);
  }
  return (ReadContextFlags(context) & ContextFlag::Aborted) != 0;
}
