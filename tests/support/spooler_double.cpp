#include "tests/support/spooler_double.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <tuple>
#include <utility>

namespace spooler_double {
namespace {

struct Job {
  std::string bytes;
  DWORD maxChunkBytes = 0;
  unsigned chunksRead = 0;
  DWORD status = 0;
};

struct Handle {
  std::wstring name;
  size_t readPos = 0;
  int openDocument = -1;
};

struct Data {
  std::map<std::wstring, DWORD> printerAttributes;
  std::map<std::wstring, Job> jobs;
  std::vector<PrinterDocument> documents;
  std::vector<SetJobRecord> setJobs;
  std::map<SpoolerCall, unsigned> callCounts;
  std::vector<std::tuple<SpoolerCall, DWORD, unsigned>> failures;  // call, error, nth
  std::function<void(SpoolerCall, unsigned)> hook;
  std::map<HANDLE, Handle> handles;
};

std::mutex lock;
Data data;
UINT_PTR lastHandle = 0;  // never reused, not even after a reset

template <typename Action>
auto Locked(Action action) {
  std::lock_guard<std::mutex> guard(lock);
  return action(data);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

// Every call: counts it, runs the hook (outside the lock), applies an
// injected failure, then runs body under the lock with the handle's record
// (none for OpenPrinter). A handle never opened, or a document never started,
// throws: the product does neither, and a test that makes it do so dies.
template <typename Body>
DWORD Call(SpoolerCall call, HANDLE handle, Body body) {
  const auto [number, hook] =
      Locked([call](Data& d) { return std::make_pair(++d.callCounts[call], d.hook); });
  if (hook) hook(call, number);
  std::lock_guard<std::mutex> guard(lock);
  for (const auto& [kind, error, nth] : data.failures) {
    if (kind == call && (nth == 0 || nth == number)) return Fail(error);
  }
  return body(call == SpoolerCall::OpenPrinter ? nullptr : &data.handles.at(handle));
}

// A level-1 or level-2 record, as the spooler hands one back.
template <typename Info>
BOOL Answer(const Info& info, LPBYTE buffer, DWORD bufferBytes, LPDWORD neededBytes) {
  *neededBytes = sizeof(Info);
  if (bufferBytes < sizeof(Info)) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::memcpy(buffer, &info, sizeof(info));
  return TRUE;
}

}  // namespace

void Reset() {
  Locked([](Data& d) { d = Data(); });
}

void AddPrinter(const std::wstring& name, DWORD attributes) {
  Locked([&](Data& d) { d.printerAttributes[name] = attributes; });
}

void AddJob(const std::wstring& documentName, const std::string& bytes, DWORD maxChunkBytes) {
  Locked([&](Data& d) { d.jobs[documentName] = Job{bytes, maxChunkBytes, 0, 0}; });
}

void SetJobStatus(const std::wstring& documentName, DWORD status) {
  Locked([&](Data& d) { d.jobs.at(documentName).status = status; });
}

unsigned ChunksRead(const std::wstring& documentName) {
  return Locked([&](Data& d) { return d.jobs.at(documentName).chunksRead; });
}

void FailCall(SpoolerCall call, DWORD error, unsigned nth) {
  Locked([&](Data& d) { d.failures.emplace_back(call, error, nth); });
}

void SetHook(std::function<void(SpoolerCall, unsigned)> hook) {
  Locked([&](Data& d) { d.hook = std::move(hook); });
}

std::vector<PrinterDocument> Documents() {
  return Locked([](Data& d) { return d.documents; });
}

std::vector<SetJobRecord> SetJobCalls() {
  return Locked([](Data& d) { return d.setJobs; });
}

int OpenHandleCount() {
  return Locked([](Data& d) { return static_cast<int>(d.handles.size()); });
}

}  // namespace spooler_double

using namespace spooler_double;

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW /*defaults*/) {
  return Call(SpoolerCall::OpenPrinter, nullptr, [&](Handle*) {
    if (!data.jobs.count(name) && !data.printerAttributes.count(name)) {
      return Fail(ERROR_INVALID_PRINTER_NAME);
    }
    *handle = reinterpret_cast<HANDLE>(++lastHandle);
    data.handles[*handle] = Handle{name, 0, -1};
    return TRUE;
  });
}

