#include "tests/support/guarded_block.h"

#include <cstring>

GuardedBlock::GuardedBlock(DWORD capacityBytes) {
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  const DWORD pageBytes = info.dwPageSize;
  const DWORD pages = capacityBytes == 0 ? 1 : (capacityBytes + pageBytes - 1) / pageBytes;
  BYTE* base = static_cast<BYTE*>(
      VirtualAlloc(nullptr, (pages + 1) * pageBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  if (!base) return;
  DWORD oldProtection = 0;
  if (!VirtualProtect(base + pages * pageBytes, pageBytes, PAGE_NOACCESS, &oldProtection)) {
    VirtualFree(base, 0, MEM_RELEASE);
    return;
  }
  base_ = base;
  capacityBytes_ = pages * pageBytes;
}

GuardedBlock::~GuardedBlock() {
  if (base_) VirtualFree(base_, 0, MEM_RELEASE);
}

BYTE* GuardedBlock::Reserve(DWORD sizeBytes) {
  if (!base_ || sizeBytes > capacityBytes_) return nullptr;
  return base_ + capacityBytes_ - sizeBytes;
}

BYTE* GuardedBlock::Place(const void* bytes, DWORD sizeBytes) {
  BYTE* block = Reserve(sizeBytes);
  if (block && sizeBytes > 0) std::memcpy(block, bytes, sizeBytes);
  return block;
}
