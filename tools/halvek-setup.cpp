// Operator setup of the print processor in the local spooler:
//   halvek-setup install [--printer NAME] [--port FILE] [--output-folder DIR]
//                        [--reader ACCOUNT] [--from DIR]
//   halvek-setup add-printer NAME --output-folder DIR [--port FILE] [--reader ACCOUNT]
//   halvek-setup set-prefix LABEL PREFIX | set-prefix --remove LABEL | set-prefix --clear
//   halvek-setup set-interpret-title on|off|default
//   halvek-setup set-hard-links on|off|default
//   halvek-setup status
//   halvek-setup uninstall
// Every command can be run again and leaves the same state. Failures print
// the Win32 error text and exit with 1; bad usage exits with 2.
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/registry_names.h"
#include "platform/win.h"
#include "tools/tool_support.h"

// After windows.h, which they need.
#include <aclapi.h>
#include <sddl.h>

namespace {

using namespace tools;

// The spooler loads print processors of the machine's native architecture;
// the tool installs the DLLs built with it, so the two must agree.
#if defined(_M_ARM64) || defined(__aarch64__)
constexpr USHORT kBuiltMachine = IMAGE_FILE_MACHINE_ARM64;
const WCHAR kEnvironment[] = L"Windows ARM64";
#else
constexpr USHORT kBuiltMachine = IMAGE_FILE_MACHINE_AMD64;
const WCHAR kEnvironment[] = L"Windows x64";
#endif
const WCHAR kProcessorName[] = L"HalvekPrint";
const WCHAR kProcessorDll[] = L"halvekprint.dll";
const WCHAR kLibraryDll[] = L"ostralib.dll";
const WCHAR kDriverName[] = L"Halvek Capture Driver";
const WCHAR kPpdFile[] = L"halvek.ppd";
// Windows' in-box PostScript class driver (ntprint.inf): applications send
// PostScript, whose titles the capture reads.
const WCHAR kWindowsDriver[] = L"Microsoft PS Class Driver";
const WCHAR kDefaultPrinter[] = L"Halvek Capture";
const WCHAR kDefaultPort[] = L"C:\\halvek.prn";
const WCHAR kDefaultOutputFolder[] = L"C:\\HalvekOut";
const WCHAR kPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers";
const WCHAR kMonitorKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port";
const WCHAR kPortsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port\\Ports";
const std::wstring kProcessorsKey =
    std::wstring(L"SYSTEM\\CurrentControlSet\\Control\\Print\\Environments\\") + kEnvironment +
    L"\\Print Processors\\HalvekPrint";
// The output folder's own permissions, not inherited from its parent:
// SYSTEM (the spooler) and Administrators full control, the readers
// (the SID that completes the text) read. Administrators own it, so no one else may change them.
const WCHAR kOutputFolderSecurity[] =
    L"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;0x1200a9;;;";
const WCHAR kDefaultReaders[] = L"AU";  // Authenticated Users
const WCHAR kPrefixKey[] = L"Software\\Halvek\\Vornak\\Spooler\\Prefix";
// What install added, so that uninstall removes exactly that.
const WCHAR kSetupKey[] = L"Software\\Halvek\\Vornak\\Setup";
const WCHAR kAddedPrintersKey[] = L"Software\\Halvek\\Vornak\\Setup\\Printers";
const WCHAR kAddedPortsKey[] = L"Software\\Halvek\\Vornak\\Setup\\Ports";

// The capture reads "Port" with 32 bytes and "OutputPath" with 260 bytes,
// terminator included.
constexpr size_t kMaxPortChars = 15;
constexpr size_t kMaxOutputPathChars = 129;

// RAW only: the spooler hands the processor the application's own bytes
// (no EMF), whose format and title the capture reads. Queued: the job starts
// only once it is wholly spooled, so that its spool file can be linked.
constexpr DWORD kPrinterAttributes =
    PRINTER_ATTRIBUTE_LOCAL | PRINTER_ATTRIBUTE_RAW_ONLY | PRINTER_ATTRIBUTE_QUEUED;

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

void Complain(const std::wstring& line) {
  tools::Complain(L"halvek-setup", line);
}

bool RunsAsAdministrator() {
  BYTE sid[SECURITY_MAX_SID_SIZE];
  DWORD sidBytes = sizeof(sid);
  BOOL member = FALSE;
  return CreateWellKnownSid(WinBuiltinAdministratorsSid, nullptr, sid, &sidBytes) &&
         CheckTokenMembership(nullptr, sid, &member) && member;
}

void SayRestartSpooler() {
  Complain(
      L"the spooler holds the print processor: restart it (net stop spooler && net start "
      L"spooler) and run the command again");
}

// Reports a failed call and gives the exit code for it.
int Fail(const std::wstring& what, DWORD error) {
  std::wstring text = what + L" failed: " + tools::ErrorText(error);
  if (error == ERROR_ACCESS_DENIED && !RunsAsAdministrator()) {
    text += L"; run halvek-setup as administrator";
  }
  Complain(text);
  if (error == ERROR_SHARING_VIOLATION || error == ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED ||
      error == ERROR_BUSY) {
    SayRestartSpooler();
  }
  return kExitFailure;
}

// A failed copy over, or delete of, one of the installed DLLs: an
// administrator meets this only while the spooler has the DLL loaded.
int FailInstalledFile(const std::wstring& what, DWORD error) {
  if (!RunsAsAdministrator() || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
                                 error != ERROR_USER_MAPPED_FILE)) {
    return Fail(what, error);
  }
  Complain(what + L" failed: " + tools::ErrorText(error));
  SayRestartSpooler();
  return kExitFailure;
}

