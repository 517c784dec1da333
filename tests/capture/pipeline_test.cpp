#include <atomic>
#include <thread>

#include "capture/capture.h"
#include "notify/notify.h"
#include "spooler/context.h"
#include "tests/capture/capture_fixture.h"

namespace sd = spooler_double;

namespace {

constexpr DWORD kStart = static_cast<DWORD>(SpoolingCommand::Start);
constexpr DWORD kProgress = static_cast<DWORD>(SpoolingCommand::Progress);
constexpr DWORD kStop = static_cast<DWORD>(SpoolingCommand::Stop);

class PipelineTest : public CaptureTest {};

TEST_F(PipelineTest, PdfWithTitleBecomesOneNamedFileAndIsAnnounced) {
  CaptureRequest request;
  request.bytes = PdfWithTitle("Quarterly", 100 * 1024);
  ASSERT_TRUE(Capture(request));

  const std::vector<OutputFile> files = OutputFiles();
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].name, L"Quarterly.PDF");
  EXPECT_TRUE(files[0].bytes == request.bytes);

  const std::wstring path = outputFolder_ + L"Quarterly.PDF";
  EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
  const std::vector<RecordedMessage> messages = RecordedMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].command, kStart);
  EXPECT_EQ(messages[0].sizeBytes, 732u);
  EXPECT_EQ(messages[0].jobId, kCaptureJobId);
  EXPECT_EQ(messages[0].path, path);
  EXPECT_EQ(messages[1].command, kStop);
  EXPECT_EQ(messages[1].jobId, kCaptureJobId);
  // Only the context's printer handle is left open.
  EXPECT_EQ(sd::OpenHandleCount(), 0);
}

TEST_F(PipelineTest, OutputIsByteIdenticalForEverySize) {
  struct Case {
    size_t sizeBytes;
    DWORD maxChunkBytes;
  } cases[] = {{1, 0},       {32767, 0},     {32768, 0},    {32769, 0},
               {3 << 20, 0}, {100000, 1000}, {70000, 4097}, {65536, 32767}};
  LONG jobId = 100;
  for (const Case& c : cases) {
    CaptureRequest request;
    request.bytes = JobBytes(c.sizeBytes, static_cast<unsigned>(jobId));
    request.maxChunkBytes = c.maxChunkBytes;
    request.jobId = jobId;
    request.documentName = L"Size" + std::to_wstring(c.sizeBytes) + L".bin";
    ASSERT_TRUE(Capture(request)) << c.sizeBytes;
    const std::wstring name = L"Size" + std::to_wstring(c.sizeBytes) + L".bin";
    EXPECT_EQ(Output(name).size(), c.sizeBytes);
    EXPECT_TRUE(Output(name) == request.bytes) << c.sizeBytes;
    ++jobId;
  }
  EXPECT_EQ(OutputFiles().size(), std::size(cases));
}

TEST_F(PipelineTest, EmptyJobMakesNoFileAndNoNotification) {
  CaptureRequest request;
  request.documentName = L"Empty.txt";
  EXPECT_TRUE(Capture(request));
  EXPECT_TRUE(OutputFiles().empty());
  EXPECT_TRUE(RecordedMessages().empty());
  const std::vector<sd::PrinterDocument> documents = sd::Documents();
  ASSERT_EQ(documents.size(), 1u);
  EXPECT_EQ(documents[0].name, L"Job Ticket Link");
  EXPECT_FALSE(documents[0].datatypeGiven);
  EXPECT_TRUE(documents[0].ended);
  EXPECT_TRUE(documents[0].data.empty());
}

