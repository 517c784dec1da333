#include "tests/capture/output_writes_double.h"

#include <atomic>

#include "capture/capture.h"

namespace {
std::atomic<unsigned> writeCount{0};
std::atomic<unsigned> failFrom{0};
std::atomic<DWORD> writeError{0};
std::atomic<DWORD> flushError{0};
}  // namespace

void FailOutputWritesFrom(unsigned nth, DWORD error) {
  writeError = error;
  failFrom = nth;
}

void FailOutputFlush(DWORD error) {
  flushError = error;
}

void ResetOutputWrites() {
  writeCount = 0;
  failFrom = 0;
  flushError = 0;
}

unsigned OutputWriteCount() {
  return writeCount;
}

BOOL WriteOutputBytes(HANDLE file, const BYTE* data, DWORD sizeBytes) {
  const unsigned number = ++writeCount;
  if (failFrom != 0 && number >= failFrom) {
    // A disk that fills up takes part of the chunk, then refuses.
    DWORD writtenBytes = 0;
    WriteFile(file, data, sizeBytes / 2, &writtenBytes, nullptr);
    SetLastError(writeError);
    return FALSE;
  }
  DWORD writtenBytes = 0;
  if (!WriteFile(file, data, sizeBytes, &writtenBytes, nullptr)) return FALSE;
  return writtenBytes == sizeBytes;
}

BOOL FlushOutput(HANDLE file) {
  if (flushError) {
    SetLastError(flushError);
    return FALSE;
  }
  return FlushFileBuffers(file);
}