// This tool and its DLLs must match the machine, and run natively: under
// WOW64 the spooler folders and keys it sees are redirected.
bool CheckMachine() {
  using IsWow64Process2Function = BOOL(WINAPI*)(HANDLE, USHORT*, USHORT*);
  const auto isWow64Process2 = reinterpret_cast<IsWow64Process2Function>(reinterpret_cast<void*>(
      GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "IsWow64Process2")));
  USHORT processMachine = IMAGE_FILE_MACHINE_UNKNOWN;
  USHORT nativeMachine = kBuiltMachine;
  BOOL wow64 = FALSE;
  if (isWow64Process2) {
    if (!isWow64Process2(GetCurrentProcess(), &processMachine, &nativeMachine)) return true;
    wow64 = processMachine != IMAGE_FILE_MACHINE_UNKNOWN;
  } else if (!IsWow64Process(GetCurrentProcess(), &wow64)) {
    wow64 = FALSE;
  }
  if (wow64) {
    Complain(L"runs under WOW64: use the 64-bit halvek-setup built for this machine");
    return false;
  }
  if (nativeMachine != kBuiltMachine) {
    Complain(std::wstring(L"built for ") + kEnvironment +
             L", but this machine is another architecture: use the build for this machine "
             L"(x64 or ARM64)");
    return false;
  }
  return true;
}

bool IsWine() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version");
}

std::wstring FullPath(const std::wstring& path) {
  const DWORD needChars = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
  if (needChars == 0) return path;
  std::vector<WCHAR> full(needChars + 1);
  const DWORD lengthChars = GetFullPathNameW(path.c_str(), needChars + 1, full.data(), nullptr);
  return lengthChars && lengthChars <= needChars ? std::wstring(full.data(), lengthChars) : path;
}

bool FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Creates a folder and its missing parents; returns 0 or the Win32 error.
DWORD CreateFolderTree(const std::wstring& path) {
  if (path.empty() || FolderExists(path)) return 0;
  const size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos && slash > 0 && path[slash - 1] != L':') {
    const DWORD parentError = CreateFolderTree(path.substr(0, slash));
    if (parentError) return parentError;
  }
  if (CreateDirectoryW(path.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS) return 0;
  return GetLastError();
}

// ---- registry ----

DWORD ReadString(HKEY root, const std::wstring& keyPath, const WCHAR* valueName,
                 std::wstring* value) {
  KeyHolder key;
  DWORD error = RegOpenKeyExW(root, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key.key);
  if (error) return error;
  DWORD type = 0;
  DWORD sizeBytes = 0;
  error = RegQueryValueExW(key.key, valueName, nullptr, &type, nullptr, &sizeBytes);
  if (error) return error;
  if (type != REG_SZ && type != REG_EXPAND_SZ) return ERROR_INVALID_DATA;
  std::vector<WCHAR> data(sizeBytes / sizeof(WCHAR) + 1, L'\0');
  error = RegQueryValueExW(key.key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data.data()),
                           &sizeBytes);
  if (error) return error;
  *value = data.data();
  return 0;
}

DWORD WriteValue(const std::wstring& keyPath, const std::wstring& valueName, DWORD type,
                 const void* data, DWORD sizeBytes) {
  KeyHolder key;
  DWORD error = RegCreateKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                                nullptr, &key.key, nullptr);
  if (error) return error;
  return RegSetValueExW(key.key, valueName.c_str(), 0, type, static_cast<const BYTE*>(data),
                        sizeBytes);
}

DWORD WriteString(const std::wstring& keyPath, const std::wstring& valueName,
                  const std::wstring& value) {
  return WriteValue(keyPath, valueName, REG_SZ, value.c_str(),
                    static_cast<DWORD>((value.size() + 1) * sizeof(WCHAR)));
}

DWORD WriteDword(const std::wstring& keyPath, const std::wstring& valueName, DWORD value) {
  return WriteValue(keyPath, valueName, REG_DWORD, &value, sizeof(value));
}

DWORD DeleteValue(const std::wstring& keyPath, const std::wstring& valueName) {
  KeyHolder key;
  DWORD error = RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_SET_VALUE, &key.key);
  if (error == ERROR_FILE_NOT_FOUND) return 0;
  if (error) return error;
  error = RegDeleteValueW(key.key, valueName.c_str());
  return error == ERROR_FILE_NOT_FOUND ? 0 : error;
}

DWORD DeleteTree(const std::wstring& keyPath) {
  const DWORD error = RegDeleteTreeW(HKEY_LOCAL_MACHINE, keyPath.c_str());
  if (error == ERROR_FILE_NOT_FOUND) return 0;
  if (error) return error;
  return RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str()) == ERROR_ACCESS_DENIED
             ? ERROR_ACCESS_DENIED
             : 0;
}

bool KeyIsEmpty(const std::wstring& keyPath) {
  KeyHolder key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key.key))
    return false;
  DWORD subkeys = 0;
  DWORD values = 0;
  if (RegQueryInfoKeyW(key.key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values,
                       nullptr, nullptr, nullptr, nullptr)) {
    return false;
  }
  return subkeys == 0 && values == 0;
}

// Deletes a key, then every parent up to (and including) stopKey that it
// leaves empty.
void DeleteKeyAndEmptyParents(std::wstring keyPath, const std::wstring& stopKey) {
  DeleteTree(keyPath);
  while (keyPath.size() > stopKey.size()) {
    keyPath = keyPath.substr(0, keyPath.find_last_of(L'\\'));
    if (!KeyIsEmpty(keyPath)) return;
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, keyPath.c_str());
  }
}

