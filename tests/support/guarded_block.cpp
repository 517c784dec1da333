#include "tests/support/guarded_block.h"

GuardedBlock::GuardedBlock(DWORD capacityBytes) {
  constexpr DWORD kPageBytes = 4096;  // on every Windows the project builds for (x64, ARM64)
  const DWORD usable = (capacityBytes + kPageBytes - 1) / kPageBytes * kPageBytes;
  base_ = static_cast<BYTE*>(
      VirtualAlloc(nullptr, usable + kPageBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD oldProtection = 0;
  // Without its guard page the block offers no room.
  if (base_ && VirtualProtect(base_ + usable, kPageBytes, PAGE_NOACCESS, &oldProtection)) {
    capacityBytes_ = usable;
  }
}
