// Spooler double linked in place of winspool: printers and jobs set up by a
// test, every call counted, failures injected per call kind.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/win.h"

namespace spooler_double {

enum class SpoolerCall {
  OpenPrinter,
  ClosePrinter,
  StartDocPrinter,
  EndDocPrinter,
  ReadPrinter,
  WritePrinter,
  SetJob,
  GetPrinter,
  GetJob
};

struct PrinterDocument {
  std::wstring name;  // "" when null
  std::string data;
  bool ended = false;
};

struct SetJobRecord {
  DWORD jobId, command;
};

void Reset();
// GetPrinterW level 2 reports `attributes`.
void AddPrinter(const std::wstring& name, DWORD attributes = 0);
// A job opened by name ("Printer, Job 12"); each handle reads it from its
// start, at most `maxChunkBytes` per ReadPrinter (0: as asked).
void AddJob(const std::wstring& documentName, const std::string& bytes, DWORD maxChunkBytes = 0);
// GetJobW level 1 reports `status` for the job (0 unless set).
void SetJobStatus(const std::wstring& documentName, DWORD status);
// ReadPrinter calls that delivered data for the job.
unsigned ChunksRead(const std::wstring& documentName);
// The nth call of the kind (1-based; 0: every one) fails with `error`.
void FailCall(SpoolerCall call, DWORD error, unsigned nth = 0);
// Runs before every call, outside the lock, with the call's 1-based number
// among its kind, so a test can pause, cancel or block a job mid-copy.
void SetHook(std::function<void(SpoolerCall, unsigned)> hook);

std::vector<PrinterDocument> Documents();
std::vector<SetJobRecord> SetJobCalls();
int OpenHandleCount();

}  // namespace spooler_double
