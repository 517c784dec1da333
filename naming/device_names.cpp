// Reserved device names: a file name whose stem is one of them opens the
// device instead of a file in the folder.
#include <cwchar>

#include "naming/naming_internal.h"

namespace {

const WCHAR* const kDeviceNames[] = {
    L"CON",       L"PRN",       L"AUX",       L"NUL",       L"CONIN$", L"CONOUT$",   L"COM0",
    L"COM1",      L"COM2",      L"COM3",      L"COM4",      L"COM5",   L"COM6",      L"COM7",
    L"COM8",      L"COM9",      L"LPT0",      L"LPT1",      L"LPT2",   L"LPT3",      L"LPT4",
    L"LPT5",      L"LPT6",      L"LPT7",      L"LPT8",      L"LPT9",   L"COM\u00b9", L"COM\u00b2",
    L"COM\u00b3", L"LPT\u00b9", L"LPT\u00b2", L"LPT\u00b3",
};

// The part the platform compares: up to the first dot or colon, without
// trailing spaces.
size_t DeviceStemChars(const WCHAR* fileName, size_t lengthChars) {
  size_t stemChars = 0;
  while (stemChars < lengthChars && fileName[stemChars] != L'.' && fileName[stemChars] != L':') {
    ++stemChars;
  }
  while (stemChars > 0 && fileName[stemChars - 1] == L' ') --stemChars;
  return stemChars;
}

}  // namespace

BOOL IsReservedDeviceName(const WCHAR* fileName, DWORD lengthChars) {
  if (!fileName) return FALSE;
  size_t stemChars = DeviceStemChars(fileName, lengthChars);
  for (const WCHAR* device : kDeviceNames) {
    if (wcslen(device) == stemChars && _wcsnicmp(fileName, device, stemChars) == 0) return TRUE;
  }
  return FALSE;
}

DWORD AvoidReservedDeviceName(WCHAR* name, DWORD capacityChars) {
  if (!name || capacityChars == 0) return 0;
  size_t nameChars = wcsnlen(name, capacityChars - 1);
  name[nameChars] = L'\0';
  while (IsReservedDeviceName(name, static_cast<DWORD>(nameChars))) {
    if (nameChars + 1 < capacityChars) {
      size_t stemChars = DeviceStemChars(name, nameChars);
      wmemmove(name + stemChars + 1, name + stemChars, nameChars - stemChars + 1);
      name[stemChars] = L'_';
      ++nameChars;
    } else {
      name[--nameChars] = L'\0';
    }
  }
  return static_cast<DWORD>(nameChars);
}
