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
  size_t highestReadPos = 0;  // the furthest any handle has read
  DWORD maxChunkBytes = 0;
  unsigned chunksRead = 0;
};

struct Handle {
  std::wstring name;
  bool isJob = false;
  size_t readPos = 0;     // every job handle reads the job from its start
  int openDocument = -1;  // index into documents
};

struct Failure {
  SpoolerCall call;
  DWORD error;
  unsigned nth;
};

struct State {
  std::mutex lock;
  std::map<std::wstring, Printer> printers;
  std::map<std::wstring, Job> jobs;
  std::vector<PrinterDocument> documents;
  std::vector<SetJobRecord> setJobs;
  std::vector<CallRecord> calls;
  std::vector<DWORD> getPrinterBufferSizes;
  std::map<SpoolerCall, unsigned> callCounts;
  std::vector<Failure> failures;
  std::function<void(SpoolerCall, unsigned)> hook;
  std::vector<std::unique_ptr<Handle>> handles;
  DWORD writeLimit = 0;
};

State& TheState() {
  static State state;
  return state;
}

// Runs `action` on the state under the double's lock and returns its result.
template <typename Action>
auto Locked(Action action) {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  return action(state);
}

Handle* FindHandle(State& state, HANDLE handle) {
  for (auto& owned : state.handles) {
    if (owned.get() == handle) return owned.get();
  }
  return nullptr;
}

struct Entered {
  bool failed = false;
  explicit operator bool() const { return failed; }
};

// Records the call, runs the hook and applies an injected failure.
Entered Enter(SpoolerCall call, HANDLE handle) {
  State& state = TheState();
  unsigned number;
  std::function<void(SpoolerCall, unsigned)> hook;
  {
    std::lock_guard<std::mutex> guard(state.lock);
    number = ++state.callCounts[call];
    hook = state.hook;
  }
  if (hook) hook(call, number);
  std::lock_guard<std::mutex> guard(state.lock);
  Handle* known = FindHandle(state, handle);
  state.calls.push_back({call, known ? known->name : std::wstring()});
  for (const Failure& failure : state.failures) {
    if (failure.call == call && (failure.nth == 0 || failure.nth == number)) {
      SetLastError(failure.error);
      return Entered{true};
    }
  }
  return Entered{};
}

}  // namespace

const char* CallName(SpoolerCall call) {
  switch (call) {
    case SpoolerCall::OpenPrinter:
      return "OpenPrinterW";
    case SpoolerCall::ClosePrinter:
      return "ClosePrinter";
    case SpoolerCall::StartDocPrinter:
      return "StartDocPrinterW";
    case SpoolerCall::EndDocPrinter:
      return "EndDocPrinter";
    case SpoolerCall::ReadPrinter:
      return "ReadPrinter";
    case SpoolerCall::WritePrinter:
      return "WritePrinter";
    case SpoolerCall::SetJob:
      return "SetJobW";
    case SpoolerCall::GetPrinter:
      return "GetPrinterW";
  }
  return "?";
}

void Reset() {
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.printers.clear();
  state.jobs.clear();
  state.documents.clear();
  state.setJobs.clear();
  state.calls.clear();
  state.getPrinterBufferSizes.clear();
  state.callCounts.clear();
  state.failures.clear();
  state.hook = nullptr;
  state.handles.clear();
  state.writeLimit = 0;
}

void AddPrinter(const std::wstring& name, DWORD attributes) {
  Locked([&](State& state) { state.printers[name].attributes = attributes; });
}

void SetPrinterInfoNeededBytes(const std::wstring& name, DWORD neededBytes) {
  Locked([&](State& state) {
    state.printers[name].neededBytes = std::max<DWORD>(neededBytes, sizeof(PRINTER_INFO_2W));
  });
}

void AddJob(const std::wstring& documentName, const std::string& bytes, DWORD maxChunkBytes) {
  Locked([&](State& state) {
    Job& job = state.jobs[documentName];
    job.bytes = bytes;
    job.highestReadPos = 0;
    job.maxChunkBytes = maxChunkBytes;
    job.chunksRead = 0;
  });
}

size_t UnreadBytes(const std::wstring& documentName) {
  return Locked([&](State& state) {
    const Job& job = state.jobs.at(documentName);
    return job.bytes.size() - job.highestReadPos;
  });
}

unsigned ChunksRead(const std::wstring& documentName) {
  return Locked([&](State& state) { return state.jobs.at(documentName).chunksRead; });
}

void FailCall(SpoolerCall call, DWORD error, unsigned nth) {
  Locked([&](State& state) { state.failures.push_back({call, error, nth}); });
}

void SetWritePrinterLimit(DWORD maxBytes) {
  Locked([&](State& state) { state.writeLimit = maxBytes; });
}

void SetHook(std::function<void(SpoolerCall, unsigned)> hook) {
  Locked([&](State& state) { state.hook = std::move(hook); });
}

std::vector<PrinterDocument> Documents() {
  return Locked([&](State& state) { return state.documents; });
}

std::vector<SetJobRecord> SetJobCalls() {
  return Locked([&](State& state) { return state.setJobs; });
}

std::vector<CallRecord> Calls() {
  return Locked([&](State& state) { return state.calls; });
}

std::vector<DWORD> GetPrinterBufferSizes() {
  return Locked([&](State& state) { return state.getPrinterBufferSizes; });
}

unsigned CallCount(SpoolerCall call) {
  return Locked([&](State& state) {
    auto found = state.callCounts.find(call);
    return found == state.callCounts.end() ? 0 : found->second;
  });
}

