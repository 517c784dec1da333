// Capture of one RAW or TEXT job into a file in the port's output folder.
#include <cstring>
#include <cwchar>

#include "capture/capture.h"
#include "capture/output_guard.h"
#include "capture/settings.h"
#include "format/format.h"
#include "format/japanese.h"
#include "naming/naming.h"
#include "notify/notify.h"
#include "spooler/memory.h"

namespace {

constexpr DWORD kNameChars = 270;
constexpr DWORD kExtensionChars = 32;
constexpr DWORD kPass2Chars = 260;
constexpr DWORD kMessageChars = 260;

const WCHAR kJobTicketLinkDocument[] = L"Job Ticket Link";
const WCHAR kFallbackBaseName[] = L"spoold_file";
const WCHAR kTicketExtension[] = L"XPF";
const WCHAR* const kExtensionVocabulary[] = {L"PDF",  L"PS",  L"VPS", L"DBF",
                                             L"PPML", L"PPM", L"XPF"};

// The spooler calls the capture while impersonating its client; the capture
// works in the spooler's own context and gives the thread its token back on
// every way out.
class SpoolerSecurityContext {
 public:
  SpoolerSecurityContext() {
    if (!OpenThreadToken(GetCurrentThread(), TOKEN_IMPERSONATE, TRUE, &clientToken_)) {
      clientToken_ = nullptr;
    }
    RevertToSelf();
  }
  ~SpoolerSecurityContext() {
    if (clientToken_) {
      SetThreadToken(nullptr, clientToken_);
      CloseHandle(clientToken_);
    }
  }
  SpoolerSecurityContext(const SpoolerSecurityContext&) = delete;
  SpoolerSecurityContext& operator=(const SpoolerSecurityContext&) = delete;

 private:
  HANDLE clientToken_ = nullptr;
};

struct CaptureJob {
  PrintProcessorContext* context;
  const WCHAR* documentName;
  CaptureSettings settings;
  CaptureState state;
  HANDLE jobHandle;   // null once closed
  HANDLE output;      // the data file while it is written
  HANDLE ticketFile;  // the temporary ticket file while tickets are written
  // The job's own files in the output folder: only these are ever removed.
  bool dataFileCreated;  // outputPath: the data file, its hard link or a ticket alone
  bool ticketCaptured;   // tempTicketPath, or ticketPath once moved there
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
  BOOL knownFormat;
  JobFormat jobFormat;
  CreateHardLinkWFunction linkEntry;
  TicketTagCarry ticketCarry;

