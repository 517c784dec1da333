#include <atomic>
#include <functional>
#include <thread>

#include "capture/capture.h"
#include "naming/naming.h"
#include "notify/notify.h"
#include "platform/registry_names.h"
#include "spooler/context.h"
#include "tests/capture/capture_fixture.h"

namespace sd = spooler_double;

namespace {

constexpr DWORD kStart = static_cast<DWORD>(SpoolingCommand::Start);
constexpr DWORD kProgress = static_cast<DWORD>(SpoolingCommand::Progress);
constexpr DWORD kStop = static_cast<DWORD>(SpoolingCommand::Stop);

class PipelineTest : public CaptureTest {};

TEST_F(PipelineTest, CapturedFileIsNamedAnnouncedAndHandedToThePort) {
  CaptureRequest request;
  request.bytes = PdfWithTitle("Quarterly", 100 * 1024);
  ASSERT_TRUE(Capture(request));
  const std::wstring path = outputFolder_ + L"Quarterly.PDF";
  ASSERT_EQ(OutputFiles().size(), 1u);
  EXPECT_TRUE(Output(L"Quarterly.PDF") == request.bytes);
  EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
  const std::vector<RecordedMessage> messages = RecordedMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].path, path);
  EXPECT_EQ(messages[0].jobId, kCaptureJobId);
  EXPECT_EQ(messages[1].command, kStop);
  EXPECT_EQ(sd::OpenHandleCount(), 0);
}

TEST_F(PipelineTest, OutputIsByteIdenticalForEverySizeAndChunking) {
  struct Case {
    size_t sizeBytes;
    DWORD maxChunkBytes;
  } cases[] = {{0, 0},       {1, 0},         {32767, 0},    {32768, 0},    {32769, 0},
               {3 << 20, 0}, {100000, 1000}, {70000, 4097}, {65536, 32767}};
  LONG jobId = 100;
  for (const Case& c : cases) {
    ResetDoubles();
    CaptureRequest request;
    request.bytes = JobBytes(c.sizeBytes, static_cast<unsigned>(jobId));
    request.maxChunkBytes = c.maxChunkBytes;
    request.jobId = jobId++;
    request.documentName = L"Size" + std::to_wstring(c.sizeBytes) + L".bin";
    ASSERT_TRUE(Capture(request)) << c.sizeBytes;
    if (c.sizeBytes == 0) {
      // An empty job: no file, no message, an empty path document.
      EXPECT_TRUE(OutputFiles().empty());
      EXPECT_TRUE(RecordedMessages().empty());
      EXPECT_TRUE(PortPaths().at(0).empty());
      continue;
    }
    EXPECT_TRUE(Output(request.documentName) == request.bytes) << c.sizeBytes;
  }
}

TEST_F(PipelineTest, NameAndExtensionRules) {
  struct Case {
    std::string bytes;
    const WCHAR* documentName;
    int interpretTitle;  // -1: not set
    const WCHAR* expected;
  } cases[] = {
      {PdfWithTitle("Quarterly", 200), L"Ledger.dbf", -1, L"Quarterly.DBF"},
      {PdfWithTitle("Quarterly", 200), L"Ledger.txt", -1, L"Quarterly.PDF"},
      {"%!PS-Adobe-3.0\n%%Title:Poster\n", L"", -1, L"Poster.PS"},
      {"%!VPS-1.0\n%%Title:Variable\n", L"", -1, L"Variable.VPS"},
      {"<?xml version=\"1.0\"?><ppml>\n%%Title:book.ppml\n", L"", -1, L"book.ppml"},
      {"<?xml version=\"1.0\"?><ppml>\n", L"", -1, L"spoold_file"},
      {"no signature\n%%Title:layers.psd\n", L"", -1, L"layers.psd"},
      {"no signature\n%%Title:notes.doc\n", L"Memo.txt", -1, L"notes.txt"},
      {"%PDF-1.7\nno title here", L"Invoice 7.pdf", -1, L"Invoice 7.pdf"},
      // A plain title is not trusted with InterpretTitle 0, a decoded one is.
      {PdfWithTitle("FromTitle", 200), L"FromName.pdf", 0, L"FromName.PDF"},
      {"%!PS-Adobe-3.0\n%%Creator: PScript5.dll Version 5.2.2\n%%Title: Decoded\n", L"Other.ps", 0,
       L"Decoded.PS"},
  };
  LONG jobId = 200;
  for (const Case& c : cases) {
    if (c.interpretTitle >= 0) SetInterpretTitle(static_cast<DWORD>(c.interpretTitle));
    CaptureRequest request;
    request.bytes = c.bytes;
    request.documentName = c.documentName;
    request.jobId = jobId++;
    ASSERT_TRUE(Capture(request)) << c.expected;
    EXPECT_EQ(Output(c.expected), c.bytes) << c.expected;
    DeleteFileW((outputFolder_ + c.expected).c_str());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kInterpretTitleValue);
  }
}

