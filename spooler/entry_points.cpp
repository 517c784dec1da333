// The six print-processor entry points the spooler calls.
#include <cstring>
#include <cwchar>

#include "platform/holders.h"
#include "platform/trace.h"
#include "spooler/context.h"
#include "spooler/job_routines.h"
#include "spooler/memory.h"
#include "spooler/parameters.h"

namespace {

// The advertised datatypes, ended by a null entry; RAW and TEXT are captured,
// any other datatype passes through.
const WCHAR* const Datatypes[] = {L"RAW", L"TEXT", nullptr};
constexpr DWORD kDatatypeRaw = 0;
constexpr DWORD kDatatypeText = 1;

}  // namespace

extern "C" {

BOOL WINAPI EnumPrintProcessorDatatypesW(LPWSTR /*serverName*/, LPWSTR /*printProcessorName*/,
                                         DWORD /*level*/, LPBYTE datatypes, DWORD bufferBytes,
                                         LPDWORD neededBytes, LPDWORD entriesReturned) {
  *entriesReturned = 0;
  DWORD needed = 0;
  for (const WCHAR* const* name = Datatypes; *name; ++name) {
    needed +=
        sizeof(DATATYPES_INFO_1W) + static_cast<DWORD>((std::wcslen(*name) + 1) * sizeof(WCHAR));
  }
  *neededBytes = needed;
  if (needed > bufferBytes || !datatypes) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  DATATYPES_INFO_1W* entry = reinterpret_cast<DATATYPES_INFO_1W*>(datatypes);
  BYTE* nameEnd = datatypes + bufferBytes;
  for (const WCHAR* const* name = Datatypes; *name; ++name) {
    const DWORD nameBytes = static_cast<DWORD>((std::wcslen(*name) + 1) * sizeof(WCHAR));
    nameEnd -= nameBytes;
    std::memcpy(nameEnd, *name, nameBytes);
    // The entry may be unaligned in a caller's byte buffer.
    WCHAR* namePointer = reinterpret_cast<WCHAR*>(nameEnd);
    std::memcpy(&entry->pName, &namePointer, sizeof(namePointer));
    ++entry;
    ++*entriesReturned;
  }
  return TRUE;
}

HANDLE WINAPI OpenPrintProcessor(LPWSTR printerName, PPRINTPROCESSOROPENDATA openData) {
  if (!openData || !openData->pDatatype || !openData->pDatatype[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  DWORD datatypeIndex = 0;
  while (Datatypes[datatypeIndex] && _wcsicmp(Datatypes[datatypeIndex], openData->pDatatype) != 0) {
    ++datatypeIndex;
  }

  UniqueGlobal record(AllocSplMem(sizeof(PrintProcessorContext)));
  if (!record.valid()) {
    TraceText(L"Alloc failed");
    return nullptr;
  }
  HANDLE printer = nullptr;
  if (!OpenPrinterW(printerName, &printer, nullptr)) return nullptr;
  // From here on the record belongs to the spooler's handle.
  auto* context = static_cast<PrintProcessorContext*>(record.release());

  context->Signature = kContextSignature;
  context->JobId = openData->JobId;
  context->Printer = printer;
  context->PauseEvent = CreateEventW(nullptr, FALSE, TRUE, nullptr);
  if (!context->PauseEvent) {
    // The job still runs; only a pause cannot hold it (the loops do not wait
    // on a missing event).
    TraceText(L"CreateEvent failed - the job cannot be paused");
  }
  context->DatatypeIndex = datatypeIndex;
  context->Copies = 1;
  context->PrinterName = AllocSplStr(printerName);
  context->Datatype = AllocSplStr(openData->pDatatype);
  context->DocumentName = AllocSplStr(openData->pDocumentName);
  context->OutputFile = AllocSplStr(openData->pOutputFile);
  context->Parameters = AllocSplStr(openData->pParameters);

  context->Copies = SettleCopyCount(context->Parameters, context->Printer);
  return context;
}

BOOL WINAPI PrintDocumentOnPrintProcessor(HANDLE handle, LPWSTR documentName) {
  PrintProcessorContext* context = ValidateHandle(handle);
  if (!context) return FALSE;
  // Without the job's name there is nothing to read; a null name would open
  // the print server instead of the job.
  if (!documentName || !documentName[0]) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (context->DatatypeIndex == kDatatypeRaw || context->DatatypeIndex == kDatatypeText) {
    return PrintRawJob(context, documentName);
  }
  return PrintJobTicketJob(context, documentName);
}

BOOL WINAPI ClosePrintProcessor(HANDLE handle) {
  PrintProcessorContext* context = ValidateHandle(handle);
  if (!context) return FALSE;
  context->Signature = 0;
  // Released in reverse order: the printer, the event, the strings, the record.
  const UniqueGlobal record(context);
  const UniqueGlobal strings[] = {
      UniqueGlobal(context->PrinterName), UniqueGlobal(context->Datatype),
      UniqueGlobal(context->DocumentName), UniqueGlobal(context->OutputFile),
      UniqueGlobal(context->Parameters)};
  const UniqueHandle pauseEvent(context->PauseEvent);
  const UniquePrinter printer(context->Printer);
  return TRUE;
}

BOOL WINAPI ControlPrintProcessor(HANDLE handle, DWORD command) {
  PrintProcessorContext* context = ValidateHandle(handle);
  if (!context) return FALSE;
  auto resume = [context]() {
    // The flag is cleared before the event is set: a loop that finished its
    // wait and looks at the flag again must not find it still set, or it
    // would wait a second time on an event that nobody will signal.
    if (ReadContextFlags(context) & ContextFlag::Paused) {
      ClearContextFlag(context, ContextFlag::Paused);
      SetEvent(context->PauseEvent);
    }
  };
  switch (command) {
    case JOB_CONTROL_PAUSE:
      ResetEvent(context->PauseEvent);
      SetContextFlag(context, ContextFlag::Paused);
      return TRUE;
    case JOB_CONTROL_RESUME:
      resume();
      return TRUE;
    case JOB_CONTROL_CANCEL:
      SetContextFlag(context, ContextFlag::Aborted);
      resume();
      return TRUE;
    default:
      return FALSE;
  }
}

// The spooler calls this inside its service, where a message box has no
// desktop and would hold the calling thread until a click nobody can give:
// the greeting goes to the debugger output instead.
BOOL WINAPI InstallPrintProcessor(HWND) {
  TraceText(L"Print Processor Setup: HalvekPrint");
  return TRUE;
}

}  // extern "C"