// Value names (with their REG_SZ data) of a key; empty when it is missing.
std::vector<std::pair<std::wstring, std::wstring>> ListValues(const std::wstring& keyPath) {
  std::vector<std::pair<std::wstring, std::wstring>> result;
  KeyHolder key;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath.c_str(), 0, KEY_QUERY_VALUE, &key.key))
    return result;
  for (DWORD index = 0;; ++index) {
    WCHAR name[16384];
    DWORD nameChars = 16384;
    BYTE data[4096] = {};
    DWORD dataBytes = sizeof(data) - sizeof(WCHAR);
    DWORD type = 0;
    const DWORD error =
        RegEnumValueW(key.key, index, name, &nameChars, nullptr, &type, data, &dataBytes);
    if (error == ERROR_MORE_DATA) {
      result.emplace_back(std::wstring(name, nameChars), L"(too long to be used)");
      continue;
    }
    if (error) break;
    std::wstring text;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
      text.assign(reinterpret_cast<const WCHAR*>(data), dataBytes / sizeof(WCHAR));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      if (type == REG_EXPAND_SZ) text = L"(not a rule: REG_EXPAND_SZ) " + text;
    } else if (type == REG_DWORD && dataBytes == sizeof(DWORD)) {
      DWORD number = 0;
      std::memcpy(&number, data, sizeof(number));
      text = std::to_wstring(number);
    } else {
      text = L"(not a rule: type " + std::to_wstring(type) + L")";
    }
    result.emplace_back(std::wstring(name, nameChars), text);
  }
  return result;
}

// ---- spooler ----

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
  return ContainsNoCase(PrintProcessorNames(kEnvironment), kProcessorName);
}

bool DriverInstalled(const std::wstring& driverName) {
  return ContainsNoCase(PrinterDriverNames(kEnvironment), driverName);
}

bool PortExists(const std::wstring& portName) {
  return ContainsNoCase(PortNames(), portName);
}

// The local port monitor takes file ports through its configuration
// channel; AddPortW has no way to name the port.
DWORD LocalPortCommand(const WCHAR* command, const std::wstring& portName) {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
  PrinterHolder xcv;
  if (!OpenPrinterW(const_cast<WCHAR*>(L",XcvMonitor Local Port"), &xcv.printer, &defaults)) {
    return GetLastError();
  }
  DWORD neededBytes = 0;
  DWORD status = 0;
  if (!XcvDataW(xcv.printer, command, reinterpret_cast<BYTE*>(const_cast<WCHAR*>(portName.c_str())),
                static_cast<DWORD>((portName.size() + 1) * sizeof(WCHAR)), nullptr, 0, &neededBytes,
                &status)) {
    return GetLastError();
  }
  return status;
}

struct PrinterSetting {
  bool exists = false;
  std::wstring port, driver, processor, datatype;
  DWORD attributes = 0;
};

PrinterSetting ReadPrinter(const std::wstring& printerName) {
  PrinterSetting setting;
  PrinterHolder printer;
  if (!OpenPrinterW(const_cast<WCHAR*>(printerName.c_str()), &printer.printer, nullptr)) {
    return setting;
  }
  DWORD neededBytes = 0;
  GetPrinterW(printer.printer, 2, nullptr, 0, &neededBytes);
  if (neededBytes == 0) return setting;
  std::vector<BYTE> buffer(neededBytes);
  if (!GetPrinterW(printer.printer, 2, buffer.data(), neededBytes, &neededBytes)) return setting;
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  setting.exists = true;
  setting.port = info->pPortName ? info->pPortName : L"";
  setting.driver = info->pDriverName ? info->pDriverName : L"";
  setting.processor = info->pPrintProcessor ? info->pPrintProcessor : L"";
  setting.datatype = info->pDatatype ? info->pDatatype : L"";
  setting.attributes = info->Attributes;
  return setting;
}

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

std::wstring DriverToUse() {
  return IsWine() ? kDriverName : kWindowsDriver;
}

// A PostScript printer description just complete enough for Wine's
// PostScript driver, which the capture printer never renders with.
const char kPpdText[] =
    "*PPD-Adobe: \"4.3\"\n"
    "*FormatVersion: \"4.3\"\n"
    "*FileVersion: \"1.0\"\n"
    "*LanguageVersion: English\n"
    "*LanguageEncoding: ISOLatin1\n"
    "*PCFileName: \"HALVEK.PPD\"\n"
    "*Manufacturer: \"Halvek\"\n"
    "*Product: \"(Halvek Capture)\"\n"
    "*PSVersion: \"(3010.000) 0\"\n"
    "*ModelName: \"Halvek Capture\"\n"
    "*ShortNickName: \"Halvek Capture\"\n"
    "*NickName: \"Halvek Capture\"\n"
    "*ColorDevice: False\n"
    "*DefaultColorSpace: Gray\n"
    "*LanguageLevel: \"3\"\n"
    "*TTRasterizer: Type42\n"
    "*OpenUI *PageSize: PickOne\n"
    "*DefaultPageSize: A4\n"
    "*PageSize A4/A4: \"<</PageSize[595 842]>>setpagedevice\"\n"
    "*PageSize Letter/Letter: \"<</PageSize[612 792]>>setpagedevice\"\n"
    "*CloseUI: *PageSize\n"
    "*DefaultImageableArea: A4\n"
    "*ImageableArea A4/A4: \"0 0 595 842\"\n"
    "*ImageableArea Letter/Letter: \"0 0 612 792\"\n"
    "*DefaultPaperDimension: A4\n"
    "*PaperDimension A4/A4: \"595 842\"\n"
    "*PaperDimension Letter/Letter: \"612 792\"\n"
    "*DefaultResolution: 300dpi\n";