int OpenHandleCount() {
  return Locked([&](State& state) { return static_cast<int>(state.handles.size()); });
}

}  // namespace spooler_double

using namespace spooler_double;

extern "C" {

BOOL WINAPI OpenPrinterW(LPWSTR name, LPHANDLE handle, LPPRINTER_DEFAULTSW /*defaults*/) {
  if (Enter(SpoolerCall::OpenPrinter, nullptr)) return FALSE;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.calls.back().handleName = name ? name : L"";
  if (!name || !handle) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  auto owned = std::make_unique<Handle>();
  owned->name = name;
  if (state.jobs.count(name)) {
    owned->isJob = true;
  } else if (!state.printers.count(name)) {
    SetLastError(ERROR_INVALID_PRINTER_NAME);
    return FALSE;
  }
  *handle = owned.get();
  state.handles.push_back(std::move(owned));
  return TRUE;
}

BOOL WINAPI ClosePrinter(HANDLE handle) {
  if (Enter(SpoolerCall::ClosePrinter, handle)) return FALSE;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  auto found =
      std::find_if(state.handles.begin(), state.handles.end(),
                   [handle](const std::unique_ptr<Handle>& h) { return h.get() == handle; });
  if (found == state.handles.end()) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  state.handles.erase(found);
  return TRUE;
}

DWORD WINAPI StartDocPrinterW(HANDLE handle, DWORD level, LPBYTE docInfo) {
  if (Enter(SpoolerCall::StartDocPrinter, handle)) return 0;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  Handle* known = FindHandle(state, handle);
  if (!known || known->isJob || level != 1 || !docInfo) {
    SetLastError(known ? ERROR_INVALID_PARAMETER : ERROR_INVALID_HANDLE);
    return 0;
  }
  const DOC_INFO_1W* info = reinterpret_cast<const DOC_INFO_1W*>(docInfo);
  PrinterDocument document;
  document.printer = known->name;
  document.name = info->pDocName ? info->pDocName : L"";
  document.outputFileGiven = info->pOutputFile != nullptr;
  document.outputFile = info->pOutputFile ? info->pOutputFile : L"";
  document.datatypeGiven = info->pDatatype != nullptr;
  state.documents.push_back(document);
  known->openDocument = static_cast<int>(state.documents.size() - 1);
  return static_cast<DWORD>(state.documents.size());
}

BOOL WINAPI EndDocPrinter(HANDLE handle) {
  if (Enter(SpoolerCall::EndDocPrinter, handle)) return FALSE;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  Handle* known = FindHandle(state, handle);
  if (!known || known->openDocument < 0) {
    SetLastError(known ? ERROR_SPL_NO_STARTDOC : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  state.documents[known->openDocument].ended = true;
  known->openDocument = -1;
  return TRUE;
}

BOOL WINAPI ReadPrinter(HANDLE handle, LPVOID buffer, DWORD bufferBytes, LPDWORD readBytes) {
  if (Enter(SpoolerCall::ReadPrinter, handle)) return FALSE;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  Handle* known = FindHandle(state, handle);
  if (!known || !known->isJob) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  Job& job = state.jobs[known->name];
  size_t count = std::min<size_t>(bufferBytes, job.bytes.size() - known->readPos);
  if (job.maxChunkBytes) count = std::min<size_t>(count, job.maxChunkBytes);
  if (count) {
    std::memcpy(buffer, job.bytes.data() + known->readPos, count);
    ++job.chunksRead;
  }
  known->readPos += count;
  job.highestReadPos = std::max(job.highestReadPos, known->readPos);
  *readBytes = static_cast<DWORD>(count);
  return TRUE;
}

BOOL WINAPI WritePrinter(HANDLE handle, LPVOID data, DWORD dataBytes, LPDWORD writtenBytes) {
  if (Enter(SpoolerCall::WritePrinter, handle)) return FALSE;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  Handle* known = FindHandle(state, handle);
  if (!known || known->openDocument < 0) {
    SetLastError(known ? ERROR_SPL_NO_STARTDOC : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD accepted = dataBytes;
  if (state.writeLimit) accepted = std::min(accepted, state.writeLimit);
  PrinterDocument& document = state.documents[known->openDocument];
  document.data.append(static_cast<const char*>(data), accepted);
  document.writeSizes.push_back(dataBytes);
  *writtenBytes = accepted;
  return TRUE;
}

BOOL WINAPI SetJobW(HANDLE handle, DWORD jobId, DWORD level, LPBYTE jobData, DWORD command) {
  if (Enter(SpoolerCall::SetJob, handle)) return FALSE;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  Handle* known = FindHandle(state, handle);
  if (!known) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  state.setJobs.push_back({known->name, jobId, level, jobData != nullptr, command});
  return TRUE;
}

BOOL WINAPI GetPrinterW(HANDLE handle, DWORD level, LPBYTE buffer, DWORD bufferBytes,
                        LPDWORD neededBytes) {
  if (Enter(SpoolerCall::GetPrinter, handle)) return FALSE;
  State& state = TheState();
  std::lock_guard<std::mutex> guard(state.lock);
  state.getPrinterBufferSizes.push_back(bufferBytes);
  Handle* known = FindHandle(state, handle);
  if (!known || known->isJob || level != 2) {
    SetLastError(known ? ERROR_INVALID_LEVEL : ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const Printer& printer = state.printers[known->name];
  *neededBytes = printer.neededBytes;
  if (bufferBytes < printer.neededBytes || !buffer) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  PRINTER_INFO_2W info = {};
  info.Attributes = printer.attributes;
  std::memcpy(buffer, &info, sizeof(info));
  return TRUE;
}

}  // extern "C"
