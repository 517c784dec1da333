// A key under HKEY_LOCAL_MACHINE, opened for one reading and closed on every
// way out.
#pragma once

#include "platform/win.h"

class RegistryKey {
 public:
  RegistryKey(const WCHAR* path, REGSAM access) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path, 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
  }
  ~RegistryKey() {
    if (key_) RegCloseKey(key_);
  }
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  // Null when the key could not be opened.
  HKEY get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};
