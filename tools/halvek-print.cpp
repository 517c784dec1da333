// Submits a file as print jobs through the spooler, to try out a queue:
//   halvek-print PRINTER FILE [--document-name NAME] [--datatype RAW|TEXT|OTHER] [--repeat N]
// Every job of one run comes from this process, so the spooler numbers them
// 1, 2, ... in order. Prints "job N: M bytes, printed" per job; exits with 1
// when a job failed, 2 on bad usage.
#include <algorithm>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/win.h"
#include "tools/tool_support.h"

namespace {

using namespace tools;

constexpr DWORD kChunkBytes = 65536;

void Complain(const std::wstring& line) {
  tools::Complain(L"halvek-print", line);
}

bool ReadWholeFile(const std::wstring& path, std::vector<char>* bytes, DWORD* error) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    *error = GetLastError();
    return false;
  }
  LARGE_INTEGER sizeBytes = {};
  if (!GetFileSizeEx(file.get(), &sizeBytes)) {
    *error = GetLastError();
    return false;
  }
  if (sizeBytes.QuadPart > 0x7FFFFFFF) {
    *error = ERROR_FILE_TOO_LARGE;
    return false;
  }
  bytes->resize(static_cast<size_t>(sizeBytes.QuadPart));
  size_t doneBytes = 0;
  while (doneBytes < bytes->size()) {
    const DWORD wantBytes =
        static_cast<DWORD>(std::min<size_t>(bytes->size() - doneBytes, kChunkBytes));
    DWORD gotBytes = 0;
    if (!ReadFile(file.get(), bytes->data() + doneBytes, wantBytes, &gotBytes, nullptr)) {
      *error = GetLastError();
      return false;
    }
    if (gotBytes == 0) break;
    doneBytes += gotBytes;
  }
  bytes->resize(doneBytes);
  return true;
}

std::wstring BaseName(const std::wstring& path) {
  const size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? path : path.substr(slash + 1);
}

// One job: start, write in chunks, end. Returns 0 or the failing call's error.
DWORD PrintOnce(HANDLE printer, const std::wstring& documentName, const std::wstring& datatype,
                const std::vector<char>& bytes, DWORD* jobId, std::wstring* failedCall) {
  DOC_INFO_1W document = {};
  document.pDocName = const_cast<WCHAR*>(documentName.c_str());
  document.pDatatype = datatype.empty() ? nullptr : const_cast<WCHAR*>(datatype.c_str());
  *jobId = StartDocPrinterW(printer, 1, reinterpret_cast<BYTE*>(&document));
  if (*jobId == 0) {
    *failedCall = L"StartDocPrinterW";
    return GetLastError();
  }
  StartedDocument started(printer);
  size_t doneBytes = 0;
  while (doneBytes < bytes.size()) {
    const DWORD wantBytes =
        static_cast<DWORD>(std::min<size_t>(bytes.size() - doneBytes, kChunkBytes));
    DWORD writtenBytes = 0;
    if (!WritePrinter(printer, const_cast<char*>(bytes.data() + doneBytes), wantBytes,
                      &writtenBytes) ||
        writtenBytes == 0) {
      const DWORD error = GetLastError();
      *failedCall = L"WritePrinter";
      return error ? error : ERROR_WRITE_FAULT;
    }
    doneBytes += writtenBytes;
  }
  if (!EndDocPrinter(started.release())) {
    *failedCall = L"EndDocPrinter";
    return GetLastError();
  }
  return 0;
}

int Usage() {
  Complain(
      L"usage: halvek-print PRINTER FILE [--document-name NAME] [--datatype RAW|TEXT|OTHER] "
      L"[--repeat N]");
  return 2;
}

struct Arguments {
  std::wstring printerName, path, documentName;
  std::wstring datatype = L"RAW";
  long repeat = 1;
};

// False for bad usage.
bool ParseArguments(int argc, wchar_t** argv, Arguments* arguments) {
  std::vector<std::wstring> positional;
  bool documentNameGiven = false;
  for (int index = 1; index < argc; ++index) {
    const std::wstring argument = argv[index];
    const bool hasValue = index + 1 < argc;
    if (argument == L"--document-name" && hasValue) {
      arguments->documentName = argv[++index];
      documentNameGiven = true;
    } else if (argument == L"--datatype" && hasValue) {
      arguments->datatype = argv[++index];
    } else if (argument == L"--repeat" && hasValue) {
      if (!ParseNumber(argv[++index], 1, 1000, &arguments->repeat)) return false;
    } else if (argument.compare(0, 2, L"--") == 0) {
      return false;
    } else {
      positional.push_back(argument);
    }
  }
  if (positional.size() != 2) return false;
  arguments->printerName = positional[0];
  arguments->path = positional[1];
  if (!documentNameGiven) arguments->documentName = BaseName(arguments->path);
  return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Arguments arguments;
  if (!ParseArguments(argc, argv, &arguments)) return Usage();
  const std::wstring& printerName = arguments.printerName;
  const std::wstring& path = arguments.path;

  std::vector<char> bytes;
  DWORD error = 0;
  if (!ReadWholeFile(path, &bytes, &error)) {
    Complain(L"reading " + path + L" failed: " + ErrorText(error));
    return 1;
  }
  UniquePrinter printer;
  if (!OpenPrinterW(const_cast<WCHAR*>(printerName.c_str()), printer.put(), nullptr)) {
    Complain(L"opening the printer \"" + printerName + L"\" failed: " + ErrorText(GetLastError()));
    return 1;
  }
  int result = 0;
  for (long copy = 0; copy < arguments.repeat; ++copy) {
    DWORD jobId = 0;
    std::wstring failedCall;
    error = PrintOnce(printer.get(), arguments.documentName, arguments.datatype, bytes, &jobId,
                      &failedCall);
    const std::wstring job = jobId ? L"job " + std::to_wstring(jobId) : std::wstring(L"job");
    if (error) {
      Complain(job + L": " + failedCall + L" failed: " + ErrorText(error));
      result = 1;
    } else {
      Say(job + L": " + std::to_wstring(bytes.size()) + L" bytes, printed");
    }
  }
  return result;
}
