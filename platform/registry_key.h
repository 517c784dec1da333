// Keys under HKEY_LOCAL_MACHINE, opened for one reading and closed on every
// way out.
#pragma once

#include "platform/holders.h"

// Empty (get() null) when the key could not be opened.
inline UniqueKey OpenMachineKey(const WCHAR* path, REGSAM access) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key) != ERROR_SUCCESS) key = nullptr;
  return UniqueKey(key);
}
