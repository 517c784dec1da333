#include "tests/e2e/e2e_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <cwctype>

namespace e2e {

namespace {

using tools::HandleHolder;
using tools::KeyHolder;

// The current environment with some variables replaced, as a CreateProcessW
// block (sorted, case-insensitive names).
std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& overrides) {
  std::map<std::wstring, std::wstring> variables;
  WCHAR* strings = GetEnvironmentStringsW();
  for (const WCHAR* entry = strings; entry && *entry; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    const size_t equals = text.find(L'=', 1);
    if (equals == std::wstring::npos) continue;
    std::wstring name = text.substr(0, equals);
    std::transform(name.begin(), name.end(), name.begin(), ::towupper);
    variables[name] = text;
  }
  if (strings) FreeEnvironmentStringsW(strings);
  for (const auto& entry : overrides) {
    std::wstring name = entry.first;
    std::transform(name.begin(), name.end(), name.begin(), ::towupper);
    variables[name] = entry.first + L"=" + entry.second;
  }
  std::wstring block;
  for (const auto& entry : variables) block += entry.second + L'\0';
  block += L'\0';
  return block;
}

}  // namespace

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

std::wstring Quote(const std::wstring& text) {
  return L"\"" + text + L"\"";
}

RunResult Run(const std::wstring& commandLine,
              const std::map<std::wstring, std::wstring>& environment) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  HandleHolder readEnd, writeEnd;
  if (!CreatePipe(&readEnd.handle, &writeEnd.handle, &inherit, 0)) return result;
  SetHandleInformation(readEnd.handle, HANDLE_FLAG_INHERIT, 0);
  HandleHolder input;
  input.handle = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                             OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.handle;
  startup.hStdOutput = writeEnd.handle;
  startup.hStdError = writeEnd.handle;
  PROCESS_INFORMATION process = {};
  std::wstring mutableLine = commandLine;
  std::wstring block = EnvironmentBlock(environment);
  if (!CreateProcessW(nullptr, &mutableLine[0], nullptr, nullptr, TRUE,
                      CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &block[0], nullptr, &startup,
                      &process)) {
    result.output = "CreateProcessW failed: " + std::to_string(GetLastError());
    return result;
  }
  CloseHandle(writeEnd.handle);
  writeEnd.handle = nullptr;
  char buffer[4096];
  DWORD gotBytes = 0;
  while (ReadFile(readEnd.handle, buffer, sizeof(buffer), &gotBytes, nullptr) && gotBytes > 0) {
    result.output.append(buffer, gotBytes);
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

std::wstring BinFolder() {
  return tools::ModuleFolder();
}

std::wstring ExamplesFolder() {
  std::wstring path = L"Z:";
  for (const char* unix = HALVEK_EXAMPLES_DIR; *unix; ++unix) {
    path += *unix == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*unix));
  }
  return path;
}

std::wstring TempFolder() {
  const std::wstring folder = L"C:\\e2e-jobs";
  CreateDirectoryW(folder.c_str(), nullptr);
  return folder;
}

std::wstring SpoolFolder() {
  return tools::SystemFolder() + L"\\spool\\PRINTERS";
}

RunResult Setup(const std::wstring& arguments) {
  return Run(Quote(BinFolder() + L"\\halvek-setup.exe") + L" " + arguments);
}

RunResult Print(const std::wstring& arguments,
                const std::map<std::wstring, std::wstring>& environment) {
  return Run(Quote(BinFolder() + L"\\halvek-print.exe") + L" " + arguments, environment);
}

RunResult PrintTraced(const std::wstring& arguments,
                      const std::map<std::wstring, std::wstring>& environment) {
  WCHAR unixPath[MAX_PATH] = {};
  const DWORD lengthChars = GetEnvironmentVariableW(L"HALVEK_E2E_TRACE", unixPath, MAX_PATH);
  std::wstring trace;
  if (lengthChars && lengthChars < MAX_PATH) {
    trace = L"Z:";
    for (const WCHAR* unit = unixPath; *unit; ++unit) trace += *unit == L'/' ? L'\\' : *unit;
  }
  std::string before;
  if (!trace.empty()) ReadFileBytes(trace, &before);
  std::map<std::wstring, std::wstring> traced = environment;
  traced[L"WINEDEBUG"] = kSpoolerTrace;
  RunResult result = Print(arguments, traced);
  std::string after;
  if (!trace.empty() && ReadFileBytes(trace, &after) && after.size() >= before.size()) {
    result.output += after.substr(before.size());
  } else {
    result.output += "(no trace: run through run-group.sh)";
  }
  return result;
}