  WCHAR documentBase[kNameChars];
  WCHAR documentExtension[kExtensionChars];
  WCHAR title[kNameChars];
  WCHAR pass1[kNameChars];
  WCHAR pass2[kPass2Chars];
  WCHAR titleBase[kNameChars];
  WCHAR titleExtension[kExtensionChars];
  WCHAR chosenBase[kNameChars];
  WCHAR validName[kNameChars];
  WCHAR chosenExtension[kExtensionChars];
  WCHAR outputPath[kNameChars];
  // As large as the data path: one capacity serves both when they are named.
  WCHAR ticketPath[kNameChars];
  WCHAR tempTicketPath[MAX_PATH];
};

enum class StepResult { Continue, Stop, DeleteJob };

void TraceNumber(const WCHAR* format, DWORD value) {
  WCHAR message[kMessageChars];
  wsprintfW(message, format, value);
  OutputDebugStringW(message);
}

void Fail(CaptureJob& job, DWORD error, const WCHAR* traceFormat) {
  if (job.failed) return;
  job.failed = true;
  job.failureError = error;
  TraceNumber(traceFormat, error);
}

bool BeginsWithWord(const WCHAR* text, const WCHAR* word) {
  return _wcsnicmp(text, word, std::wcslen(word)) == 0;
}

bool InVocabulary(const WCHAR* extension) {
  for (const WCHAR* word : kExtensionVocabulary) {
    if (BeginsWithWord(extension, word)) return true;
  }
  return false;
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

void DecodeName(const WCHAR* source, CaptureJob& job, WCHAR* base, WCHAR* extension) {
  CheckForJapaneseEncoding(source, job.pass1, kNameChars);
  CheckForJapaneseEncoding1(job.pass1, job.pass2, kPass2Chars);
  ExtractBaseNameAndExtension(job.pass2, base, kNameChars * sizeof(WCHAR), extension,
                              kExtensionChars * sizeof(WCHAR));
}

void ChooseExtension(CaptureJob& job) {
  const WCHAR* extension = L"";
  if (BeginsWithWord(job.documentExtension, L"DBF")) {
    extension = L"DBF";
  } else if (job.jobFormat == JobFormat::Pdf) {
    extension = L"PDF";
  } else if (job.jobFormat == JobFormat::PostScript) {
    extension = L"PS";
  } else if (job.jobFormat == JobFormat::Vps) {
    extension = L"VPS";
  } else if (job.jobFormat == JobFormat::Xpif) {
    extension = kTicketExtension;
  } else if (job.titleExtension[0] && InVocabulary(job.titleExtension)) {
    extension = job.titleExtension;
  } else if (job.documentExtension[0]) {
    extension = job.documentExtension;
  } else if (job.titleExtension[0]) {
    extension = job.titleExtension;
  }
  // Data behind a ticket never takes the ticket's path: it goes without one.
  if (job.ticketCaptured && _wcsicmp(extension, kTicketExtension) == 0) extension = L"";
  CopyTruncated(job.chosenExtension, kExtensionChars, extension);
}

// Format, title, and the valid base name and extension of a new output.
void NameFromBlock(CaptureJob& job, const BYTE* block, DWORD blockBytes) {
  job.jobFormat = JobFormat::None;
  TraceLabelled(L"Known format before checking...", job.knownFormat ? L"TRUE" : L"FALSE");
  CheckSignatures(block, blockBytes, job.title, kNameChars * sizeof(WCHAR), &job.jobFormat,
                  &job.knownFormat);
  TraceLabelled(L"Known format after checking...", job.knownFormat ? L"TRUE" : L"FALSE");
  DecodeName(job.title, job, job.titleBase, job.titleExtension);
  const DWORD interpretTitle = ReadInterpretTitle();

  const WCHAR* base = kFallbackBaseName;
  if (job.titleBase[0] && (job.knownFormat || interpretTitle != 0)) {
    base = job.titleBase;
  } else if (job.documentBase[0]) {
    base = job.documentBase;
  }
  CopyTruncated(job.chosenBase, kNameChars, base);
  ChooseExtension(job);
  ZeroMemory(job.validName, sizeof(job.validName));
  ApplyValidityRules(job.chosenBase, job.validName, sizeof(job.validName));
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
  NotifyStartSpooling(job.settings.jobId, job.outputPath);
  job.startSent = true;
}

void CloseFile(HANDLE& file) {
  if (file != INVALID_HANDLE_VALUE) {
    CloseHandle(file);
    file = INVALID_HANDLE_VALUE;
  }
}

void CloseJobHandle(CaptureJob& job) {
  if (job.jobHandle) {
    ClosePrinter(job.jobHandle);
    job.jobHandle = nullptr;
  }
}

// Removes the files this job made; nothing else in the folder is touched.
void RemoveJobFiles(CaptureJob& job) {
  CloseFile(job.output);
  CloseFile(job.ticketFile);
  if (job.dataFileCreated) DeleteFileW(job.outputPath);
  if (job.ticketCaptured) DeleteFileW(job.ticketMoved ? job.ticketPath : job.tempTicketPath);
  job.dataFileCreated = job.ticketCaptured = job.ticketMoved = false;
}

// The job's output cannot be made: the job is cancelled and deleted.
BOOL FailAndDeleteJob(CaptureJob& job) {
  RemoveJobFiles(job);
  SetJobW(job.jobHandle, static_cast<DWORD>(job.settings.jobId), 0, nullptr, JOB_CONTROL_CANCEL);
  SetJobW(job.jobHandle, static_cast<DWORD>(job.settings.jobId), 0, nullptr, JOB_CONTROL_DELETE);
  CloseJobHandle(job);
  EndDocPrinter(job.context->Printer);
  return FALSE;
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
bool StaysInFolder(const CaptureJob& job, HANDLE& file, const WCHAR* path) {
  if (FileLiesInFolder(file, job.settings.outputFolder)) return true;
  TraceLabelled(L"Output left its folder, removed: ", path);
  CloseFile(file);
  DeleteFileW(path);
  SetLastError(ERROR_ACCESS_DENIED);
  return false;
}

// Writes the ticket that begins the block at the buffer's front into the
// temporary ticket file, reading on up to its end tag; a second ticket right
// behind the first joins it there. What follows the tag in the last chunk is
// left at buffer + *restOffset (none when the job ended inside the ticket).
StepResult CaptureTicket(CaptureJob& job, BYTE* buffer, DWORD heldBytes, DWORD* restOffset,
                         DWORD* restBytes) {
  *restOffset = 0;
  *restBytes = 0;
  if (!job.ticketCaptured) {
    if (!GetTempFileNameW(job.settings.outputFolder, L"XPF_JT_TMP_", 0, job.tempTicketPath)) {
      return StepResult::DeleteJob;
    }
    job.ticketCaptured = true;
    job.ticketFile =
        CreateFileW(job.tempTicketPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (job.ticketFile != INVALID_HANDLE_VALUE &&
        !StaysInFolder(job, job.ticketFile, job.tempTicketPath)) {
      return StepResult::DeleteJob;
    }
  }
  job.state = CaptureState::InTicket;
  job.ticketCarry.lengthBytes = 0;
  BYTE* pieceStarts[2] = {buffer, nullptr};
  DWORD pieceLengthsBytes[2] = {heldBytes, 0};
  for (bool firstPiece = true;; firstPiece = false) {
    const BOOL ended = TrySplitBuffer(pieceStarts, pieceLengthsBytes, &job.ticketCarry);
    if (!WriteBytes(job, job.ticketFile, pieceStarts[0], pieceLengthsBytes[0])) {
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
  OutputDebugStringW(L"Moved xpf from to");
  OutputDebugStringW(job.tempTicketPath);
  OutputDebugStringW(destination);
}

// The data file and its ticket take their names in one step: when the ticket
// path was taken meanwhile, the new data file goes again and the pair is
// probed anew. Nothing that exists is opened or replaced.
BOOL MakeDataFile(void* context, const WCHAR* dataPath, const WCHAR* ticketPath) {
  CaptureJob& job = *static_cast<CaptureJob*>(context);
  job.output = CreateFileW(dataPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (job.output == INVALID_HANDLE_VALUE) return FALSE;
  if (!StaysInFolder(job, job.output, dataPath)) return FALSE;
  if (!job.ticketCaptured) return TRUE;
  if (MoveFileW(job.tempTicketPath, ticketPath)) {
    job.ticketMoved = true;
    TraceTicketMove(job, ticketPath);
    return TRUE;
  }
  const DWORD error = GetLastError();
  CloseFile(job.output);
  DeleteFileW(dataPath);
  SetLastError(error);
  return FALSE;
}

BOOL MakeHardLink(void* context, const WCHAR* dataPath, const WCHAR* /*ticketPath*/) {
  CaptureJob& job = *static_cast<CaptureJob*>(context);
  if (!job.linkEntry(dataPath, job.settings.wchSourceLinkPath, nullptr)) return FALSE;
  // The link is checked like a created file, through a handle on it.
  HANDLE link = CreateFileW(dataPath, FILE_READ_ATTRIBUTES,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
  if (link == INVALID_HANDLE_VALUE || !StaysInFolder(job, link, dataPath)) return FALSE;
  CloseFile(link);
  return TRUE;
}

BOOL MoveTicketAlone(void* context, const WCHAR* dataPath, const WCHAR* /*ticketPath*/) {
  CaptureJob& job = *static_cast<CaptureJob*>(context);
  if (!MoveFileW(job.tempTicketPath, dataPath)) return FALSE;
  TraceTicketMove(job, dataPath);
  return TRUE;
}

bool ClaimName(CaptureJob& job, BOOL withTicket, MakeOutputFunction make) {
  return ClaimOutputName(job.settings.jobId, job.settings.outputFolder, job.validName,
                         job.chosenExtension, withTicket, job.outputPath, job.ticketPath,
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
  OutputDebugStringW(L"Hard link is requested");
  OutputDebugStringW(L"Hard linking! ");
  if (!ClaimName(job, FALSE, MakeHardLink)) {
    TraceNumber(L"CreateHardLink returned %d", GetLastError());
    return false;
  }
  job.dataFileCreated = true;
  job.state = CaptureState::InData;
  AnnounceStart(job);
  return true;
}

// The data output, from the block at the buffer's front to the job's end.
StepResult CaptureData(CaptureJob& job, BYTE* buffer, DWORD heldBytes) {
  CloseFile(job.ticketFile);
  if (LinkPossible(job)) {
    // A cancel that came after the first read is honoured before the link.
    if (WaitWhilePausedThenCheckAborted(job.context)) {
      job.aborted = true;
      return StepResult::Continue;
    }
    if (LinkOutput(job)) return StepResult::Continue;
  }
  if (!ClaimName(job, job.ticketCaptured, MakeDataFile)) {
    TraceNumber(L"CreateFile returned %d", GetLastError());
    return StepResult::DeleteJob;
  }
  job.dataFileCreated = true;
  job.state = CaptureState::InData;
  const bool written = WriteBytes(job, job.output, buffer, heldBytes);
  AnnounceStart(job);
  if (!written) return StepResult::Stop;
  DWORD readBytes = 0;
  while (ReadChunk(job, buffer, kReadBufferBytes, &readBytes)) {
    if (!WriteBytes(job, job.output, buffer, readBytes)) return StepResult::Stop;
    CheckProgress(job);
  }
  return StepResult::Continue;
}

// Reads the job: tickets at its front into the ticket file, the rest into
// the data output.
StepResult CaptureJobBytes(CaptureJob& job, BYTE* buffer) {
  DWORD heldBytes = FillBlock(job, buffer, buffer, 0, false);
  while (heldBytes > 0 && job.lastReadResult && !job.aborted) {
    NameFromBlock(job, buffer, heldBytes);
    if (job.jobFormat != JobFormat::Xpif) return CaptureData(job, buffer, heldBytes);
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
  CopyTruncated(job.chosenExtension, kExtensionChars, kTicketExtension);
  if (!ClaimName(job, FALSE, MoveTicketAlone)) {
    Fail(job, GetLastError(), L"MoveFile returned %d");
    return;
  }
  job.ticketCaptured = false;
  job.dataFileCreated = true;
  AnnounceStart(job);
}

// Closes the outputs. A job captured whole is in named outputs only; any
// other leaves none of its files behind.
void FinishOutput(CaptureJob& job) {
  CloseFile(job.ticketFile);
  if (job.output != INVALID_HANDLE_VALUE) {
    if (!FlushOutput(job.output)) Fail(job, GetLastError(), L"FlushFileBuffers returned %d");
    CloseFile(job.output);
  }
  const bool whole = job.lastReadResult && !job.aborted && !job.failed;
  const bool endedInTickets =
      job.state == CaptureState::InTicket || job.state == CaptureState::TicketDone;
  if (whole && endedInTickets) PublishTicketAlone(job);
  if (!job.lastReadResult || job.aborted || job.failed) RemoveJobFiles(job);
}

BOOL RunCapture(PrintProcessorContext* context, const WCHAR* documentName) {
  GlobalBlock bufferBlock(AllocSplMem(kReadBufferBytes));
  BYTE* buffer = static_cast<BYTE*>(bufferBlock.get());
  if (!buffer) return FALSE;

  // The working values and name buffers of one capture (about 9 KiB).
  GlobalBlock jobBlock(AllocSplMem(sizeof(CaptureJob)));
  if (!jobBlock.get()) return FALSE;
  CaptureJob& job = *static_cast<CaptureJob*>(jobBlock.get());
  job.context = context;
  job.documentName = documentName;
  job.state = CaptureState::Start;
  job.output = INVALID_HANDLE_VALUE;
  job.ticketFile = INVALID_HANDLE_VALUE;
  job.lastReadResult = TRUE;
  job.linkEntry = GetCreateHardLinkW();

  DOC_INFO_1W docInfo = {};
  docInfo.pDocName = const_cast<WCHAR*>(kJobTicketLinkDocument);
  docInfo.pOutputFile = context->OutputFile;
  docInfo.pDatatype = nullptr;
  if (!StartDocPrinterW(context->Printer, 1, reinterpret_cast<BYTE*>(&docInfo))) return FALSE;

  TraceLabelled(L"pPrinterName", documentName);
  if (!OpenPrinterW(const_cast<WCHAR*>(documentName), &job.jobHandle, nullptr)) {
    EndDocPrinter(context->Printer);
    return FALSE;
  }

  LoadCaptureSettings(documentName, &job.settings);
  if (const WCHAR* missing = MissingCaptureSetting(job.settings)) {
    // The job stays in the spooler: nothing is written anywhere unexpected.
    TraceLabelled(L"Capture setting missing: ", missing);
    CloseJobHandle(job);
    EndDocPrinter(context->Printer);
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (LiesUnderReparsePoint(job.settings.outputFolder)) {
    // Whoever can swap a folder on the way for a link would choose where the
    // spooler's account writes: the job stays in the spooler instead.
    TraceLabelled(L"Output folder is or lies under a link, refused: ", job.settings.outputFolder);
    CloseJobHandle(job);
    EndDocPrinter(context->Printer);
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }

  if (context->DocumentName) {
    DecodeName(context->DocumentName, job, job.documentBase, job.documentExtension);
  }

  if (CaptureJobBytes(job, buffer) == StepResult::DeleteJob) return FailAndDeleteJob(job);
  FinishOutput(job);

  if (job.dataFileCreated) {
    DWORD writtenBytes = 0;
    WritePrinter(context->Printer, job.outputPath,
                 static_cast<DWORD>(std::wcslen(job.outputPath) * sizeof(WCHAR)), &writtenBytes);
    TraceNumber(L"WritePrinter returned %d", GetLastError());
  }
  CloseJobHandle(job);
  EndDocPrinter(context->Printer);
  if (job.startSent) NotifyStopSpooling(job.settings.jobId);
  if (job.failed) {
    SetLastError(job.failureError);
    return FALSE;
  }
  return TRUE;
}

}  // namespace

BOOL PrintRawJob(PrintProcessorContext* context, const WCHAR* documentName) {
  SpoolerSecurityContext securityContext;
  return RunCapture(context, documentName);
}
