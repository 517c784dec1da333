#include "capture/capture.h"

BOOL WriteOutputBytes(HANDLE file, const BYTE* data, DWORD sizeBytes) {
  DWORD writtenBytes = 0;
  if (!WriteFile(file, data, sizeBytes, &writtenBytes, nullptr)) return FALSE;
  if (writtenBytes != sizeBytes) {
    SetLastError(ERROR_HANDLE_DISK_FULL);
    return FALSE;
  }
  return TRUE;
}

BOOL FlushOutput(HANDLE file) {
  return FlushFileBuffers(file);
}
