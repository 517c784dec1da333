// Registry names that the print processor reads and the setup tool writes,
// all under HKEY_LOCAL_MACHINE, and the limits the capture reads them with.
#pragma once

#include "platform/win.h"

// String literals joined at compile time, so that each path is written once.
#define HALVEK_PRINT_KEY L"SYSTEM\\CurrentControlSet\\Control\\Print"
#define HALVEK_VENDOR_KEY L"Software\\Halvek"
#define HALVEK_SPOOLER_SETTINGS_KEY HALVEK_VENDOR_KEY L"\\Vornak\\Spooler"
#define HALVEK_MONITOR_KEY HALVEK_PRINT_KEY L"\\Monitors\\Halvek Port"

// Everything of ours in the registry lies under this key.
constexpr WCHAR kVendorKey[] = HALVEK_VENDOR_KEY;

// The spooler's printers: one subkey per printer.
constexpr WCHAR kPrintersKey[] = HALVEK_PRINT_KEY L"\\Printers";
// A string under kPrintersKey: the folder of the spool files.
constexpr WCHAR kDefaultSpoolDirectoryValue[] = L"DefaultSpoolDirectory";
// A string under a printer's subkey: the name of its port.
constexpr WCHAR kPortValue[] = L"Port";

// The port monitor of the capture ports, and its ports: one subkey per port.
constexpr WCHAR kHalvekMonitorKey[] = HALVEK_MONITOR_KEY;
constexpr WCHAR kHalvekPortsKey[] = HALVEK_MONITOR_KEY L"\\Ports";
// A string under a port's subkey: the output folder; environment variables
// are expanded.
constexpr WCHAR kOutputPathValue[] = L"OutputPath";

// The operator's settings of the capture.
constexpr WCHAR kSpoolerSettingsKey[] = HALVEK_SPOOLER_SETTINGS_KEY;
// A number; 0 leaves document titles uninterpreted. Missing: 1.
constexpr WCHAR kInterpretTitleValue[] = L"InterpretTitle";
// A number; 0 makes every capture copy the job instead of hard-linking the
// spool file (a link shares the spool file's security, which consumers of
// the output folder may not be able to read). Missing: 1.
constexpr WCHAR kHardLinksValue[] = L"HardLinks";
// A string: the file the capture appends its traces to, one line each.
// Missing or empty: no log.
constexpr WCHAR kCaptureLogValue[] = L"CaptureLog";
// Strings, each a prefix removed from the front of a name; any value name.
constexpr WCHAR kPrefixKey[] = HALVEK_SPOOLER_SETTINGS_KEY L"\\Prefix";

// What the setup tool installed, so that uninstall removes just that.
#define HALVEK_SETUP_KEY HALVEK_VENDOR_KEY L"\\Vornak\\Setup"
constexpr WCHAR kSetupKey[] = HALVEK_SETUP_KEY;
// One value per printer it set up, whose data is the printer's port.
constexpr WCHAR kSetupPrintersKey[] = HALVEK_SETUP_KEY L"\\Printers";
// One value per port it added.
constexpr WCHAR kSetupPortsKey[] = HALVEK_SETUP_KEY L"\\Ports";
// Numbers, 1 when it copied the library into the system folder or wrote
// the spooler's spool folder value.
constexpr WCHAR kLibraryCopiedValue[] = L"LibraryCopied";
constexpr WCHAR kSpoolDirectoryWrittenValue[] = L"SpoolDirectoryWritten";

// Below it, ENVIRONMENT\Print Processors\NAME registers a print processor.
constexpr WCHAR kPrintEnvironmentsKey[] = HALVEK_PRINT_KEY L"\\Environments";
constexpr WCHAR kPrintProcessorsSubkey[] = L"Print Processors";

#undef HALVEK_SETUP_KEY
#undef HALVEK_MONITOR_KEY
#undef HALVEK_SPOOLER_SETTINGS_KEY
#undef HALVEK_PRINT_KEY

// The capture reads string values with these limits in bytes, terminator
// included: a longer value is not read at all. Whoever writes them keeps
// within (kPathValueBytes / sizeof(WCHAR) - 1 characters, and so on).
constexpr DWORD kPathValueBytes = 260;  // DefaultSpoolDirectory, OutputPath
constexpr DWORD kPortValueBytes = 32;   // Port
// The capture log's path in characters, terminator included.
constexpr DWORD kCaptureLogPathChars = MAX_PATH;
// A prefix rule's label in characters and its prefix in bytes.
constexpr DWORD kPrefixLabelReadLimitChars = 260;
constexpr DWORD kPrefixReadLimitBytes = 260;