void EmptyFolder(const std::wstring& folder) {
  for (const std::wstring& name : ListFolder(folder)) DeleteFileW((folder + L"\\" + name).c_str());
}

bool ReadRegString(const std::wstring& key, const std::wstring& value, std::wstring* text,
                   DWORD limitBytes) {
  KeyHolder holder;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &holder.key)) return false;
  std::vector<BYTE> data(limitBytes + sizeof(WCHAR), 0);
  DWORD type = 0;
  DWORD sizeBytes = limitBytes;
  if (RegQueryValueExW(holder.key, value.c_str(), nullptr, &type, data.data(), &sizeBytes)) {
    return false;
  }
  if (type != REG_SZ && type != REG_EXPAND_SZ) return false;
  *text = reinterpret_cast<const WCHAR*>(data.data());
  return true;
}

bool ReadRegDword(const std::wstring& key, const std::wstring& value, DWORD* number) {
  return tools::ReadDword(HKEY_LOCAL_MACHINE, key, value.c_str(), number) == 0;
}

bool RegKeyExists(const std::wstring& key) {
  KeyHolder holder;
  return RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_QUERY_VALUE, &holder.key) == 0;
}

std::vector<std::wstring> DumpRegTree(const std::wstring& key) {
  std::vector<std::wstring> lines;
  KeyHolder holder;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, &holder.key)) return lines;
  lines.push_back(L"[" + key + L"]");
  for (DWORD index = 0;; ++index) {
    WCHAR name[512];
    DWORD nameChars = 512;
    BYTE data[2048] = {};
    DWORD dataBytes = sizeof(data) - sizeof(WCHAR);
    DWORD type = 0;
    if (RegEnumValueW(holder.key, index, name, &nameChars, nullptr, &type, data, &dataBytes)) break;
    std::wstring datum;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      datum = reinterpret_cast<const WCHAR*>(data);
    } else if (type == REG_DWORD) {
      DWORD number = 0;
      memcpy(&number, data, sizeof(number));
      datum = std::to_wstring(number);
    }
    lines.push_back(std::wstring(name, nameChars) + L"=" + std::to_wstring(type) + L":" + datum);
  }
  std::vector<std::wstring> subkeys;
  for (DWORD index = 0;; ++index) {
    WCHAR name[512];
    DWORD nameChars = 512;
    if (RegEnumKeyExW(holder.key, index, name, &nameChars, nullptr, nullptr, nullptr, nullptr)) {
      break;
    }
    subkeys.emplace_back(name, nameChars);
  }
  for (const std::wstring& subkey : subkeys) {
    const auto below = DumpRegTree(key + L"\\" + subkey);
    lines.insert(lines.end(), below.begin(), below.end());
  }
  return lines;
}

std::vector<std::wstring> PrintProcessors() {
  std::vector<std::wstring> names = tools::PrintProcessorNames(L"Windows x64");
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::wstring> Ports() {
  std::vector<std::wstring> names = tools::PortNames();
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<PrinterInfo> Printers() {
  std::vector<PrinterInfo> printers;
  DWORD count = 0;
  const std::vector<BYTE> buffer = tools::Enumerated(
      [](BYTE* entries, DWORD sizeBytes, DWORD* neededBytes, DWORD* entryCount) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, entries, sizeBytes, neededBytes,
                             entryCount);
      },
      &count);
  if (buffer.empty()) return printers;
  const auto* entries = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  auto text = [](const WCHAR* value) { return std::wstring(value ? value : L""); };
  for (DWORD index = 0; index < count; ++index) {
    printers.push_back({text(entries[index].pPrinterName), text(entries[index].pPortName),
                        text(entries[index].pDriverName), text(entries[index].pPrintProcessor),
                        text(entries[index].pDatatype)});
  }
  std::sort(printers.begin(), printers.end(),
            [](const PrinterInfo& a, const PrinterInfo& b) { return a.name < b.name; });
  return printers;
}

void InstallDefault() {
  const RunResult installed = Setup(L"install --output-folder " + std::wstring(kOutputFolder));
  ASSERT_EQ(installed.exitCode, 0u) << installed.output;
  EmptyFolder(kOutputFolder);
}

}  // namespace e2e