BOOL WINAPI ClosePrinter(HANDLE handle) {
  return Call(SpoolerCall::ClosePrinter, handle, [&](Handle*) {
    data.handles.erase(handle);
    return TRUE;
  });
}

// Levels: the product asks for level 1 of a document and a job, level 2 of a printer.
DWORD WINAPI StartDocPrinterW(HANDLE handle, DWORD /*level*/, LPBYTE docInfo) {
  return Call(SpoolerCall::StartDocPrinter, handle, [&](Handle* known) -> DWORD {
    const WCHAR* name = reinterpret_cast<const DOC_INFO_1W*>(docInfo)->pDocName;
    data.documents.push_back(PrinterDocument{name ? name : L"", "", false});
    known->openDocument = static_cast<int>(data.documents.size() - 1);
    return static_cast<DWORD>(data.documents.size());
  });
}

BOOL WINAPI EndDocPrinter(HANDLE handle) {
  return Call(SpoolerCall::EndDocPrinter, handle, [&](Handle* known) {
    data.documents.at(known->openDocument).ended = true;
    known->openDocument = -1;
    return TRUE;
  });
}

BOOL WINAPI ReadPrinter(HANDLE handle, LPVOID buffer, DWORD bufferBytes, LPDWORD readBytes) {
  return Call(SpoolerCall::ReadPrinter, handle, [&](Handle* known) {
    Job& job = data.jobs[known->name];
    size_t count = std::min<size_t>(bufferBytes, job.bytes.size() - known->readPos);
    if (job.maxChunkBytes) count = std::min<size_t>(count, job.maxChunkBytes);
    std::memcpy(buffer, job.bytes.data() + known->readPos, count);
    job.chunksRead += count != 0;
    known->readPos += count;
    *readBytes = static_cast<DWORD>(count);
    return TRUE;
  });
}

BOOL WINAPI WritePrinter(HANDLE handle, LPVOID bytes, DWORD dataBytes, LPDWORD writtenBytes) {
  return Call(SpoolerCall::WritePrinter, handle, [&](Handle* known) {
    data.documents.at(known->openDocument).data.append(static_cast<const char*>(bytes), dataBytes);
    *writtenBytes = dataBytes;
    return TRUE;
  });
}

BOOL WINAPI SetJobW(HANDLE handle, DWORD jobId, DWORD /*level*/, LPBYTE /*jobData*/,
                    DWORD command) {
  return Call(SpoolerCall::SetJob, handle, [&](Handle*) {
    data.setJobs.push_back({jobId, command});
    return TRUE;
  });
}

BOOL WINAPI GetPrinterW(HANDLE handle, DWORD /*level*/, LPBYTE buffer, DWORD bufferBytes,
                        LPDWORD neededBytes) {
  return Call(SpoolerCall::GetPrinter, handle, [&](Handle* known) {
    PRINTER_INFO_2W info = {};
    info.Attributes = data.printerAttributes[known->name];
    return Answer(info, buffer, bufferBytes, neededBytes);
  });
}

// Asked through a printer handle, as the spooler answers for its queue.
BOOL WINAPI GetJobW(HANDLE handle, DWORD jobId, DWORD /*level*/, LPBYTE buffer, DWORD bufferBytes,
                    LPDWORD neededBytes) {
  return Call(SpoolerCall::GetJob, handle, [&](Handle* known) {
    JOB_INFO_1W info = {};
    info.Status = data.jobs.at(known->name + L", Job " + std::to_wstring(jobId)).status;
    return Answer(info, buffer, bufferBytes, neededBytes);
  });
}

}  // extern "C"
