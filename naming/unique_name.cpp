// Output file names: base/extension split, a free path in the output folder,
// and the file checks of the capture.
#include <cwchar>

#include "naming/naming_internal.h"
#include "platform/holders.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace {

const WCHAR kTicketExtension[] = L"XPF";
constexpr size_t kTicketExtensionChars = 3;
// The longest extension the split yields, in characters after the dot.
constexpr size_t kMaxSplitExtensionChars = 4;
// Paths stay usable without the long-path prefix.
constexpr size_t kMaxPathChars = MAX_PATH - 1;
// Room for a device mend on top of a full working name.
constexpr size_t kComponentCapacityChars = kMaxPathChars + 2;

bool IsForbiddenInFileName(WCHAR c) {
  if (IsControlCharacter(c)) return true;
  switch (c) {
    case L'"':
    case L'*':
    case L'/':
    case L':':
    case L'<':
    case L'>':
    case L'?':
    case L'\\':
    case L'|':
      return true;
    default:
      return false;
  }
}

// A copy that cannot reach outside the folder, name a stream or act as a
// wildcard in the probe. Returns its length.
size_t CopySafeComponent(const WCHAR* source, WCHAR* destination, size_t capacityChars) {
  size_t chars = 0;
  if (source) {
    for (; chars + 1 < capacityChars && source[chars]; ++chars) {
      destination[chars] = IsForbiddenInFileName(source[chars]) ? L'_' : source[chars];
    }
  }
  destination[chars] = L'\0';
  return chars;
}

// A name of dots and spaces alone is empty once they are dropped.
bool IsUsableFileName(const WCHAR* fileName) {
  return fileName[0] && !IsReservedDeviceName(fileName, static_cast<DWORD>(wcslen(fileName)));
}

bool PathIsTaken(const WCHAR* path) {
  WIN32_FIND_DATAW found;
  const UniqueFind search(FindFirstFileW(path, &found));
  return search.valid();
}

constexpr size_t kNumberChars = 16;

// Decimal without leading zeros; the whole LONG range.
size_t FormatNumber(LONG number, WCHAR* digits) {
  return FormatOneNumber(digits, kNumberChars, L"%d", number);
}

// folder + base + number + "." + extension; the caller has checked the fit.
// Trailing dots and spaces are dropped as the platform drops them when it
// creates the file, so that the path handed on is the file's real name.
void ComposePath(WCHAR* path, const WCHAR* folder, size_t folderChars, const WCHAR* base,
                 size_t baseChars, const WCHAR* number, size_t numberChars, const WCHAR* extension,
                 size_t extensionChars) {
  size_t at = 0;
  wmemcpy(path + at, folder, folderChars);
  at += folderChars;
  wmemcpy(path + at, base, baseChars);
  at += baseChars;
  wmemcpy(path + at, number, numberChars);
  at += numberChars;
  path[at++] = L'.';
  wmemcpy(path + at, extension, extensionChars);
  at += extensionChars;
  while (at > folderChars && (path[at - 1] == L'.' || path[at - 1] == L' ')) --at;
  path[at] = L'\0';
}

constexpr unsigned kMaxNameAttempts = 100000;
// Name clashes with files that appear while the name is being taken.
constexpr int kClaimAttempts = 32;

bool IsNameTaken(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

}  // namespace

void ExtractBaseNameAndExtension(const WCHAR* source, WCHAR* baseName, DWORD baseNameSizeBytes,
                                 WCHAR* extension, DWORD extensionSizeBytes) {
  const size_t baseCapacityChars = baseNameSizeBytes / sizeof(WCHAR);
  const size_t extensionCapacityChars = extensionSizeBytes / sizeof(WCHAR);
  if (baseName && baseCapacityChars) wmemset(baseName, L'\0', baseCapacityChars);
  if (extension && extensionCapacityChars) wmemset(extension, L'\0', extensionCapacityChars);
  if (!source || !*source) return;

  size_t sourceChars = wcslen(source);
  size_t baseChars = sourceChars;
  const WCHAR* extensionStart = source + sourceChars;
  const WCHAR* dot = wcsrchr(source, L'.');
  if (dot && static_cast<size_t>(source + sourceChars - dot) <= kMaxSplitExtensionChars + 1) {
    baseChars = static_cast<size_t>(dot - source);
    extensionStart = dot + 1;
  }
  CopyBounded(baseName, baseCapacityChars, source, baseChars);
  CopyBounded(extension, extensionCapacityChars, extensionStart,
              static_cast<size_t>(source + sourceChars - extensionStart));

  TraceLabelled(L"ExtractBaseNameAndExtension Base Name:",
                baseName && baseCapacityChars ? baseName : L"");
  TraceLabelled(L"Ext Name:", extension && extensionCapacityChars ? extension : L"");
}

