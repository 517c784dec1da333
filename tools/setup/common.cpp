#include "tools/setup/common.h"

#include <vector>

#include "tools/tool_support.h"

namespace setup {
namespace {

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

}  // namespace

void Complain(const std::wstring& line) {
  tools::Complain(L"halvek-setup", line);
}

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

// An administrator meets this only while the spooler has the DLL loaded.
int FailInstalledFile(const std::wstring& what, DWORD error) {
  if (!RunsAsAdministrator() || (error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION &&
                                 error != ERROR_USER_MAPPED_FILE)) {
    return Fail(what, error);
  }
  Complain(what + L" failed: " + tools::ErrorText(error));
  SayRestartSpooler();
  return kExitFailure;
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

}  // namespace setup