int InstallDriver() {
  const std::wstring driverName = DriverToUse();
  if (DriverInstalled(driverName)) return 0;
  if (!IsWine()) {
    // Windows 8 and later keep the in-box driver in the driver store.
    using InstallFromPackage =
        HRESULT(WINAPI*)(const WCHAR*, const WCHAR*, const WCHAR*, const WCHAR*, DWORD);
    HMODULE winspool = GetModuleHandleW(L"winspool.drv");
    auto install = winspool ? reinterpret_cast<InstallFromPackage>(reinterpret_cast<void*>(
                                  GetProcAddress(winspool, "InstallPrinterDriverFromPackageW")))
                            : nullptr;
    const HRESULT result =
        install ? install(nullptr, nullptr, driverName.c_str(), kEnvironment, 0) : E_NOTIMPL;
    if (FAILED(result)) {
      return Fail(L"installing the driver \"" + driverName + L"\"", HRESULT_CODE(result));
    }
    return 0;
  }
  WCHAR tempFolder[MAX_PATH] = {};
  const DWORD tempChars = GetTempPathW(MAX_PATH, tempFolder);
  if (tempChars == 0 || tempChars >= MAX_PATH) return Fail(L"GetTempPathW", GetLastError());
  const std::wstring ppdPath = std::wstring(tempFolder) + kPpdFile;
  HANDLE file = CreateFileW(ppdPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return Fail(L"writing " + ppdPath, GetLastError());
  DWORD written = 0;
  const BOOL wrote = WriteFile(file, kPpdText, sizeof(kPpdText) - 1, &written, nullptr);
  const DWORD writeError = GetLastError();
  CloseHandle(file);
  if (!wrote) return Fail(L"writing " + ppdPath, writeError);

  const std::wstring wineps = SystemFolder() + L"\\wineps.drv";
  DRIVER_INFO_3W info = {};
  info.cVersion = 3;
  info.pName = const_cast<WCHAR*>(driverName.c_str());
  info.pEnvironment = const_cast<WCHAR*>(kEnvironment);
  info.pDriverPath = const_cast<WCHAR*>(wineps.c_str());
  info.pDataFile = const_cast<WCHAR*>(ppdPath.c_str());
  info.pConfigFile = const_cast<WCHAR*>(wineps.c_str());
  const BOOL added = AddPrinterDriverExW(nullptr, 3, reinterpret_cast<BYTE*>(&info),
                                         APD_COPY_NEW_FILES | APD_COPY_FROM_DIRECTORY);
  const DWORD addError = GetLastError();
  DeleteFileW(ppdPath.c_str());
  if (!added) return Fail(L"AddPrinterDriverExW \"" + driverName + L"\"", addError);
  return 0;
}

// Whether two files hold the same bytes; false when either cannot be read.
bool SameContents(const std::wstring& first, const std::wstring& second) {
  UniqueFile a(CreateFileW(first.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr));
  UniqueFile b(CreateFileW(second.c_str(), GENERIC_READ,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr));
  LARGE_INTEGER sizeA = {}, sizeB = {};
  if (!a.valid() || !b.valid() || !GetFileSizeEx(a.get(), &sizeA) ||
      !GetFileSizeEx(b.get(), &sizeB) || sizeA.QuadPart != sizeB.QuadPart) {
    return false;
  }
  std::vector<BYTE> bufferA(64 * 1024), bufferB(64 * 1024);
  for (;;) {
    DWORD gotA = 0, gotB = 0;
    if (!ReadFile(a.get(), bufferA.data(), static_cast<DWORD>(bufferA.size()), &gotA, nullptr) ||
        !ReadFile(b.get(), bufferB.data(), static_cast<DWORD>(bufferB.size()), &gotB, nullptr) ||
        gotA != gotB) {
      return false;
    }
    if (gotA == 0) return true;
    if (std::memcmp(bufferA.data(), bufferB.data(), gotA) != 0) return false;
  }
}

// The spooler keeps an installed DLL loaded, so an unchanged one is left in
// place rather than copied over.
int CopyIntoPlace(const std::wstring& source, const std::wstring& target) {
  if (FileExists(target) && SameContents(source, target)) return 0;
  if (!CopyFileW(source.c_str(), target.c_str(), FALSE)) {
    return FailInstalledFile(L"copying " + source + L" to " + target, GetLastError());
  }
  return 0;
}

int InstallProcessor(const std::wstring& fromFolder) {
  const std::wstring processorSource = fromFolder + L"\\" + kProcessorDll;
  if (!FileExists(processorSource)) {
    return Fail(L"finding " + processorSource, ERROR_FILE_NOT_FOUND);
  }
  DWORD error = 0;
  const std::wstring processorFolder = PrintProcessorFolder(&error);
  if (error) return Fail(L"GetPrintProcessorDirectoryW", error);
  if (const DWORD folderError = CreateFolderTree(processorFolder)) {
    return Fail(L"creating " + processorFolder, folderError);
  }
  if (int code = CopyIntoPlace(processorSource, processorFolder + L"\\" + kProcessorDll))
    return code;

  // The processor imports the companion library: a copy beside it, for a
  // spooler that loads it with its own folder searched first, and one in the
  // system folder, which is on every process's search path.
  const std::wstring librarySource = fromFolder + L"\\" + kLibraryDll;
  const std::wstring libraryTarget = SystemFolder() + L"\\" + kLibraryDll;
  if (FileExists(librarySource)) {
    if (int code = CopyIntoPlace(librarySource, processorFolder + L"\\" + kLibraryDll)) return code;
    DWORD copiedBefore = 0;
    if (!FileExists(libraryTarget) ||
        (ReadDword(HKEY_LOCAL_MACHINE, kSetupKey, L"LibraryCopied", &copiedBefore) == 0 &&
         copiedBefore)) {
      if (int code = CopyIntoPlace(librarySource, libraryTarget)) return code;
      if (DWORD writeError = WriteDword(kSetupKey, L"LibraryCopied", 1)) {
        return Fail(L"recording the library copy", writeError);
      }
    } else {
      Say(L"kept the existing " + libraryTarget + L" (not installed by halvek-setup)");
    }
  } else {
    Say(L"warning: " + librarySource + L" not found; " + kLibraryDll + L" was not installed");
  }

  if (!ProcessorRegistered()) {
    if (!AddPrintProcessorW(nullptr, const_cast<WCHAR*>(kEnvironment),
                            const_cast<WCHAR*>(kProcessorDll),
                            const_cast<WCHAR*>(kProcessorName))) {
      const DWORD addError = GetLastError();
      if (addError != ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED) {
        return Fail(L"AddPrintProcessorW", addError);
      }
    }
  }
  Say(L"print processor " + std::wstring(kProcessorName) + L" installed in " + processorFolder);
  return 0;
}

// The spooler's spool folder, where the capture finds a job's spool file.
int EnsureSpoolDirectoryValue() {
  std::wstring value;
  if (ReadString(HKEY_LOCAL_MACHINE, kPrintersKey, L"DefaultSpoolDirectory", &value) == 0 &&
      !value.empty()) {
    return 0;
  }
  const std::wstring folder = SystemFolder() + L"\\spool\\PRINTERS";
  if (DWORD error = WriteString(kPrintersKey, L"DefaultSpoolDirectory", folder)) {
    return Fail(L"writing DefaultSpoolDirectory", error);
  }
  if (DWORD error = WriteDword(kSetupKey, L"SpoolDirectoryWritten", 1)) {
    return Fail(L"recording DefaultSpoolDirectory", error);
  }
  return 0;
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
  BOOL present = FALSE, defaulted = FALSE;
  PACL dacl = nullptr;
  PSID owner = nullptr;
  DWORD error = 0;
  if (!GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted) ||
      !GetSecurityDescriptorOwner(descriptor, &owner, &defaulted)) {
    error = GetLastError();
  } else {
    error = SetNamedSecurityInfoW(const_cast<WCHAR*>(folder.c_str()), SE_FILE_OBJECT,
                                  OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION |
                                      PROTECTED_DACL_SECURITY_INFORMATION,
                                  owner, nullptr, dacl, nullptr);
  }
  LocalFree(descriptor);
  return error;
}

