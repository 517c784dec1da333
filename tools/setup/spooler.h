// What the setup tool asks the local spooler, and its port commands.
#pragma once

#include <string>

#include "platform/win.h"

namespace setup {

// The folder the spooler loads print processors from; sets error to 0 or
// the Win32 error.
std::wstring PrintProcessorFolder(DWORD* error);
bool ProcessorRegistered();
// The driver the capture printers use: Wine's PostScript driver with our
// description under Wine, Windows' in-box PostScript class driver elsewhere.
std::wstring DriverToUse();
bool DriverInstalled(const std::wstring& driverName);
bool PortExists(const std::wstring& portName);
// "AddPort" or "DeletePort" of a file port; returns 0 or the Win32 error.
DWORD LocalPortCommand(const WCHAR* command, const std::wstring& portName);

struct PrinterSetting {
  bool exists = false;
  std::wstring port, driver, processor, datatype;
  DWORD attributes = 0;
};
PrinterSetting ReadPrinter(const std::wstring& printerName);

}  // namespace setup
