// The per-job record behind the spooler's print-processor handle.
#pragma once

#include "platform/win.h"

constexpr DWORD kContextSignature = 0x5051;

namespace ContextFlag {
constexpr LONG Aborted = 0x0001;
constexpr LONG Paused = 0x0008;
}  // namespace ContextFlag

// Datatype indices: a datatype's position in the advertised list, or the
// list's length for any other datatype.
constexpr DWORD kDatatypeRaw = 0;
constexpr DWORD kDatatypeText = 1;
constexpr DWORD kDatatypeOther = 2;

struct PrintProcessorContext {
  DWORD Signature;
  // Written only by ControlPrintProcessor, read by the job loop on another
  // thread: always accessed through the interlocked helpers below.
  volatile LONG Flags;
  HANDLE PauseEvent;
  DWORD DatatypeIndex;
  HANDLE Printer;
  WCHAR* PrinterName;
  WCHAR* DocumentName;
  WCHAR* OutputFile;
  WCHAR* Datatype;
  WCHAR* Parameters;
  DWORD JobId;
  DWORD Copies;
};

inline LONG ReadContextFlags(PrintProcessorContext* context) {
  return InterlockedCompareExchange(&context->Flags, 0, 0);
}
inline void SetContextFlag(PrintProcessorContext* context, LONG flag) {
  InterlockedOr(&context->Flags, flag);
}
inline void ClearContextFlag(PrintProcessorContext* context, LONG flag) {
  InterlockedAnd(&context->Flags, ~flag);
}

// The job loops' side of pause and cancel, run once per chunk: waits while a
// pause is in force, then tells whether the job was cancelled.
bool WaitWhilePausedThenCheckAborted(PrintProcessorContext* context);

// Returns the record behind a handle, or null with last error 6.
PrintProcessorContext* ValidateHandle(HANDLE handle);

// The advertised datatypes, ended by a null entry.
extern const WCHAR* const Datatypes[];

// The job routines.
BOOL PrintRawJob(PrintProcessorContext* context, const WCHAR* documentName);
BOOL PrintJobTicketJob(PrintProcessorContext* context, const WCHAR* documentName);
