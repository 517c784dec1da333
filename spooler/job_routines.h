// The job routines PrintDocumentOnPrintProcessor hands a job to, by datatype.
#pragma once

#include "spooler/context.h"

// RAW and TEXT jobs: the capture into the port's output folder (capture/).
BOOL PrintRawJob(PrintProcessorContext* context, const WCHAR* documentName);

// Every other datatype: the pass-through, which copies the job to the
// printer unchanged (spooler/passthrough.cpp).
BOOL PrintJobTicketJob(PrintProcessorContext* context, const WCHAR* documentName);
