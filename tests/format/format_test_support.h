// Shared by the format tests: fixtures, the capture's CheckSignatures call and
// debugger-output capture.
#pragma once

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/format_internal.h"

// Without a debugger, trace output arrives as a continuable exception; a
// vectored handler records it and continues as a debugger would. Single
// thread only.
class TraceCapture {
 public:
  TraceCapture() : handler_(AddVectoredExceptionHandler(1, &OnException)) { active_ = this; }
  ~TraceCapture() {
    active_ = nullptr;
    RemoveVectoredExceptionHandler(handler_);
  }
  bool Contains(const std::wstring& text) const {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
  }
  std::vector<std::wstring> texts;

 private:
  static inline TraceCapture* active_ = nullptr;
  static LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    const bool wide = record->ExceptionCode == 0x4001000A;  // DBG_PRINTEXCEPTION_WIDE_C
    if (!active_ || record->NumberParameters < 2 || (!wide && record->ExceptionCode != 0x40010006))
      return EXCEPTION_CONTINUE_SEARCH;
    const int count = std::max(static_cast<int>(record->ExceptionInformation[0]) - 1, 0);
    const void* text = reinterpret_cast<const void*>(record->ExceptionInformation[1]);
    std::wstring value(count, L'\0');
    if (wide) {
      value.assign(static_cast<const WCHAR*>(text), count);
    } else if (count > 0) {  // the ANSI form of a wide trace: back through the same code page
      value.resize(
          MultiByteToWideChar(CP_ACP, 0, static_cast<const char*>(text), count, &value[0], count));
    }
    active_->texts.push_back(value);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  PVOID handler_;
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

// As the capture calls it: a 540-byte title buffer, flag cleared; a title
// left unterminated shows as 270 units or more.
inline CheckResult Check(const BYTE* data, DWORD lengthBytes) {
  WCHAR title[271];
  std::fill(title, title + 270, WCHAR(0xCCCC));
  title[270] = 0;
  CheckResult result{static_cast<JobFormat>(0xDEAD), FALSE, L""};
  CheckSignatures(data, lengthBytes, title, 540, &result.format, &result.known);
  result.title = title;
  return result;
}
inline CheckResult Check(const std::string& block) {
  return Check(Bytes(block), Length(block));
}
