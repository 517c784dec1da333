// Capture of one RAW or TEXT job into a file in the port's output folder.
#include <cwchar>

#include "capture/capture.h"
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
  HANDLE jobHandle;
  bool jobHandleOpen;
  HANDLE output;
  bool fileOpened;
  bool dataFileCreated;
  bool ticketCaptured;
  bool hardLinkMode;
  bool hardLinkMade;
  bool linkPossible;
  bool aborted;
  bool startSent;
  bool writeFailed;
  DWORD writeError;
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
  WCHAR message[kMessageChars];
};

void Trace(const WCHAR* label, const WCHAR* value) {
  OutputDebugStringW(label);
  OutputDebugStringW(value);
}

void TraceNumber(CaptureJob& job, const WCHAR* format, DWORD value) {
  wsprintfW(job.message, format, value);
  OutputDebugStringW(job.message);
}

void CopyText(WCHAR* destination, DWORD destinationChars, const WCHAR* source) {
  std::wcsncpy(destination, source, destinationChars - 1);
  destination[destinationChars - 1] = L'\0';
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
  CopyText(job.chosenExtension, kExtensionChars, extension);
}

bool WritePiece(CaptureJob& job, int piece) {
  if (WriteOutputBytes(job.output, job.pieceStarts[piece], job.pieceLengthsBytes[piece])) {
    return true;
  }
  job.writeFailed = true;
  job.writeError = GetLastError();
  TraceNumber(job, L"WriteFile returned %d", job.writeError);
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
  if (job.jobHandleOpen) {
    ClosePrinter(job.jobHandle);
    job.jobHandleOpen = false;
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

PieceResult BeginTicket(CaptureJob& job, int piece) {
  if (!GetTempFileNameW(job.settings.outputFolder, L"XPF_JT_TMP_", 0, job.tempTicketPath)) {
    return PieceResult::DeleteJob;
  }
  job.output = CreateFileW(job.tempTicketPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  job.fileOpened = true;
  job.ticketCaptured = true;
  // Only piece 0 is ever split; a ticket never begins in piece 1.
  BYTE* starts[2] = {job.pieceStarts[piece], nullptr};
  DWORD lengths[2] = {job.pieceLengthsBytes[piece], 0};
  const BOOL ended = TrySplitBuffer(starts, lengths);
  job.pieceStarts[0] = starts[0];
  job.pieceLengthsBytes[0] = lengths[0];
  job.pieceStarts[1] = starts[1];
  job.pieceLengthsBytes[1] = lengths[1];
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
  Trace(L"Known format before checking...", job.knownFormat ? L"TRUE" : L"FALSE");
  CheckSignatures(job.pieceStarts[piece], job.pieceLengthsBytes[piece], job.title,
                  kNameChars * sizeof(WCHAR), &job.jobFormat, &job.knownFormat);
  Trace(L"Known format after checking...", job.knownFormat ? L"TRUE" : L"FALSE");
  DecodeName(job.title, job, job.titleBase, job.titleExtension);
  const DWORD interpretTitle = ReadInterpretTitle();

  const WCHAR* base = kFallbackBaseName;
  if (job.titleBase[0] && (job.knownFormat || interpretTitle != 0)) {
    base = job.titleBase;
  } else if (job.documentBase[0]) {
    base = job.documentBase;
  }
  CopyText(job.chosenBase, kNameChars, base);
  ChooseExtension(job);

  if (job.jobFormat == JobFormat::Xpif) return BeginTicket(job, piece);

  ZeroMemory(job.validName, sizeof(job.validName));
  ApplyValidityRules(job.chosenBase, job.validName, sizeof(job.validName));
  if (!FindUniqueNameForOutputFile(job.settings.jobId, job.settings.outputFolder, job.validName,
                                   job.chosenExtension, job.outputPath, job.ticketPath,
                                   kNameChars)) {
    Trace(L"No room for an output name in ", job.settings.outputFolder);
    return PieceResult::DeleteJob;
  }

  if (!job.ticketCaptured && job.linkEntry && job.linkPossible &&
      FileExists(job.settings.wchSourceLinkPath)) {
    OutputDebugStringW(L"Hard link is requested");
    job.hardLinkMode = true;
    NotifyStartSpooling(job.settings.jobId, job.outputPath);
    job.startSent = true;
    job.state = CaptureState::InData;
    return PieceResult::Continue;
  }

  job.output = CreateDataFile(job);
  if (job.output == INVALID_HANDLE_VALUE) {
    TraceNumber(job, L"CreateFile returned %d", GetLastError());
    return PieceResult::DeleteJob;
  }
  job.fileOpened = true;
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
      if (job.hardLinkMode && !job.ticketCaptured) return PieceResult::Continue;
      if (!WritePiece(job, piece)) return PieceResult::Stop;
      CheckProgress(job);
      return PieceResult::Continue;
  }
  return PieceResult::Continue;
}

// A hard link that could not be made: the job is read again from the spooler
// and written as a copy, so that it is not lost.
bool CopyJobByReading(CaptureJob& job, BYTE* buffer) {
  HANDLE reread = nullptr;
  if (!OpenPrinterW(const_cast<WCHAR*>(job.documentName), &reread, nullptr)) return false;
  job.output = CreateDataFile(job);
  if (job.output == INVALID_HANDLE_VALUE) {
    ClosePrinter(reread);
    return false;
  }
  job.fileOpened = true;
  job.dataFileCreated = true;
  bool complete = false;
  for (;;) {
    DWORD readBytes = 0;
    job.lastReadResult = ReadPrinter(reread, buffer, kReadBufferBytes, &readBytes);
    if (!job.lastReadResult) break;
    if (readBytes == 0) {
      complete = true;
      break;
    }
    if (WaitWhilePausedThenCheckAborted(job.context)) {
      job.aborted = true;
      break;
    }
    job.pieceStarts[0] = buffer;
    job.pieceLengthsBytes[0] = readBytes;
    if (!WritePiece(job, 0)) break;
  }
  ClosePrinter(reread);
  return complete;
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

  Trace(L"pPrinterName", documentName);
  if (!OpenPrinterW(const_cast<WCHAR*>(documentName), &job.jobHandle, nullptr)) {
    EndDocPrinter(context->Printer);
    return FALSE;
  }
  job.jobHandleOpen = true;

  LoadCaptureSettings(documentName, &job.settings);
  if (const WCHAR* missing = MissingCaptureSetting(job.settings)) {
    // The job stays in the spooler: nothing is written anywhere unexpected.
    Trace(L"Capture setting missing: ", missing);
    CloseJobHandle(job);
    EndDocPrinter(context->Printer);
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  job.linkPossible = OnSameVolume(job.settings.outputFolder, job.settings.spoolDirectory);

  if (context->DocumentName) {
    DecodeName(context->DocumentName, job, job.documentBase, job.documentExtension);
  }

  DWORD readBytes = 0;
  job.lastReadResult = ReadPrinter(job.jobHandle, buffer, kReadBufferBytes, &readBytes);
  if (!job.lastReadResult) {
    CloseJobHandle(job);
    EndDocPrinter(context->Printer);
    return TRUE;
  }

  while (readBytes != 0 && !job.hardLinkMode) {
    job.totalReadBytes += readBytes;
    if (WaitWhilePausedThenCheckAborted(context)) {
      job.aborted = true;
      break;
    }
    job.pieceStarts[0] = buffer;
    job.pieceLengthsBytes[0] = readBytes;
    job.pieceStarts[1] = nullptr;
    job.pieceLengthsBytes[1] = 0;
    PieceResult result = PieceResult::Continue;
    for (int piece = 0; piece < 2 && result == PieceResult::Continue; ++piece) {
      if (!job.pieceStarts[piece] || job.pieceLengthsBytes[piece] == 0) continue;
      result = ProcessPiece(job, piece);
    }
    if (result == PieceResult::DeleteJob) return FailAndDeleteJob(job);
    if (result == PieceResult::Stop) break;
    job.lastReadResult = ReadPrinter(job.jobHandle, buffer, kReadBufferBytes, &readBytes);
    if (!job.lastReadResult) break;
  }

  const bool captureFailed = [&]() {
    if (job.output == INVALID_HANDLE_VALUE) return false;
    const bool flushed = FlushOutput(job.output) != FALSE;
    if (!flushed && !job.writeFailed) {
      job.writeFailed = true;
      job.writeError = GetLastError();
      TraceNumber(job, L"FlushFileBuffers returned %d", job.writeError);
    }
    CloseOutput(job);
    return job.writeFailed;
  }();
  // A ticket that never reached its data stays closed under its temporary name.
  if (!job.dataFileCreated && job.writeFailed && job.ticketCaptured) {
    DeleteFileW(job.tempTicketPath);
  }
  if (job.dataFileCreated && (!job.lastReadResult || job.aborted || captureFailed)) {
    DeleteFileW(job.outputPath);
  }

  if (job.hardLinkMode) {
    OutputDebugStringW(L"Hard linking! ");
    CloseJobHandle(job);
    job.hardLinkMade =
        job.linkEntry(job.outputPath, job.settings.wchSourceLinkPath, nullptr) != FALSE;
    if (!job.hardLinkMade) {
      TraceNumber(job, L"CreateHardLink returned %d", GetLastError());
      if (!CopyJobByReading(job, buffer)) {
        CloseOutput(job);
        if (job.dataFileCreated) DeleteFileW(job.outputPath);
        EndDocPrinter(context->Printer);
        NotifyStopSpooling(job.settings.jobId);
        // A cancelled job is consumed; any other failure leaves it queued.
        return job.aborted ? TRUE : FALSE;
      }
      if (!FlushOutput(job.output)) {
        job.writeFailed = true;
        job.writeError = GetLastError();
      }
      CloseOutput(job);
      if (job.writeFailed) DeleteFileW(job.outputPath);
    }
  }

  if (!job.dataFileCreated && !job.hardLinkMade) {
    CloseJobHandle(job);
    EndDocPrinter(context->Printer);
    if (job.writeFailed) {
      SetLastError(job.writeError);
      return FALSE;
    }
    return TRUE;
  }

  if (job.lastReadResult && !job.aborted && !job.writeFailed) {
    DWORD writtenBytes = 0;
    WritePrinter(context->Printer, job.outputPath,
                 static_cast<DWORD>(std::wcslen(job.outputPath) * sizeof(WCHAR)), &writtenBytes);
    TraceNumber(job, L"WritePrinter returned %d", GetLastError());
  }
  CloseJobHandle(job);
  EndDocPrinter(context->Printer);
  if (job.startSent) NotifyStopSpooling(job.settings.jobId);
  if (job.writeFailed) {
    SetLastError(job.writeError);
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
