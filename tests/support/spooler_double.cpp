#include "tests/support/spooler_double.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace spooler_double {
namespace {

struct Printer {
  DWORD attributes = 0;
  DWORD neededBytes = sizeof(PRINTER_INFO_2W);
};

struct Job {
  std::string bytes;
  DWORD maxChunkBytes = 0;
  unsigned chunksRead = 0;
  DWORD status = 0;
};

struct Handle {
  std::wstring name;
  bool isJob = false;
  size_t readPos = 0;
  int openDocument = -1;
};

struct Failure {
  SpoolerCall call;
  DWORD error;
  unsigned nth;
};

struct Data {
  std::map<std::wstring, Printer> printers;
  std::map<std::wstring, Job> jobs;
  std::vector<PrinterDocument> documents;
  std::vector<SetJobRecord> setJobs;
  std::vector<SpoolerCall> calls;
  std::map<SpoolerCall, unsigned> callCounts;
  std::vector<Failure> failures;
  std::function<void(SpoolerCall, unsigned)> hook;
  std::vector<std::unique_ptr<Handle>> handles;
  DWORD writeLimit = 0;
};

std::mutex lock;
Data data;

template <typename Action>
auto Locked(Action action) {
  std::lock_guard<std::mutex> guard(lock);
  return action(data);
}

Handle* FindHandle(HANDLE handle) {
  for (auto& owned : data.handles) {
    if (owned.get() == handle) return owned.get();
  }
  return nullptr;
}

// Counts the call, runs the hook and applies an injected failure; true when
// the call must fail.
bool Enter(SpoolerCall call) {
  unsigned number;
  std::function<void(SpoolerCall, unsigned)> hook;
  {
    std::lock_guard<std::mutex> guard(lock);
    number = ++data.callCounts[call];
    hook = data.hook;
  }
  if (hook) hook(call, number);
  std::lock_guard<std::mutex> guard(lock);
  data.calls.push_back(call);
  for (const Failure& failure : data.failures) {
    if (failure.call == call && (failure.nth == 0 || failure.nth == number)) {
      SetLastError(failure.error);
      return true;
    }
  }
  return false;
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

}  // namespace

void Reset() {
  Locked([](Data& d) { d = Data(); });
}

void AddPrinter(const std::wstring& name, DWORD attributes) {
  Locked([&](Data& d) { d.printers[name].attributes = attributes; });
}

void SetPrinterInfoNeededBytes(const std::wstring& name, DWORD neededBytes) {
  Locked([&](Data& d) {
    d.printers[name].neededBytes = std::max<DWORD>(neededBytes, sizeof(PRINTER_INFO_2W));
  });
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
  Locked([&](Data& d) { d.failures.push_back({call, error, nth}); });
}

void SetWritePrinterLimit(DWORD maxBytes) {
  Locked([&](Data& d) { d.writeLimit = maxBytes; });
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

std::vector<SpoolerCall> Calls() {
  return Locked([](Data& d) { return d.calls; });
}

unsigned CallCount(SpoolerCall call) {
  return Locked([&](Data& d) { return d.callCounts[call]; });
}

int OpenHandleCount() {
  return Locked([](Data& d) { return static_cast<int>(d.handles.size()); });
}

}  // namespace spooler_double

using namespace spooler_double;

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW /*defaults*/) {
  if (Enter(SpoolerCall::OpenPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  if (!name || !handle) return Fail(ERROR_INVALID_PARAMETER);
  auto owned = std::make_unique<Handle>();
  owned->name = name;
  owned->isJob = data.jobs.count(name) != 0;
  if (!owned->isJob && !data.printers.count(name)) return Fail(ERROR_INVALID_PRINTER_NAME);
  *handle = owned.get();
  data.handles.push_back(std::move(owned));
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE handle) {
  if (Enter(SpoolerCall::ClosePrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  auto found =
      std::find_if(data.handles.begin(), data.handles.end(),
                   [handle](const std::unique_ptr<Handle>& h) { return h.get() == handle; });
  if (found == data.handles.end()) return Fail(ERROR_INVALID_HANDLE);
  data.handles.erase(found);
  return TRUE;
}

DWORD WINAPI StartDocPrinterW(HANDLE handle, DWORD level, LPBYTE docInfo) {
  if (Enter(SpoolerCall::StartDocPrinter)) return 0;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = FindHandle(handle);
  if (!known || known->isJob || level != 1 || !docInfo) {
    return Fail(known ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  }
  const DOC_INFO_1W* info = reinterpret_cast<const DOC_INFO_1W*>(docInfo);
  PrinterDocument document;
  document.printer = known->name;
  document.name = info->pDocName ? info->pDocName : L"";
  document.outputFile = info->pOutputFile ? info->pOutputFile : L"";
  document.datatypeGiven = info->pDatatype != nullptr;
  data.documents.push_back(document);
  known->openDocument = static_cast<int>(data.documents.size() - 1);
  return static_cast<DWORD>(data.documents.size());
}

BOOL WINAPI EndDocPrinter(HANDLE handle) {
  if (Enter(SpoolerCall::EndDocPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = FindHandle(handle);
  if (!known || known->openDocument < 0) {
    return Fail(known ? ERROR_SPL_NO_STARTDOC : ERROR_INVALID_HANDLE);
  }
  data.documents[known->openDocument].ended = true;
  known->openDocument = -1;
  return TRUE;
}

BOOL WINAPI ReadPrinter(HANDLE handle, LPVOID buffer, DWORD bufferBytes, LPDWORD readBytes) {
  if (Enter(SpoolerCall::ReadPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = FindHandle(handle);
  if (!known || !known->isJob) return Fail(ERROR_INVALID_HANDLE);
  Job& job = data.jobs[known->name];
  size_t count = std::min<size_t>(bufferBytes, job.bytes.size() - known->readPos);
  if (job.maxChunkBytes) count = std::min<size_t>(count, job.maxChunkBytes);
  if (count) {
    std::memcpy(buffer, job.bytes.data() + known->readPos, count);
    ++job.chunksRead;
  }
  known->readPos += count;
  *readBytes = static_cast<DWORD>(count);
  return TRUE;
}

BOOL WINAPI WritePrinter(HANDLE handle, LPVOID bytes, DWORD dataBytes, LPDWORD writtenBytes) {
  if (Enter(SpoolerCall::WritePrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = FindHandle(handle);
  if (!known || known->openDocument < 0) {
    return Fail(known ? ERROR_SPL_NO_STARTDOC : ERROR_INVALID_HANDLE);
  }
  const DWORD accepted = data.writeLimit ? std::min(dataBytes, data.writeLimit) : dataBytes;
  PrinterDocument& document = data.documents[known->openDocument];
  document.data.append(static_cast<const char*>(bytes), accepted);
  document.writeSizes.push_back(dataBytes);
  *writtenBytes = accepted;
  return TRUE;
}

BOOL WINAPI SetJobW(HANDLE handle, DWORD jobId, DWORD level, LPBYTE jobData, DWORD command) {
  if (Enter(SpoolerCall::SetJob)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = FindHandle(handle);
  if (!known) return Fail(ERROR_INVALID_HANDLE);
  data.setJobs.push_back({known->name, jobId, level, jobData != nullptr, command});
  return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD bufferBytes,
                        LPDWORD neededBytes) {
  if (Enter(SpoolerCall::GetPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = FindHandle(handle);
  if (!known || known->isJob || level != 2) {
    return Fail(known ? ERROR_INVALID_LEVEL : ERROR_INVALID_HANDLE);
  }
  const Printer& printer = data.printers[known->name];
  *neededBytes = printer.neededBytes;
  if (bufferBytes < printer.neededBytes || !buffer) return Fail(ERROR_INSUFFICIENT_BUFFER);
  PRINTER_INFO_2W info = {};
  info.Attributes = printer.attributes;
  std::memcpy(buffer, &info, sizeof(info));
  return TRUE;
}

// Asked through a printer handle, as the spooler answers for its queue.
BOOL WINAPI GetJobW(HANDLE handle, DWORD jobId, DWORD level, LPBYTE buffer, DWORD bufferBytes,
                    LPDWORD neededBytes) {
  if (Enter(SpoolerCall::GetJob)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = FindHandle(handle);
  const std::wstring jobName = known ? known->name + L", Job " + std::to_wstring(jobId) : L"";
  if (!known || known->isJob || level != 1 || !data.jobs.count(jobName)) {
    return Fail(known ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
  }
  *neededBytes = sizeof(JOB_INFO_1W);
  if (bufferBytes < sizeof(JOB_INFO_1W) || !buffer) return Fail(ERROR_INSUFFICIENT_BUFFER);
  JOB_INFO_1W info = {};
  info.Status = data.jobs[jobName].status;
  std::memcpy(buffer, &info, sizeof(info));
  return TRUE;
}

}  // extern "C"
