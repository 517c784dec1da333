#include "tests/support/spooler_double.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

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
  std::map<std::wstring, DWORD> printerAttributes;
  std::map<std::wstring, Job> jobs;
  std::vector<PrinterDocument> documents;
  std::vector<SetJobRecord> setJobs;
  std::map<SpoolerCall, unsigned> callCounts;
  std::vector<Failure> failures;
  std::function<void(SpoolerCall, unsigned)> hook;
  std::vector<std::unique_ptr<Handle>> handles;
};

std::mutex lock;
Data data;

template <typename Action>
auto Locked(Action action) {
  std::lock_guard<std::mutex> guard(lock);
  return action(data);
}

BOOL Fail(DWORD error) {
  SetLastError(error);
  return FALSE;
}

enum class Need { Any, Printer, Job, Document };

// The one lookup of every call: the open handle when it is of the kind the
// call needs, else null with the error the spooler gives.
Handle* Lookup(HANDLE handle, Need need) {
  auto found =
      std::find_if(data.handles.begin(), data.handles.end(),
                   [handle](const std::unique_ptr<Handle>& h) { return h.get() == handle; });
  Handle* known = found == data.handles.end() ? nullptr : found->get();
  if (!known) {
    Fail(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const bool fits = need == Need::Any || (need == Need::Job && known->isJob) ||
                    (need == Need::Printer && !known->isJob) ||
                    (need == Need::Document && known->openDocument >= 0);
  if (!fits) Fail(need == Need::Document ? ERROR_SPL_NO_STARTDOC : ERROR_INVALID_PARAMETER);
  return fits ? known : nullptr;
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
  for (const Failure& failure : data.failures) {
    if (failure.call == call && (failure.nth == 0 || failure.nth == number)) {
      SetLastError(failure.error);
      return true;
    }
  }
  return false;
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
  Locked([&](Data& d) { d.failures.push_back({call, error, nth}); });
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
  if (Enter(SpoolerCall::OpenPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  if (!name || !handle) return Fail(ERROR_INVALID_PARAMETER);
  auto owned = std::make_unique<Handle>();
  owned->name = name;
  owned->isJob = data.jobs.count(name) != 0;
  if (!owned->isJob && !data.printerAttributes.count(name)) {
    return Fail(ERROR_INVALID_PRINTER_NAME);
  }
  *handle = owned.get();
  data.handles.push_back(std::move(owned));
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE handle) {
  if (Enter(SpoolerCall::ClosePrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = Lookup(handle, Need::Any);
  if (!known) return FALSE;
  data.handles.erase(
      std::find_if(data.handles.begin(), data.handles.end(),
                   [known](const std::unique_ptr<Handle>& h) { return h.get() == known; }));
  return TRUE;
}

DWORD WINAPI StartDocPrinterW(HANDLE handle, DWORD level, LPBYTE docInfo) {
  if (Enter(SpoolerCall::StartDocPrinter)) return 0;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = Lookup(handle, Need::Printer);
  if (!known) return 0;
  if (level != 1 || !docInfo) return Fail(ERROR_INVALID_PARAMETER);
  const DOC_INFO_1W* info = reinterpret_cast<const DOC_INFO_1W*>(docInfo);
  PrinterDocument document;
  document.name = info->pDocName ? info->pDocName : L"";
  data.documents.push_back(document);
  known->openDocument = static_cast<int>(data.documents.size() - 1);
  return static_cast<DWORD>(data.documents.size());
}

BOOL WINAPI EndDocPrinter(HANDLE handle) {
  if (Enter(SpoolerCall::EndDocPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = Lookup(handle, Need::Document);
  if (!known) return FALSE;
  data.documents[known->openDocument].ended = true;
  known->openDocument = -1;
  return TRUE;
}

BOOL WINAPI ReadPrinter(HANDLE handle, LPVOID buffer, DWORD bufferBytes, LPDWORD readBytes) {
  if (Enter(SpoolerCall::ReadPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = Lookup(handle, Need::Job);
  if (!known) return FALSE;
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
  Handle* known = Lookup(handle, Need::Document);
  if (!known) return FALSE;
  data.documents[known->openDocument].data.append(static_cast<const char*>(bytes), dataBytes);
  *writtenBytes = dataBytes;
  return TRUE;
}

BOOL WINAPI SetJobW(HANDLE handle, DWORD jobId, DWORD /*level*/, LPBYTE /*jobData*/,
                    DWORD command) {
  if (Enter(SpoolerCall::SetJob)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  if (!Lookup(handle, Need::Any)) return FALSE;
  data.setJobs.push_back({jobId, command});
  return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD bufferBytes,
                        LPDWORD neededBytes) {
  if (Enter(SpoolerCall::GetPrinter)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = Lookup(handle, Need::Printer);
  if (!known) return FALSE;
  if (level != 2) return Fail(ERROR_INVALID_LEVEL);
  *neededBytes = sizeof(PRINTER_INFO_2W);
  if (bufferBytes < sizeof(PRINTER_INFO_2W) || !buffer) return Fail(ERROR_INSUFFICIENT_BUFFER);
  PRINTER_INFO_2W info = {};
  info.Attributes = data.printerAttributes[known->name];
  std::memcpy(buffer, &info, sizeof(info));
  return TRUE;
}

// Asked through a printer handle, as the spooler answers for its queue.
BOOL WINAPI GetJobW(HANDLE handle, DWORD jobId, DWORD level, LPBYTE buffer, DWORD bufferBytes,
                    LPDWORD neededBytes) {
  if (Enter(SpoolerCall::GetJob)) return FALSE;
  std::lock_guard<std::mutex> guard(lock);
  Handle* known = Lookup(handle, Need::Printer);
  if (!known) return FALSE;
  const auto job = data.jobs.find(known->name + L", Job " + std::to_wstring(jobId));
  if (level != 1 || job == data.jobs.end()) return Fail(ERROR_INVALID_PARAMETER);
  *neededBytes = sizeof(JOB_INFO_1W);
  if (bufferBytes < sizeof(JOB_INFO_1W) || !buffer) return Fail(ERROR_INSUFFICIENT_BUFFER);
  JOB_INFO_1W info = {};
  info.Status = job->second.status;
  std::memcpy(buffer, &info, sizeof(info));
  return TRUE;
}

}  // extern "C"