BOOL FindUniqueNameForOutputFile(LONG firstNumber, const WCHAR* outputFolder, const WCHAR* baseName,
                                 const WCHAR* extension, WCHAR* dataPath, WCHAR* ticketPath,
                                 DWORD pathCapacityChars, BOOL ticketMustBeFree) {
  if (!dataPath || !ticketPath || pathCapacityChars == 0) return FALSE;
  dataPath[0] = L'\0';
  ticketPath[0] = L'\0';
  // Without a folder the name would land in whatever the current folder is.
  if (!outputFolder) return FALSE;

  const WCHAR* folder = outputFolder;
  const size_t folderChars = wcslen(folder);
  WCHAR base[kComponentCapacityChars];
  CopySafeComponent(baseName, base, kMaxPathChars + 1);
  // A stem inside the base cannot be cured by a number.
  const size_t baseChars =
      AvoidReservedDeviceName(base, static_cast<DWORD>(kComponentCapacityChars));
  WCHAR safeExtension[kMaxPathChars + 1];
  const size_t extensionChars = CopySafeComponent(extension, safeExtension, kMaxPathChars + 1);

  const size_t maxPathChars =
      (pathCapacityChars < kMaxPathChars + 1 ? pathCapacityChars : kMaxPathChars + 1) - 1;
  const size_t suffixChars =
      1 + (extensionChars > kTicketExtensionChars ? extensionChars : kTicketExtensionChars);
  const size_t minBaseChars = baseChars > 0 ? 1 : 0;

  bool numbered = false;
  LONG number = firstNumber;
  // Bounded, so that a folder whose every candidate is taken (or reported as
  // taken) ends the search instead of holding the spooler's thread forever.
  for (unsigned attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
    WCHAR digits[kNumberChars] = L"";
    size_t digitsChars = numbered ? FormatNumber(number, digits) : 0;
    size_t fixedChars = folderChars + digitsChars + suffixChars;
    if (fixedChars + minBaseChars > maxPathChars) {
      dataPath[0] = L'\0';
      ticketPath[0] = L'\0';
      return FALSE;
    }
    // Shortening keeps the beginning: the base is already the meaningful end
    // of the title, and its start holds the stem made safe above.
    size_t keptBaseChars = maxPathChars - fixedChars;
    if (keptBaseChars > baseChars) keptBaseChars = baseChars;
    ComposePath(dataPath, folder, folderChars, base, keptBaseChars, digits, digitsChars,
                safeExtension, extensionChars);
    ComposePath(ticketPath, folder, folderChars, base, keptBaseChars, digits, digitsChars,
                kTicketExtension, kTicketExtensionChars);
    // Probed afresh on every call: the capture calls again when a file
    // appeared between probe and creation.
    if (IsUsableFileName(dataPath + folderChars) && IsUsableFileName(ticketPath + folderChars) &&
        !PathIsTaken(dataPath) && !(ticketMustBeFree && PathIsTaken(ticketPath))) {
      return TRUE;
    }
    if (numbered) {
      number = static_cast<LONG>(static_cast<ULONG>(number) + 1u);
    } else {
      numbered = true;
    }
  }
  dataPath[0] = L'\0';
  ticketPath[0] = L'\0';
  return FALSE;
}

BOOL FileExists(const WCHAR* path) {
  if (path && PathIsTaken(path)) {
    TraceText(L"FileExists returns TRUE");
    return TRUE;
  }
  TraceText(L"FileExists returns FALSE");
  return FALSE;
}

CreateHardLinkWFunction GetCreateHardLinkW() {
  // KERNEL32 is in every process: look it up instead of loading it again.
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  if (!kernel) return nullptr;
  FARPROC address = GetProcAddress(kernel, "CreateHardLinkW");
  if (!address) return nullptr;
  return reinterpret_cast<CreateHardLinkWFunction>(reinterpret_cast<void*>(address));
}

BOOL ClaimOutputName(LONG jobId, const WCHAR* outputFolder, const WCHAR* validName,
                     const WCHAR* extension, BOOL withTicket, WCHAR* dataPath, WCHAR* ticketPath,
                     DWORD pathCapacityChars, MakeOutputFunction make, void* context) {
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    if (!FindUniqueNameForOutputFile(jobId, outputFolder, validName, extension, dataPath,
                                     ticketPath, pathCapacityChars, withTicket)) {
      TraceLabelled(L"No room for an output name in ", outputFolder);
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return FALSE;
    }
    if (make(context, dataPath, ticketPath)) return TRUE;
    if (!IsNameTaken(GetLastError())) return FALSE;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return FALSE;
}
