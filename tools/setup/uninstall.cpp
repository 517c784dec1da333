// Uninstall: what install made, undone in reverse.
#include <vector>

#include "platform/holders.h"
#include "platform/registry_names.h"
#include "tools/setup/commands.h"
#include "tools/setup/common.h"
#include "tools/setup/registry.h"
#include "tools/setup/spooler.h"
#include "tools/tool_support.h"

namespace setup {
namespace {

using tools::Say;

// Every printer setup recorded, with its port's key (which carries the
// capture's output folder); keys of the monitor's other ports stay. A
// printer that cannot be deleted keeps its record, and stops the uninstall
// after the others.
int RemovePrinters() {
  int result = 0;
  for (const auto& entry : ListValues(kSetupPrintersKey)) {
    const std::wstring& printerName = entry.first;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    UniquePrinter printer;
    if (OpenPrinterW(const_cast<WCHAR*>(printerName.c_str()), printer.put(), &defaults) &&
        !DeletePrinter(printer.get())) {
      result = Fail(L"DeletePrinter \"" + printerName + L"\"", GetLastError());
      continue;
    }
    if (!entry.second.empty()) {
      DeleteKeyAndEmptyParents(SubKey(kHalvekPortsKey, entry.second), kHalvekMonitorKey);
    }
    DeleteValue(kSetupPrintersKey, printerName);
    Say(L"printer \"" + printerName + L"\" removed");
  }
  return result;
}

int RemovePorts() {
  for (const auto& entry : ListValues(kSetupPortsKey)) {
    const std::wstring& portName = entry.first;
    if (PortExists(portName)) {
      const DWORD error = LocalPortCommand(L"DeletePort", portName);
      if (error && error != ERROR_UNKNOWN_PORT)
        return Fail(L"deleting the port " + portName, error);
    }
    DeleteValue(kSetupPortsKey, portName);
  }
  return 0;
}

// Wine leaves the driver's files behind; the description file is ours.
void RemoveWineDriverFile() {
  WCHAR driverFolder[MAX_PATH] = {};
  DWORD neededBytes = 0;
  if (GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(kEnvironment), 1,
                                 reinterpret_cast<BYTE*>(driverFolder),
                                 sizeof(driverFolder) - sizeof(WCHAR), &neededBytes)) {
    DeleteFileW((std::wstring(driverFolder) + L"\\3\\" + kPpdFile).c_str());
  }
}

// Only the driver install adds under Wine; Windows' in-box driver stays.
int RemoveDriver() {
  // Wine knows no delete flags; Windows needs them to drop the files.
  if (DriverInstalled(kDriverName) &&
      !DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(kEnvironment),
                              const_cast<WCHAR*>(kDriverName), DPD_DELETE_UNUSED_FILES, 0) &&
      !DeletePrinterDriverW(nullptr, const_cast<WCHAR*>(kEnvironment),
                            const_cast<WCHAR*>(kDriverName)) &&
      GetLastError() != ERROR_UNKNOWN_PRINTER_DRIVER) {
    return Fail(L"deleting the driver \"" + std::wstring(kDriverName) + L"\"", GetLastError());
  }
  if (IsWine()) RemoveWineDriverFile();
  return 0;
}

int UnregisterProcessor() {
  if (!ProcessorRegistered()) return 0;
  if (!DeletePrintProcessorW(nullptr, const_cast<WCHAR*>(kEnvironment),
                             const_cast<WCHAR*>(kProcessorName))) {
    return Fail(L"DeletePrintProcessorW", GetLastError());
  }
  // Wine's DeletePrintProcessorW reports success and keeps the entry.
  if (IsWine() && ProcessorRegistered()) {
    const std::wstring processorKey =
        SubKey(SubKey(SubKey(kPrintEnvironmentsKey, kEnvironment), kPrintProcessorsSubkey),
               kProcessorName);
    if (DWORD error = DeleteTree(processorKey)) return Fail(L"removing the processor's key", error);
  }
  return 0;
}

// The DLLs beside the processor, and the library in the system folder
// when setup put it there.
int RemoveInstalledFiles() {
  DWORD error = 0;
  const std::wstring processorFolder = PrintProcessorFolder(&error);
  std::vector<std::wstring> files;
  if (!error) {
    files.push_back(processorFolder + L"\\" + kProcessorDll);
    files.push_back(processorFolder + L"\\" + kLibraryDll);
  }
  if (ReadFlag(kSetupKey, kLibraryCopiedValue)) {
    files.push_back(tools::SystemFolder() + L"\\" + kLibraryDll);
  }
  for (const std::wstring& file : files) {
    if (tools::FileExists(file) && !DeleteFileW(file.c_str())) {
      return FailInstalledFile(L"deleting " + file, GetLastError());
    }
  }
  return 0;
}

int RemoveSpoolDirectoryValue() {
  if (ReadFlag(kSetupKey, kSpoolDirectoryWrittenValue)) {
    DeleteValue(kPrintersKey, kDefaultSpoolDirectoryValue);
  }
  return 0;
}

int RemoveSetupRecord() {
  if (DWORD error = DeleteTree(kSetupKey)) return Fail(L"removing the setup record", error);
  return 0;
}

// What install makes, in the order that each needs what comes before it.
// A step that fails stops the uninstall, so that running it again finds
// what is left still recorded.
int (*const kUndoSteps[])() = {
    RemoveSetupRecord,          // the record of what install added
    RemoveSpoolDirectoryValue,  // the spooler's spool folder value
    RemoveInstalledFiles,       // the processor's and the library's DLLs
    UnregisterProcessor,        // the print processor's registration
    RemoveDriver,               // the driver under Wine
    RemovePorts,                // the capture ports
    RemovePrinters,             // the capture printers and their port keys
};

}  // namespace

int Uninstall() {
  constexpr size_t kStepCount = sizeof(kUndoSteps) / sizeof(kUndoSteps[0]);
  for (size_t index = kStepCount; index-- > 0;) {
    if (int code = kUndoSteps[index]()) return code;
  }
  Say(std::wstring(L"uninstalled; the name rules, ") + kInterpretTitleValue + L", " +
      kHardLinksValue + L" and " + kCaptureLogValue + L" under HKLM\\" + kSpoolerSettingsKey +
      L" and the captured files stay");
  return 0;
}

}  // namespace setup
