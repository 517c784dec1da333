// What every part of the setup tool shares: what it installs, its exit
// codes, how it reports a failure, and the folders it makes.
#pragma once

#include <string>

#include "platform/win.h"

namespace setup {

// The spooler loads print processors of the machine's native architecture;
// the tool installs the DLLs built with it, so the two must agree.
#if defined(_M_ARM64) || defined(__aarch64__)
constexpr USHORT kBuiltMachine = IMAGE_FILE_MACHINE_ARM64;
constexpr WCHAR kEnvironment[] = L"Windows ARM64";
#else
constexpr USHORT kBuiltMachine = IMAGE_FILE_MACHINE_AMD64;
constexpr WCHAR kEnvironment[] = L"Windows x64";
#endif
constexpr WCHAR kProcessorName[] = L"HalvekPrint";
constexpr WCHAR kProcessorDll[] = L"halvekprint.dll";
constexpr WCHAR kLibraryDll[] = L"ostralib.dll";
// The driver the tool installs under Wine, with its printer description.
constexpr WCHAR kDriverName[] = L"Halvek Capture Driver";
constexpr WCHAR kPpdFile[] = L"halvek.ppd";

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

// "halvek-setup: line" on standard error.
void Complain(const std::wstring& line);
// Reports a failed call and gives the exit code for it.
int Fail(const std::wstring& what, DWORD error);
// A failed copy over, or delete of, one of the installed DLLs.
int FailInstalledFile(const std::wstring& what, DWORD error);

bool IsWine();
std::wstring FullPath(const std::wstring& path);
bool FolderExists(const std::wstring& path);
// Creates a folder and its missing parents; returns 0 or the Win32 error.
DWORD CreateFolderTree(const std::wstring& path);

}  // namespace setup
