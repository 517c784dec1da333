// Inside the naming: what the name rules and the output paths share.
#pragma once

#include "naming/naming.h"

// The C0 and C1 control characters and DEL: never part of a file name.
inline bool IsControlCharacter(WCHAR c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// TRUE when Windows would open the file name (one path component) as a
// device: CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with superscript 1-3),
// CONIN$, CONOUT$, in any case, with or without extension, trailing spaces.
BOOL IsReservedDeviceName(const WCHAR* fileName, DWORD lengthChars);

// Makes a reserved device name an ordinary one in the smallest way: "_" goes
// straight after the device stem ("CON" -> "CON_", "aux.txt" -> "aux_.txt");
// when the name already fills capacityChars (terminator included), its last
// character goes first. Returns the new length in characters.
DWORD AvoidReservedDeviceName(WCHAR* name, DWORD capacityChars);
