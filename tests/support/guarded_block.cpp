#include "tests/support/guarded_block.h"

GuardedBlock::GuardedBlock(DWORD capacityBytes) {
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  const DWORD pageBytes = info.dwPageSize;
  const DWORD usable = (capacityBytes + pageBytes - 1) / pageBytes * pageBytes;
  base_ = static_cast<BYTE*>(
      VirtualAlloc(nullptr, usable + pageBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD oldProtection = 0;
  // Without its guard page the block offers no room.
  if (base_ && VirtualProtect(base_ + usable, pageBytes, PAGE_NOACCESS, &oldProtection)) {
    capacityBytes_ = usable;
  }
}
