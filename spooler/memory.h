// Global-memory helpers. Every block they return is fixed, zero-filled and
// released with GlobalFree by whoever receives it.
#pragma once

#include "platform/win.h"

void* AllocSplMem(DWORD sizeBytes);
WCHAR* AllocSplStr(const WCHAR* text);
void* ReallocSplMem(void* oldBlock, DWORD oldSizeBytes, DWORD newSizeBytes);

// Releases a GlobalAlloc block when it leaves scope.
class GlobalBlock {
 public:
  explicit GlobalBlock(void* block = nullptr) : block_(block) {}
  ~GlobalBlock() {
    if (block_) GlobalFree(block_);
  }
  GlobalBlock(const GlobalBlock&) = delete;
  GlobalBlock& operator=(const GlobalBlock&) = delete;
  void* get() const { return block_; }
  void* release() {
    void* block = block_;
    block_ = nullptr;
    return block;
  }

 private:
  void* block_;
};
