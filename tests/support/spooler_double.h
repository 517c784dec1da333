// A spooler double for the tests, linked in place of winspool: it defines
// the spooler calls the system makes (OpenPrinterW, ClosePrinter,
// StartDocPrinterW, EndDocPrinter, ReadPrinter, WritePrinter, SetJobW,
// GetPrinterW) over printers and jobs that a test sets up.
//
// Adding a call: define it in spooler_double.cpp with the platform's
// signature, give it an entry in SpoolerCall, start it with
// `if (Enter(SpoolerCall::X, handle)) return <its failure value>;`
// (which runs the hook, records the call and applies injected failures), and
// keep its state under the double's lock.
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
};

const char* CallName(SpoolerCall call);

struct PrinterDocument {
  std::wstring printer;     // the printer the document was started on
  std::wstring name;        // DOC_INFO_1 pDocName ("" when null)
  std::wstring outputFile;  // DOC_INFO_1 pOutputFile ("" when null)
  bool outputFileGiven = false;
  bool datatypeGiven = false;
  std::string data;  // every byte written to it
  std::vector<DWORD> writeSizes;
  bool ended = false;
};

struct SetJobRecord {
  std::wstring handleName;
  DWORD jobId;
  DWORD level;
  bool jobDataGiven;
  DWORD command;
};

struct CallRecord {
  SpoolerCall call;
  std::wstring handleName;  // the name the handle was opened with ("" if none)
};

// Forgets every printer, job, document, record, failure and hook.
void Reset();

// A printer named `name`; GetPrinterW level 2 reports `attributes`.
void AddPrinter(const std::wstring& name, DWORD attributes = 0);
// The size GetPrinterW asks for (at least sizeof(PRINTER_INFO_2W)).
void SetPrinterInfoNeededBytes(const std::wstring& name, DWORD neededBytes);

// A job that OpenPrinterW opens by `documentName` ("Printer, Job 12").
// ReadPrinter delivers at most `maxChunkBytes` per call (0: as asked); each
// handle opened on the job reads it from its start.
void AddJob(const std::wstring& documentName, const std::string& bytes, DWORD maxChunkBytes = 0);
// Bytes of the job that no handle has read yet.
size_t UnreadBytes(const std::wstring& documentName);
// How many ReadPrinter calls delivered data for the job.
unsigned ChunksRead(const std::wstring& documentName);

// Makes the nth call (1-based, counted per call kind) fail with `error`;
// nth 0 makes every such call fail.
void FailCall(SpoolerCall call, DWORD error, unsigned nth = 0);
// WritePrinter reports at most this many bytes written (0: all).
void SetWritePrinterLimit(DWORD maxBytes);

// Runs before every call, outside the double's lock, with the call kind and
// its 1-based number among calls of that kind. Tests use it to pause, cancel
// or block a job at a given chunk.
void SetHook(std::function<void(SpoolerCall, unsigned)> hook);

std::vector<PrinterDocument> Documents();
std::vector<SetJobRecord> SetJobCalls();
std::vector<CallRecord> Calls();
std::vector<DWORD> GetPrinterBufferSizes();
unsigned CallCount(SpoolerCall call);
// Handles opened and not yet closed.
int OpenHandleCount();

}  // namespace spooler_double
