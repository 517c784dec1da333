// A printer, port and output folder set up for real in the registry and on
// disk, with the spooler double and the queue recorder reset around each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/win.h"
#include "tests/capture/output_writes_double.h"
#include "tests/capture/queue_recorder.h"
#include "tests/support/registry_guard.h"
#include "tests/support/spooler_double.h"
#include "tests/support/test_files.h"

constexpr WCHAR kCapturePrinter[] = L"Halvek Cap";
constexpr WCHAR kCapturePort[] = L"HCAP1";
constexpr LONG kCaptureJobId = 42;

struct OutputFile {
  std::wstring name;
  std::string bytes;
};

struct CaptureRequest {
  std::string bytes;
  std::wstring documentName = L"";  // the open data's pDocumentName; "" gives none
  std::wstring datatype = L"RAW";
  LONG jobId = kCaptureJobId;
  DWORD maxChunkBytes = 0;
  // The spooler's own spool file of the job exists with the job's bytes.
  bool spoolFile = false;
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs one job through open, print and close; returns the print result.
  BOOL Capture(const CaptureRequest& request);
  // Opens a handle for a job and leaves the run to the caller.
  HANDLE OpenJob(const CaptureRequest& request);
  static std::wstring JobName(LONG jobId);

  std::vector<OutputFile> OutputFiles() const;
  // The UTF-16 text written to the "Job Ticket Link" documents.
  std::vector<std::wstring> PortPaths() const;
  std::wstring SpoolFilePath(LONG jobId) const;

  void SetOutputPath(const std::wstring& path, DWORD type = REG_SZ);
  void SetInterpretTitle(DWORD value);

  std::unique_ptr<TempFolder> root_;
  std::wstring outputFolder_;  // ends with a backslash
  std::wstring spoolFolder_;   // no trailing backslash, as the spooler stores it
  std::vector<std::unique_ptr<ScopedRegistryValues>> guards_;
};

std::string JobBytes(size_t sizeBytes, unsigned seed = 1);
std::wstring Widen(const std::string& ascii);
