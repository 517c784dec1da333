#include "tests/support/registry_guard.h"

namespace {

const WCHAR kLockName[] = L"halvek-test-registry-lock";

bool ReadSnapshot(HKEY key, ScopedRegistryValues::Snapshot* snapshot) {
  DWORD subKeyCount = 0, maxSubKeyChars = 0, valueCount = 0, maxValueNameChars = 0,
        maxValueBytes = 0;
  if (RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subKeyCount, &maxSubKeyChars, nullptr,
                       &valueCount, &maxValueNameChars, &maxValueBytes, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    return false;
  }
  for (DWORD index = 0; index < valueCount; ++index) {
    std::vector<WCHAR> name(maxValueNameChars + 1);
    DWORD nameChars = static_cast<DWORD>(name.size());
    ScopedRegistryValues::Value value;
    value.data.resize(maxValueBytes + 1);
    DWORD dataBytes = static_cast<DWORD>(value.data.size());
    if (RegEnumValueW(key, index, name.data(), &nameChars, nullptr, &value.type, value.data.data(),
                      &dataBytes) != ERROR_SUCCESS) {
      return false;
    }
    value.name.assign(name.data(), nameChars);
    value.data.resize(dataBytes);
    snapshot->values.push_back(std::move(value));
  }
  for (DWORD index = 0; index < subKeyCount; ++index) {
    std::vector<WCHAR> name(maxSubKeyChars + 1);
    DWORD nameChars = static_cast<DWORD>(name.size());
    if (RegEnumKeyExW(key, index, name.data(), &nameChars, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      return false;
    }
    ScopedRegistryValues::Snapshot child;
    child.name.assign(name.data(), nameChars);
    HKEY childKey = nullptr;
    if (RegOpenKeyExW(key, child.name.c_str(), 0, KEY_READ, &childKey) != ERROR_SUCCESS) {
      return false;
    }
    bool read = ReadSnapshot(childKey, &child);
    RegCloseKey(childKey);
    if (!read) return false;
    snapshot->subKeys.push_back(std::move(child));
  }
  return true;
}

void WriteSnapshot(HKEY parent, const std::wstring& name,
                   const ScopedRegistryValues::Snapshot& snapshot) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(parent, name.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  for (const ScopedRegistryValues::Value& value : snapshot.values) {
    RegSetValueExW(key, value.name.c_str(), 0, value.type, value.data.data(),
                   static_cast<DWORD>(value.data.size()));
  }
  for (const ScopedRegistryValues::Snapshot& child : snapshot.subKeys) {
    WriteSnapshot(key, child.name, child);
  }
  RegCloseKey(key);
}

}  // namespace

ScopedRegistryValues::ScopedRegistryValues(HKEY root, const WCHAR* subKey)
    : root_(root), subKey_(subKey) {
  lock_ = CreateMutexW(nullptr, FALSE, kLockName);
  // An abandoned lock (a crashed test) is ours all the same.
  if (lock_) WaitForSingleObject(lock_, INFINITE);
  HKEY key = nullptr;
  if (RegOpenKeyExW(root_, subKey_.c_str(), 0, KEY_READ, &key) == ERROR_SUCCESS) {
    existed_ = true;
    ReadSnapshot(key, &snapshot_);
    RegCloseKey(key);
  }
}

ScopedRegistryValues::~ScopedRegistryValues() {
  RegDeleteTreeW(root_, subKey_.c_str());
  if (existed_) WriteSnapshot(root_, subKey_, snapshot_);
  if (lock_) {
    ReleaseMutex(lock_);
    CloseHandle(lock_);
  }
}

LONG SetRegistryValue(HKEY root, const WCHAR* subKey, const WCHAR* valueName, DWORD type,
                      const void* data, DWORD dataSizeBytes) {
  HKEY key = nullptr;
  LONG result = RegCreateKeyExW(root, subKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
  if (result != ERROR_SUCCESS) return result;
  result = RegSetValueExW(key, valueName, 0, type, static_cast<const BYTE*>(data), dataSizeBytes);
  RegCloseKey(key);
  return result;
}

LONG SetRegistryString(HKEY root, const WCHAR* subKey, const WCHAR* valueName,
                       const std::wstring& text, DWORD type) {
  return SetRegistryValue(root, subKey, valueName, type, text.c_str(),
                          static_cast<DWORD>((text.size() + 1) * sizeof(WCHAR)));
}

std::vector<std::wstring> RegistryValueNames(HKEY root, const WCHAR* subKey) {
  std::vector<std::wstring> names;
  HKEY key = nullptr;
  if (RegOpenKeyExW(root, subKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return names;
  for (DWORD index = 0;; ++index) {
    WCHAR name[16384];
    DWORD nameChars = 16384;
    LONG result = RegEnumValueW(key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) break;
    names.emplace_back(name, nameChars);
  }
  RegCloseKey(key);
  return names;
}
