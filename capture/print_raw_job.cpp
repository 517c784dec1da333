// Capture of one RAW or TEXT job into a file in the port's output folder, in
// its steps: choose the name, open the output, stream the chunks, finish.
#include <cstring>
#include <cwchar>
#include <new>

#include "capture/capture.h"
#include "capture/output_guard.h"
#include "capture/output_name.h"
#include "capture/settings.h"
#include "naming/naming.h"
#include "notify/notify.h"
#include "platform/holders.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "spooler/job_routines.h"
#include "spooler/memory.h"

namespace {

const WCHAR kJobTicketLinkDocument[] = L"Job Ticket Link";
const WCHAR kTicketExtension[] = L"XPF";

struct CaptureJob {
  PrintProcessorContext* context;
  CaptureSettings settings;
  CaptureState state;
  HANDLE jobHandle;       // the job's own handle, owned by CaptureDocument
  UniqueFile output;      // the data file while it is written
  UniqueFile ticketFile;  // the temporary ticket file while tickets are written
  // The job's own files in the output folder: only these are ever removed.
  bool dataFileCreated;  // name.dataPath: the data file, its hard link or a ticket alone
  bool ticketCaptured;   // tempTicketPath, or name.ticketPath once moved there
  bool ticketMoved;
  bool jobEnded;  // a read returned no bytes
  bool aborted;
  bool startSent;
  // The output could not be written completely: nothing is reported as captured.
  bool failed;
  DWORD failureError;
  BOOL lastReadResult;
  ULONGLONG totalReadBytes;
  ULONGLONG lastProgressStep;
  CreateHardLinkWFunction linkEntry;
  TicketTagCarry ticketCarry;
  DocumentNameParts document;
  NameChoice name;
  WCHAR tempTicketPath[MAX_PATH];
};

enum class StepResult { Continue, Stop, DeleteJob };

void Fail(CaptureJob& job, DWORD error, const WCHAR* traceFormat) {
  if (job.failed) return;
  job.failed = true;
  job.failureError = error;
  TraceNumber(traceFormat, error);
  TraceReason(L"Job failed, its output was removed", error);
}

// Hard links cannot cross volumes: where the output folder and the spool
// directory lie on different volumes, the job is copied from the start.
bool OnSameVolume(const WCHAR* firstPath, const WCHAR* secondPath) {
  WCHAR firstVolume[MAX_PATH] = L"";
  WCHAR secondVolume[MAX_PATH] = L"";
  if (!firstPath[0] || !secondPath[0]) return false;
  if (!GetVolumePathNameW(firstPath, firstVolume, MAX_PATH) ||
      !GetVolumePathNameW(secondPath, secondVolume, MAX_PATH)) {
    return false;
  }
  return _wcsicmp(firstVolume, secondVolume) == 0;
}

bool WriteBytes(CaptureJob& job, HANDLE file, const BYTE* data, DWORD sizeBytes) {
  if (WriteOutputBytes(file, data, sizeBytes)) return true;
  Fail(job, GetLastError(), L"WriteFile returned %d");
  return false;
}

void CheckProgress(CaptureJob& job) {
  const ULONGLONG step = ProgressStep(job.totalReadBytes);
  if (step != job.lastProgressStep) {
    job.lastProgressStep = step;
    NotifyProgressSpooling(job.settings.jobId, ProgressBytesField(job.totalReadBytes));
  }
}

void AnnounceStart(CaptureJob& job) {
  if (!NotifyStartSpooling(job.settings.jobId, job.name.dataPath)) {
    LogReasonText(L"Queue listener not reachable: this job's queue messages are dropped", nullptr);
  }
  job.startSent = true;
}

// Removes the files this job made; nothing else in the folder is touched.
void RemoveJobFiles(CaptureJob& job) {
  job.output.reset();
  job.ticketFile.reset();
  if (job.dataFileCreated) DeleteFileW(job.name.dataPath);
  if (job.ticketCaptured) DeleteFileW(job.ticketMoved ? job.name.ticketPath : job.tempTicketPath);
  job.dataFileCreated = job.ticketCaptured = job.ticketMoved = false;
}

// The job's output cannot be made: the job is cancelled and deleted.
void DeleteJob(CaptureJob& job) {
  RemoveJobFiles(job);
  SetJobW(job.jobHandle, static_cast<DWORD>(job.settings.jobId), 0, nullptr, JOB_CONTROL_CANCEL);
  SetJobW(job.jobHandle, static_cast<DWORD>(job.settings.jobId), 0, nullptr, JOB_CONTROL_DELETE);
}

// Reads the next chunk; false at the job's end, after a failed read and when
// the job was cancelled. The flag word is looked at once per chunk.
bool ReadChunk(CaptureJob& job, BYTE* into, DWORD roomBytes, DWORD* readBytes) {
  *readBytes = 0;
  if (job.jobEnded || !job.lastReadResult || job.aborted) return false;
  DWORD gotBytes = 0;
  job.lastReadResult = ReadPrinter(job.jobHandle, into, roomBytes, &gotBytes);
  if (!job.lastReadResult) return false;
  if (gotBytes == 0) {
    job.jobEnded = true;
    return false;
  }
  if (gotBytes > roomBytes) gotBytes = roomBytes;
  job.totalReadBytes += gotBytes;
  if (WaitWhilePausedThenCheckAborted(job.context)) {
    job.aborted = true;
    return false;
  }
  *readBytes = gotBytes;
  return true;
}

// Moves restBytes from rest to the buffer's front and reads on until the
// buffer is full or the job ends: the format and the name come from the same
// first bytes wherever the reads end. With dropSpace, white space at the
// front is dropped first, over several reads if need be.
DWORD FillBlock(CaptureJob& job, BYTE* buffer, const BYTE* rest, DWORD restBytes, bool dropSpace) {
  std::memmove(buffer, rest, restBytes);
  DWORD heldBytes = restBytes;
  for (;;) {
    if (dropSpace) {
      DWORD spaceBytes = 0;
      while (spaceBytes < heldBytes && IsTicketSpaceByte(buffer[spaceBytes])) ++spaceBytes;
      std::memmove(buffer, buffer + spaceBytes, heldBytes - spaceBytes);
      heldBytes -= spaceBytes;
      dropSpace = heldBytes == 0;
    }
    DWORD readBytes = 0;
    if (heldBytes == kReadBufferBytes ||
        !ReadChunk(job, buffer + heldBytes, kReadBufferBytes - heldBytes, &readBytes)) {
      return heldBytes;
    }
    heldBytes += readBytes;
  }
}

// A file that was made somewhere else than the output folder (a folder on the
// way was swapped for a link after it was checked) is closed and removed.
bool StaysInFolder(const CaptureJob& job, UniqueFile& file, const WCHAR* path) {
  if (FileLiesInFolder(file.get(), job.settings.outputFolder)) return true;
  TraceLabelled(L"Output left its folder, removed: ", path);
  file.reset();
  DeleteFileW(path);
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

// The temporary file that takes the job's tickets until the data is named.
bool OpenTicketFile(CaptureJob& job) {
  if (!GetTempFileNameW(job.settings.outputFolder, L"XPF_JT_TMP_", 0, job.tempTicketPath)) {
    return false;
  }
  job.ticketCaptured = true;
  job.ticketFile.reset(CreateFileW(job.tempTicketPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                   OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN,
                                   nullptr));
  return !job.ticketFile.valid() || StaysInFolder(job, job.ticketFile, job.tempTicketPath);
}

// Writes the ticket that begins the block at the buffer's front into the
// temporary ticket file, reading on up to its end tag; a second ticket right
// behind the first joins it there. What follows the tag in the last chunk is
// left at buffer + *restOffset (none when the job ended inside the ticket).
StepResult CaptureTicket(CaptureJob& job, BYTE* buffer, DWORD heldBytes, DWORD* restOffset,
                         DWORD* restBytes) {
  *restOffset = 0;
  *restBytes = 0;
  if (!job.ticketCaptured && !OpenTicketFile(job)) {
    TraceReason(L"Job deleted: no ticket file could be made in the output folder", GetLastError());
    return StepResult::DeleteJob;
  }
  job.state = CaptureState::InTicket;
  job.ticketCarry.lengthBytes = 0;
  BYTE* pieceStarts[2] = {buffer, nullptr};
  DWORD pieceLengthsBytes[2] = {heldBytes, 0};
  for (bool firstPiece = true;; firstPiece = false) {
    const BOOL ended = TrySplitBuffer(pieceStarts, pieceLengthsBytes, &job.ticketCarry);
    if (!WriteBytes(job, job.ticketFile.get(), pieceStarts[0], pieceLengthsBytes[0])) {
      return StepResult::Stop;
    }
    if (!firstPiece) CheckProgress(job);
    if (ended) {
      job.state = CaptureState::TicketDone;
      if (pieceStarts[1]) {
        *restOffset = static_cast<DWORD>(pieceStarts[1] - buffer);
        *restBytes = pieceLengthsBytes[1];
      }
      return StepResult::Continue;
    }
    DWORD readBytes = 0;
    if (!ReadChunk(job, buffer, kReadBufferBytes, &readBytes)) return StepResult::Continue;
    pieceStarts[0] = buffer;
    pieceLengthsBytes[0] = readBytes;
  }
}

void TraceTicketMove(const CaptureJob& job, const WCHAR* destination) {
  TraceText(L"Moved xpf from to");
  TraceText(job.tempTicketPath);
  TraceText(destination);
}

// The data file and its ticket take their names in one step: when the ticket
// path was taken meanwhile, the new data file goes again and the pair is
// probed anew. Nothing that exists is opened or replaced.
BOOL MakeDataFile(void* context, const WCHAR* dataPath, const WCHAR* ticketPath) {
  CaptureJob& job = *static_cast<CaptureJob*>(context);
  job.output.reset(CreateFileW(dataPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!job.output.valid()) return FALSE;
  if (!StaysInFolder(job, job.output, dataPath)) return FALSE;
  if (!job.ticketCaptured) return TRUE;
  if (MoveFileW(job.tempTicketPath, ticketPath)) {
    job.ticketMoved = true;
    TraceTicketMove(job, ticketPath);
    return TRUE;
  }
  const DWORD error = GetLastError();
  job.output.reset();
  DeleteFileW(dataPath);
  SetLastError(error);
  return FALSE;
}

BOOL MakeHardLink(void* context, const WCHAR* dataPath, const WCHAR* /*ticketPath*/) {
  CaptureJob& job = *static_cast<CaptureJob*>(context);
  if (!job.linkEntry(dataPath, job.settings.wchSourceLinkPath, nullptr)) return FALSE;
  // The link is checked like a created file, through a handle on it.
  UniqueFile link(CreateFileW(dataPath, FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  return link.valid() && StaysInFolder(job, link, dataPath);
}

BOOL MoveTicketAlone(void* context, const WCHAR* dataPath, const WCHAR* /*ticketPath*/) {
  CaptureJob& job = *static_cast<CaptureJob*>(context);
  if (!MoveFileW(job.tempTicketPath, dataPath)) return FALSE;
  TraceTicketMove(job, dataPath);
  return TRUE;
}

bool ClaimName(CaptureJob& job, BOOL withTicket, MakeOutputFunction make) {
  return ClaimOutputName(job.settings.jobId, job.settings.outputFolder, job.name.validName,
                         job.name.extension, withTicket, job.name.dataPath, job.name.ticketPath,
                         kNameChars, make, &job) != FALSE;
}

bool LinkPossible(const CaptureJob& job) {
  return !job.ticketCaptured && job.linkEntry && ReadHardLinksAllowed() &&
         OnSameVolume(job.settings.outputFolder, job.settings.spoolDirectory) &&
         FileExists(job.settings.wchSourceLinkPath) &&
         !JobStillSpooling(job.context->Printer, job.settings.jobId);
}

// Hard-link mode: the output is the spool file itself, linked under its name
// before that name is announced; nothing more of the job is read. False when
// no link could be made: the job is then copied.
bool LinkOutput(CaptureJob& job) {
  TraceText(L"Hard link is requested");
  TraceText(L"Hard linking! ");
  if (!ClaimName(job, FALSE, MakeHardLink)) {
    const DWORD error = GetLastError();
    TraceNumber(L"CreateHardLink returned %d", error);
    TraceReason(L"Hard link not made, the job is copied instead", error);
    return false;
  }
  job.dataFileCreated = true;
  job.state = CaptureState::InData;
  AnnounceStart(job);
  return true;
}

// Opens the data output for the block at the buffer's front: a hard link to
// the spool file where one can be made, else a new file that takes the block
// as its first write. Either way the start is announced.
StepResult OpenDataOutput(CaptureJob& job, const BYTE* buffer, DWORD heldBytes, bool* linked) {
  *linked = false;
  job.ticketFile.reset();
  if (LinkPossible(job)) {
    // A cancel that came after the first read is honoured before the link.
    if (WaitWhilePausedThenCheckAborted(job.context)) {
      job.aborted = true;
      return StepResult::Stop;
    }
    *linked = LinkOutput(job);
    if (*linked) return StepResult::Continue;
  }
  if (!ClaimName(job, job.ticketCaptured, MakeDataFile)) {
    const DWORD error = GetLastError();
    TraceNumber(L"CreateFile returned %d", error);
    TraceReason(L"Job deleted: no file could be made in the output folder", error);
    return StepResult::DeleteJob;
  }
  job.dataFileCreated = true;
  job.state = CaptureState::InData;
  const bool written = WriteBytes(job, job.output.get(), buffer, heldBytes);
  AnnounceStart(job);
  return written ? StepResult::Continue : StepResult::Stop;
}

// Copies the rest of the job into the data file, chunk by chunk.
void StreamChunks(CaptureJob& job, BYTE* buffer) {
  DWORD readBytes = 0;
  while (ReadChunk(job, buffer, kReadBufferBytes, &readBytes)) {
    if (!WriteBytes(job, job.output.get(), buffer, readBytes)) return;
    CheckProgress(job);
  }
}

// Reads the job: each block is named, tickets at the job's front go into the
// ticket file, the rest into the data output.
StepResult CaptureJobBytes(CaptureJob& job, BYTE* buffer) {
  DWORD heldBytes = FillBlock(job, buffer, buffer, 0, false);
  while (heldBytes > 0 && job.lastReadResult && !job.aborted) {
    NameFromBlock(buffer, heldBytes, job.document, job.ticketCaptured, &job.name, nullptr);
    if (job.name.format != JobFormat::Xpif) {
      bool linked = false;
      const StepResult opened = OpenDataOutput(job, buffer, heldBytes, &linked);
      if (opened == StepResult::Continue && !linked) StreamChunks(job, buffer);
      return opened == StepResult::DeleteJob ? opened : StepResult::Continue;
    }
    DWORD restOffset = 0;
    DWORD restBytes = 0;
    const StepResult result = CaptureTicket(job, buffer, heldBytes, &restOffset, &restBytes);
    if (result != StepResult::Continue) return result;
    heldBytes = FillBlock(job, buffer, buffer + restOffset, restBytes, true);
  }
  return StepResult::Continue;
}

// A job that is all ticket: the ticket is its output, named like a data file
// with the ticket extension.
void PublishTicketAlone(CaptureJob& job) {
  CopyBounded(job.name.extension, kExtensionChars, kTicketExtension);
  if (!ClaimName(job, FALSE, MoveTicketAlone)) {
    Fail(job, GetLastError(), L"MoveFile returned %d");
    return;
  }
  job.ticketCaptured = false;
  job.dataFileCreated = true;
  AnnounceStart(job);
}

// Closes the outputs and hands the output's path to the port. A job captured
// whole is in named outputs only; any other leaves none of its files behind.
void FinishOutput(CaptureJob& job) {
  job.ticketFile.reset();
  if (job.output.valid()) {
    if (!FlushOutput(job.output.get())) Fail(job, GetLastError(), L"FlushFileBuffers returned %d");
    job.output.reset();
  }
  const bool whole = job.lastReadResult && !job.aborted && !job.failed;
  const bool endedInTickets =
      job.state == CaptureState::InTicket || job.state == CaptureState::TicketDone;
  if (whole && endedInTickets) PublishTicketAlone(job);
  if (!job.lastReadResult || job.aborted || job.failed) RemoveJobFiles(job);

  if (job.dataFileCreated) {
    DWORD writtenBytes = 0;
    WritePrinter(job.context->Printer, job.name.dataPath,
                 static_cast<DWORD>(std::wcslen(job.name.dataPath) * sizeof(WCHAR)), &writtenBytes);
    TraceNumber(L"WritePrinter returned %d", GetLastError());
  }
}

// The settings of this job's port; false, with the job left in the spooler,
// when they cannot place an output safely.
bool LoadSettings(CaptureJob& job, const WCHAR* documentName) {
  LoadCaptureSettings(documentName, &job.settings);
  SetCaptureLogJobId(job.settings.jobId);
  if (const WCHAR* missing = MissingCaptureSetting(job.settings)) {
    // Nothing is written anywhere unexpected.
    TraceLabelled(L"Capture setting missing: ", missing);
    LogReasonText(L"Job left in the spooler: setting missing or unusable: ", missing);
    SetLastError(ERROR_PATH_NOT_FOUND);
    return false;
  }
  if (LiesUnderReparsePoint(job.settings.outputFolder)) {
    // Whoever can swap a folder on the way for a link would choose where the
    // spooler's account writes.
    TraceLabelled(L"Output folder is or lies under a link, refused: ", job.settings.outputFolder);
    TraceReason(L"Job left in the spooler: the output folder is or lies under a link",
                ERROR_ACCESS_DENIED);
    SetLastError(ERROR_ACCESS_DENIED);
    return false;
  }
  return true;
}

// Everything inside the spooler document "Job Ticket Link": the job's handle
// is closed and the document ended on every way out, in that order.
BOOL CaptureDocument(CaptureJob& job, BYTE* buffer, const WCHAR* documentName) {
  PrintProcessorContext* context = job.context;
  DOC_INFO_1W docInfo = {};
  docInfo.pDocName = const_cast<WCHAR*>(kJobTicketLinkDocument);
  docInfo.pOutputFile = context->OutputFile;
  docInfo.pDatatype = nullptr;
  if (!StartDocPrinterW(context->Printer, 1, reinterpret_cast<BYTE*>(&docInfo))) return FALSE;
  const StartedDocument document(context->Printer);

  TraceLabelled(L"pPrinterName", documentName);
  HANDLE jobHandle = nullptr;
  if (!OpenPrinterW(const_cast<WCHAR*>(documentName), &jobHandle, nullptr)) return FALSE;
  const UniquePrinter jobPrinter(jobHandle);
  job.jobHandle = jobHandle;

  if (!LoadSettings(job, documentName)) return FALSE;
  if (context->DocumentName) SplitDocumentName(context->DocumentName, &job.document);
  if (CaptureJobBytes(job, buffer) == StepResult::DeleteJob) {
    DeleteJob(job);
    return FALSE;
  }
  FinishOutput(job);
  return TRUE;
}

BOOL RunCapture(PrintProcessorContext* context, const WCHAR* documentName) {
  OpenCaptureLog();
  const ScopeGuard closeLog([] { CloseCaptureLog(); });
  const UniqueGlobal bufferBlock(AllocSplMem(kReadBufferBytes));
  BYTE* buffer = static_cast<BYTE*>(bufferBlock.get());
  if (!buffer) return FALSE;

  // The working values and names of one capture, kept off the spooler
  // thread's stack.
  const UniqueGlobal jobBlock(AllocSplMem(sizeof(CaptureJob)));
  if (!jobBlock.valid()) return FALSE;
  CaptureJob& job = *new (jobBlock.get()) CaptureJob();
  const ScopeGuard endJob([&job] { job.~CaptureJob(); });
  job.context = context;
  job.state = CaptureState::Start;
  job.lastReadResult = TRUE;
  job.linkEntry = GetCreateHardLinkW();

  if (!CaptureDocument(job, buffer, documentName)) return FALSE;
  if (job.startSent) NotifyStopSpooling(job.settings.jobId);
  if (job.failed) {
    SetLastError(job.failureError);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL PrintRawJob(PrintProcessorContext* context, const WCHAR* documentName) {
  // The spooler calls the capture while impersonating its client; the capture
  // works in the spooler's own context and gives the thread its token back on
  // every way out.
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, &token)) token = nullptr;
  const UniqueHandle clientToken(token);
  RevertToSelf();
  const ScopeGuard restoreToken([&clientToken] {
    if (clientToken.valid()) SetThreadToken(nullptr, clientToken.get());
  });
  return RunCapture(context, documentName);
}
