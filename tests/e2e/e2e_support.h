// Helpers for the end-to-end tests: the operator tools run as separate client
// processes, and what the spooler, registry and output folder hold afterwards.
#pragma once

#include <gtest/gtest.h>

#include <map>
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

// Starts a program from the test's folder, its stdout and stderr going to a
// new file at log; an invalid handle when it cannot start.
inline UniqueHandle Start(const std::wstring& program, const std::wstring& arguments,
                          const std::wstring& log) {
  SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
  const UniqueFile output(CreateFileW(log.c_str(), GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = output.get();
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
  const UniqueHandle child = Start(program, arguments, L"C:\\e2e-run.txt");
  if (child.valid() && WaitForSingleObject(child.get(), INFINITE) == WAIT_OBJECT_0) {
    GetExitCodeProcess(child.get(), &result.exitCode);
  }
  result.output = ReadWholeFile(L"C:\\e2e-run.txt");
  return result;
}

inline RunResult Setup(const std::wstring& arguments) {
  return Run(L"halvek-setup.exe", arguments);
}

// What the tools touch: "key=value name" to its data, "port NAME", etc. to "".
using State = std::map<std::wstring, std::wstring>;

// Every value under an HKLM key.
inline void DumpRegTree(const std::wstring& key, State* state) {
  UniqueKey holder;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, holder.put())) return;
  WCHAR name[512], data[512];
  DWORD index = 0, nameChars = 512, type = 0, dataBytes = sizeof(data) - sizeof(WCHAR);
  while (!RegEnumValueW(holder.get(), index++, name, &nameChars, nullptr, &type,
                        reinterpret_cast<BYTE*>(data), &dataBytes)) {
    data[dataBytes / sizeof(WCHAR)] = L'\0';  // DWORDs in decimal, strings up to their end
    (*state)[key + L"=" + name] =
        type == REG_DWORD ? std::to_wstring(data[0] | DWORD{data[1]} << 16) : data;
    nameChars = 512, dataBytes = sizeof(data) - sizeof(WCHAR);
  }
  for (index = 0; !RegEnumKeyW(holder.get(), index, name, 512); ++index) {
    DumpRegTree(key + L"\\" + name, state);
  }
}

// Everything the tools touch in the spooler and the registry; a printer's
// attributes are its data.
inline State Snapshot() {
  State state;
  for (const std::wstring& name : tools::PrintProcessorNames(L"Windows x64")) state[name];
  for (const std::wstring& port : tools::PortNames()) state[L"port " + port];
  DWORD count = 0;
  const std::vector<BYTE> buffer = tools::Enumerated(
      [](BYTE* entries, DWORD sizeBytes, DWORD* neededBytes, DWORD* entryCount) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, entries, sizeBytes, neededBytes,
                             entryCount);
      },
      &count);
  for (DWORD i = 0; i < count; ++i) {
    const auto& printer = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data())[i];
    state[std::wstring(L"printer ") + printer.pPrinterName + L"|" + printer.pPortName + L"|" +
          printer.pPrintProcessor + L"|" + printer.pDatatype] = std::to_wstring(printer.Attributes);
  }
  DumpRegTree(kHalvekMonitorKey, &state);
  DumpRegTree(kVendorKey, &state);
  return state;
}

inline void EmptyFolder(const std::wstring& folder) {
  for (const std::wstring& name : ListFolder(folder)) DeleteFileW((folder + L"\\" + name).c_str());
}

}  // namespace e2e
