#include "tools/setup/spooler.h"

#include <vector>

#include "platform/holders.h"
#include "tools/setup/common.h"
#include "tools/tool_support.h"

namespace setup {
namespace {

// Windows' in-box PostScript class driver (ntprint.inf): applications send
// PostScript, whose titles the capture reads.
constexpr WCHAR kWindowsDriver[] = L"Microsoft PS Class Driver";

std::wstring TextOrEmpty(const WCHAR* text) {
  return text ? text : L"";
}

}  // namespace

std::wstring PrintProcessorFolder(DWORD* error) {
  BYTE buffer[2 * MAX_PATH] = {};
  DWORD neededBytes = 0;
  if (!GetPrintProcessorDirectoryW(nullptr, const_cast<WCHAR*>(kEnvironment), 1, buffer,
                                   sizeof(buffer) - sizeof(WCHAR), &neededBytes)) {
    *error = GetLastError();
    return L"";
  }
  *error = 0;
  return reinterpret_cast<const WCHAR*>(buffer);
}

bool ProcessorRegistered() {
  return tools::ContainsNoCase(tools::PrintProcessorNames(kEnvironment), kProcessorName);
}

std::wstring DriverToUse() {
  return IsWine() ? kDriverName : kWindowsDriver;
}

bool DriverInstalled(const std::wstring& driverName) {
  return tools::ContainsNoCase(tools::PrinterDriverNames(kEnvironment), driverName);
}

bool PortExists(const std::wstring& portName) {
  return tools::ContainsNoCase(tools::PortNames(), portName);
}

// The local port monitor takes file ports through its configuration
// channel; AddPortW has no way to name the port.
DWORD LocalPortCommand(const WCHAR* command, const std::wstring& portName) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
  UniquePrinter xcv;
  if (!OpenPrinterW(const_cast<WCHAR*>(L",XcvMonitor Local Port"), xcv.put(), &defaults)) {
    return GetLastError();
  }
  DWORD neededBytes = 0;
  DWORD status = 0;
  if (!XcvDataW(xcv.get(), command, reinterpret_cast<BYTE*>(const_cast<WCHAR*>(portName.c_str())),
                static_cast<DWORD>((portName.size() + 1) * sizeof(WCHAR)), nullptr, 0, &neededBytes,
                &status)) {
    return GetLastError();
  }
  return status;
}

PrinterSetting ReadPrinter(const std::wstring& printerName) {
  PrinterSetting setting;
  UniquePrinter printer;
  if (!OpenPrinterW(const_cast<WCHAR*>(printerName.c_str()), printer.put(), nullptr)) {
    return setting;
  }
  DWORD neededBytes = 0;
  GetPrinterW(printer.get(), 2, nullptr, 0, &neededBytes);
  if (neededBytes == 0) return setting;
  std::vector<BYTE> buffer(neededBytes);
  if (!GetPrinterW(printer.get(), 2, buffer.data(), neededBytes, &neededBytes)) return setting;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  setting.exists = true;
  setting.port = TextOrEmpty(info->pPortName);
  setting.driver = TextOrEmpty(info->pDriverName);
  setting.processor = TextOrEmpty(info->pPrintProcessor);
  setting.datatype = TextOrEmpty(info->pDatatype);
  setting.attributes = info->Attributes;
  return setting;
}

}  // namespace setup
