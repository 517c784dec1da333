// Memory that ends where an inaccessible page begins: a block placed in it
// ends flush against a PAGE_NOACCESS page, so any read or write past the
// block's end faults at once instead of passing unnoticed.
#pragma once

#include "platform/win.h"

class GuardedBlock {
 public:
  // Room for blocks of up to capacityBytes (rounded up to whole pages).
  explicit GuardedBlock(DWORD capacityBytes = 4096);
  ~GuardedBlock();
  GuardedBlock(const GuardedBlock&) = delete;
  GuardedBlock& operator=(const GuardedBlock&) = delete;

  bool valid() const { return base_ != nullptr; }
  DWORD capacityBytes() const { return capacityBytes_; }
  // Copies sizeBytes of bytes so that the last one sits right before the
  // guard page and returns the copy; null when it does not fit. A block of
  // 0 bytes is the guard page's address itself.
  BYTE* Place(const void* bytes, DWORD sizeBytes);
  // An uninitialised area of sizeBytes flush against the guard page.
  BYTE* Reserve(DWORD sizeBytes);

 private:
  BYTE* base_ = nullptr;
  DWORD capacityBytes_ = 0;
};
