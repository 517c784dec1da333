// A capture printer: its port, the port's output folder, and the printer.
#include <cwchar>
#include <vector>

#include "platform/holders.h"
#include "platform/registry_names.h"
#include "tools/setup/common.h"
#include "tools/setup/install.h"
#include "tools/setup/registry.h"
#include "tools/setup/spooler.h"
#include "tools/tool_support.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace setup {
namespace {

// A value of the longest name these allow, with its terminator, fills the
// print processor's read exactly.
constexpr size_t kMaxPortChars = kPortValueBytes / sizeof(WCHAR) - 1;
constexpr size_t kMaxOutputPathChars = kPathValueBytes / sizeof(WCHAR) - 1;
static_assert((kMaxPortChars + 1) * sizeof(WCHAR) == kPortValueBytes,
              "a port name of the limit must fit the capture's read of \"Port\"");
static_assert((kMaxOutputPathChars + 1) * sizeof(WCHAR) == kPathValueBytes,
              "an output folder of the limit must fit the capture's read of \"OutputPath\"");

constexpr WCHAR kRawDatatype[] = L"RAW";
// RAW only: the spooler hands the processor the application's own bytes
// (no EMF), whose format and title the capture reads. Queued: the job starts
// only once it is wholly spooled, so that its spool file can be linked.
constexpr DWORD kPrinterAttributes =
    PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_RAW_ONLY | PRINTER_ATTRIBUTE_QUEUED;

// The output folder's own permissions, not inherited from its parent:
// SYSTEM (the spooler) and Administrators full control, the readers
// (the SID that completes the text) read. Administrators own it, so no one
// else may change them.
constexpr WCHAR kOutputFolderSecurity[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;";
constexpr WCHAR kDefaultReaders[] = L"AU";  // Authenticated Users

bool CheckPrinterName(const std::wstring& printerName) {
  if (printerName.empty() || printerName.find(L',') != std::wstring::npos ||
      printerName.find(L'\\') != std::wstring::npos) {
    Complain(L"printer name \"" + printerName + L"\" must be non-empty without ',' or '\\'");
    return false;
  }
  return true;
}

// The SDDL name of the readers: an account or group name, or empty for
// the default.
bool ReadersSid(const std::wstring& account, std::wstring* sid) {
  if (account.empty()) {
    *sid = kDefaultReaders;
    return true;
  }
  BYTE sidBytes[SECURITY_MAX_SID_SIZE];
  DWORD sidSize = sizeof(sidBytes);
  WCHAR domain[256];
  DWORD domainChars = 256;
  SID_NAME_USE use = SidTypeUnknown;
  WCHAR* text = nullptr;
  if (!LookupAccountNameW(nullptr, account.c_str(), sidBytes, &sidSize, domain, &domainChars,
                          &use) ||
      !ConvertSidToStringSidW(sidBytes, &text)) {
    return false;
  }
  *sid = text;
  LocalFree(text);
  return true;
}

// Gives the output folder its own permissions (see kOutputFolderSecurity);
// returns 0 or the Win32 error.
DWORD SecureOutputFolder(const std::wstring& folder, const std::wstring& readersSid) {
  const std::wstring sddl = kOutputFolderSecurity + readersSid + L")";
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                            &descriptor, nullptr)) {
    return GetLastError();
  }
  ScopeGuard freeDescriptor([descriptor] { LocalFree(descriptor); });
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
    return GetLastError();
  }
  return SetNamedSecurityInfoW(
      const_cast<WCHAR*>(folder.c_str()), SE_FILE_OBJECT,
      OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
      owner, nullptr, dacl, nullptr);
}

int PrepareOutputFolder(const std::wstring& outputFolder, const std::wstring& readersSid) {
  if (DWORD error = CreateFolderTree(outputFolder)) {
    return Fail(L"creating the output folder " + outputFolder, error);
  }
  if (DWORD error = SecureOutputFolder(outputFolder, readersSid)) {
    return Fail(L"setting the permissions of " + outputFolder, error);
  }
  return 0;
}

// The port and where it captures into; a port setup adds is recorded.
int EnsurePort(const std::wstring& portName, const std::wstring& outputFolder) {
  if (DWORD error =
          WriteString(SubKey(kHalvekPortsKey, portName), kOutputPathValue, outputFolder)) {
    return Fail(std::wstring(L"writing the port's ") + kOutputPathValue, error);
  }
  if (PortExists(portName)) return 0;
  // A port file in a folder needs the folder.
  const size_t slash = portName.find_last_of(L'\\');
  if (slash != std::wstring::npos && slash > 2) CreateFolderTree(portName.substr(0, slash));
  const DWORD error = LocalPortCommand(L"AddPort", portName);
  if (error && error != ERROR_ALREADY_EXISTS) return Fail(L"adding the port " + portName, error);
  if (DWORD recordError = WriteDword(kSetupPortsKey, portName, 1)) {
    return Fail(L"recording the port", recordError);
  }
  return 0;
}

