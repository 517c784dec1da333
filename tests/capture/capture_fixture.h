// A printer, port and output folder set up in the registry and on disk, with
// the spooler double, the queue recorder and the output writes reset around
// each test.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "notify/notify.h"
#include "platform/holders.h"
#include "platform/win.h"
#include "tests/support/registry_guard.h"
#include "tests/support/spooler_double.h"
#include "tests/support/test_files.h"

namespace sd = spooler_double;

constexpr WCHAR kCapturePrinter[] = L"Halvek Cap";
constexpr WCHAR kCapturePort[] = L"HCAP1";
constexpr LONG kCaptureJobId = 42;
constexpr DWORD kStart = static_cast<DWORD>(SpoolingCommand::Start);
constexpr DWORD kProgress = static_cast<DWORD>(SpoolingCommand::Progress);
constexpr DWORD kStop = static_cast<DWORD>(SpoolingCommand::Stop);

// A message the capture sent to the request queue.
struct RecordedMessage {
  DWORD command;
  LONG jobId;
  std::wstring path;  // start only
  DWORD bytesSoFar;   // progress only
};
std::vector<RecordedMessage> RecordedMessages();
// The commands in the order sent; 0 for one sent under another job's id.
std::vector<DWORD> RecordedCommands(LONG jobId = kCaptureJobId);

// Output writes go to the real file unless armed: from the nth write (1-based)
// on, each writes half its bytes and fails with `error`, like a full disk;
// with nth 0, only the flush fails.
void FailOutput(unsigned nth, DWORD error);
unsigned OutputWriteCount();

struct CaptureRequest {
  std::string bytes;
  std::wstring documentName = L"";  // "" gives none
  DWORD maxChunkBytes = 0;
  LONG jobId = kCaptureJobId;
  bool spoolFile = false;  // the spooler's spool file exists with the job's bytes
  const WCHAR* parameters = nullptr;
};

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Forgets spooler, queue and write state, the spooler settings and the
  // output folder's files between cases of one test.
  void Reset();

  // Runs one job through open, print and close; returns the print result
  // with its last error.
  BOOL Capture(const CaptureRequest& request);
  HANDLE OpenJob(const CaptureRequest& request);
  BOOL Print(HANDLE handle, LONG jobId = kCaptureJobId);
  static std::wstring JobName(LONG jobId);

  std::vector<std::wstring> OutputNames() const { return ListFolder(outputFolder_); }
  std::string Output(const std::wstring& name) const { return ReadWholeFile(outputFolder_ + name); }
  // The paths handed to the port in "Job Ticket Link" documents.
  std::vector<std::wstring> PortPaths() const;
  std::wstring SpoolFilePath(LONG jobId) const;
  void SetOutputPath(const std::wstring& path, DWORD type = REG_SZ);

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
