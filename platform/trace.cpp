// Traces and the capture log. The log is an extra: a log that cannot be
// opened or written costs one open per job and never fails the job.
#include "platform/trace.h"

#include <cwchar>

#include "platform/registry_key.h"
#include "platform/registry_names.h"

namespace {

constexpr DWORD kLineChars = 1024;
constexpr DWORD kLineBytes = kLineChars * 3;  // UTF-8 takes at most 3 bytes a unit

// The log of the job this thread captures; each spooler thread runs one job.
// Zero-initialised, so that no thread pays for setting it up: file is null
// while there is no log.
struct CaptureLogState {
  HANDLE file;
  LONG jobId;
};
thread_local CaptureLogState captureLog;

// One whole line in one write, so that concurrent writers never mix within a
// line: the file is open for appending only.
void AppendLogLine(const WCHAR* text) {
  if (!captureLog.file) return;
  SYSTEMTIME now;
  GetLocalTime(&now);
  WCHAR line[kLineChars];
  const int prefixChars =
      _snwprintf(line, kLineChars - 1, L"%04u-%02u-%02u %02u:%02u:%02u.%03u pid %lu job %ld ",
                 now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond,
                 now.wMilliseconds, GetCurrentProcessId(), captureLog.jobId);
  if (prefixChars < 0) return;
  DWORD used = static_cast<DWORD>(prefixChars);
  // Line breaks inside the text would split the line.
  for (const WCHAR* unit = text; *unit && used + 3 < kLineChars; ++unit) {
    line[used++] = (*unit == L'\r' || *unit == L'\n') ? L' ' : *unit;
  }
  line[used++] = L'\r';
  line[used++] = L'\n';
  char bytes[kLineBytes];
  const int lineBytes = WideCharToMultiByte(CP_UTF8, 0, line, static_cast<int>(used), bytes,
                                            static_cast<int>(sizeof(bytes)), nullptr, nullptr);
  DWORD writtenBytes = 0;
  if (lineBytes > 0) WriteFile(captureLog.file, bytes, lineBytes, &writtenBytes, nullptr);
}

// The "CaptureLog" value; empty when it is not set or cannot be read.
void ReadCaptureLogPath(WCHAR* path, DWORD pathChars) {
  path[0] = L'\0';
  const UniqueKey spooler = OpenMachineKey(kSpoolerSettingsKey, KEY_QUERY_VALUE);
  if (!spooler.get()) return;
  DWORD sizeBytes = (pathChars - 1) * sizeof(WCHAR);
  DWORD type = REG_NONE;
  if (RegQueryValueExW(spooler.get(), kCaptureLogValue, nullptr, &type,
                       reinterpret_cast<BYTE*>(path), &sizeBytes) != ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    path[0] = L'\0';
    return;
  }
  path[sizeBytes / sizeof(WCHAR)] = L'\0';
}

// A full log moves aside to "<log>.1", replacing the one before.
void RotateIfFull(const WCHAR* path) {
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!GetFileAttributesExW(path, GetFileExInfoStandard, &attributes)) return;
  if (attributes.nFileSizeHigh == 0 && attributes.nFileSizeLow < kCaptureLogLimitBytes) return;
  WCHAR older[kCaptureLogPathChars + 2];
  CopyBounded(older, kCaptureLogPathChars + 2, path);
  AppendBounded(older, kCaptureLogPathChars + 2, L".1");
  MoveFileExW(path, older, MOVEFILE_REPLACE_EXISTING);
}

}  // namespace

void TraceText(const WCHAR* text) {
  OutputDebugStringW(text);
  if (text) AppendLogLine(text);
}

void TraceTextA(const char* text) {
  OutputDebugStringA(text);
  if (!text || !captureLog.file) return;
  WCHAR wide[kLineChars] = {};
  MultiByteToWideChar(CP_ACP, 0, text, -1, wide, kLineChars - 1);
  AppendLogLine(wide);
}

void TraceReason(const WCHAR* what, DWORD error) {
  if (!captureLog.file) return;
  WCHAR system[512] = L"";
  const DWORD systemChars =
      FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                     system, 512, nullptr);
  // The system's text ends in a line break.
  for (DWORD end = systemChars;
       end > 0 && (system[end - 1] == L'\r' || system[end - 1] == L'\n' || system[end - 1] == L' ');
       --end) {
    system[end - 1] = L'\0';
  }
  WCHAR message[kLineChars];
  WCHAR number[16];
  FormatOneNumber(number, 16, L"%d", static_cast<LONG>(error));
  CopyBounded(message, kLineChars, what, 300);
  AppendBounded(message, kLineChars, L": ");
  AppendBounded(message, kLineChars, system);
  AppendBounded(message, kLineChars, L" (error ");
  AppendBounded(message, kLineChars, number);
  AppendBounded(message, kLineChars, L")");
  AppendLogLine(message);
}

void LogReasonText(const WCHAR* what, const WCHAR* detail) {
  WCHAR message[kLineChars];
  CopyBounded(message, kLineChars, what, 300);
  AppendBounded(message, kLineChars, detail ? detail : L"");
  AppendLogLine(message);
}

void OpenCaptureLog() {
  CloseCaptureLog();
  WCHAR path[kCaptureLogPathChars] = L"";
  ReadCaptureLogPath(path, kCaptureLogPathChars);
  if (!path[0]) return;
  RotateIfFull(path);
  const HANDLE file =
      CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) captureLog.file = file;
}

void SetCaptureLogJobId(LONG jobId) {
  captureLog.jobId = jobId;
}

void CloseCaptureLog() {
  if (captureLog.file) CloseHandle(captureLog.file);
  captureLog = CaptureLogState();
}
