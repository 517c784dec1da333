// Global-memory helpers. Every block they return is fixed, zero-filled and
// released with GlobalFree by whoever receives it (UniqueGlobal holds one).
#pragma once

#include "platform/holders.h"
#include "platform/win.h"

void* AllocSplMem(DWORD sizeBytes);
WCHAR* AllocSplStr(const WCHAR* text);
void* ReallocSplMem(void* oldBlock, DWORD oldSizeBytes, DWORD newSizeBytes);
