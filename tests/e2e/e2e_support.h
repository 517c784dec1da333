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

using tools::Utf8;

constexpr wchar_t kPrinter[] = L"Halvek Capture";
constexpr wchar_t kPort[] = L"C:\\halvek.prn";
constexpr wchar_t kOutputFolder[] = L"C:\\e2e-out";

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

// Starts a program from the test's folder, its stdout and stderr going to
// output; an invalid handle when it cannot start.
inline UniqueHandle Start(const std::wstring& program, const std::wstring& arguments,
                          HANDLE output) {
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output;
  PROCESS_INFORMATION process = {};
  std::wstring line = Quote(tools::ModuleFolder() + L"\\" + program) + L" " + arguments;
  if (!CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                      &startup, &process)) {
    return UniqueHandle();
  }
  CloseHandle(process.hThread);
  return UniqueHandle(process.hProcess);
}

// Runs a program from the test's folder to its end.
inline RunResult Run(const std::wstring& program, const std::wstring& arguments) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  UniqueHandle readEnd, writeEnd;
  if (!CreatePipe(readEnd.put(), writeEnd.put(), &inherit, 0)) return result;
  SetHandleInformation(readEnd.get(), HANDLE_FLAG_INHERIT, 0);
  const UniqueHandle child = Start(program, arguments, writeEnd.get());
  writeEnd.reset();
  char buffer[4096];
  DWORD gotBytes = 0;
  while (ReadFile(readEnd.get(), buffer, sizeof(buffer), &gotBytes, nullptr) && gotBytes > 0) {
    result.output.append(buffer, gotBytes);
  }
  if (child.valid() && WaitForSingleObject(child.get(), INFINITE) == WAIT_OBJECT_0) {
    GetExitCodeProcess(child.get(), &result.exitCode);
  }
  return result;
}

inline RunResult Setup(const std::wstring& arguments) {
  return Run(L"halvek-setup.exe", arguments);
}

// Every key and value under an HKLM key, one line each.
inline void DumpRegTree(const std::wstring& key, std::vector<std::wstring>* lines) {
  UniqueKey holder;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, holder.put())) return;
  WCHAR name[512], data[512];
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = 512, type = 0, dataBytes = sizeof(data) - sizeof(WCHAR);
    if (RegEnumValueW(holder.get(), index, name, &nameChars, nullptr, &type,
                      reinterpret_cast<BYTE*>(data), &dataBytes)) {
      break;
    }
    data[dataBytes / sizeof(WCHAR)] = L'\0';  // DWORDs in decimal, strings up to their end
    lines->push_back(key + L"=" + name + L":" +
                     (type == REG_DWORD ? std::to_wstring(data[0] | DWORD{data[1]} << 16) : data));
  }
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = 512;
    if (RegEnumKeyExW(holder.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr)) {
      break;
    }
    DumpRegTree(key + L"\\" + name, lines);
  }
}

// Everything the tools touch in the spooler and the registry, sorted.
inline std::vector<std::wstring> Snapshot() {
  std::vector<std::wstring> state = tools::PrintProcessorNames(L"Windows x64");
  for (const std::wstring& port : tools::PortNames()) state.push_back(L"port " + port);
  DWORD count = 0;
  const std::vector<BYTE> buffer = tools::Enumerated(
      [](BYTE* entries, DWORD sizeBytes, DWORD* neededBytes, DWORD* entryCount) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, entries, sizeBytes, neededBytes,
                             entryCount);
      },
      &count);
  for (DWORD i = 0; i < count; ++i) {
    const auto& printer = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())[i];
    state.push_back(std::wstring(L"printer ") + printer.pPrinterName + L"|" + printer.pPortName +
                    L"|" + printer.pPrintProcessor + L"|" + printer.pDatatype + L"|" +
                    std::to_wstring(printer.Attributes));
  }
  DumpRegTree(kHalvekMonitorKey, &state);
  DumpRegTree(L"Software\\Halvek", &state);
  std::sort(state.begin(), state.end());
  return state;
}

inline void EmptyFolder(const std::wstring& folder) {
  for (const std::wstring& name : ListFolder(folder)) DeleteFileW((folder + L"\\" + name).c_str());
}

inline void InstallDefault() {
  const RunResult installed = Setup(L"install --output-folder " + std::wstring(kOutputFolder));
  ASSERT_EQ(installed.exitCode, 0u) << installed.output;
  EmptyFolder(kOutputFolder);
}

}  // namespace e2e