// Port, its output folder, and a printer on it that captures RAW jobs.
int SetUpPrinter(const std::wstring& printerName, const std::wstring& portName,
                 const std::wstring& outputFolderArgument, const std::wstring& readers) {
  if (!CheckPortName(portName)) return kExitUsage;
  const std::wstring outputFolder = FullPath(outputFolderArgument);
  if (!CheckOutputFolder(outputFolder)) return kExitUsage;
  if (printerName.empty() || printerName.find(L',') != std::wstring::npos ||
      printerName.find(L'\\') != std::wstring::npos) {
    Complain(L"printer name \"" + printerName + L"\" must be non-empty without ',' or '\\'");
    return kExitUsage;
  }

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
  if (DWORD error = CreateFolderTree(outputFolder)) {
    return Fail(L"creating the output folder " + outputFolder, error);
  }
  if (DWORD error = SecureOutputFolder(outputFolder, readersSid)) {
    return Fail(L"setting the permissions of " + outputFolder, error);
  }
  if (DWORD error =
          WriteString(std::wstring(kPortsKey) + L"\\" + portName, L"OutputPath", outputFolder)) {
    return Fail(L"writing the port's OutputPath", error);
  }
  if (!PortExists(portName)) {
    // A port file in a folder needs the folder.
    const size_t slash = portName.find_last_of(L'\\');
    if (slash != std::wstring::npos && slash > 2) CreateFolderTree(portName.substr(0, slash));
    const DWORD error = LocalPortCommand(L"AddPort", portName);
    if (error && error != ERROR_ALREADY_EXISTS) return Fail(L"adding the port " + portName, error);
    if (DWORD recordError = WriteDword(kAddedPortsKey, portName, 1)) {
      return Fail(L"recording the port", recordError);
    }
  }

  const std::wstring driverName = DriverToUse();
  if (!existing.exists) {
    PRINTER_INFO_2W info = {};
    info.pPrinterName = const_cast<WCHAR*>(printerName.c_str());
    info.pPortName = const_cast<WCHAR*>(portName.c_str());
    info.pDriverName = const_cast<WCHAR*>(driverName.c_str());
    info.pPrintProcessor = const_cast<WCHAR*>(kProcessorName);
    info.pDatatype = const_cast<WCHAR*>(L"RAW");
    info.Attributes = kPrinterAttributes;
    info.Priority = 1;
    info.DefaultPriority = 1;
    HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
    if (!printer) return Fail(L"AddPrinterW \"" + printerName + L"\"", GetLastError());
    ClosePrinter(printer);
  } else if (_wcsicmp(existing.port.c_str(), portName.c_str()) != 0 ||
             _wcsicmp(existing.datatype.c_str(), L"RAW") != 0 ||
             (existing.attributes & kPrinterAttributes) != kPrinterAttributes) {
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    PrinterHolder printer;
    if (!OpenPrinterW(const_cast<WCHAR*>(printerName.c_str()), &printer.printer, &defaults)) {
      return Fail(L"opening the printer \"" + printerName + L"\"", GetLastError());
    }
    DWORD neededBytes = 0;
    GetPrinterW(printer.printer, 2, nullptr, 0, &neededBytes);
    std::vector<BYTE> buffer(neededBytes ? neededBytes : 1);
    if (!GetPrinterW(printer.printer, 2, buffer.data(), neededBytes, &neededBytes)) {
      return Fail(L"reading the printer \"" + printerName + L"\"", GetLastError());
    }
    auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
    info->pPortName = const_cast<WCHAR*>(portName.c_str());
    info->pDatatype = const_cast<WCHAR*>(L"RAW");
    info->Attributes |= kPrinterAttributes;
    info->pSecurityDescriptor = nullptr;
    if (!SetPrinterW(printer.printer, 2, buffer.data(), 0)) {
      return Fail(L"changing the printer \"" + printerName + L"\"", GetLastError());
    }
  }
  if (DWORD error = WriteString(kAddedPrintersKey, printerName, portName)) {
    return Fail(L"recording the printer", error);
  }
  Say(L"printer \"" + printerName + L"\" on port " + portName + L" captures into " + outputFolder);
  return 0;
}

