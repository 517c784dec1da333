#include "capture/settings.h"

#include <cwchar>

#include "platform/registry_key.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace {

constexpr DWORD kKeyPathChars = 270;

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

// "<parent>\\<name>", the path of a subkey.
void SubkeyPath(WCHAR* keyPath, const WCHAR* parent, const WCHAR* name) {
  CopyBounded(keyPath, kKeyPathChars, parent);
  AppendBounded(keyPath, kKeyPathChars, L"\\");
  AppendBounded(keyPath, kKeyPathChars, name);
}

}  // namespace

void LoadCaptureSettings(const WCHAR* documentName, CaptureSettings* settings) {
  *settings = CaptureSettings();

  // The printer name may itself hold commas: only the last one splits.
  CopyBounded(settings->printerName, kPathChars, documentName ? documentName : L"");
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
  {
    const UniqueKey printers = OpenMachineKey(kPrintersKey, KEY_QUERY_VALUE);
    ReadStringValue(printers.get(), kDefaultSpoolDirectoryValue, kPathValueBytes,
                    settings->spoolDirectory, kPathChars);
  }
  if (settings->printerName[0]) {
    SubkeyPath(keyPath, kPrintersKey, settings->printerName);
    const UniqueKey printer = OpenMachineKey(keyPath, KEY_QUERY_VALUE);
    ReadStringValue(printer.get(), kPortValue, kPortValueBytes, settings->portName, kPortNameChars);
  }

  WCHAR rawOutputPath[kPathChars] = L"";
  if (settings->portName[0]) {
    SubkeyPath(keyPath, kHalvekPortsKey, settings->portName);
    const UniqueKey port = OpenMachineKey(keyPath, KEY_QUERY_VALUE);
    ReadStringValue(port.get(), kOutputPathValue, kPathValueBytes, rawOutputPath, kPathChars);
  }
  if (rawOutputPath[0]) {
    const DWORD expandedChars =
        ExpandEnvironmentStringsW(rawOutputPath, settings->outputFolder, kOutputFolderChars);
    // An expansion that does not fit is not used.
    if (expandedChars == 0 || expandedChars > kOutputFolderChars) settings->outputFolder[0] = L'\0';
  }

  FormatOneNumber(settings->spoolFileName, kPathChars, L"%05.5d.SPL", settings->jobId);

  CopyBounded(settings->wchDestinationLinkPath, kPathChars, settings->outputFolder);
  AppendBounded(settings->wchDestinationLinkPath, kPathChars, L"\\Temp");
  AppendBounded(settings->wchDestinationLinkPath, kPathChars, settings->spoolFileName);

  if (settings->spoolDirectory[0]) {
    CopyBounded(settings->wchSourceLinkPath, kPathChars, settings->spoolDirectory);
    AppendBounded(settings->wchSourceLinkPath, kPathChars, L"\\");
    AppendBounded(settings->wchSourceLinkPath, kPathChars, settings->spoolFileName);
  }

  TraceLabelled(L"wchDestinationLinkPath", settings->wchDestinationLinkPath);
  TraceLabelled(L"wchSourceLinkPath", settings->wchSourceLinkPath);

  const size_t folderChars = std::wcslen(settings->outputFolder);
  if (folderChars > 0 && settings->outputFolder[folderChars - 1] != L'\\') {
    // A folder with no room left for its backslash cannot take a file name either.
    if (folderChars + 1 < kOutputFolderChars) {
      AppendBounded(settings->outputFolder, kOutputFolderChars, L"\\");
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
  const UniqueKey spooler = OpenMachineKey(kSpoolerSettingsKey, KEY_QUERY_VALUE);
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