TEST_F(PipelineTest, NameAndExtensionRules) {
  struct Case {
    std::string bytes;
    const WCHAR* documentName;
    DWORD interpretTitle;  // 2: not set
    const WCHAR* expected;
  } cases[] = {
      {PdfWithTitle("Quarterly", 200), L"Ledger.dbf", 2, L"Quarterly.DBF"},
      {PdfWithTitle("Quarterly", 200), L"Ledger.txt", 2, L"Quarterly.PDF"},
      {"%!PS-Adobe-3.0\n%%Title:Poster\n", L"", 2, L"Poster.PS"},
      {"%!VPS-1.0\n%%Title:Variable\n", L"", 2, L"Variable.VPS"},
      {"<?xml version=\"1.0\"?><ppml>\n%%Title:book.ppml\n", L"", 2, L"book.ppml"},
      {"<?xml version=\"1.0\"?><ppml>\n", L"", 2, L"spoold_file"},
      {"<?xml version=\"1.0\"?><ppml>\n", L"Catalog.Ppml", 2, L"Catalog.Ppml"},
      {"no signature\n%%Title:layers.psd\n", L"", 2, L"layers.psd"},
      {"no signature\n%%Title:notes.doc\n", L"Memo.txt", 2, L"notes.txt"},
      {"no signature\n%%Title:notes.doc\n", L"", 2, L"notes.doc"},
      {"%PDF-1.7\nno title here", L"", 2, L"spoold_file.PDF"},
      {"%PDF-1.7\nno title here", L"Invoice 7.pdf", 2, L"Invoice 7.pdf"},
      // A plain title is not trusted with InterpretTitle 0 ...
      {PdfWithTitle("FromTitle", 200), L"FromName.pdf", 0, L"FromName.PDF"},
      {PdfWithTitle("FromTitle", 200), L"FromName.pdf", 1, L"FromTitle.PDF"},
      // ... but a producer-decoded one is.
      {"%!PS-Adobe-3.0\n%%Creator: PScript5.dll Version 5.2.2\n%%Title: Decoded\n", L"Other.ps", 0,
       L"Decoded.PS"},
  };
  LONG jobId = 200;
  for (const Case& c : cases) {
    if (c.interpretTitle != 2) SetInterpretTitle(c.interpretTitle);
    CaptureRequest request;
    request.bytes = c.bytes;
    request.documentName = c.documentName;
    request.jobId = jobId++;
    ASSERT_TRUE(Capture(request)) << c.expected;
    EXPECT_FALSE(Output(c.expected).empty())
        << c.expected << " among " << OutputFiles().size() << " files";
    DeleteFileW((outputFolder_ + c.expected).c_str());
    RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, L"Software\\Halvek\\Vornak\\Spooler", L"InterpretTitle");
  }
  EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(PipelineTest, CollisionIsNumberedByTheJobIdOfTheDocumentName) {
  ASSERT_TRUE(WriteNewFile(outputFolder_ + L"Quarterly.PDF", "older"));
  CaptureRequest request;
  request.bytes = PdfWithTitle("Quarterly", 1000);
  request.jobId = 77;
  HANDLE handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  // The context's job id differs from the one the document name carries.
  static_cast<PrintProcessorContext*>(handle)->JobId = 5;
  std::wstring jobName = JobName(77);
  EXPECT_TRUE(PrintDocumentOnPrintProcessor(handle, &jobName[0]));
  ClosePrintProcessor(handle);
  EXPECT_EQ(Output(L"Quarterly.PDF"), "older");
  EXPECT_TRUE(Output(L"Quarterly77.PDF") == request.bytes);
  EXPECT_EQ(RecordedMessages().at(0).jobId, 77);
}

TEST_F(PipelineTest, NameTakenAfterTheProbeIsNeverOpened) {
  // The probe chose Report.PDF, then another writer created it.
  ASSERT_TRUE(WriteNewFile(outputFolder_ + L"Report.PDF", "someone else's data"));
  WCHAR outputPath[270];
  WCHAR ticketPath[270];
  wcscpy(outputPath, (outputFolder_ + L"Report.PDF").c_str());
  wcscpy(ticketPath, (outputFolder_ + L"Report.XPF").c_str());
  HANDLE file = CreateOutputDataFile(9, outputFolder_.c_str(), L"Report", L"PDF", outputPath,
                                     ticketPath, 270);
  ASSERT_NE(file, INVALID_HANDLE_VALUE);
  ASSERT_TRUE(WriteOutputBytes(file, reinterpret_cast<const BYTE*>("new"), 3));
  CloseHandle(file);
  EXPECT_EQ(std::wstring(outputPath), outputFolder_ + L"Report9.PDF");
  EXPECT_EQ(std::wstring(ticketPath), outputFolder_ + L"Report9.XPF");
  EXPECT_EQ(Output(L"Report.PDF"), "someone else's data");
  EXPECT_EQ(Output(L"Report9.PDF"), "new");
}

