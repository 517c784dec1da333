// Helpers for the end-to-end tests: running the operator tools as separate
// client processes, and reading what the spooler, the registry and the output
// folder hold afterwards.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "platform/win.h"
#include "tests/support/test_files.h"
#include "tools/tool_support.h"

namespace e2e {

constexpr wchar_t kPrinter[] = L"Halvek Capture";
constexpr wchar_t kPort[] = L"C:\\halvek.prn";
constexpr wchar_t kOutputFolder[] = L"C:\\e2e-out";
constexpr wchar_t kPortsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port\\Ports";
constexpr wchar_t kPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
constexpr wchar_t kSpoolerKey[] = L"Software\\Halvek\\Vornak\\Spooler";
constexpr wchar_t kPrefixKey[] = L"Software\\Halvek\\Vornak\\Spooler\\Prefix";
// Wine's channels that show the spooler loading the processor, the
// processor's own debugger output and the spooler's verdict on the job.
constexpr wchar_t kSpoolerTrace[] = L"-all,+loaddll,warn+seh,warn+debugstr,+localspl,+winspool";

struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;  // stdout and stderr together, UTF-8
};

// Runs a command line with extra environment variables; waits for the end.
RunResult Run(const std::wstring& commandLine,
              const std::map<std::wstring, std::wstring>& environment = {});
// halvek-setup.exe / halvek-print.exe from the test's own folder.
RunResult Setup(const std::wstring& arguments);
RunResult Print(const std::wstring& arguments,
                const std::map<std::wstring, std::wstring>& environment = {});
std::wstring Quote(const std::wstring& text);
// Runs halvek-print with Wine's spooler channels on and returns, as output,
// what it printed followed by the trace lines that the run added.
RunResult PrintTraced(const std::wstring& arguments,
                      const std::map<std::wstring, std::wstring>& environment = {});

std::wstring BinFolder();
std::wstring ExamplesFolder();
std::wstring TempFolder();
std::wstring SpoolFolder();  // where Wine keeps the spool files

using tools::FileExists;
using tools::Utf8;
bool Contains(const std::string& text, const std::string& part);

// Deletes the files in a folder; the folder stays.
void EmptyFolder(const std::wstring& folder);

// HKLM reads; false when the key or value is missing or of another type.
bool ReadRegString(const std::wstring& key, const std::wstring& value, std::wstring* text,
                   DWORD limitBytes = 4096);
bool ReadRegDword(const std::wstring& key, const std::wstring& value, DWORD* number);
bool RegKeyExists(const std::wstring& key);
// Every key, value and datum under an HKLM key, one line each.
std::vector<std::wstring> DumpRegTree(const std::wstring& key);

std::vector<std::wstring> PrintProcessors();
std::vector<std::wstring> Ports();
struct PrinterInfo {
  std::wstring name, port, driver, processor, datatype;
};
std::vector<PrinterInfo> Printers();

// The default install into the test output folder, asserted to succeed.
void InstallDefault();

}  // namespace e2e