// ---- commands ----

struct Options {
  std::wstring printer, port, outputFolder, from, reader;
  std::vector<std::wstring> positional;
  bool remove = false, clear = false;
};

bool ParseOptions(int argc, wchar_t** argv, int first, Options* options) {
  for (int index = first; index < argc; ++index) {
    const std::wstring argument = argv[index];
    std::wstring* target = nullptr;
    if (argument == L"--printer") target = &options->printer;
    if (argument == L"--port") target = &options->port;
    if (argument == L"--output-folder") target = &options->outputFolder;
    if (argument == L"--from") target = &options->from;
    if (argument == L"--reader") target = &options->reader;
    if (target) {
      if (index + 1 >= argc) {
        Complain(argument + L" needs a value");
        return false;
      }
      *target = argv[++index];
    } else if (argument == L"--remove") {
      options->remove = true;
    } else if (argument == L"--clear") {
      options->clear = true;
    } else if (argument.size() > 2 && argument.compare(0, 2, L"--") == 0) {
      Complain(L"unknown option " + argument);
      return false;
    } else {
      options->positional.push_back(argument);
    }
  }
  return true;
}

int Install(const Options& options) {
  if (!options.positional.empty()) {
    Complain(L"install takes no name; use --printer NAME");
    return kExitUsage;
  }
  const std::wstring printer = options.printer.empty() ? kDefaultPrinter : options.printer;
  const std::wstring port = options.port.empty() ? kDefaultPort : options.port;
  const std::wstring folder =
      options.outputFolder.empty() ? kDefaultOutputFolder : options.outputFolder;
  if (!CheckPortName(port) || !CheckOutputFolder(FullPath(folder))) return kExitUsage;
  if (int code = InstallProcessor(options.from.empty() ? ModuleFolder() : options.from))
    return code;
  if (int code = InstallDriver()) return code;
  if (int code = EnsureSpoolDirectoryValue()) return code;
  if (int code = SetUpPrinter(printer, port, folder, options.reader)) return code;
  Say(L"installed");
  return 0;
}

// A port for another printer: the first free "C:\halvekN.prn".
std::wstring FreePortName() {
  const auto recorded = ListValues(kAddedPortsKey);
  for (int number = 2;; ++number) {
    const std::wstring candidate = L"C:\\halvek" + std::to_wstring(number) + L".prn";
    bool taken = PortExists(candidate);
    for (const auto& value : recorded)
      taken = taken || _wcsicmp(value.first.c_str(), candidate.c_str()) == 0;
    if (!taken) return candidate;
  }
}

int AddPrinter(const Options& options) {
  if (options.positional.size() != 1 || options.outputFolder.empty()) {
    Complain(L"usage: add-printer NAME --output-folder DIR [--port FILE]");
    return kExitUsage;
  }
  const std::wstring& printer = options.positional[0];
  if (!ProcessorRegistered() || !DriverInstalled(DriverToUse())) {
    Complain(L"the print processor is not installed: run halvek-setup install first");
    return kExitFailure;
  }
  std::wstring port = options.port;
  if (port.empty()) {
    const PrinterSetting existing = ReadPrinter(printer);
    port = existing.exists ? existing.port : FreePortName();
  }
  return SetUpPrinter(printer, port, options.outputFolder, options.reader);
}

