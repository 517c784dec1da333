#include "spooler/memory.h"

#include <cstring>
#include <cwchar>

void* AllocSplMem(DWORD sizeBytes) {
  void* block = GlobalAlloc(GMEM_FIXED, sizeBytes);
  if (block) std::memset(block, 0, sizeBytes);
  return block;
}

WCHAR* AllocSplStr(const WCHAR* text) {
  if (!text) return nullptr;
  const size_t lengthChars = std::wcslen(text);
  const size_t sizeBytes = (lengthChars + 1) * sizeof(WCHAR);
  if (sizeBytes > MAXDWORD) return nullptr;
  WCHAR* copy = static_cast<WCHAR*>(AllocSplMem(static_cast<DWORD>(sizeBytes)));
  if (copy) std::memcpy(copy, text, sizeBytes);
  return copy;
}

void* ReallocSplMem(void* oldBlock, DWORD oldSizeBytes, DWORD newSizeBytes) {
  void* newBlock = AllocSplMem(newSizeBytes);
  if (!oldBlock || !newBlock) return newBlock;
  const DWORD copyBytes = oldSizeBytes < newSizeBytes ? oldSizeBytes : newSizeBytes;
  if (copyBytes) std::memcpy(newBlock, oldBlock, copyBytes);
  GlobalFree(oldBlock);
  return newBlock;
}
