// Helpers for the end-to-end tests: the operator tools run as separate client
// processes, and what the spooler, registry and output folder hold afterwards.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/registry_names.h"
#include "platform/win.h"
#include "tests/support/test_files.h"
#include "tools/tool_support.h"

namespace e2e {

using tools::FileExists;
using tools::Utf8;

constexpr wchar_t kPrinter[] = L"Halvek Capture";
constexpr wchar_t kPort[] = L"C:\\halvek.prn";
constexpr wchar_t kOutputFolder[] = L"C:\\e2e-out";
const std::wstring kPortsKey = std::wstring(::kHalvekPortsKey) + L"\\";
const std::wstring kSpoolerKey = ::kSpoolerSettingsKey;
const std::wstring kPrefixKey = ::kPrefixKey;

struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;  // stdout and stderr together, UTF-8
};

inline bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

inline std::wstring Quote(const std::wstring& text) {
  return L"\"" + text + L"\"";
}

// Runs a program from the test's folder; winedebug, when given, is the
// child's WINEDEBUG.
inline RunResult Run(const std::wstring& program, const std::wstring& arguments,
                     const wchar_t* winedebug = nullptr) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return result;
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  UniqueFile input(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                               OPEN_EXISTING, 0, nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input.get();
  startup.hStdOutput = startup.hStdError = writeEnd.get();
  PROCESS_INFORMATION process = {};
  std::wstring line = Quote(tools::ModuleFolder() + L"\\" + program) + L" " + arguments;
  // Wine gives a child the Unix environment only from an explicit block.
  std::wstring block;
  WCHAR* strings = GetEnvironmentStringsW();
  for (const WCHAR* entry = strings; *entry; entry += wcslen(entry) + 1) {
    if (_wcsnicmp(entry, L"WINEDEBUG=", 10)) block += entry + std::wstring(1, L'\0');
  }
  FreeEnvironmentStringsW(strings);
  if (winedebug) block += L"WINEDEBUG=" + std::wstring(winedebug) + L'\0';
  block += L'\0';
  const BOOL created = CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE,
                                      CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, &block[0],
                                      nullptr, &startup, &process);
  if (!created) return result;
  const UniqueHandle thread(process.hThread), child(process.hProcess);
  writeEnd.reset();
  char buffer[4096];
  DWORD gotBytes = 0;
  while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &gotBytes, nullptr) && gotBytes > 0) {
    result.output.append(buffer, gotBytes);
  }
  WaitForSingleObject(child.get(), INFINITE);
  GetExitCodeProcess(child.get(), &result.exitCode);
  return result;
}

inline RunResult Setup(const std::wstring& arguments) {
  return Run(L"halvek-setup.exe", arguments);
}

inline std::wstring SpoolFolder() {
  return tools::SystemFolder() + L"\\spool\\PRINTERS";
}

inline void EmptyFolder(const std::wstring& folder) {
  for (const std::wstring& name : ListFolder(folder)) DeleteFileW((folder + L"\\" + name).c_str());
}

// An HKLM value as text (DWORDs in decimal), or "-" when missing.
inline std::wstring RegValue(const std::wstring& key, const wchar_t* name) {
  DWORD number = 0;
  if (tools::ReadDword(HKEY_LOCAL_MACHINE, key, name, &number) == 0) return std::to_wstring(number);
  WCHAR text[512] = {};
  DWORD sizeBytes = sizeof(text) - sizeof(WCHAR);
  return RegGetValueW(HKEY_LOCAL_MACHINE, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text,
                      &sizeBytes)
             ? L"-"
             : text;
}

inline std::vector<PRINTER_INFO_2W> Printers(std::vector<BYTE>* buffer) {
  DWORD count = 0;
  *buffer = tools::Enumerated(
      [](BYTE* entries, DWORD sizeBytes, DWORD* neededBytes, DWORD* entryCount) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, entries, sizeBytes, neededBytes,
                             entryCount);
      },
      &count);
  const auto* first = reinterpret_cast<const PRINTER_INFO_2W*>(buffer->data());
  return buffer->empty() ? std::vector<PRINTER_INFO_2W>()
                         : std::vector<PRINTER_INFO_2W>(first, first + count);
}

inline void InstallDefault() {
  const RunResult installed = Setup(L"install --output-folder " + std::wstring(kOutputFolder));
  ASSERT_EQ(installed.exitCode, 0u) << installed.output;
  EmptyFolder(kOutputFolder);
}

}  // namespace e2e
