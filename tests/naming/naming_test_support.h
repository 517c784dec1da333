// Shared by both naming programs: guarded buffers and prefix rules.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "naming/naming_internal.h"
#include "platform/registry_names.h"
#include "tests/support/registry_guard.h"
#include "tests/support/test_files.h"

// capacityChars of fill with guard characters behind, to catch overruns.
struct GuardedBuffer {
  explicit GuardedBuffer(size_t capacity, WCHAR fill = L'\0')
      : capacityChars(capacity), storage(capacity + 16, 0xCDCD) {
    std::fill(storage.begin(), storage.begin() + capacity, fill);
  }
  WCHAR* data() { return storage.data(); }
  std::wstring text() const {
    return std::wstring(storage.data(), wcsnlen(storage.data(), capacityChars));
  }
  bool GuardIntact() const {
    return std::all_of(storage.begin() + capacityChars, storage.end(),
                       [](WCHAR c) { return c == 0xCDCD; });
  }
  size_t capacityChars;
  std::vector<WCHAR> storage;
};

// The Prefix key, emptied for the test and restored afterwards.
class PrefixRulesTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey); }
  void AddRaw(const WCHAR* valueName, DWORD type, const void* data, DWORD sizeBytes) {
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kPrefixKey, valueName, type, data, sizeBytes),
              ERROR_SUCCESS);
  }
  void AddRule(const WCHAR* valueName, const std::wstring& prefix, DWORD type = REG_SZ) {
    AddRaw(valueName, type, prefix.c_str(), static_cast<DWORD>((prefix.size() + 1) * 2));
  }
  ScopedRegistryValues guard_{HKEY_LOCAL_MACHINE, kPrefixKey};
};

// ApplyValidityRules into sizeBytes with guard characters behind.
inline std::wstring Apply(const std::wstring& name, DWORD sizeBytes = 540) {
  GuardedBuffer result(sizeBytes / sizeof(WCHAR));
  ApplyValidityRules(name.c_str(), result.data(), sizeBytes);
  EXPECT_TRUE(result.GuardIntact()) << "wrote past " << sizeBytes << " bytes";
  return result.text();
}
