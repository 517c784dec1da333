// The job's parameter string and the copy count.
#pragma once

#include "platform/win.h"

enum class KeyValueType : DWORD { String = 1, Number = 2 };

extern const WCHAR pCopiesKey[];

// Looks a key up in a "KEY=value;" parameter string.
// Number: *sizeBytes must be at least 4; value is a DWORD.
// String: *sizeBytes is the value buffer's size in bytes; on success the
//         value's text is copied terminated and *sizeBytes becomes its length
//         in characters.
// Returns 0, ERROR_INVALID_PARAMETER, ERROR_INSUFFICIENT_BUFFER or ERROR_NO_DATA.
USHORT GetKeyValue(const WCHAR* parameters, const WCHAR* key, KeyValueType type, USHORT* sizeBytes,
                   void* value);

// PRINTER_INFO at `level` in a block the caller frees with GlobalFree, or null
// with the Win32 error in *error.
void* GetPrinterInfo(HANDLE printer, DWORD level, DWORD* error);

// The copy count a job gets from its parameters and its printer.
DWORD SettleCopyCount(const WCHAR* parameters, HANDLE printer);
