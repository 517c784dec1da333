#include "tools/tool_support.h"

#include <cstdlib>
#include <cwchar>

namespace tools {
namespace {

void Write(HANDLE stream, const std::wstring& text) {
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

long ToLong(const char* text, char** end) {
  return std::strtol(text, end, 10);
}
long ToLong(const wchar_t* text, wchar_t** end) {
  return std::wcstol(text, end, 10);
}

template <typename Char>
bool ParseNumberOf(const Char* text, long low, long high, long* number) {
  Char* end = nullptr;
  const long value = ToLong(text, &end);
  if (!end || end == text || *end || value < low || value > high) return false;
  *number = value;
  return true;
}

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

}  // namespace

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int sizeBytes = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                            nullptr, 0, nullptr, nullptr);
  if (sizeBytes <= 0) return {};
  std::string bytes(static_cast<size_t>(sizeBytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), &bytes[0], sizeBytes,
                      nullptr, nullptr);
  return bytes;
}

void Say(const std::wstring& line) {
  Write(GetStdHandle(STD_OUTPUT_HANDLE), line + L"\n");
}

void Complain(const wchar_t* tool, const std::wstring& line) {
  Write(GetStdHandle(STD_ERROR_HANDLE), tool + (L": " + line) + L"\n");
}

std::wstring ErrorText(DWORD error) {
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

bool ParseNumber(const char* text, long low, long high, long* number) {
  return ParseNumberOf(text, low, high, number);
}
bool ParseNumber(const wchar_t* text, long low, long high, long* number) {
  return ParseNumberOf(text, low, high, number);
}

std::wstring ModuleFolder() {
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

std::wstring SystemFolder() {
  WCHAR path[MAX_PATH] = {};
  const UINT lengthChars = GetSystemDirectoryW(path, MAX_PATH);
  return lengthChars && lengthChars < MAX_PATH ? std::wstring(path)
                                               : std::wstring(L"C:\\windows\\system32");
}

bool FileExists(const std::wstring& path) {
  return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

DWORD ReadDword(HKEY root, const std::wstring& keyPath, const WCHAR* valueName, DWORD* value) {
  UniqueKey key;
  DWORD error = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, key.put());
  if (error) return error;
  DWORD type = 0;
  DWORD sizeBytes = sizeof(*value);
  error = RegQueryValueExW(key.get(), valueName, nullptr, &type, reinterpret_cast<BYTE*>(value),
                           &sizeBytes);
  if (!error && (type != REG_DWORD || sizeBytes != sizeof(*value))) return ERROR_INVALID_DATA;
  return error;
}

std::vector<std::wstring> PrintProcessorNames(const WCHAR* environment) {
  return EnumeratedNames<PRINTPROCESSOR_INFO_1W>(
      [environment](BYTE* buffer, DWORD sizeBytes, DWORD* neededBytes, DWORD* count) {
        return EnumPrintProcessorsW(nullptr, const_cast<WCHAR*>(environment), 1, buffer, sizeBytes,
                                    neededBytes, count);
      });
}

std::vector<std::wstring> PrinterDriverNames(const WCHAR* environment) {
  return EnumeratedNames<DRIVER_INFO_1W>(
      [environment](BYTE* buffer, DWORD sizeBytes, DWORD* neededBytes, DWORD* count) {
        return EnumPrinterDriversW(nullptr, const_cast<WCHAR*>(environment), 1, buffer, sizeBytes,
                                   neededBytes, count);
      });
}

std::vector<std::wstring> PortNames() {
  return EnumeratedNames<PORT_INFO_1W>(
      [](BYTE* buffer, DWORD sizeBytes, DWORD* neededBytes, DWORD* count) {
        return EnumPortsW(nullptr, 1, buffer, sizeBytes, neededBytes, count);
      });
}

bool ContainsNoCase(const std::vector<std::wstring>& names, const std::wstring& wanted) {
  for (const std::wstring& name : names) {
    if (_wcsicmp(name.c_str(), wanted.c_str()) == 0) return true;
  }
  return false;
}

}  // namespace tools
