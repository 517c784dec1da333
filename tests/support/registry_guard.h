// Test helper: puts a registry key back as a test found it.
#pragma once

#include <string>
#include <vector>

#include "platform/win.h"

// Saves root\subKey (values and, recursively, subkeys) when constructed and
// restores exactly that when destroyed; a key that did not exist is removed
// again. While any guard lives it holds one lock shared by all guards of every
// process on the machine (the Wine prefix), so tests running side by side do
// not see each other's registry changes. Re-entrant on one thread; do not
// create guards on two threads of one test.
class ScopedRegistryValues {
 public:
  ScopedRegistryValues(HKEY root, const WCHAR* subKey);
  ~ScopedRegistryValues();
  ScopedRegistryValues(const ScopedRegistryValues&) = delete;
  ScopedRegistryValues& operator=(const ScopedRegistryValues&) = delete;

  // Whether the key existed at construction.
  bool existed() const { return existed_; }

  struct Value {
    std::wstring name;
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
  };
  struct Snapshot {
    std::wstring name;  // relative to the parent snapshot
    std::vector<Value> values;
    std::vector<Snapshot> subKeys;
  };

 private:
  HKEY root_;
  std::wstring subKey_;
  bool existed_ = false;
  Snapshot snapshot_;
  HANDLE lock_ = nullptr;
};

// Writes a value under root\subKey, creating the key. Returns the Win32 error.
LONG SetRegistryValue(HKEY root, const WCHAR* subKey, const WCHAR* valueName, DWORD type,
                      const void* data, DWORD dataSizeBytes);
// A REG_SZ (or REG_EXPAND_SZ) value holding text and its terminator.
LONG SetRegistryString(HKEY root, const WCHAR* subKey, const WCHAR* valueName,
                       const std::wstring& text, DWORD type = REG_SZ);
// Names of the values of root\subKey in the registry's enumeration order.
std::vector<std::wstring> RegistryValueNames(HKEY root, const WCHAR* subKey);