TEST_F(PipelineTest, ProgressOncePerHalfMebibyteCrossed) {
  CaptureRequest request;
  request.bytes = JobBytes(3 * 512 * 1024);
  request.documentName = L"big.bin";
  ASSERT_TRUE(Capture(request));
  std::vector<DWORD> progress;
  for (const RecordedMessage& message : RecordedMessages()) {
    if (message.command == kProgress) {
      EXPECT_EQ(message.sizeBytes, 88u);
      progress.push_back(message.bytesSoFar);
    }
  }
  EXPECT_EQ(progress, (std::vector<DWORD>{512 * 1024, 1024 * 1024, 1536 * 1024}));
  EXPECT_EQ(RecordedMessages().front().command, kStart);
  EXPECT_EQ(RecordedMessages().back().command, kStop);
  ResetDoubles();
  request.bytes.resize(512 * 1024 - 1);
  ASSERT_TRUE(Capture(request));
  EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
}

TEST(ProgressArithmetic, StepsKeepRisingPastFourGibibytes) {
  const ULONGLONG gib4 = 1ull << 32;
  EXPECT_EQ(ProgressStep(0), 0u);
  EXPECT_EQ(ProgressStep(524287), 0u);
  EXPECT_EQ(ProgressStep(524288), 1u);
  EXPECT_EQ(ProgressStep(gib4 - 1), 8191u);
  EXPECT_EQ(ProgressStep(gib4), 8192u);
  EXPECT_EQ(ProgressStep(gib4 + 524288), 8193u);
  EXPECT_EQ(ProgressBytesField(gib4 - 1), 0xFFFFFFFFu);
  EXPECT_EQ(ProgressBytesField(gib4), 0xFFFFFFFFu);
  EXPECT_EQ(ProgressBytesField(5 * gib4 + 7), 0xFFFFFFFFu);
  EXPECT_EQ(ProgressBytesField(1536 * 1024), 1536u * 1024u);
}

TEST_F(PipelineTest, FailureExits) {
  struct Case {
    const char* name;
    sd::SpoolerCall call;
    unsigned nth;
    BOOL result;
    bool fileLeft;
    std::vector<DWORD> messages;
    bool pathWritten;
  } cases[] = {
      {"start doc fails", sd::SpoolerCall::StartDocPrinter, 1, FALSE, false, {}, false},
      {"job cannot be opened", sd::SpoolerCall::OpenPrinter, 2, FALSE, false, {}, false},
      {"first read fails", sd::SpoolerCall::ReadPrinter, 1, TRUE, false, {}, false},
      {"later read fails", sd::SpoolerCall::ReadPrinter, 3, TRUE, false, {kStart, kStop}, false},
  };
  LONG jobId = 300;
  for (const Case& c : cases) {
    ResetDoubles();
    sd::FailCall(c.call, ERROR_GEN_FAILURE, c.nth);
    CaptureRequest request;
    request.bytes = PdfWithTitle("Failing", 100000);
    request.jobId = jobId++;
    EXPECT_EQ(Capture(request), c.result) << c.name;
    EXPECT_EQ(!OutputFiles().empty(), c.fileLeft) << c.name;
    EXPECT_EQ(RecordedCommands(), c.messages) << c.name;
    bool pathWritten = false;
    for (const sd::PrinterDocument& document : sd::Documents()) {
      pathWritten = pathWritten || !document.data.empty();
      EXPECT_TRUE(document.ended) << c.name;
    }
    EXPECT_EQ(pathWritten, c.pathWritten) << c.name;
    EXPECT_EQ(sd::OpenHandleCount(), 0) << c.name;
    EXPECT_TRUE(sd::SetJobCalls().empty()) << c.name;
  }
}

TEST_F(PipelineTest, OutputThatCannotBeCreatedCancelsAndDeletesTheJob) {
  SetOutputPath(root_->path + L"no such folder");
  CaptureRequest request;
  request.bytes = PdfWithTitle("Lost", 1000);
  EXPECT_FALSE(Capture(request));
  const std::vector<sd::SetJobRecord> setJobs = sd::SetJobCalls();
  ASSERT_EQ(setJobs.size(), 2u);
  EXPECT_EQ(setJobs[0].command, static_cast<DWORD>(JOB_CONTROL_CANCEL));
  EXPECT_EQ(setJobs[1].command, static_cast<DWORD>(JOB_CONTROL_DELETE));
  for (const sd::SetJobRecord& record : setJobs) {
    EXPECT_EQ(record.handleName, JobName(kCaptureJobId));
    EXPECT_EQ(record.jobId, static_cast<DWORD>(kCaptureJobId));
    EXPECT_EQ(record.level, 0u);
    EXPECT_FALSE(record.jobDataGiven);
  }
  EXPECT_TRUE(RecordedMessages().empty());
  EXPECT_EQ(sd::OpenHandleCount(), 0);
  EXPECT_TRUE(sd::Documents().at(0).ended);
}

