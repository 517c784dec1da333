// The capture log switch, and the last lines of the log.
#include <string>
#include <vector>

#include "platform/registry_names.h"
#include "tools/setup/commands.h"
#include "tools/setup/common.h"
#include "tools/setup/registry.h"
#include "tools/tool_support.h"

namespace setup {
namespace {

using tools::Say;

constexpr long kDefaultShownLines = 20;
// The log is kept near 1 MiB; more than this is not looked at.
constexpr DWORD kShownTailBytes = 256 * 1024;

std::wstring LogPath() {
  std::wstring path;
  if (ReadString(kSpoolerSettingsKey, kCaptureLogValue, &path)) path.clear();
  return path;
}

// The last bytes of the log, which the print processor may be writing.
DWORD ReadTail(const std::wstring& path, std::string* bytes) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return GetLastError();
  LARGE_INTEGER sizeBytes = {};
  if (!GetFileSizeEx(file.get(), &sizeBytes)) return GetLastError();
  LARGE_INTEGER start = {};
  if (sizeBytes.QuadPart > kShownTailBytes) start.QuadPart = sizeBytes.QuadPart - kShownTailBytes;
  if (!SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) return GetLastError();
  bytes->assign(static_cast<size_t>(sizeBytes.QuadPart - start.QuadPart), '\0');
  DWORD readBytes = 0;
  if (!bytes->empty() &&
      !ReadFile(file.get(), &(*bytes)[0], static_cast<DWORD>(bytes->size()), &readBytes, nullptr)) {
    return GetLastError();
  }
  bytes->resize(readBytes);
  return 0;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return L"";
  const int chars =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], chars);
  return wide;
}

int ShowLog(const std::wstring& path, long lineCount) {
  std::string bytes;
  if (DWORD error = ReadTail(path, &bytes)) return Fail(L"reading the capture log " + path, error);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < bytes.size()) {
    size_t end = bytes.find('\n', start);
    if (end == std::string::npos) end = bytes.size();
    std::string line = bytes.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  const size_t first = lines.size() > static_cast<size_t>(lineCount) ? lines.size() - lineCount : 0;
  for (size_t i = first; i < lines.size(); ++i) Say(FromUtf8(lines[i]));
  return 0;
}

int SwitchLogOn(const std::wstring& file) {
  const std::wstring path = FullPath(file);
  // Room for the ".1" of the rotated log.
  if (path.size() + 3 > kCaptureLogPathChars) {
    Complain(L"a capture log path may have " + std::to_wstring(kCaptureLogPathChars - 3) +
             L" characters at most");
    return kExitUsage;
  }
  if (DWORD error = WriteString(kSpoolerSettingsKey, kCaptureLogValue, path)) {
    return Fail(std::wstring(L"writing ") + kCaptureLogValue, error);
  }
  Say(L"capture log on: " + path);
  const std::wstring folder = path.substr(0, path.find_last_of(L'\\'));
  if (!FolderExists(folder)) {
    Say(L"note: the folder " + folder + L" does not exist; nothing is logged until it does");
  }
  return 0;
}

}  // namespace

std::wstring CaptureLogState() {
  const std::wstring path = LogPath();
  return path.empty() ? L"off" : L"on, " + path;
}

int Log(const Options& options) {
  const std::vector<std::wstring>& args = options.positional;
  const std::wstring action = args.empty() ? L"" : args[0];
  if (action == L"on" && args.size() == 2) return SwitchLogOn(args[1]);
  if (action == L"off" && args.size() == 1) {
    if (DWORD error = DeleteValue(kSpoolerSettingsKey, kCaptureLogValue)) {
      return Fail(std::wstring(L"removing ") + kCaptureLogValue, error);
    }
    Say(L"capture log off");
    return 0;
  }
  long lineCount = kDefaultShownLines;
  if (action == L"show" && args.size() <= 2 &&
      (args.size() == 1 || tools::ParseNumber(args[1].c_str(), 1, 1000000, &lineCount))) {
    const std::wstring path = LogPath();
    if (path.empty()) {
      Complain(L"the capture log is off");
      return kExitFailure;
    }
    return ShowLog(path, lineCount);
  }
  Complain(L"usage: log on FILE | log off | log show [N]");
  return kExitUsage;
}

}  // namespace setup
