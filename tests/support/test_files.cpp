#include "tests/support/test_files.h"

#include <algorithm>
#include <atomic>
#include <sstream>

#include "platform/holders.h"

namespace {

// The folder's path ending with a backslash.
std::wstring Within(const std::wstring& folder) {
  return folder.empty() || folder.back() == L'\\' ? folder : folder + L'\\';
}

bool WriteFileWith(DWORD disposition, const std::wstring& path, const std::string& bytes) {
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, disposition,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  DWORD writtenBytes = 0;
  return bytes.empty() || (WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size()),
                                     &writtenBytes, nullptr) &&
                           writtenBytes == bytes.size());
}

}  // namespace

TempFolder::TempFolder() {
  static std::atomic<unsigned> counter{0};
  WCHAR temp[MAX_PATH + 1];
  const DWORD chars = GetTempPathW(MAX_PATH + 1, temp);
  path = std::wstring(temp, chars) + L"hvk" + std::to_wstring(GetCurrentProcessId()) + L"_" +
         std::to_wstring(counter++) + L"\\";
  RemoveTree(path);
  CreateDirectoryW(path.c_str(), nullptr);
}

TempFolder::~TempFolder() {
  RemoveTree(path);
}

std::vector<std::wstring> ListFolder(const std::wstring& folder) {
  std::vector<std::wstring> names;
  WIN32_FIND_DATAW found;
  const UniqueFind search(FindFirstFileW((Within(folder) + L"*").c_str(), &found));
  for (bool more = search.valid(); more; more = FindNextFileW(search.get(), &found)) {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

void RemoveTree(const std::wstring& folder) {
  for (const std::wstring& name : ListFolder(folder)) {
    const std::wstring child = Within(folder) + name;
    SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
    const DWORD attributes = GetFileAttributesW(child.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      RemoveTree(child);
    } else {
      DeleteFileW(child.c_str());
    }
  }
  RemoveDirectoryW(Within(folder).c_str());
}

bool WriteNewFile(const std::wstring& path, const std::string& bytes) {
  return WriteFileWith(CREATE_NEW, path, bytes);
}

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  return WriteFileWith(CREATE_ALWAYS, path, bytes);
}

std::string ReadWholeFile(const std::wstring& path) {
  std::string bytes;
  return ReadFileBytes(path, &bytes) ? bytes : std::string();
}

bool ReadFileBytes(const std::wstring& path, std::string* bytes) {
  const UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return false;
  bytes->clear();
  char chunk[65536];
  DWORD readBytes = 0;
  while (ReadFile(file.get(), chunk, sizeof(chunk), &readBytes, nullptr) && readBytes > 0) {
    bytes->append(chunk, readBytes);
  }
  return true;
}

std::vector<std::string> ReadCorpusLines(const std::wstring& path) {
  std::istringstream text(ReadWholeFile(path));
  const bool hex = path.size() > 4 && path.compare(path.size() - 4, 4, L".hex") == 0;
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (hex && line != "-") {
      std::string bytes;
      for (size_t i = 0; i + 1 < line.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
      }
      line = bytes;
    }
    lines.push_back(line);
  }
  return lines;
}
