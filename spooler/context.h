// The per-job record behind the spooler's print-processor handle, and what
// the entry points and the job routines both do with it.
#pragma once

#include "platform/win.h"

constexpr DWORD kContextSignature = 0x5051;

namespace ContextFlag {
constexpr LONG Aborted = 0x0001;
constexpr LONG Paused = 0x0008;
}  // namespace ContextFlag

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
