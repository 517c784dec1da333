// Helpers shared by the operator tools and their end-to-end tests: console
// output, error texts, arguments, folders, and the spooler's enumerations.
#pragma once

#include <string>
#include <vector>

#include "platform/holders.h"
#include "platform/win.h"

namespace tools {

std::string Utf8(const std::wstring& text);

// One line to standard output, or "TOOL: line" to standard error; console
// output as UTF-16, redirected output as UTF-8.
void Say(const std::wstring& line);
void Complain(const wchar_t* tool, const std::wstring& line);

// The system's message for a Win32 error, without its final period, and
// the error's number.
std::wstring ErrorText(DWORD error);

// A whole decimal argument within [low, high]; false for anything else.
bool ParseNumber(const char* text, long low, long high, long* number);
bool ParseNumber(const wchar_t* text, long low, long high, long* number);

// The folder of the running program, without a trailing backslash.
std::wstring ModuleFolder();
std::wstring SystemFolder();
bool FileExists(const std::wstring& path);

// Returns 0 or the Win32 error; a value of another type or size is
// ERROR_INVALID_DATA.
DWORD ReadDword(HKEY root, const std::wstring& keyPath, const WCHAR* valueName, DWORD* value);

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
std::vector<std::wstring> PrintProcessorNames(const WCHAR* environment);
std::vector<std::wstring> PrinterDriverNames(const WCHAR* environment);
std::vector<std::wstring> PortNames();

bool ContainsNoCase(const std::vector<std::wstring>& names, const std::wstring& wanted);

}  // namespace tools
