// Helpers shared by the format tests: fixture files, one CheckSignatures
// call with the capture's 540-byte title buffer, and debugger-output capture.
#pragma once

#include <algorithm>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "format/format.h"

namespace format_test {

// Debugger output reaches a process without a debugger as a continuable
// exception; a vectored handler collects the text and continues, as an
// attached debugger would.
class TraceCapture {
 public:
  TraceCapture() : handler_(AddVectoredExceptionHandler(1, &TraceCapture::OnException)) {
    Active() = this;
  }
  ~TraceCapture() {
    Active() = nullptr;
    RemoveVectoredExceptionHandler(handler_);
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::wstring> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  bool Contains(const std::wstring& text) {
    const std::vector<std::wstring> texts = Texts();
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  // The text right after the first occurrence of label, or "<none>".
  std::wstring After(const std::wstring& label) {
    const std::vector<std::wstring> texts = Texts();
    const auto found = std::find(texts.begin(), texts.end(), label);
    return found != texts.end() && found + 1 != texts.end() ? *(found + 1) : L"<none>";
  }

 private:
  static TraceCapture*& Active() {
    static TraceCapture* active = nullptr;
    return active;
  }
  static LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const bool wide = record->ExceptionCode == 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C
    TraceCapture* capture = Active();
    if (!capture || record->NumberParameters < 2 ||
        (!wide && record->ExceptionCode != 0x40010006)) {  // DBG_PRINTEXCEPTION_C
      return EXCEPTION_CONTINUE_SEARCH;
    }
    const int count = static_cast<int>(record->ExceptionInformation[0]) - 1;
    const void* text = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
    std::wstring value(count > 0 ? count : 0, L'\0');
    if (wide) {
      value.assign(static_cast<const WCHAR*>(text), value.size());
    } else if (count > 0) {
      // The ANSI form of a wide trace: back through the same code page.
      value.resize(
          MultiByteToWideChar(CP_ACP, 0, static_cast<const char*>(text), count, &value[0], count));
    }
    std::lock_guard<std::mutex> lock(capture->mutex_);
    capture->texts_.push_back(value);
    return EXCEPTION_CONTINUE_EXECUTION;
  }

  PVOID handler_;
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
};

// The bytes of tests/fixtures/format/<name>; empty when unreadable.
inline std::string ReadFixture(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/format/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline const BYTE* Bytes(const std::string& text) {
  return reinterpret_cast<const BYTE*>(text.data());
}
inline DWORD Length(const std::string& text) {
  return static_cast<DWORD>(text.size());
}

struct CheckResult {
  JobFormat format;
  BOOL known;
  std::wstring title;
};

// One call as the capture makes it: a 540-byte title buffer, flag cleared;
// a title left unterminated in the buffer shows as 270 units or more.
inline CheckResult Check(const BYTE* data, DWORD lengthBytes) {
  WCHAR title[271];
  for (WCHAR& unit : title) unit = 0xCCCC;
  title[270] = 0;
  JobFormat format = static_cast<JobFormat>(0xDEAD);
  BOOL known = FALSE;
  CheckSignatures(data, lengthBytes, title, 540, &format, &known);
  return CheckResult{format, known, std::wstring(title)};
}
inline CheckResult Check(const std::string& block) {
  return Check(Bytes(block), Length(block));
}

}  // namespace format_test
