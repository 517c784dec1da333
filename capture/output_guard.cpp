#include "capture/output_guard.h"

#include <cwchar>

#include "spooler/memory.h"

namespace {

constexpr DWORD kFinalPathChars = 1024;

bool IsReparsePoint(const WCHAR* path) {
  const DWORD attributes = GetFileAttributesW(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// Where the path's components begin after its root: "X:\" or "\\server\share\".
size_t RootChars(const WCHAR* path) {
  if (path[0] == L'\\' && path[1] == L'\\') {
    const WCHAR* share = std::wcschr(path + 2, L'\\');
    const WCHAR* rest = share ? std::wcschr(share + 1, L'\\') : nullptr;
    return rest ? static_cast<size_t>(rest - path) + 1 : std::wcslen(path);
  }
  return path[0] && path[1] == L':' && path[2] == L'\\' ? 3 : 0;
}

// The final path of a handle with every link followed ("\\?\C:\..."), or
// "" when it cannot be had.
void FinalPath(HANDLE handle, WCHAR* path) {
  const DWORD chars = GetFinalPathNameByHandleW(handle, path, kFinalPathChars, 0);
  if (chars == 0 || chars >= kFinalPathChars) path[0] = L'\0';
}

void StripTrailingSeparators(WCHAR* path) {
  size_t chars = std::wcslen(path);
  while (chars > 0 && path[chars - 1] == L'\\') path[--chars] = L'\0';
}

// "\\?\C:\x" reads as "C:\x" and "\\?\UNC\server\x" as "\\server\x"; the
// UNC form keeps one character of its prefix, turned into the second slash.
const WCHAR* WithoutLongPathPrefix(WCHAR* path) {
  if (std::wcsncmp(path, L"\\\\?\\UNC\\", 8) == 0) {
    path[6] = L'\\';
    return path + 6;
  }
  return std::wcsncmp(path, L"\\\\?\\", 4) == 0 ? path + 4 : path;
}

}  // namespace

bool LiesUnderReparsePoint(const WCHAR* folder) {
  WCHAR path[kFinalPathChars];
  size_t pathChars = std::wcslen(folder);
  if (pathChars >= kFinalPathChars) return true;
  std::wmemcpy(path, folder, pathChars + 1);
  const size_t rootChars = RootChars(path);
  // The folder itself, then each folder above it down to the root.
  while (pathChars > rootChars) {
    if (path[pathChars - 1] == L'\\') {
      path[--pathChars] = L'\0';
      continue;
    }
    if (IsReparsePoint(path)) return true;
    while (pathChars > rootChars && path[pathChars - 1] != L'\\') --pathChars;
    path[pathChars] = L'\0';
  }
  return false;
}

bool FileLiesInFolder(HANDLE file, const WCHAR* folder) {
  WCHAR filePath[kFinalPathChars];
  WCHAR folderPath[kFinalPathChars];
  FinalPath(file, filePath);
  const DWORD folderChars = GetLongPathNameW(folder, folderPath, kFinalPathChars);
  if (folderChars == 0 || folderChars >= kFinalPathChars) return false;
  WCHAR* lastSeparator = std::wcsrchr(filePath, L'\\');
  if (!lastSeparator) return false;
  *lastSeparator = L'\0';
  StripTrailingSeparators(folderPath);
  return _wcsicmp(WithoutLongPathPrefix(filePath), WithoutLongPathPrefix(folderPath)) == 0;
}

bool JobStillSpooling(HANDLE printer, LONG jobId) {
  // JOB_INFO_1 with its strings; a record that does not fit is asked again
  // with the size the spooler wants.
  BYTE stackBlock[1024];
  DWORD neededBytes = 0;
  const DWORD id = static_cast<DWORD>(jobId);
  if (GetJobW(printer, id, 1, stackBlock, sizeof(stackBlock), &neededBytes)) {
    return (reinterpret_cast<const JOB_INFO_1W*>(stackBlock)->Status & JOB_STATUS_SPOOLING) != 0;
  }
  if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || neededBytes == 0) return false;
  const UniqueGlobal block(AllocSplMem(neededBytes));
  BYTE* record = static_cast<BYTE*>(block.get());
  if (!record || !GetJobW(printer, id, 1, record, neededBytes, &neededBytes)) return false;
  return (reinterpret_cast<const JOB_INFO_1W*>(record)->Status & JOB_STATUS_SPOOLING) != 0;
}
