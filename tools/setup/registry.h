// The setup tool's registry work, all under HKEY_LOCAL_MACHINE. Calls
// return 0 or the Win32 error; removing what is already gone succeeds.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/win.h"

namespace setup {

// parent\child
std::wstring SubKey(const std::wstring& parent, const std::wstring& child);

// A REG_SZ or REG_EXPAND_SZ value (unexpanded); another type is
// ERROR_INVALID_DATA.
DWORD ReadString(const std::wstring& keyPath, const WCHAR* valueName, std::wstring* value);
// Create the key when missing.
DWORD WriteString(const std::wstring& keyPath, const std::wstring& valueName,
                  const std::wstring& value);
DWORD WriteDword(const std::wstring& keyPath, const std::wstring& valueName, DWORD value);
// True only for a value that reads as a nonzero number.
bool ReadFlag(const std::wstring& keyPath, const WCHAR* valueName);

DWORD DeleteValue(const std::wstring& keyPath, const std::wstring& valueName);
DWORD DeleteTree(const std::wstring& keyPath);
// Deletes a key, then every parent up to (and including) stopKey that it
// leaves empty.
void DeleteKeyAndEmptyParents(std::wstring keyPath, const std::wstring& stopKey);

// Value names with their data as text (REG_SZ as is, REG_DWORD in decimal,
// anything else described); empty when the key is missing.
std::vector<std::pair<std::wstring, std::wstring>> ListValues(const std::wstring& keyPath);

}  // namespace setup