TEST_F(PipelineTest, MissingSettingsFailTheJobWithoutWritingAnywhere) {
  RegDeleteTreeW(HKEY_LOCAL_MACHINE,
                 L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port");
  CaptureRequest request;
  request.bytes = PdfWithTitle("Nowhere", 1000);
  SetLastError(0);
  EXPECT_FALSE(Capture(request));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  EXPECT_TRUE(OutputFiles().empty());
  EXPECT_TRUE(RecordedMessages().empty());
  // The job is left in the spooler, not deleted.
  EXPECT_TRUE(sd::SetJobCalls().empty());
  EXPECT_EQ(sd::OpenHandleCount(), 0);
  // Nothing landed in the current directory either.
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(L"Nowhere*", &found);
  EXPECT_EQ(search, INVALID_HANDLE_VALUE);
  if (search != INVALID_HANDLE_VALUE) FindClose(search);
}

TEST_F(PipelineTest, DocumentNameWithoutJobNumberFailsTheJob) {
  CaptureRequest request;
  request.bytes = PdfWithTitle("NoComma", 100);
  HANDLE handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  sd::AddJob(L"Halvek Cap Job 42", request.bytes);
  EXPECT_FALSE(PrintDocumentOnPrintProcessor(handle, const_cast<WCHAR*>(L"Halvek Cap Job 42")));
  ClosePrintProcessor(handle);
  EXPECT_TRUE(OutputFiles().empty());
}

TEST_F(PipelineTest, FailedWriteIsNotReportedAsCapture) {
  for (unsigned failingWrite : {1u, 3u}) {
    ResetDoubles();
    FailOutputWritesFrom(failingWrite, ERROR_DISK_FULL);
    CaptureRequest request;
    request.bytes = PdfWithTitle("Full", 200000);
    request.jobId = 400 + static_cast<LONG>(failingWrite);
    SetLastError(0);
    EXPECT_FALSE(Capture(request)) << failingWrite;
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DISK_FULL));
    EXPECT_TRUE(OutputFiles().empty()) << failingWrite;
    EXPECT_TRUE(PortPaths().at(0).empty()) << failingWrite;
    EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop})) << failingWrite;
    // The job stays in the spooler.
    EXPECT_TRUE(sd::SetJobCalls().empty());
    // No further chunks were read after the failure.
    EXPECT_EQ(OutputWriteCount(), failingWrite);
  }
}

TEST_F(PipelineTest, FailedFlushIsNotReportedAsCapture) {
  FailOutputFlush(ERROR_DISK_FULL);
  CaptureRequest request;
  request.bytes = PdfWithTitle("Unflushed", 5000);
  EXPECT_FALSE(Capture(request));
  EXPECT_TRUE(OutputFiles().empty());
  EXPECT_TRUE(PortPaths().at(0).empty());
  ASSERT_EQ(RecordedMessages().size(), 2u);
  EXPECT_EQ(RecordedMessages()[1].command, kStop);
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
  ASSERT_EQ(RecordedMessages().size(), 2u);
  EXPECT_EQ(RecordedMessages()[1].command, kStop);
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
    const std::wstring printerKey = std::wstring(
                                        L"SYSTEM\\CurrentControlSet\\Control\\Print\\"
                                        L"Printers\\") +
                                    printer;
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, printerKey.c_str(), L"Port", kCapturePort),
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
    const std::wstring name = L"Parallel" + std::to_wstring(i) + L".PDF";
    EXPECT_TRUE(Output(name) == PdfWithTitle("Parallel" + std::to_string(i), 200000 + i * 3333))
        << i;
  }
  EXPECT_EQ(RecordedMessages().size(), static_cast<size_t>(kJobs) * 2);
}

}  // namespace
