#include "tests/support/guarded_block.h"

GuardedBlock::GuardedBlock(DWORD capacityBytes) {
  SYSTEM_INFO info = {};
  GetSystemInfo(&info);
  const DWORD pageBytes = info.dwPageSize;
  const DWORD usable = (capacityBytes + pageBytes - 1) / pageBytes * pageBytes;
  BYTE* base = static_cast<BYTE*>(
      VirtualAlloc(nullptr, usable + pageBytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  DWORD oldProtection = 0;
  if (base && !VirtualProtect(base + usable, pageBytes, PAGE_NOACCESS, &oldProtection)) {
    VirtualFree(base, 0, MEM_RELEASE);
    base = nullptr;
  }
  base_ = base;
  capacityBytes_ = base ? usable : 0;
}
