// Helpers shared by the format tests: fixture files, one CheckSignatures
// call with the capture's 540-byte title buffer, and debugger-output capture.
#pragma once

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
  TraceCapture() {
    Active() = this;
    handler_ = AddVectoredExceptionHandler(1, &TraceCapture::OnException);
  }
  ~TraceCapture() {
    if (handler_) RemoveVectoredExceptionHandler(handler_);
    Active() = nullptr;
  }
  TraceCapture(const TraceCapture&) = delete;
  TraceCapture& operator=(const TraceCapture&) = delete;

  std::vector<std::wstring> Texts() {
    std::lock_guard<std::mutex> lock(mutex_);
    return texts_;
  }
  bool Contains(const std::wstring& text) {
    for (const std::wstring& each : Texts()) {
      if (each == text) return true;
    }
    return false;
  }
  // The text right after the first occurrence of label, or "<none>".
  std::wstring After(const std::wstring& label) {
    const std::vector<std::wstring> texts = Texts();
    for (size_t i = 0; i + 1 < texts.size(); ++i) {
      if (texts[i] == label) return texts[i + 1];
    }
    return L"<none>";
  }

 private:
  static TraceCapture*& Active() {
    static TraceCapture* active = nullptr;
    return active;
  }
  static LONG CALLBACK OnException(EXCEPTION_POINTERS* pointers) {
    const EXCEPTION_RECORD* record = pointers->ExceptionRecord;
    TraceCapture* capture = Active();
    if (!capture || record->NumberParameters < 2) return EXCEPTION_CONTINUE_SEARCH;
    const ULONG_PTR lengthChars = record->ExceptionInformation[0];
    if (record->ExceptionCode == 0x4001000A /* DBG_PRINTEXCEPTION_WIDE_C */) {
      const WCHAR* text = reinterpret_cast<const WCHAR*>(record->ExceptionInformation[1]);
      std::wstring value(text, lengthChars > 0 ? lengthChars - 1 : 0);
      capture->Add(value);
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    if (record->ExceptionCode == 0x40010006 /* DBG_PRINTEXCEPTION_C */) {
      // The ANSI form of a wide trace: back through the same code page.
      const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
      const int countBytes = lengthChars > 0 ? static_cast<int>(lengthChars - 1) : 0;
      std::wstring value(countBytes, L'\0');
      if (countBytes > 0) {
        value.resize(MultiByteToWideChar(CP_ACP, 0, text, countBytes, &value[0], countBytes));
      }
      capture->Add(value);
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    return EXCEPTION_CONTINUE_SEARCH;
  }
  void Add(const std::wstring& text) {
    std::lock_guard<std::mutex> lock(mutex_);
    texts_.push_back(text);
  }

  PVOID handler_ = nullptr;
  std::mutex mutex_;
  std::vector<std::wstring> texts_;
};

// The bytes of tests/fixtures/format/<name>; empty when unreadable.
inline std::string ReadFixture(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/format/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
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

// One call as the capture makes it: a 540-byte title buffer, flag cleared.
inline CheckResult Check(const std::string& block) {
  WCHAR title[270];
  for (WCHAR& unit : title) unit = 0xCCCC;
  JobFormat format = static_cast<JobFormat>(0xDEAD);
  BOOL known = FALSE;
  CheckSignatures(Bytes(block), Length(block), title, sizeof(title), &format, &known);
  return CheckResult{format, known, std::wstring(title)};
}

}  // namespace format_test
