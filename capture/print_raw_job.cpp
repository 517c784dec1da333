#include "capture/capture.h"

// Capturing is not built yet: a RAW or TEXT job fails instead of being
// reported as printed.
BOOL PrintRawJob(PrintProcessorContext* /*context*/, const WCHAR* /*documentName*/) {
  OutputDebugStringW(L"PrintRawJob: job capture is not available in this build");
  SetLastError(ERROR_NOT_SUPPORTED);
  return FALSE;
}