int SetPrefix(const Options& options) {
  if (options.clear && options.positional.empty()) {
    if (DWORD error = DeleteTree(kPrefixKey)) return Fail(L"removing the prefix rules", error);
    Say(L"no prefix rules");
    return 0;
  }
  if (options.remove && options.positional.size() == 1) {
    if (DWORD error = DeleteValue(kPrefixKey, options.positional[0])) {
      return Fail(L"removing the prefix rule", error);
    }
    Say(L"prefix rule \"" + options.positional[0] + L"\" removed");
    return 0;
  }
  if (options.remove || options.clear || options.positional.size() != 2) {
    Complain(L"usage: set-prefix LABEL PREFIX | set-prefix --remove LABEL | set-prefix --clear");
    return kExitUsage;
  }
  const std::wstring& prefix = options.positional[1];
  if (options.positional[0].size() > 259 || prefix.size() > 129) {
    Complain(
        L"a rule's label may have 259 and its prefix 129 characters at most: a longer one "
        L"would end the print processor's reading of the rules");
    return kExitUsage;
  }
  if (DWORD error = WriteString(kPrefixKey, options.positional[0], prefix)) {
    return Fail(L"writing the prefix rule", error);
  }
  Say(L"prefix rule \"" + options.positional[0] + L"\" removes \"" + prefix + L"\"");
  return 0;
}

// An on/off switch under the spooler settings key; "default" removes it,
// which the print processor reads as on.
int SetSwitch(const Options& options, const WCHAR* command, const WCHAR* valueName) {
  const std::wstring usage = std::wstring(L"usage: ") + command + L" on|off|default";
  if (options.positional.size() != 1) {
    Complain(usage);
    return kExitUsage;
  }
  const std::wstring& setting = options.positional[0];
  DWORD error = 0;
  if (setting == L"on" || setting == L"1") {
    error = WriteDword(kSpoolerSettingsKey, valueName, 1);
  } else if (setting == L"off" || setting == L"0") {
    error = WriteDword(kSpoolerSettingsKey, valueName, 0);
  } else if (setting == L"default") {
    error = DeleteValue(kSpoolerSettingsKey, valueName);
  } else {
    Complain(usage);
    return kExitUsage;
  }
  if (error) return Fail(std::wstring(L"writing ") + valueName, error);
  Say(valueName + (L" " + setting));
  return 0;
}

// "Name: on|off", with " (default)" when the value is not set.
void SaySwitch(const WCHAR* valueName) {
  DWORD value = 1;
  const bool set = ReadDword(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, valueName, &value) == 0;
  Say(valueName + (L": " + std::wstring(value ? L"on" : L"off")) + (set ? L"" : L" (default)"));
}

int Status() {
  DWORD error = 0;
  const std::wstring processorFolder = PrintProcessorFolder(&error);
  const bool registered = ProcessorRegistered();
  const bool dllPresent = !error && FileExists(processorFolder + L"\\" + kProcessorDll);
  Say(std::wstring(L"print processor ") + kProcessorName + L": " +
      (registered ? L"registered" : L"not registered") + L", " + kProcessorDll +
      (dllPresent ? L" present in " + processorFolder : std::wstring(L" missing")));
  const std::wstring library = SystemFolder() + L"\\" + kLibraryDll;
  Say(std::wstring(kLibraryDll) + L": " +
      (FileExists(library) ? L"present in " + SystemFolder() : std::wstring(L"missing")));
  const std::wstring driver = DriverToUse();
  Say(L"driver \"" + driver + L"\": " +
      (DriverInstalled(driver) ? L"installed" : L"not installed"));
  std::wstring spoolFolder;
  if (ReadString(HKEY_LOCAL_MACHINE, kPrintersKey, L"DefaultSpoolDirectory", &spoolFolder)) {
    spoolFolder = L"(not set)";
  }
  Say(L"spool folder: " + spoolFolder);

  const auto printers = ListValues(kAddedPrintersKey);
  if (printers.empty()) Say(L"no capture printers");
  for (const auto& entry : printers) {
    const PrinterSetting printer = ReadPrinter(entry.first);
    if (!printer.exists) {
      Say(L"printer \"" + entry.first + L"\": missing from the spooler");
      continue;
    }
    std::wstring outputFolder;
    const bool portKnown =
        ReadString(HKEY_LOCAL_MACHINE, std::wstring(kPortsKey) + L"\\" + printer.port,
                   L"OutputPath", &outputFolder) == 0;
    Say(L"printer \"" + entry.first + L"\": port " + printer.port + L" (" +
        (PortExists(printer.port) ? L"present" : L"missing") + L"), print processor " +
        printer.processor + L", datatype " + printer.datatype + L", output folder " +
        (portKnown ? outputFolder + (FolderExists(outputFolder) ? L"" : L" (missing)")
                   : std::wstring(L"(not configured)")));
  }
  SaySwitch(kInterpretTitleValue);
  SaySwitch(kHardLinksValue);
  const auto rules = ListValues(kPrefixKey);
  if (rules.empty()) Say(L"no prefix rules");
  for (const auto& rule : rules)
    Say(L"prefix rule \"" + rule.first + L"\": \"" + rule.second + L"\"");
  Say(registered && dllPresent && !printers.empty() ? L"state: installed"
                                                    : L"state: not installed");
  return 0;
}

