// Registry names that the print processor reads and the setup tool writes,
// all under HKEY_LOCAL_MACHINE.
#pragma once

#include "platform/win.h"

// The operator's settings of the capture.
constexpr WCHAR kSpoolerSettingsKey[] = L"Software\\Halvek\\Vornak\\Spooler";
// A number; 0 leaves document titles uninterpreted. Missing: 1.
constexpr WCHAR kInterpretTitleValue[] = L"InterpretTitle";
// A number; 0 makes every capture copy the job instead of hard-linking the
// spool file (a link shares the spool file's security, which consumers of
// the output folder may not be able to read). Missing: 1.
constexpr WCHAR kHardLinksValue[] = L"HardLinks";