TEST_F(PipelineTest, CollisionIsNumberedByTheJobIdOfTheDocumentName) {
  ASSERT_TRUE(WriteNewFile(outputFolder_ + L"Quarterly.PDF", "older"));
  CaptureRequest request;
  request.bytes = PdfWithTitle("Quarterly", 1000);
  request.jobId = 77;
  HANDLE handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  static_cast<PrintProcessorContext*>(handle)->JobId = 5;  // not the one that counts
  EXPECT_TRUE(Print(handle, 77));
  ClosePrintProcessor(handle);
  EXPECT_EQ(Output(L"Quarterly.PDF"), "older");
  EXPECT_TRUE(Output(L"Quarterly77.PDF") == request.bytes);
}

TEST_F(PipelineTest, NameTakenAfterTheProbeIsProbedAgainNeverOpened) {
  // Another writer takes each name the moment it has been probed, twice.
  static int racesLeft;
  racesLeft = 2;
  const auto make = [](void*, const WCHAR* dataPath, const WCHAR*) -> BOOL {
    if (racesLeft-- > 0) {
      EXPECT_TRUE(WriteNewFile(dataPath, "someone else's data"));
    }
    HANDLE file = CreateFileW(dataPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return FALSE;
    CloseHandle(file);
    return TRUE;
  };
  WCHAR outputPath[270];
  WCHAR ticketPath[270];
  ASSERT_TRUE(ClaimOutputName(9, outputFolder_.c_str(), L"Report", L"PDF", TRUE, outputPath,
                              ticketPath, 270, make, nullptr));
  EXPECT_EQ(std::wstring(outputPath), outputFolder_ + L"Report10.PDF");
  EXPECT_EQ(std::wstring(ticketPath), outputFolder_ + L"Report10.XPF");
  EXPECT_EQ(Output(L"Report.PDF"), "someone else's data");
  EXPECT_EQ(Output(L"Report9.PDF"), "someone else's data");
  EXPECT_EQ(Output(L"Report10.PDF"), "");
}

TEST_F(PipelineTest, ProgressOncePerHalfMebibyteCrossed) {
  CaptureRequest request;
  request.bytes = JobBytes(3 * 512 * 1024);
  request.documentName = L"big.bin";
  ASSERT_TRUE(Capture(request));
  std::vector<DWORD> progress;
  for (const RecordedMessage& message : RecordedMessages()) {
    if (message.command == kProgress) progress.push_back(message.bytesSoFar);
  }
  EXPECT_EQ(progress, (std::vector<DWORD>{512 * 1024, 1024 * 1024, 1536 * 1024}));
  ResetDoubles();
  request.bytes.resize(512 * 1024 - 1);
  ASSERT_TRUE(Capture(request));
  EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
}

TEST(ProgressArithmetic, StepsKeepRisingPastFourGibibytes) {
  const ULONGLONG gib4 = 1ull << 32;
  EXPECT_EQ(ProgressStep(gib4 - 1), 8191u);
  EXPECT_EQ(ProgressStep(gib4 + 524288), 8193u);
  EXPECT_EQ(ProgressBytesField(1536 * 1024), 1536u * 1024u);
  EXPECT_EQ(ProgressBytesField(gib4), 0xFFFFFFFFu);
  EXPECT_EQ(ProgressBytesField(5 * gib4 + 7), 0xFFFFFFFFu);
}

// Every way a capture can end short of a file: result, last error, what is
// left in the folder, what the queue and the port heard, what the spooler
// was told to do with the job.
TEST_F(PipelineTest, FailureExits) {
  const std::string ticket = "<?xml version=\"1.0\"?><xpif></xpif>\n";
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string bytes;
    const WCHAR* jobName;  // null: the job's own
    BOOL result;
    DWORD error;  // 0: not checked
    std::vector<DWORD> messages;
    std::vector<DWORD> setJobs;
  } cases[] = {
      {"start doc fails",
       []() { sd::FailCall(sd::SpoolerCall::StartDocPrinter, ERROR_GEN_FAILURE); },
       "",
       nullptr,
       FALSE,
       ERROR_GEN_FAILURE,
       {},
       {}},
      {"job cannot be opened",
       []() { sd::FailCall(sd::SpoolerCall::OpenPrinter, ERROR_GEN_FAILURE, 2); },
       "",
       nullptr,
       FALSE,
       ERROR_GEN_FAILURE,
       {},
       {}},
      {"first read fails",
       []() { sd::FailCall(sd::SpoolerCall::ReadPrinter, ERROR_GEN_FAILURE, 1); },
       "",
       nullptr,
       TRUE,
       0,
       {},
       {}},
      {"later read fails",
       []() { sd::FailCall(sd::SpoolerCall::ReadPrinter, ERROR_GEN_FAILURE, 3); },
       "",
       nullptr,
       TRUE,
       0,
       {kStart, kStop},
       {}},
      {"first write fails",
       []() { FailOutputWritesFrom(1, ERROR_DISK_FULL); },
       "",
       nullptr,
       FALSE,
       ERROR_DISK_FULL,
       {kStart, kStop},
       {}},
      {"later write fails",
       []() { FailOutputWritesFrom(3, ERROR_DISK_FULL); },
       "",
       nullptr,
       FALSE,
       ERROR_DISK_FULL,
       {kStart, kStop},
       {}},
      {"ticket write fails",
       []() { FailOutputWritesFrom(1, ERROR_DISK_FULL); },
       ticket,
       nullptr,
       FALSE,
       ERROR_DISK_FULL,
       {},
       {}},
      {"data behind a ticket fails",
       []() { FailOutputWritesFrom(2, ERROR_DISK_FULL); },
       ticket + PdfWithTitle("Failing", 100000),
       nullptr,
       FALSE,
       ERROR_DISK_FULL,
       {kStart, kStop},
       {}},
      {"flush fails",
       []() { FailOutputFlush(ERROR_DISK_FULL); },
       "",
       nullptr,
       FALSE,
       ERROR_DISK_FULL,
       {kStart, kStop},
       {}},
      {"output cannot be created",
       [this]() { SetOutputPath(root_->path + L"no such folder"); },
       "",
       nullptr,
       FALSE,
       0,
       {},
       {JOB_CONTROL_CANCEL, JOB_CONTROL_DELETE}},
      {"no temporary ticket name",
       [this]() { SetOutputPath(root_->path + L"no such folder"); },
       ticket,
       nullptr,
       FALSE,
       0,
       {},
       {JOB_CONTROL_CANCEL, JOB_CONTROL_DELETE}},
      {"port setting missing",
       []() { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHalvekMonitorKey); },
       "",
       nullptr,
       FALSE,
       ERROR_PATH_NOT_FOUND,
       {},
       {}},
      {"no job number", []() {}, "", L"Halvek Cap Job 42", FALSE, ERROR_PATH_NOT_FOUND, {}, {}},
      {"output folder behind a link",
       [this]() { SetOutputPath(LinkFixture(L"linked\\")); },
       "",
       nullptr,
       FALSE,
       ERROR_ACCESS_DENIED,
       {},
       {}},
  };
  LONG jobId = 300;
  for (const Case& c : cases) {
    ResetDoubles();
    c.arrange();
    CaptureRequest request;
    request.bytes = c.bytes.empty() ? PdfWithTitle("Failing", 100000) : c.bytes;
    request.jobId = jobId;
    HANDLE handle = OpenJob(request);
    ASSERT_NE(handle, nullptr) << c.name;
    std::wstring jobName = c.jobName ? c.jobName : JobName(jobId);
    sd::AddJob(jobName, request.bytes);
    SetLastError(0);
    EXPECT_EQ(PrintDocumentOnPrintProcessor(handle, &jobName[0]), c.result) << c.name;
    if (c.error) {
      EXPECT_EQ(GetLastError(), c.error) << c.name;
    }
    ClosePrintProcessor(handle);
    EXPECT_TRUE(OutputFiles().empty()) << c.name;
    EXPECT_EQ(RecordedCommands(), c.messages) << c.name;
    for (const std::wstring& path : PortPaths()) EXPECT_TRUE(path.empty()) << c.name;
    std::vector<DWORD> setJobs;
    for (const sd::SetJobRecord& record : sd::SetJobCalls()) {
      setJobs.push_back(record.command);
      EXPECT_EQ(record.jobId, static_cast<DWORD>(jobId)) << c.name;
    }
    EXPECT_EQ(setJobs, c.setJobs) << c.name;
    EXPECT_EQ(sd::OpenHandleCount(), 0) << c.name;
    SetOutputPath(outputFolder_);
    ++jobId;
  }
  EXPECT_EQ(ListFolder(LinkFixture(L"real\\")), std::vector<std::wstring>{L"inner"});
}

