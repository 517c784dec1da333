#include "capture/settings.h"

#include <cwchar>

#include "platform/registry_key.h"

const WCHAR kPrintersKey[] = L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers\\";
const WCHAR kHalvekPortsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port\\Ports\\";

namespace {

constexpr DWORD kKeyPathChars = 270;
// String values are read with these limits in bytes, terminator included.
constexpr DWORD kPathValueBytes = 260;
constexpr DWORD kPortValueBytes = 32;

// Reads a string value of at most limitBytes into destination, which holds
// more characters than the limit allows; on any failure destination is empty.
// The registry does not promise a terminator, so one is always added.
void ReadStringValue(HKEY key, const WCHAR* name, DWORD limitBytes, WCHAR* destination,
                     DWORD destinationChars) {
  destination[0] = L'\0';
  if (!key) return;
  DWORD sizeBytes = limitBytes;
  if (sizeBytes > (destinationChars - 1) * sizeof(WCHAR)) {
    sizeBytes = (destinationChars - 1) * sizeof(WCHAR);
  }
  DWORD type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(destination),
                       &sizeBytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    destination[0] = L'\0';
    return;
  }
  destination[sizeBytes / sizeof(WCHAR)] = L'\0';
}

void AppendTruncated(WCHAR* destination, DWORD destinationChars, const WCHAR* source) {
  const size_t used = std::wcslen(destination);
  if (used + 1 >= destinationChars) return;
  CopyTruncated(destination + used, static_cast<DWORD>(destinationChars - used), source);
}

}  // namespace

void CopyTruncated(WCHAR* destination, DWORD destinationChars, const WCHAR* source) {
  std::wcsncpy(destination, source, destinationChars - 1);
  destination[destinationChars - 1] = L'\0';
}

void TraceLabelled(const WCHAR* label, const WCHAR* value) {
  OutputDebugStringW(label);
  OutputDebugStringW(value);
}

void LoadCaptureSettings(const WCHAR* documentName, CaptureSettings* settings) {
  *settings = CaptureSettings();

  // The printer name may itself hold commas: only the last one splits.
  CopyTruncated(settings->printerName, kPathChars, documentName ? documentName : L"");
  WCHAR* comma = std::wcsrchr(settings->printerName, L',');
  if (comma) {
    *comma = L'\0';
    // ", Job " is six characters; the number follows.
    const size_t tailChars = std::wcslen(comma + 1) + 1;
    if (tailChars > 6 && _wcsnicmp(comma + 1, L" Job ", 5) == 0) {
      settings->jobId = std::wcstol(comma + 6, nullptr, 10);
      settings->jobNameParsed = true;
    }
  } else {
    settings->printerName[0] = L'\0';
  }

  WCHAR keyPath[kKeyPathChars];
  CopyTruncated(keyPath, kKeyPathChars, kPrintersKey);
  {
    RegistryKey printers(keyPath, KEY_QUERY_VALUE);
    ReadStringValue(printers.get(), L"DefaultSpoolDirectory", kPathValueBytes,
                    settings->spoolDirectory, kPathChars);
  }
  if (settings->printerName[0]) {
    AppendTruncated(keyPath, kKeyPathChars, settings->printerName);
    RegistryKey printer(keyPath, KEY_QUERY_VALUE);
    ReadStringValue(printer.get(), L"Port", kPortValueBytes, settings->portName, kPortNameChars);
  }

  WCHAR rawOutputPath[kPathChars] = L"";
  if (settings->portName[0]) {
    CopyTruncated(keyPath, kKeyPathChars, kHalvekPortsKey);
    AppendTruncated(keyPath, kKeyPathChars, settings->portName);
    RegistryKey port(keyPath, KEY_QUERY_VALUE);
    ReadStringValue(port.get(), L"OutputPath", kPathValueBytes, rawOutputPath, kPathChars);
  }
  if (rawOutputPath[0]) {
    const DWORD expandedChars =
        ExpandEnvironmentStringsW(rawOutputPath, settings->outputFolder, kOutputFolderChars);
    // An expansion that does not fit is not used.
    if (expandedChars == 0 || expandedChars > kOutputFolderChars) settings->outputFolder[0] = L'\0';
  }

  wsprintfW(settings->spoolFileName, L"%05.5d.SPL", settings->jobId);

  CopyTruncated(settings->wchDestinationLinkPath, kPathChars, settings->outputFolder);
  AppendTruncated(settings->wchDestinationLinkPath, kPathChars, L"\\Temp");
  AppendTruncated(settings->wchDestinationLinkPath, kPathChars, settings->spoolFileName);

  if (settings->spoolDirectory[0]) {
    CopyTruncated(settings->wchSourceLinkPath, kPathChars, settings->spoolDirectory);
    AppendTruncated(settings->wchSourceLinkPath, kPathChars, L"\\");
    AppendTruncated(settings->wchSourceLinkPath, kPathChars, settings->spoolFileName);
  }

  TraceLabelled(L"wchDestinationLinkPath", settings->wchDestinationLinkPath);
  TraceLabelled(L"wchSourceLinkPath", settings->wchSourceLinkPath);

  const size_t folderChars = std::wcslen(settings->outputFolder);
  if (folderChars > 0 && settings->outputFolder[folderChars - 1] != L'\\') {
    // A folder with no room left for its backslash cannot take a file name either.
    if (folderChars + 1 < kOutputFolderChars) {
      AppendTruncated(settings->outputFolder, kOutputFolderChars, L"\\");
    } else {
      settings->outputFolder[0] = L'\0';
    }
  }
}

namespace {

// A 4-byte number under the spooler settings key; fallback when the key or
// the value cannot be read.
DWORD ReadSpoolerNumber(const WCHAR* valueName, DWORD fallback) {
  DWORD number = fallback;
  RegistryKey spooler(kSpoolerSettingsKey, KEY_QUERY_VALUE);
  if (spooler.get()) {
    DWORD value = 0;
    DWORD sizeBytes = sizeof(value);
    if (RegQueryValueExW(spooler.get(), valueName, nullptr, nullptr,
                         reinterpret_cast<BYTE*>(&value), &sizeBytes) == ERROR_SUCCESS &&
        sizeBytes == sizeof(value)) {
      number = value;
    }
  }
  return number;
}

}  // namespace

DWORD ReadInterpretTitle() {
  return ReadSpoolerNumber(kInterpretTitleValue, 1);
}

bool ReadHardLinksAllowed() {
  return ReadSpoolerNumber(kHardLinksValue, 1) != 0;
}

const WCHAR* MissingCaptureSetting(const CaptureSettings& settings) {
  if (!settings.jobNameParsed) return L"job number (document name has no \", Job N\")";
  if (!settings.printerName[0]) return L"printer name";
  if (!settings.portName[0]) return L"Port";
  const WCHAR* folder = settings.outputFolder;
  if (!folder[0]) return L"OutputPath";
  // Absolute: "X:\..." or a UNC "\\server\share\...". A drive root is refused
  // as well, since an unset path would land there.
  const bool drivePath =
      ((folder[0] >= L'A' && folder[0] <= L'Z') || (folder[0] >= L'a' && folder[0] <= L'z')) &&
      folder[1] == L':' && folder[2] == L'\\';
  const bool uncPath = folder[0] == L'\\' && folder[1] == L'\\' && folder[2] && folder[2] != L'\\';
  if (!drivePath && !uncPath) return L"OutputPath (not an absolute folder)";
  if (drivePath && folder[3] == L'\0') return L"OutputPath (a drive root)";
  return nullptr;
}
