// A printer, port and output folder set up in the registry and on disk, with
// the spooler double, the queue recorder and the output writes reset around
// each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/holders.h"
#include "platform/win.h"
#include "tests/support/registry_guard.h"
#include "tests/support/spooler_double.h"
#include "tests/support/test_files.h"

constexpr WCHAR kCapturePrinter[] = L"Halvek Cap";
constexpr WCHAR kCapturePort[] = L"HCAP1";
constexpr LONG kCaptureJobId = 42;

// A message the capture sent to the request queue.
struct RecordedMessage {
  DWORD sizeBytes;
  DWORD command;
  LONG jobId;
  std::wstring path;  // start only
  DWORD bytesSoFar;   // progress only
};
std::vector<RecordedMessage> RecordedMessages();
std::vector<DWORD> RecordedCommands();

// Output writes go to the real file unless armed: from the nth write (1-based)
// on, each writes half its bytes and fails with `error`, like a full disk.
void FailOutputWritesFrom(unsigned nth, DWORD error);
void FailOutputFlush(DWORD error);
unsigned OutputWriteCount();

struct OutputFile {
  std::wstring name;
  std::string bytes;
};

struct CaptureRequest {
  std::string bytes;
  std::wstring documentName = L"";  // "" gives none
  std::wstring datatype = L"RAW";
  LONG jobId = kCaptureJobId;
  DWORD maxChunkBytes = 0;
  bool spoolFile = false;  // the spooler's spool file exists with the job's bytes
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Forgets spooler, queue and write state between cases of one test.
  void ResetDoubles();

  // Runs one job through open, print and close; returns the print result.
  BOOL Capture(const CaptureRequest& request);
  HANDLE OpenJob(const CaptureRequest& request);
  // Prints the job and checks that every file the output folder held before
  // is still there, unchanged.
  BOOL Print(HANDLE handle, LONG jobId = kCaptureJobId);
  void ExpectUnchanged(const std::vector<OutputFile>& before) const;
  static std::wstring JobName(LONG jobId);

  std::vector<OutputFile> OutputFiles() const;
  // The text written to the "Job Ticket Link" documents.
  std::vector<std::wstring> PortPaths() const;
  std::wstring SpoolFilePath(LONG jobId) const;
  std::string Output(const std::wstring& name) const { return ReadWholeFile(outputFolder_ + name); }

  void SetOutputPath(const std::wstring& path, DWORD type = REG_SZ);
  void SetInterpretTitle(DWORD value);

  std::unique_ptr<TempFolder> root_;
  std::wstring outputFolder_;  // ends with a backslash
  std::wstring spoolFolder_;   // no trailing backslash, as the spooler stores it
  std::vector<std::unique_ptr<ScopedRegistryValues>> guards_;
};

std::string JobBytes(size_t sizeBytes, unsigned seed = 1);
// "real\", "real\inner\" and "linked\" (a symbolic link to "real") under the
// link fixture the build made.
std::wstring LinkFixture(const std::wstring& relative);
std::string PdfWithTitle(const std::string& title, size_t sizeBytes);