TEST_F(PipelineTest, CancelWhileWritingLeavesNothingAndStillStops) {
  CaptureRequest request;
  request.bytes = PdfWithTitle("Cancelled", 10 * 32768);
  HANDLE handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  sd::SetHook([handle](sd::SpoolerCall call, unsigned number) {
    if (call == sd::SpoolerCall::ReadPrinter && number == 4) {
      ControlPrintProcessor(handle, JOB_CONTROL_CANCEL);
    }
  });
  EXPECT_TRUE(Print(handle));
  sd::SetHook(nullptr);
  ClosePrintProcessor(handle);
  EXPECT_TRUE(OutputFiles().empty());
  EXPECT_TRUE(PortPaths().at(0).empty());
  EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::ReadPrinter), 4u);
}

TEST_F(PipelineTest, PauseHoldsTheCaptureUntilResume) {
  CaptureRequest request;
  request.bytes = PdfWithTitle("Paused", 6 * 32768);
  HANDLE handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  std::thread control;
  std::atomic<unsigned> writesWhilePaused{0};
  sd::SetHook([&, handle](sd::SpoolerCall call, unsigned number) {
    if (call == sd::SpoolerCall::ReadPrinter && number == 3) {
      ControlPrintProcessor(handle, JOB_CONTROL_PAUSE);
      control = std::thread([&, handle]() {
        Sleep(150);
        writesWhilePaused = OutputWriteCount();
        ControlPrintProcessor(handle, JOB_CONTROL_RESUME);
      });
    }
  });
  EXPECT_TRUE(Print(handle));
  control.join();
  sd::SetHook(nullptr);
  ClosePrintProcessor(handle);
  EXPECT_EQ(writesWhilePaused, 2u);
  EXPECT_TRUE(Output(L"Paused.PDF") == request.bytes);
}

