// Registry names that the print processor reads and the setup tool writes,
// all under HKEY_LOCAL_MACHINE, and the limits the processor reads them with.
#pragma once

#include "platform/win.h"

// ---- The spooler's own keys ----
// The spooler's printers; the spool folder is a value here, and each printer
// has a key below it.
constexpr WCHAR kSpoolerPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
constexpr WCHAR kDefaultSpoolDirectoryValue[] = L"DefaultSpoolDirectory";
// Under a printer's key: the name of its port.
constexpr WCHAR kPrinterPortValue[] = L"Port";
// Below it, ENVIRONMENT\Print Processors\NAME registers a print processor.
constexpr WCHAR kPrintEnvironmentsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments";
constexpr WCHAR kPrintProcessorsSubkey[] = L"Print Processors";

// ---- The capture's ports ----
// The capture's port monitor name; each capture port has a key below Ports.
constexpr WCHAR kCaptureMonitorKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port";
constexpr WCHAR kCapturePortsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port\\Ports";
// Under a capture port's key: the folder its jobs are captured into.
constexpr WCHAR kOutputPathValue[] = L"OutputPath";

// ---- The operator's settings of the capture ----
constexpr WCHAR kSpoolerSettingsKey[] = L"Software\\Halvek\\Vornak\\Spooler";
// A number; 0 leaves document titles uninterpreted. Missing: 1.
constexpr WCHAR kInterpretTitleValue[] = L"InterpretTitle";
// A number; 0 makes every capture copy the job instead of hard-linking the
// spool file (a link shares the spool file's security, which consumers of
// the output folder may not be able to read). Missing: 1.
constexpr WCHAR kHardLinksValue[] = L"HardLinks";
// Name prefix rules: each value's name is a label, its data a prefix.
constexpr WCHAR kPrefixRulesKey[] = L"Software\\Halvek\\Vornak\\Spooler\\Prefix";

// ---- What the setup tool installed, so that uninstall removes just that ----
constexpr WCHAR kSetupKey[] = L"Software\\Halvek\\Vornak\\Setup";
// One value per printer it set up, whose data is the printer's port.
constexpr WCHAR kSetupPrintersKey[] = L"Software\\Halvek\\Vornak\\Setup\\Printers";
// One value per port it added.
constexpr WCHAR kSetupPortsKey[] = L"Software\\Halvek\\Vornak\\Setup\\Ports";
// Numbers, 1 when it copied the library into the system folder or wrote
// the spooler's spool folder value.
constexpr WCHAR kLibraryCopiedValue[] = L"LibraryCopied";
constexpr WCHAR kSpoolDirectoryWrittenValue[] = L"SpoolDirectoryWritten";

// ---- Read limits of the print processor, terminator included ----
// A value that does not fit is read as missing, so whatever writes these
// must stay within them.
constexpr DWORD kPortReadLimitBytes = 32;
constexpr DWORD kOutputPathReadLimitBytes = 260;
constexpr DWORD kPrefixLabelReadLimitChars = 260;
constexpr DWORD kPrefixReadLimitBytes = 260;
