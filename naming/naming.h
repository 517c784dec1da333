// Output naming: turns a chosen name text into a safe base name, splits names
// into base and extension, finds a free path in the output folder, and the
// file checks the capture needs. Nothing here keeps state between calls.
#pragma once

#include "platform/registry_names.h"
#include "platform/win.h"

// A prefix rule's text as read: what the value holds and a terminator that
// the stored string may lack.
constexpr DWORD kPrefixTextCapacityChars = kPrefixReadLimitBytes / sizeof(WCHAR) + 1;

// The operator's prefix rule that a name matched, for whoever explains it.
struct PrefixRuleMatch {
  bool matched;
  WCHAR label[kPrefixLabelReadLimitChars];
  WCHAR prefix[kPrefixTextCapacityChars];
};

// Drops enclosing parentheses, removes the first matching operator prefix
// (kPrefixKey), makes the rest a valid file name of at most 70 characters
// and never leaves an empty, dot-only or reserved device name. A null name
// leaves validName untouched. match, when not null, tells which rule matched.
void ApplyValidityRules(const WCHAR* name, WCHAR* validName, DWORD validNameSizeBytes,
                        PrefixRuleMatch* match = nullptr);

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

// TRUE when a file or folder of that name exists.
BOOL FileExists(const WCHAR* path);

typedef BOOL(WINAPI* CreateHardLinkWFunction)(LPCWSTR newFileName, LPCWSTR existingFileName,
                                              LPSECURITY_ATTRIBUTES securityAttributes);

// The platform's CreateHardLinkW, or null when it has none.
CreateHardLinkWFunction GetCreateHardLinkW();