TEST_F(PipelineTest, ImpersonationIsDroppedForTheJobAndRestoredAfter) {
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  std::atomic<int> readsWithToken{0};
  sd::SetHook([&](sd::SpoolerCall call, unsigned) {
    HANDLE token = nullptr;
    if (call == sd::SpoolerCall::ReadPrinter &&
        OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token)) {
      ++readsWithToken;
      CloseHandle(token);
    }
  });
  CaptureRequest request;
  request.bytes = PdfWithTitle("Token", 70000);
  EXPECT_TRUE(Capture(request));
  sd::SetHook(nullptr);
  EXPECT_EQ(readsWithToken, 0);
  HANDLE token = nullptr;
  EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  if (token) CloseHandle(token);
  RevertToSelf();
}

TEST_F(PipelineTest, JobsOnDifferentPrintersAtOnce) {
  const int kJobs = 4;
  for (int i = 0; i < kJobs; ++i) {
    const std::wstring printer = L"Halvek Cap " + std::to_wstring(i);
    sd::AddPrinter(printer);
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE,
                                (std::wstring(kPrintersKey) + L"\\" + printer).c_str(), kPortValue,
                                kCapturePort),
              ERROR_SUCCESS);
    sd::AddJob(printer + L", Job " + std::to_wstring(500 + i),
               PdfWithTitle("Parallel" + std::to_string(i), 200000 + i * 3333), 10000);
  }
  std::vector<std::thread> threads;
  std::atomic<int> succeeded{0};
  for (int i = 0; i < kJobs; ++i) {
    threads.emplace_back([&, i]() {
      std::wstring printer = L"Halvek Cap " + std::to_wstring(i);
      std::wstring datatype = L"RAW";
      PRINTPROCESSOROPENDATA data = {};
      data.pDatatype = &datatype[0];
      HANDLE handle = OpenPrintProcessor(&printer[0], &data);
      std::wstring jobName = printer + L", Job " + std::to_wstring(500 + i);
      if (handle && PrintDocumentOnPrintProcessor(handle, &jobName[0])) ++succeeded;
      if (handle) ClosePrintProcessor(handle);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(succeeded, kJobs);
  for (int i = 0; i < kJobs; ++i) {
    EXPECT_TRUE(Output(L"Parallel" + std::to_wstring(i) + L".PDF") ==
                PdfWithTitle("Parallel" + std::to_string(i), 200000 + i * 3333))
        << i;
  }
}

}  // namespace
