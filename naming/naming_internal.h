// Inside the naming: the rules behind ApplyValidityRules and
// FindUniqueNameForOutputFile, reached one by one by their tests.
#pragma once

#include "naming/naming.h"

// Longest base name ApplyValidityRules produces, in characters.
constexpr DWORD kMaxBaseNameChars = 70;
// Size of the working copies, in characters (terminator included).
constexpr DWORD kNameWorkCapacityChars = 260;

// Trims white space, replaces characters unfit for a file name or missing from
// the ANSI code page by "_" and drops leading "_" unless nothing else is left.
// Returns 1 when a name was written (zero-terminated, at most
// destinationCapacityChars including the terminator), 0 for an empty or null
// source or a zero capacity, in which case nothing is written.
DWORD ValidName(const WCHAR* source, WCHAR* destination, DWORD destinationCapacityChars);

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
