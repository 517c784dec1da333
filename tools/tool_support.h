// Helpers shared by the operator tools and their end-to-end tests. Header
// only: every tool is built as a program of its own.
#pragma once

#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/holders.h"
#include "platform/win.h"

namespace tools {

struct KeyHolder {
  HKEY key = nullptr;
  KeyHolder() = default;
  KeyHolder(const KeyHolder&) = delete;
  KeyHolder& operator=(const KeyHolder&) = delete;
  ~KeyHolder() {
    if (key) RegCloseKey(key);
  }
};

struct PrinterHolder {
  HANDLE printer = nullptr;
  PrinterHolder() = default;
  PrinterHolder(const PrinterHolder&) = delete;
  PrinterHolder& operator=(const PrinterHolder&) = delete;
  ~PrinterHolder() {
    if (printer) ClosePrinter(printer);
  }
};

inline std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int sizeBytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                            nullptr, 0, nullptr, nullptr);
  if (sizeBytes <= 0) return {};
  std::string bytes(static_cast<size_t>(sizeBytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], sizeBytes,
                      nullptr, nullptr);
  return bytes;
}

// Console output as UTF-16, redirected output as UTF-8.
inline void Write(HANDLE stream, const std::wstring& text) {
  DWORD mode = 0;
  DWORD written = 0;
  if (GetConsoleMode(stream, &mode)) {
    WriteConsoleW(stream, text.c_str(), static_cast<DWORD>(text.size()), &written, nullptr);
    return;
  }
  const std::string bytes = Utf8(text);
  if (bytes.empty()) return;
  WriteFile(stream, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}

inline void Say(const std::wstring& line) {
  Write(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\n");
}

inline void Complain(const wchar_t* tool, const std::wstring& line) {
  Write(GetStdHandle(STD_ERROR_HANDLE), tool + (L": " + line) + L"\n");
}

// The system's message for a Win32 error, without its final period.
inline std::wstring ErrorText(DWORD error) {
  WCHAR* text = nullptr;
  const DWORD lengthChars = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, 0, reinterpret_cast<WCHAR*>(&text), 0, nullptr);
  std::wstring result = lengthChars ? std::wstring(text, lengthChars) : L"unknown error";
  if (text) LocalFree(text);
  while (!result.empty() && (result.back() == L'\n' || result.back() == L'\r' ||
                             result.back() == L' ' || result.back() == L'.')) {
    result.pop_back();
  }
  return result + L" (error " + std::to_wstring(error) + L")";
}

inline long ToLong(const char* text, char** end) {
  return std::strtol(text, end, 10);
}
inline long ToLong(const wchar_t* text, wchar_t** end) {
  return std::wcstol(text, end, 10);
}

// A whole decimal argument within [low, high]; false for anything else.
template <typename Char>
bool ParseNumber(const Char* text, long low, long high, long* number) {
  Char* end = nullptr;
  const long value = ToLong(text, &end);
  if (!end || end == text || *end || value < low || value > high) return false;
  *number = value;
  return true;
}

// The folder of the running program, without a trailing backslash.
inline std::wstring ModuleFolder() {
  std::vector<WCHAR> path(MAX_PATH);
  for (;;) {
    const DWORD lengthChars =
        GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (lengthChars == 0) return L".";
    if (lengthChars < path.size()) {
      std::wstring result(path.data(), lengthChars);
      const size_t slash = result.find_last_of(L"\\/");
      return slash == std::wstring::npos ? L"." : result.substr(0, slash);
    }
    path.resize(path.size() * 2);
  }
}

inline std::wstring SystemFolder() {
  WCHAR path[MAX_PATH] = {};
  const UINT lengthChars = GetSystemDirectoryW(path, MAX_PATH);
  return lengthChars && lengthChars < MAX_PATH ? std::wstring(path)
                                               : std::wstring(L"C:\\windows\\system32");
}

inline bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Returns 0 or the Win32 error; a value of another type or size is
// ERROR_INVALID_DATA.
inline DWORD ReadDword(HKEY root, const std::wstring& keyPath, const WCHAR* valueName,
                       DWORD* value) {
  KeyHolder key;
  DWORD error = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key.key);
  if (error) return error;
  DWORD type = 0;
  DWORD sizeBytes = sizeof(*value);
  error = RegQueryValueExW(key.key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(value),
                           &sizeBytes);
  if (!error && (type != REG_DWORD || sizeBytes != sizeof(*value))) return ERROR_INVALID_DATA;
  return error;
}

// The spooler's two-call enumerations: the filled buffer and the entry
// count, or an empty buffer when the call fails or there is nothing.
template <typename Enumerate>
std::vector<BYTE> Enumerated(Enumerate enumerate, DWORD* count) {
  DWORD neededBytes = 0;
  *count = 0;
  enumerate(nullptr, 0, &neededBytes, count);
  if (neededBytes == 0) return {};
  std::vector<BYTE> buffer(neededBytes);
  if (!enumerate(buffer.data(), neededBytes, &neededBytes, count)) return {};
  return buffer;
}

// The names of the spooler's entries of one kind; entries without a name
// are left out.
template <typename Info, typename Enumerate>
std::vector<std::wstring> EnumeratedNames(Enumerate enumerate) {
  DWORD count = 0;
  const std::vector<BYTE> buffer = Enumerated(enumerate, &count);
  std::vector<std::wstring> names;
  if (buffer.empty()) return names;
  const auto* entries = reinterpret_cast<const Info*>(buffer.data());
  for (DWORD index = 0; index < count; ++index) {
    if (entries[index].pName) names.push_back(entries[index].pName);
  }
  return names;
}

inline std::vector<std::wstring> PrintProcessorNames(const WCHAR* environment) {
  return EnumeratedNames<PRINTPROCESSOR_INFO_1W>(
      [environment](BYTE* buffer, DWORD sizeBytes, DWORD* neededBytes, DWORD* count) {
        return EnumPrintProcessorsW(nullptr, const_cast<WCHAR*>(environment), 1, buffer, sizeBytes,
                                    neededBytes, count);
      });
}

inline std::vector<std::wstring> PrinterDriverNames(const WCHAR* environment) {
  return EnumeratedNames<DRIVER_INFO_1W>(
      [environment](BYTE* buffer, DWORD sizeBytes, DWORD* neededBytes, DWORD* count) {
        return EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(environment), 1, buffer, sizeBytes,
                                   neededBytes, count);
      });
}

inline std::vector<std::wstring> PortNames() {
  return EnumeratedNames<PORT_INFO_1W>(
      [](BYTE* buffer, DWORD sizeBytes, DWORD* neededBytes, DWORD* count) {
        return EnumPortsW(nullptr, 1, buffer, sizeBytes, neededBytes, count);
      });
}

inline bool ContainsNoCase(const std::vector<std::wstring>& names, const std::wstring& wanted) {
  for (const std::wstring& name : names) {
    if (_wcsicmp(name.c_str(), wanted.c_str()) == 0) return true;
  }
  return false;
}

}  // namespace tools
