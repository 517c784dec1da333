// Taking an output's name: the probe and the making of the file together.
#include "capture/capture.h"
#include "capture/settings.h"
#include "naming/naming.h"

namespace {
// Name clashes with files that appear while the name is being chosen.
constexpr int kClaimAttempts = 32;

bool IsNameTaken(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}
}  // namespace

BOOL ClaimOutputName(LONG jobId, const WCHAR* outputFolder, const WCHAR* validName,
                     const WCHAR* extension, BOOL withTicket, WCHAR* dataPath, WCHAR* ticketPath,
                     DWORD pathCapacityChars, MakeOutputFunction make, void* context) {
  for (int attempt = 0; attempt < kClaimAttempts; ++attempt) {
    if (!FindUniqueNameForOutputFile(jobId, outputFolder, validName, extension, dataPath,
                                     ticketPath, pathCapacityChars, withTicket)) {
      TraceLabelled(L"No room for an output name in ", outputFolder);
      SetLastError(ERROR_FILENAME_EXCED_RANGE);
      return FALSE;
    }
    if (make(context, dataPath, ticketPath)) return TRUE;
    if (!IsNameTaken(GetLastError())) return FALSE;
  }
  SetLastError(ERROR_FILE_EXISTS);
  return FALSE;
}
