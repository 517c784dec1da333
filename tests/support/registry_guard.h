// Test helper: puts a registry key back as a test found it.
#pragma once

#include <string>

#include "platform/win.h"

// Copies root\subKey (values and subkeys) aside when constructed and puts
// exactly that back when destroyed; a key that did not exist is removed
// again. While any guard lives it holds one lock shared by every process in
// the Wine prefix, so tests running side by side do not see each other's
// changes. Re-entrant on one thread; not for two threads of one test.
class ScopedRegistryValues {
 public:
  ScopedRegistryValues(HKEY root, const WCHAR* subKey);
  ~ScopedRegistryValues();
  ScopedRegistryValues(const ScopedRegistryValues&) = delete;
  ScopedRegistryValues& operator=(const ScopedRegistryValues&) = delete;

 private:
  HKEY root_;
  std::wstring subKey_, backup_;
  bool existed_ = false;
  HANDLE lock_;
};

// Writes a value under root\subKey, creating the key. Returns the Win32 error.
LONG SetRegistryValue(HKEY root, const WCHAR* subKey, const WCHAR* valueName, DWORD type,
                      const void* data, DWORD dataSizeBytes);
// A REG_SZ (or REG_EXPAND_SZ) value holding text and its terminator.
LONG SetRegistryString(HKEY root, const WCHAR* subKey, const WCHAR* valueName,
                       const std::wstring& text, DWORD type = REG_SZ);
