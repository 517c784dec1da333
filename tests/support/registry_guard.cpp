#include "tests/support/registry_guard.h"

#include "platform/holders.h"

namespace {

// Copies from\fromKey into to\toKey (created); false when from\fromKey is missing.
bool CopyKey(HKEY from, const std::wstring& fromKey, HKEY to, const std::wstring& toKey) {
  UniqueKey source, target;
  if (RegOpenKeyExW(from, fromKey.c_str(), 0, KEY_READ, source.put()) != ERROR_SUCCESS)
    return false;
  if (RegCreateKeyExW(to, toKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(),
                      nullptr) == ERROR_SUCCESS) {
    RegCopyTreeW(source.get(), nullptr, target.get());
  }
  return true;
}

}  // namespace

ScopedRegistryValues::ScopedRegistryValues(HKEY root, const WCHAR* subKey)
    : root_(root),
      subKey_(subKey),
      lock_(CreateMutexW(nullptr, FALSE, L"halvek-test-registry-lock")) {
  // An abandoned lock (a crashed test) is ours all the same.
  if (lock_) WaitForSingleObject(lock_, INFINITE);
  static LONG guards = 0;
  backup_ = L"Software\\HalvekTestBackup\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&guards));
  existed_ = CopyKey(root_, subKey_, HKEY_CURRENT_USER, backup_);
}

ScopedRegistryValues::~ScopedRegistryValues() {
  RegDeleteTreeW(root_, subKey_.c_str());
  if (existed_) CopyKey(HKEY_CURRENT_USER, backup_, root_, subKey_);
  RegDeleteTreeW(HKEY_CURRENT_USER, backup_.c_str());
  RegDeleteKeyW(HKEY_CURRENT_USER,
                L"Software\\HalvekTestBackup");  // fails while others hold copies
  if (lock_) {
    ReleaseMutex(lock_);
    CloseHandle(lock_);
  }
}

LONG SetRegistryValue(HKEY root, const WCHAR* subKey, const WCHAR* valueName, DWORD type,
                      const void* data, DWORD dataSizeBytes) {
  UniqueKey key;
  const LONG result =
      RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(), nullptr);
  if (result != ERROR_SUCCESS) return result;
  return RegSetValueExW(key.get(), valueName, 0, type, static_cast<const BYTE*>(data),
                        dataSizeBytes);
}

LONG SetRegistryString(HKEY root, const WCHAR* subKey, const WCHAR* valueName,
                       const std::wstring& text, DWORD type) {
  return SetRegistryValue(root, subKey, valueName, type, text.c_str(),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}
