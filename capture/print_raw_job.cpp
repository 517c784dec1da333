// Capture of one RAW or TEXT job into a file in the port's output folder.
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
// Name clashes with files that appear while the name is being chosen.
constexpr int kCreateAttempts = 32;

const WCHAR kJobTicketLinkDocument[] = L"Job Ticket Link";
const WCHAR kFallbackBaseName[] = L"spoold_file";
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
  HANDLE jobHandle;  // null once closed
  HANDLE output;
  bool dataFileCreated;
  bool ticketCaptured;
  bool hardLinkMode;
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
  BYTE* pieceStarts[2];
  DWORD pieceLengthsBytes[2];

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
    extension = L"XPF";
  } else if (job.titleExtension[0] && InVocabulary(job.titleExtension)) {
    extension = job.titleExtension;
  } else if (job.documentExtension[0]) {
    extension = job.documentExtension;
  } else if (job.titleExtension[0]) {
    extension = job.titleExtension;
  }
  CopyTruncated(job.chosenExtension, kExtensionChars, extension);
}

bool WritePiece(CaptureJob& job, int piece) {
  if (WriteOutputBytes(job.output, job.pieceStarts[piece], job.pieceLengthsBytes[piece])) {
    return true;
  }
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

void CloseOutput(CaptureJob& job) {
  if (job.output != INVALID_HANDLE_VALUE) {
    CloseHandle(job.output);
    job.output = INVALID_HANDLE_VALUE;
  }
}

void CloseJobHandle(CaptureJob& job) {
  if (job.jobHandle) {
    ClosePrinter(job.jobHandle);
    job.jobHandle = nullptr;
  }
}

// The job's output cannot be made: the job is cancelled and deleted.
BOOL FailAndDeleteJob(CaptureJob& job) {
  CloseOutput(job);
  SetJobW(job.jobHandle, static_cast<DWORD>(job.settings.jobId), 0, nullptr, JOB_CONTROL_CANCEL);
  SetJobW(job.jobHandle, static_cast<DWORD>(job.settings.jobId), 0, nullptr, JOB_CONTROL_DELETE);
  CloseJobHandle(job);
  EndDocPrinter(job.context->Printer);
  return FALSE;
}

HANDLE CreateDataFile(CaptureJob& job) {
  return CreateOutputDataFile(job.settings.jobId, job.settings.outputFolder, job.validName,
                              job.chosenExtension, job.outputPath, job.ticketPath, kNameChars);
}

void MoveTicket(CaptureJob& job) {
  DeleteFileW(job.ticketPath);
  MoveFileW(job.tempTicketPath, job.ticketPath);
  OutputDebugStringW(L"Moved xpf from to");
  OutputDebugStringW(job.tempTicketPath);
  OutputDebugStringW(job.ticketPath);
}

enum class PieceResult { Continue, Stop, DeleteJob };

// A file that was created somewhere else than the output folder (a folder on
// the way was swapped for a link after it was checked) is removed again.
bool OutputStaysInFolder(CaptureJob& job, const WCHAR* path) {
  if (FileLiesInFolder(job.output, job.settings.outputFolder)) return true;
  TraceLabelled(L"Output left its folder, removed: ", path);
  CloseOutput(job);
  DeleteFileW(path);
  return false;
}

// The link is checked like a created file, through a handle on it.
bool LinkStaysInFolder(CaptureJob& job) {
  job.output = CreateFileW(job.outputPath, FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, 0, nullptr);
  if (job.output == INVALID_HANDLE_VALUE || !OutputStaysInFolder(job, job.outputPath)) return false;
  CloseOutput(job);
  return true;
}

PieceResult BeginTicket(CaptureJob& job, int piece) {
  if (!GetTempFileNameW(job.settings.outputFolder, L"XPF_JT_TMP_", 0, job.tempTicketPath)) {
    return PieceResult::DeleteJob;
  }
  job.output = CreateFileW(job.tempTicketPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (job.output != INVALID_HANDLE_VALUE && !OutputStaysInFolder(job, job.tempTicketPath)) {
    return PieceResult::DeleteJob;
  }
  job.ticketCaptured = true;
  // The split works on piece 0; a second ticket right behind the first (in
  // piece 1) is not provided for beyond being written as a ticket.
  if (piece == 1) {
    job.pieceStarts[0] = job.pieceStarts[1];
    job.pieceLengthsBytes[0] = job.pieceLengthsBytes[1];
  }
  const BOOL ended = TrySplitBuffer(job.pieceStarts, job.pieceLengthsBytes);
  if (!WritePiece(job, 0)) return PieceResult::Stop;
  if (ended) {
    CloseOutput(job);
    job.state = CaptureState::TicketDone;
  } else {
    job.state = CaptureState::InTicket;
  }
  return PieceResult::Continue;
}

PieceResult BeginOutput(CaptureJob& job, int piece) {
  job.jobFormat = JobFormat::None;
  TraceLabelled(L"Known format before checking...", job.knownFormat ? L"TRUE" : L"FALSE");
  CheckSignatures(job.pieceStarts[piece], job.pieceLengthsBytes[piece], job.title,
                  kNameChars * sizeof(WCHAR), &job.jobFormat, &job.knownFormat);
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

  if (job.jobFormat == JobFormat::Xpif) return BeginTicket(job, piece);

  ZeroMemory(job.validName, sizeof(job.validName));
  ApplyValidityRules(job.chosenBase, job.validName, sizeof(job.validName));
  if (!FindUniqueNameForOutputFile(job.settings.jobId, job.settings.outputFolder, job.validName,
                                   job.chosenExtension, job.outputPath, job.ticketPath,
                                   kNameChars)) {
    TraceLabelled(L"No room for an output name in ", job.settings.outputFolder);
    return PieceResult::DeleteJob;
  }

  if (!job.ticketCaptured && job.linkEntry && ReadHardLinksAllowed() &&
      OnSameVolume(job.settings.outputFolder, job.settings.spoolDirectory) &&
      FileExists(job.settings.wchSourceLinkPath) &&
      !JobStillSpooling(job.context->Printer, job.settings.jobId)) {
    OutputDebugStringW(L"Hard link is requested");
    job.hardLinkMode = true;
    NotifyStartSpooling(job.settings.jobId, job.outputPath);
    job.startSent = true;
    job.state = CaptureState::InData;
    return PieceResult::Continue;
  }

  job.output = CreateDataFile(job);
  if (job.output == INVALID_HANDLE_VALUE) {
    TraceNumber(L"CreateFile returned %d", GetLastError());
    return PieceResult::DeleteJob;
  }
  if (!OutputStaysInFolder(job, job.outputPath)) return PieceResult::DeleteJob;
  job.dataFileCreated = true;
  const bool written = WritePiece(job, piece);
  if (job.ticketCaptured && written) MoveTicket(job);
  NotifyStartSpooling(job.settings.jobId, job.outputPath);
  job.startSent = true;
  job.state = CaptureState::InData;
  return written ? PieceResult::Continue : PieceResult::Stop;
}

PieceResult ProcessPiece(CaptureJob& job, int piece) {
  switch (job.state) {
    case CaptureState::Start:
    case CaptureState::TicketDone:
      return BeginOutput(job, piece);
    case CaptureState::InTicket: {
      const BOOL ended = TrySplitBuffer(job.pieceStarts, job.pieceLengthsBytes);
      if (!WritePiece(job, 0)) return PieceResult::Stop;
      CheckProgress(job);
      if (ended) {
        CloseOutput(job);
        job.state = CaptureState::TicketDone;
      }
      return PieceResult::Continue;
    }
    case CaptureState::InData:
      if (!WritePiece(job, piece)) return PieceResult::Stop;
      CheckProgress(job);
      return PieceResult::Continue;
  }
  return PieceResult::Continue;
}

// Processes chunks, starting with the one in the buffer, until the job ends,
// a read fails, the job is cancelled, the output fails or hard-link mode
// makes reading further pointless.
PieceResult ReadLoop(CaptureJob& job, BYTE* buffer, DWORD readBytes) {
  while (readBytes != 0 && !job.hardLinkMode) {
    job.totalReadBytes += readBytes;
    if (WaitWhilePausedThenCheckAborted(job.context)) {
      job.aborted = true;
      break;
    }
    job.pieceStarts[0] = buffer;
    job.pieceLengthsBytes[0] = readBytes;
    job.pieceStarts[1] = nullptr;
    job.pieceLengthsBytes[1] = 0;
    for (int piece = 0; piece < 2; ++piece) {
      if (!job.pieceStarts[piece] || job.pieceLengthsBytes[piece] == 0) continue;
      const PieceResult result = ProcessPiece(job, piece);
      if (result != PieceResult::Continue) return result;
    }
    job.lastReadResult = ReadPrinter(job.jobHandle, buffer, kReadBufferBytes, &readBytes);
    if (!job.lastReadResult) break;
  }
  return PieceResult::Continue;
}

// Flushes and closes the open output; a data file that is not complete is
// deleted, and so is a ticket whose data never came.
void FinishOutput(CaptureJob& job) {
  if (job.output != INVALID_HANDLE_VALUE) {
    if (!FlushOutput(job.output)) Fail(job, GetLastError(), L"FlushFileBuffers returned %d");
    CloseOutput(job);
  }
  if (!job.dataFileCreated && job.failed && job.ticketCaptured) DeleteFileW(job.tempTicketPath);
  if (job.dataFileCreated && (!job.lastReadResult || job.aborted || job.failed)) {
    DeleteFileW(job.outputPath);
  }
}

// A hard link that could not be made: the job is read again from its start
// through a new job handle and written as a copy, so that it is not lost.
void CaptureByCopying(CaptureJob& job, BYTE* buffer) {
  job.hardLinkMode = false;
  if (!OpenPrinterW(const_cast<WCHAR*>(job.documentName), &job.jobHandle, nullptr)) {
    job.jobHandle = nullptr;
    Fail(job, GetLastError(), L"OpenPrinter returned %d");
    return;
  }
  job.output = CreateDataFile(job);
  if (job.output == INVALID_HANDLE_VALUE) {
    Fail(job, GetLastError(), L"CreateFile returned %d");
    return;
  }
  if (!OutputStaysInFolder(job, job.outputPath)) {
    Fail(job, ERROR_ACCESS_DENIED, L"CreateFile returned %d");
    return;
  }
  job.dataFileCreated = true;
  job.state = CaptureState::InData;
  job.totalReadBytes = 0;
  job.lastProgressStep = 0;
  DWORD readBytes = 0;
  job.lastReadResult = ReadPrinter(job.jobHandle, buffer, kReadBufferBytes, &readBytes);
  if (job.lastReadResult) ReadLoop(job, buffer, readBytes);
  FinishOutput(job);
}

BOOL RunCapture(PrintProcessorContext* context, const WCHAR* documentName) {
  GlobalBlock bufferBlock(AllocSplMem(kReadBufferBytes));
  BYTE* buffer = static_cast<BYTE*>(bufferBlock.get());
  if (!buffer) return FALSE;

  // The working values and name buffers of one capture (some 5 KiB).
  GlobalBlock jobBlock(AllocSplMem(sizeof(CaptureJob)));
  if (!jobBlock.get()) return FALSE;
  CaptureJob& job = *static_cast<CaptureJob*>(jobBlock.get());
  job.context = context;
  job.documentName = documentName;
  job.state = CaptureState::Start;
  job.output = INVALID_HANDLE_VALUE;
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

  DWORD readBytes = 0;
  job.lastReadResult = ReadPrinter(job.jobHandle, buffer, kReadBufferBytes, &readBytes);
  if (job.lastReadResult && ReadLoop(job, buffer, readBytes) == PieceResult::DeleteJob) {
    return FailAndDeleteJob(job);
  }
  FinishOutput(job);

  bool linked = false;
  if (job.hardLinkMode && WaitWhilePausedThenCheckAborted(context)) {
    job.aborted = true;
  } else if (job.hardLinkMode) {
    OutputDebugStringW(L"Hard linking! ");
    CloseJobHandle(job);
    linked = job.linkEntry(job.outputPath, job.settings.wchSourceLinkPath, nullptr) != FALSE &&
             LinkStaysInFolder(job);
    if (!linked) {
      TraceNumber(L"CreateHardLink returned %d", GetLastError());
      CaptureByCopying(job, buffer);
    }
  }

  if ((job.dataFileCreated || linked) && job.lastReadResult && !job.aborted && !job.failed) {
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

HANDLE CreateOutputDataFile(LONG jobId, const WCHAR* outputFolder, const WCHAR* validName,
                            const WCHAR* extension, WCHAR* outputPath, WCHAR* ticketPath,
                            DWORD pathCapacityChars) {
  for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
    HANDLE file = CreateFileW(outputPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return INVALID_HANDLE_VALUE;
    if (!FindUniqueNameForOutputFile(jobId, outputFolder, validName, extension, outputPath,
                                     ticketPath, pathCapacityChars)) {
      return INVALID_HANDLE_VALUE;
    }
  }
  SetLastError(ERROR_FILE_EXISTS);
  return INVALID_HANDLE_VALUE;
}

BOOL PrintRawJob(PrintProcessorContext* context, const WCHAR* documentName) {
  SpoolerSecurityContext securityContext;
  return RunCapture(context, documentName);
}
