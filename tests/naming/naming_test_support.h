// Shared helpers of the naming tests (header only: both test programs use
// them): real folders, files and prefix rules.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwchar>
#include <string>
#include <vector>

#include "naming/naming.h"
#include "tests/support/registry_guard.h"

namespace naming_test {

constexpr WCHAR kPrefixKey[] = L"Software\\Halvek\\Vornak\\Spooler\\Prefix";
constexpr WCHAR kGuardChar = 0xCDCD;

// Names in the folder (no "." or ".."), sorted.
inline std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW((folder + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do {
    std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  } while (FindNextFileW(search, &found));
  FindClose(search);
  std::sort(names.begin(), names.end());
  return names;
}

inline void RemoveTree(const std::wstring& folder) {
  for (const std::wstring& name : ListFolder(folder)) {
    const std::wstring child = folder + name;
    if (GetFileAttributesW(child.c_str()) & FILE_ATTRIBUTE_DIRECTORY) {
      RemoveTree(child + L"\\");
    } else {
      DeleteFileW(child.c_str());
    }
  }
  RemoveDirectoryW(folder.c_str());
}

// A fresh folder under the temp folder (path ends with a backslash), removed
// with everything in it at the end.
struct TempFolder {
  std::wstring path;
  TempFolder() {
    static std::atomic<unsigned> counter{0};
    WCHAR temp[MAX_PATH + 1];
    const DWORD chars = GetTempPathW(MAX_PATH + 1, temp);
    path = std::wstring(temp, chars) + L"hvn" + std::to_wstring(GetCurrentProcessId()) + L"_" +
           std::to_wstring(counter++) + L"\\";
    RemoveTree(path);
    EXPECT_TRUE(CreateDirectoryW(path.c_str(), nullptr)) << GetLastError();
  }
  ~TempFolder() { RemoveTree(path); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
};

// Creates the file (CREATE_NEW) holding bytes; false when that fails.
inline bool WriteNewFile(const std::wstring& path, const std::string& bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD writtenBytes = 0;
  const BOOL written =
      WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &writtenBytes, nullptr);
  CloseHandle(file);
  return written && writtenBytes == bytes.size();
}

inline std::string ReadWholeFile(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return "<unreadable>";
  std::string bytes;
  char chunk[4096];
  DWORD readBytes = 0;
  while (ReadFile(file, chunk, sizeof chunk, &readBytes, nullptr) && readBytes > 0) {
    bytes.append(chunk, readBytes);
  }
  CloseHandle(file);
  return bytes;
}

// A buffer of capacityChars with guard characters behind it.
struct GuardedBuffer {
  explicit GuardedBuffer(size_t capacity, WCHAR fill = L'\0')
      : capacityChars(capacity), storage(capacity + 16, kGuardChar) {
    std::fill(storage.begin(), storage.begin() + capacity, fill);
  }
  WCHAR* data() { return storage.data(); }
  std::wstring text() const {
    return std::wstring(storage.data(), wcsnlen(storage.data(), capacityChars));
  }
  bool GuardIntact() const {
    return std::all_of(storage.begin() + capacityChars, storage.end(),
                       [](WCHAR c) { return c == kGuardChar; });
  }
  size_t capacityChars;
  std::vector<WCHAR> storage;
};

// The Prefix key, emptied for the test and restored afterwards.
class PrefixRulesTest : public ::testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kPrefixKey); }
  void AddRule(const WCHAR* valueName, const std::wstring& prefix, DWORD type = REG_SZ) {
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, kPrefixKey, valueName, prefix, type),
              ERROR_SUCCESS);
  }
  void AddRawValue(const WCHAR* valueName, DWORD type, const void* data, DWORD dataSizeBytes) {
    ASSERT_EQ(
        SetRegistryValue(HKEY_LOCAL_MACHINE, kPrefixKey, valueName, type, data, dataSizeBytes),
        ERROR_SUCCESS);
  }
  ScopedRegistryValues guard_{HKEY_LOCAL_MACHINE, kPrefixKey};
};

// ApplyValidityRules into a buffer of sizeBytes with guard characters behind it.
inline std::wstring Apply(const std::wstring& name, DWORD sizeBytes = 540) {
  GuardedBuffer result(sizeBytes / sizeof(WCHAR));
  ApplyValidityRules(name.c_str(), result.data(), sizeBytes);
  EXPECT_TRUE(result.GuardIntact()) << "wrote past " << sizeBytes << " bytes";
  return result.text();
}

// Splits, applies the rules, finds the path and writes the file as the
// capture does (retrying when the file appeared meanwhile); returns the data
// path ("" on failure).
inline std::wstring CaptureInto(const std::wstring& folder, const std::wstring& title,
                                const WCHAR* extension, LONG jobId, const std::string& bytes) {
  WCHAR base[270], titleExtension[32], validName[270] = {}, dataPath[270], ticketPath[270];
  ExtractBaseNameAndExtension(title.c_str(), base, sizeof base, titleExtension,
                              sizeof titleExtension);
  ApplyValidityRules(base, validName, sizeof validName);
  for (int attempt = 0; attempt < 1000; ++attempt) {
    if (!FindUniqueNameForOutputFile(jobId, folder.c_str(), validName, extension, dataPath,
                                     ticketPath, 270)) {
      return L"";
    }
    if (WriteNewFile(dataPath, bytes)) return dataPath;
    if (GetLastError() != ERROR_FILE_EXISTS) return L"";
  }
  return L"";
}

}  // namespace naming_test
