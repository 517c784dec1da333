#include "tests/support/registry_guard.h"

#include "platform/holders.h"

namespace {

// Copies from\fromKey into to\toKey (created, even when there is nothing to
// copy); false when from\fromKey is missing.
bool CopyKey(HKEY from, const std::wstring& fromKey, HKEY to, const std::wstring& toKey) {
  UniqueKey target;
  return RegCreateKeyExW(to, toKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, target.put(),
                         nullptr) == ERROR_SUCCESS &&
         RegCopyTreeW(from, fromKey.c_str(), target.get()) == ERROR_SUCCESS;
}

}  // namespace

ScopedRegistryValues::ScopedRegistryValues(HKEY root, const WCHAR* subKey)
    : root_(root),
      subKey_(subKey),
      lock_(CreateMutexW(nullptr, FALSE, L"halvek-test-registry-lock")) {
  // An abandoned lock (a crashed test) is ours all the same; without one
  // (null) the calls on it fail harmlessly.
  WaitForSingleObject(lock_, INFINITE);
  static LONG guards = 0;
  backup_ = L"Software\\HalvekTestBackup\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(InterlockedIncrement(&guards));
  existed_ = CopyKey(root_, subKey_, HKEY_CURRENT_USER, backup_);
}

ScopedRegistryValues::~ScopedRegistryValues() {
  RegDeleteTreeW(root_, subKey_.c_str());
  if (existed_) CopyKey(HKEY_CURRENT_USER, backup_, root_, subKey_);
  RegDeleteTreeW(HKEY_CURRENT_USER, backup_.c_str());
  // Fails while others hold copies.
  RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\HalvekTestBackup");
  ReleaseMutex(lock_);
  CloseHandle(lock_);
}

LONG SetRegistryValue(HKEY root, const WCHAR* subKey, const WCHAR* valueName, DWORD type,
                      const void* data, DWORD dataSizeBytes) {
  return RegSetKeyValueW(root, subKey, valueName, type, data, dataSizeBytes);
}

LONG SetRegistryString(HKEY root, const WCHAR* subKey, const WCHAR* valueName,
                       const std::wstring& text, DWORD type) {
  return SetRegistryValue(root, subKey, valueName, type, text.c_str(),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}
