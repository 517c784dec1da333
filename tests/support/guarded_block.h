// Memory whose end touches a PAGE_NOACCESS page: a block placed there faults
// on any access past its last byte instead of passing unnoticed.
#pragma once

#include "platform/win.h"

class GuardedBlock {
 public:
  explicit GuardedBlock(DWORD capacityBytes = 4096);  // rounded up to whole pages
  ~GuardedBlock() { VirtualFree(base_, 0, MEM_RELEASE); }
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;

  // A copy of bytes ending at the guard page; null when it does not fit.
  BYTE* Place(const void* bytes, DWORD sizeBytes) {
    BYTE* block =
        base_ && sizeBytes <= capacityBytes_ ? base_ + capacityBytes_ - sizeBytes : nullptr;
    if (block) CopyMemory(block, bytes, sizeBytes);
    return block;
  }

 private:
  BYTE* base_ = nullptr;
  DWORD capacityBytes_ = 0;
};
