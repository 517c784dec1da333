// Jobs of datatypes other than RAW and TEXT go to the printer unchanged.
#include "platform/holders.h"
#include "spooler/job_routines.h"

namespace {
constexpr DWORD kTransferBufferBytes = 32768;
}

BOOL PrintJobTicketJob(PrintProcessorContext* context, const WCHAR* documentName) {
  DOC_INFO_1W docInfo = {};
  docInfo.pDocName = context->DocumentName;
  docInfo.pOutputFile = context->OutputFile;
  docInfo.pDatatype = nullptr;
  if (!StartDocPrinterW(context->Printer, 1, reinterpret_cast<BYTE*>(&docInfo))) return FALSE;
  const StartedDocument document(context->Printer);

  HANDLE jobHandle = nullptr;
  if (!OpenPrinterW(const_cast<WCHAR*>(documentName), &jobHandle, nullptr)) return FALSE;
  // Closed before the document ends.
  const UniquePrinter job(jobHandle);

  // One transfer buffer serves every chunk of the job.
  static_assert(kTransferBufferBytes <= 65536, "the transfer buffer lives on the stack");
  BYTE bytes[kTransferBufferBytes];
  for (;;) {
    DWORD readBytes = 0;
    if (!ReadPrinter(job.get(), bytes, kTransferBufferBytes, &readBytes) || readBytes == 0) break;
    if (WaitWhilePausedThenCheckAborted(context)) break;
    // A failed or short write is not repeated: the copy goes on with the next chunk.
    DWORD writtenBytes = 0;
    WritePrinter(context->Printer, bytes, readBytes, &writtenBytes);
  }
  return TRUE;
}
