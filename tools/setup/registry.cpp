#include "tools/setup/registry.h"

#include <cstring>

#include "platform/holders.h"
#include "tools/tool_support.h"

namespace setup {
namespace {

DWORD WriteValue(const std::wstring& keyPath, const std::wstring& valueName, DWORD type,
                 const void* data, DWORD sizeBytes) {
  UniqueKey key;
  DWORD error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, key.put(), nullptr);
  if (error) return error;
  return RegSetValueExW(key.get(), valueName.c_str(), 0, type, static_cast<const BYTE*>(data),
                        sizeBytes);
}

bool KeyIsEmpty(const std::wstring& keyPath) {
  UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put()))
    return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr)) {
    return false;
  }
  return subkeys == 0 && values == 0;
}

// What a listed value shows of its data.
std::wstring ValueText(DWORD type, const BYTE* data, DWORD dataBytes) {
  if (type == REG_SZ || type == REG_EXPAND_SZ) {
    std::wstring text(reinterpret_cast<const WCHAR*>(data), dataBytes / sizeof(WCHAR));
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return type == REG_EXPAND_SZ ? L"(not a rule: REG_EXPAND_SZ) " + text : text;
  }
  if (type == REG_DWORD && dataBytes == sizeof(DWORD)) {
    DWORD number = 0;
    std::memcpy(&number, data, sizeof(number));
    return std::to_wstring(number);
  }
  return L"(not a rule: type " + std::to_wstring(type) + L")";
}

}  // namespace

std::wstring SubKey(const std::wstring& parent, const std::wstring& child) {
  return parent + L"\\" + child;
}

DWORD ReadString(const std::wstring& keyPath, const WCHAR* valueName, std::wstring* value) {
  UniqueKey key;
  DWORD error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put());
  if (error) return error;
  DWORD type = 0;
  DWORD sizeBytes = 0;
  error = RegQueryValueExW(key.get(), valueName, nullptr, &type, nullptr, &sizeBytes);
  if (error) return error;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  std::vector<WCHAR> data(sizeBytes / sizeof(WCHAR) + 1, L'\0');
  error = RegQueryValueExW(key.get(), valueName, nullptr, &type,
                           reinterpret_cast<BYTE*>(data.data()), &sizeBytes);
  if (error) return error;
  *value = data.data();
  return 0;
}

DWORD WriteString(const std::wstring& keyPath, const std::wstring& valueName,
                  const std::wstring& value) {
  return WriteValue(keyPath, valueName, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

DWORD WriteDword(const std::wstring& keyPath, const std::wstring& valueName, DWORD value) {
  return WriteValue(keyPath, valueName, REG_DWORD, &value, sizeof(value));
}

bool ReadFlag(const std::wstring& keyPath, const WCHAR* valueName) {
  DWORD value = 0;
  return tools::ReadDword(HKEY_LOCAL_MACHINE, keyPath, valueName, &value) == 0 && value;
}

DWORD DeleteValue(const std::wstring& keyPath, const std::wstring& valueName) {
  UniqueKey key;
  DWORD error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, key.put());
  if (error == ERROR_FILE_NOT_FOUND) return 0;
  if (error) return error;
  error = RegDeleteValueW(key.get(), valueName.c_str());
  return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

DWORD DeleteTree(const std::wstring& keyPath) {
  const DWORD error = RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());
  if (error == ERROR_FILE_NOT_FOUND) return 0;
  if (error) return error;
  return RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str()) == ERROR_ACCESS_DENIED
             ? ERROR_ACCESS_DENIED
             : 0;
}

void DeleteKeyAndEmptyParents(std::wstring keyPath, const std::wstring& stopKey) {
  DeleteTree(keyPath);
  while (keyPath.size() > stopKey.size()) {
    keyPath = keyPath.substr(0, keyPath.find_last_of(L'\\'));
    if (!KeyIsEmpty(keyPath)) return;
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
  }
}

std::vector<std::pair<std::wstring, std::wstring>> ListValues(const std::wstring& keyPath) {
  std::vector<std::pair<std::wstring, std::wstring>> result;
  UniqueKey key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put()))
    return result;
  for (DWORD index = 0;; ++index) {
    WCHAR name[16384];
    DWORD nameChars = 16384;
    BYTE data[4096] = {};
    DWORD dataBytes = sizeof(data) - sizeof(WCHAR);
    DWORD type = 0;
    const DWORD error =
        RegEnumValueW(key.get(), index, name, &nameChars, nullptr, &type, data, &dataBytes);
    if (error == ERROR_MORE_DATA) {
      result.emplace_back(std::wstring(name, nameChars), L"(too long to be used)");
      continue;
    }
    if (error) break;
    result.emplace_back(std::wstring(name, nameChars), ValueText(type, data, dataBytes));
  }
  return result;
}

}  // namespace setup