int Uninstall() {
  int result = 0;
  for (const auto& entry : ListValues(kAddedPrintersKey)) {
    const std::wstring& printerName = entry.first;
    PRINTER_DEFAULTSW defaults = {nullptr, nullptr, PRINTER_ALL_ACCESS};
    PrinterHolder printer;
    if (OpenPrinterW(const_cast<WCHAR*>(printerName.c_str()), &printer.printer, &defaults)) {
      if (!DeletePrinter(printer.printer)) {
        result = Fail(L"DeletePrinter \"" + printerName + L"\"", GetLastError());
        continue;
      }
    }
    // The port's key carries the capture's output folder; keys of other
    // ports of the monitor stay.
    if (!entry.second.empty()) {
      DeleteKeyAndEmptyParents(std::wstring(kPortsKey) + L"\\" + entry.second, kMonitorKey);
    }
    DeleteValue(kAddedPrintersKey, printerName);
    Say(L"printer \"" + printerName + L"\" removed");
  }
  if (result) return result;
  for (const auto& entry : ListValues(kAddedPortsKey)) {
    const std::wstring& portName = entry.first;
    if (PortExists(portName)) {
      const DWORD error = LocalPortCommand(L"DeletePort", portName);
      if (error && error != ERROR_UNKNOWN_PORT)
        return Fail(L"deleting the port " + portName, error);
    }
    DeleteValue(kAddedPortsKey, portName);
  }
  if (DriverInstalled(kDriverName)) {
    // Wine knows no delete flags; Windows needs them to drop the files.
    if (!DeletePrinterDriverExW(nullptr, const_cast<WCHAR*>(kEnvironment),
                                const_cast<WCHAR*>(kDriverName), DPD_DELETE_UNUSED_FILES, 0) &&
        !DeletePrinterDriverW(nullptr, const_cast<WCHAR*>(kEnvironment),
                              const_cast<WCHAR*>(kDriverName)) &&
        GetLastError() != ERROR_UNKNOWN_PRINTER_DRIVER) {
      return Fail(L"deleting the driver \"" + std::wstring(kDriverName) + L"\"", GetLastError());
    }
  }
  if (IsWine()) {
    // Wine leaves the driver's files behind; the description file is ours.
    WCHAR driverFolder[MAX_PATH] = {};
    DWORD neededBytes = 0;
    if (GetPrinterDriverDirectoryW(nullptr, const_cast<WCHAR*>(kEnvironment), 1,
                                   reinterpret_cast<BYTE*>(driverFolder),
                                   sizeof(driverFolder) - sizeof(WCHAR), &neededBytes)) {
      DeleteFileW((std::wstring(driverFolder) + L"\\3\\" + kPpdFile).c_str());
    }
  }
  if (ProcessorRegistered()) {
    if (!DeletePrintProcessorW(nullptr, const_cast<WCHAR*>(kEnvironment),
                               const_cast<WCHAR*>(kProcessorName))) {
      return Fail(L"DeletePrintProcessorW", GetLastError());
    }
    // Wine's DeletePrintProcessorW reports success and keeps the entry.
    if (IsWine() && ProcessorRegistered()) {
      if (DWORD error = DeleteTree(kProcessorsKey))
        return Fail(L"removing the processor's key", error);
    }
  }
  DWORD error = 0;
  const std::wstring processorFolder = PrintProcessorFolder(&error);
  std::vector<std::wstring> files;
  if (!error) {
    files.push_back(processorFolder + L"\\" + kProcessorDll);
    files.push_back(processorFolder + L"\\" + kLibraryDll);
  }
  DWORD libraryCopied = 0;
  if (ReadDword(HKEY_LOCAL_MACHINE, kSetupKey, L"LibraryCopied", &libraryCopied) == 0 &&
      libraryCopied) {
    files.push_back(SystemFolder() + L"\\" + kLibraryDll);
  }
  for (const std::wstring& file : files) {
    if (FileExists(file) && !DeleteFileW(file.c_str())) {
      return FailInstalledFile(L"deleting " + file, GetLastError());
    }
  }
  DWORD spoolWritten = 0;
  if (ReadDword(HKEY_LOCAL_MACHINE, kSetupKey, L"SpoolDirectoryWritten", &spoolWritten) == 0 &&
      spoolWritten) {
    DeleteValue(kPrintersKey, L"DefaultSpoolDirectory");
  }
  if (DWORD treeError = DeleteTree(kSetupKey)) return Fail(L"removing the setup record", treeError);
  Say(L"uninstalled; the name rules, InterpretTitle and HardLinks under HKLM\\" +
      std::wstring(kSpoolerSettingsKey) + L" and the captured files stay");
  return 0;
}

void Usage() {
  Complain(
      L"usage:\n"
      L"  halvek-setup install [--printer NAME] [--port FILE] [--output-folder DIR]\n"
      L"                       [--reader ACCOUNT] [--from DIR]\n"
      L"  halvek-setup add-printer NAME --output-folder DIR [--port FILE] [--reader ACCOUNT]\n"
      L"  halvek-setup set-prefix LABEL PREFIX | --remove LABEL | --clear\n"
      L"  halvek-setup set-interpret-title on|off|default\n"
      L"  halvek-setup set-hard-links on|off|default\n"
      L"  halvek-setup status\n"
      L"  halvek-setup uninstall");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    Usage();
    return kExitUsage;
  }
  if (!CheckMachine()) return kExitFailure;
  const std::wstring command = argv[1];
  Options options;
  if (!ParseOptions(argc, argv, 2, &options)) return kExitUsage;
  if (command == L"install") return Install(options);
  if (command == L"add-printer") return AddPrinter(options);
  if (command == L"set-prefix") return SetPrefix(options);
  if (command == L"set-interpret-title") {
    return SetSwitch(options, L"set-interpret-title", kInterpretTitleValue);
  }
  if (command == L"set-hard-links") return SetSwitch(options, L"set-hard-links", kHardLinksValue);
  if (command == L"status" && options.positional.empty()) return Status();
  if (command == L"uninstall" && options.positional.empty()) return Uninstall();
  Usage();
  return kExitUsage;
}