int AddCapturePrinter(const std::wstring& printerName, const std::wstring& portName) {
  const std::wstring driverName = DriverToUse();
  PRINTER_INFO_2W info = {};
  info.pPrinterName = const_cast<WCHAR*>(printerName.c_str());
  info.pPortName = const_cast<WCHAR*>(portName.c_str());
  info.pDriverName = const_cast<WCHAR*>(driverName.c_str());
  info.pPrintProcessor = const_cast<WCHAR*>(kProcessorName);
  info.pDatatype = const_cast<WCHAR*>(kRawDatatype);
  info.Attributes = kPrinterAttributes;
  info.Priority = 1;
  info.DefaultPriority = 1;
  UniquePrinter printer(AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info)));
  if (!printer.valid()) return Fail(L"AddPrinterW \"" + printerName + L"\"", GetLastError());
  return 0;
}

bool NeedsChange(const PrinterSetting& existing, const std::wstring& portName) {
  return _wcsicmp(existing.port.c_str(), portName.c_str()) != 0 ||
         _wcsicmp(existing.datatype.c_str(), kRawDatatype) != 0 ||
         (existing.attributes & kPrinterAttributes) != kPrinterAttributes;
}

// Moves an existing capture printer to the port, RAW and queued.
int ChangeCapturePrinter(const std::wstring& printerName, const std::wstring& portName) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
  UniquePrinter printer;
  if (!OpenPrinterW(const_cast<WCHAR*>(printerName.c_str()), printer.put(), &defaults)) {
    return Fail(L"opening the printer \"" + printerName + L"\"", GetLastError());
  }
  DWORD neededBytes = 0;
  GetPrinterW(printer.get(), 2, nullptr, 0, &neededBytes);
  std::vector<BYTE> buffer(neededBytes ? neededBytes : 1);
  if (!GetPrinterW(printer.get(), 2, buffer.data(), neededBytes, &neededBytes)) {
    return Fail(L"reading the printer \"" + printerName + L"\"", GetLastError());
  }
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
  info->pPortName = const_cast<WCHAR*>(portName.c_str());
  info->pDatatype = const_cast<WCHAR*>(kRawDatatype);
  info->Attributes |= kPrinterAttributes;
  info->pSecurityDescriptor = nullptr;
  if (!SetPrinterW(printer.get(), 2, buffer.data(), 0)) {
    return Fail(L"changing the printer \"" + printerName + L"\"", GetLastError());
  }
  return 0;
}

}  // namespace

// Port names that contain no separator that the key path would misread and
// fit the capture's read limit.
bool CheckPortName(const std::wstring& portName) {
  if (portName.empty() || portName.size() > kMaxPortChars) {
    Complain(L"port name \"" + portName + L"\" must have 1 to " + std::to_wstring(kMaxPortChars) +
             L" characters: the print processor reads the printer's port with that limit");
    return false;
  }
  if (portName.find(L',') != std::wstring::npos || portName.find(L'/') != std::wstring::npos) {
    Complain(L"port name \"" + portName + L"\" must not contain ',' or '/'");
    return false;
  }
  return true;
}

bool CheckOutputFolder(const std::wstring& folder) {
  if (folder.empty() || folder.size() > kMaxOutputPathChars) {
    Complain(L"output folder \"" + folder + L"\" must have 1 to " +
             std::to_wstring(kMaxOutputPathChars) +
             L" characters: the print processor reads it with that limit");
    return false;
  }
  return true;
}

int SetUpPrinter(const std::wstring& printerName, const std::wstring& portName,
                 const std::wstring& outputFolderArgument, const std::wstring& readers) {
  if (!CheckPortName(portName)) return kExitUsage;
  const std::wstring outputFolder = FullPath(outputFolderArgument);
  if (!CheckOutputFolder(outputFolder) || !CheckPrinterName(printerName)) return kExitUsage;

  const PrinterSetting existing = ReadPrinter(printerName);
  if (existing.exists && _wcsicmp(existing.processor.c_str(), kProcessorName) != 0) {
    Complain(L"printer \"" + printerName + L"\" exists and uses the print processor \"" +
             existing.processor + L"\": choose another name");
    return kExitFailure;
  }
  std::wstring readersSid;
  if (!ReadersSid(readers, &readersSid)) {
    Complain(L"unknown account \"" + readers + L"\" for --reader");
    return kExitUsage;
  }
  if (int code = PrepareOutputFolder(outputFolder, readersSid)) return code;
  if (int code = EnsurePort(portName, outputFolder)) return code;
  if (!existing.exists) {
    if (int code = AddCapturePrinter(printerName, portName)) return code;
  } else if (NeedsChange(existing, portName)) {
    if (int code = ChangeCapturePrinter(printerName, portName)) return code;
  }
  if (DWORD error = WriteString(kSetupPrintersKey, printerName, portName)) {
    return Fail(L"recording the printer", error);
  }
  tools::Say(L"printer \"" + printerName + L"\" on port " + portName + L" captures into " +
             outputFolder);
  return 0;
}

}  // namespace setup
