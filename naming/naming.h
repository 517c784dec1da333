// Output naming: turns a chosen name text into a safe base name, splits names
// into base and extension, finds a free path in the output folder, and the
// file checks the capture needs. Nothing here keeps state between calls.
#pragma once

#include "platform/win.h"

// Longest base name ApplyValidityRules produces, in characters.
constexpr DWORD kMaxBaseNameChars = 70;
// Size of the working copies, in characters (terminator included).
constexpr DWORD kNameWorkCapacityChars = 260;

// Drops enclosing parentheses, removes the first matching operator prefix
// (HKLM "Software\Halvek\Vornak\Spooler\Prefix"), makes the rest a valid file
// name of at most 70 characters and never leaves an empty, dot-only or
// reserved device name. A null name leaves validName untouched.
void ApplyValidityRules(const WCHAR* name, WCHAR* validName, DWORD validNameSizeBytes);

// Trims white space, replaces characters unfit for a file name or missing from
// the ANSI code page by "_" and drops leading "_" unless nothing else is left.
// Returns 1 when a name was written (zero-terminated, at most
// destinationCapacityChars including the terminator), 0 for an empty or null
// source or a zero capacity, in which case nothing is written.
DWORD ValidName(const WCHAR* source, WCHAR* destination, DWORD destinationCapacityChars);

// Splits at the last dot when at most 4 characters follow it. Both buffers
// are zero-filled and always terminated.
void ExtractBaseNameAndExtension(const WCHAR* source, WCHAR* baseName, DWORD baseNameSizeBytes,
                                 WCHAR* extension, DWORD extensionSizeBytes);

// Composes "<folder><base>.<ext>" and its ticket twin "<folder><base>.XPF",
// numbered from firstNumber upward while the data path is taken (or, with
// ticketMustBeFree, the ticket path). Both paths share one stem, lie directly
// in outputFolder, end in no dot or space (the platform would drop them) and
// stay below MAX_PATH and pathCapacityChars (the base name is shortened,
// keeping its end). Returns FALSE with both paths empty when even a
// one-character base cannot fit.
BOOL FindUniqueNameForOutputFile(LONG firstNumber, const WCHAR* outputFolder, const WCHAR* baseName,
                                 const WCHAR* extension, WCHAR* dataPath, WCHAR* ticketPath,
                                 DWORD pathCapacityChars, BOOL ticketMustBeFree);

// Makes an output under the name's path in dataPath. Fails with
// ERROR_FILE_EXISTS or ERROR_ALREADY_EXISTS when the path (or the ticket path
// it also takes) appeared since the probe, with another error otherwise.
typedef BOOL (*MakeOutputFunction)(void* context, const WCHAR* dataPath, const WCHAR* ticketPath);

// Finds a free name (FindUniqueNameForOutputFile; withTicket: the ticket path
// must be free too) and makes the output there. A name taken after the probe
// is probed again, so nothing that exists is ever opened or replaced. FALSE
// with the last error when no name is left or make fails otherwise.
BOOL ClaimOutputName(LONG jobId, const WCHAR* outputFolder, const WCHAR* validName,
                     const WCHAR* extension, BOOL withTicket, WCHAR* dataPath, WCHAR* ticketPath,
                     DWORD pathCapacityChars, MakeOutputFunction make, void* context);

// The C0 and C1 control characters and DEL: never part of a file name.
inline bool IsControlCharacter(WCHAR c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

// TRUE when a file or folder of that name exists.
BOOL FileExists(const WCHAR* path);

typedef BOOL(WINAPI* CreateHardLinkWFunction)(LPCWSTR newFileName, LPCWSTR existingFileName,
                                              LPSECURITY_ATTRIBUTES securityAttributes);

// The platform's CreateHardLinkW, or null when it has none.
CreateHardLinkWFunction GetCreateHardLinkW();

// TRUE when Windows would open the file name (one path component) as a
// device: CON, PRN, AUX, NUL, COM0-9, LPT0-9 (also with superscript 1-3),
// CONIN$, CONOUT$, in any case, with or without extension, trailing spaces.
BOOL IsReservedDeviceName(const WCHAR* fileName, DWORD lengthChars);

// Makes a reserved device name an ordinary one in the smallest way: "_" goes
// straight after the device stem ("CON" -> "CON_", "aux.txt" -> "aux_.txt");
// when the name already fills capacityChars (terminator included), its last
// character goes first. Returns the new length in characters.
DWORD AvoidReservedDeviceName(WCHAR* name, DWORD capacityChars);
