// The print processor's DLLs, its driver and the spool folder value.
#include "tools/setup/install.h"

#include <cstring>
#include <vector>

#include "platform/holders.h"
#include "platform/registry_names.h"
#include "tools/setup/common.h"
#include "tools/setup/registry.h"
#include "tools/setup/spooler.h"
#include "tools/tool_support.h"

namespace setup {
namespace {

using tools::FileExists;
using tools::Say;
using tools::SystemFolder;

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

// Windows 8 and later keep the in-box driver in the driver store.
int InstallWindowsDriver(const std::wstring& driverName) {
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

int WritePpdFile(const std::wstring& ppdPath) {
  UniqueFile file(CreateFileW(ppdPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return Fail(L"writing " + ppdPath, GetLastError());
  DWORD written = 0;
  if (!WriteFile(file.get(), kPpdText, sizeof(kPpdText) - 1, &written, nullptr)) {
    return Fail(L"writing " + ppdPath, GetLastError());
  }
  return 0;
}

// Wine's PostScript driver with our description, copied in from a
// temporary file.
int InstallWineDriver(const std::wstring& driverName) {
  WCHAR tempFolder[MAX_PATH] = {};
  const DWORD tempChars = GetTempPathW(MAX_PATH, tempFolder);
  if (tempChars == 0 || tempChars >= MAX_PATH) return Fail(L"GetTempPathW", GetLastError());
  const std::wstring ppdPath = std::wstring(tempFolder) + kPpdFile;
  if (int code = WritePpdFile(ppdPath)) return code;

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

UniqueFile OpenForReading(const std::wstring& path) {
  return UniqueFile(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr));
}

// Whether two files hold the same bytes; false when either cannot be read.
bool SameContents(const std::wstring& first, const std::wstring& second) {
  UniqueFile a = OpenForReading(first);
  UniqueFile b = OpenForReading(second);
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

// The processor imports the companion library: a copy beside it, for a
// spooler that loads it with its own folder searched first, and one in the
// system folder, which is on every process's search path. A library in the
// system folder that setup did not put there stays.
int InstallLibrary(const std::wstring& fromFolder, const std::wstring& processorFolder) {
  const std::wstring librarySource = fromFolder + L"\\" + kLibraryDll;
  const std::wstring libraryTarget = SystemFolder() + L"\\" + kLibraryDll;
  if (!FileExists(librarySource)) {
    Say(L"warning: " + librarySource + L" not found; " + kLibraryDll + L" was not installed");
    return 0;
  }
  if (int code = CopyIntoPlace(librarySource, processorFolder + L"\\" + kLibraryDll)) return code;
  if (FileExists(libraryTarget) && !ReadFlag(kSetupKey, kLibraryCopiedValue)) {
    Say(L"kept the existing " + libraryTarget + L" (not installed by halvek-setup)");
    return 0;
  }
  if (int code = CopyIntoPlace(librarySource, libraryTarget)) return code;
  if (DWORD writeError = WriteDword(kSetupKey, kLibraryCopiedValue, 1)) {
    return Fail(L"recording the library copy", writeError);
  }
  return 0;
}

}  // namespace

int InstallDriver() {
  const std::wstring driverName = DriverToUse();
  if (DriverInstalled(driverName)) return 0;
  return IsWine() ? InstallWineDriver(driverName) : InstallWindowsDriver(driverName);
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
  if (int code = InstallLibrary(fromFolder, processorFolder)) return code;

  if (!ProcessorRegistered() &&
      !AddPrintProcessorW(nullptr, const_cast<WCHAR*>(kEnvironment),
                          const_cast<WCHAR*>(kProcessorDll), const_cast<WCHAR*>(kProcessorName))) {
    const DWORD addError = GetLastError();
    if (addError != ERROR_PRINT_PROCESSOR_ALREADY_INSTALLED) {
      return Fail(L"AddPrintProcessorW", addError);
    }
  }
  Say(L"print processor " + std::wstring(kProcessorName) + L" installed in " + processorFolder);
  return 0;
}

int EnsureSpoolDirectoryValue() {
  std::wstring value;
  if (ReadString(kPrintersKey, kDefaultSpoolDirectoryValue, &value) == 0 && !value.empty()) {
    return 0;
  }
  const std::wstring folder = SystemFolder() + L"\\spool\\PRINTERS";
  if (DWORD error = WriteString(kPrintersKey, kDefaultSpoolDirectoryValue, folder)) {
    return Fail(std::wstring(L"writing ") + kDefaultSpoolDirectoryValue, error);
  }
  if (DWORD error = WriteDword(kSetupKey, kSpoolDirectoryWrittenValue, 1)) {
    return Fail(std::wstring(L"recording ") + kDefaultSpoolDirectoryValue, error);
  }
  return 0;
}

}  // namespace setup
