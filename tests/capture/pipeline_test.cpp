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

// Whatever its size and however the reads cut it, a job lands whole under
// its name, which is announced and handed to the port; progress goes out
// once per 512 KiB crossed. An empty job leaves no file and no message.
TEST_F(PipelineTest, OutputIsWholeAnnouncedAndHandedToThePort) {
  struct Case {
    size_t sizeBytes;
    DWORD maxChunkBytes;
  } cases[] = {
      // clang-format off
      {0, 0},
      {1, 0},
      {32769, 0},
      {512 * 1024 - 1, 0},
      {3 << 20, 0},
      {100000, 1000},
      {70000, 4097},
      // clang-format on
  };
  LONG jobId = 100;
  for (const Case& c : cases) {
    ResetDoubles();
    CaptureRequest request;
    request.bytes = JobBytes(c.sizeBytes, static_cast<unsigned>(jobId));
    request.maxChunkBytes = c.maxChunkBytes;
    request.jobId = jobId++;
    request.documentName = L"Size" + std::to_wstring(c.sizeBytes) + L".bin";
    ASSERT_TRUE(Capture(request)) << c.sizeBytes;
    EXPECT_EQ(sd::OpenHandleCount(), 0);
    if (c.sizeBytes == 0) {
      EXPECT_TRUE(OutputFiles().empty());
      EXPECT_TRUE(RecordedMessages().empty());
      EXPECT_TRUE(PortPaths().at(0).empty());
      continue;
    }
    const std::wstring path = outputFolder_ + request.documentName;
    EXPECT_TRUE(ReadWholeFile(path) == request.bytes) << c.sizeBytes;
    EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
    std::vector<RecordedMessage> expected = {{0, kStart, request.jobId, path, 0}};
    for (DWORD step = 1; step <= (c.sizeBytes >> 19); ++step) {
      expected.push_back({0, kProgress, request.jobId, L"", step << 19});
    }
    expected.push_back({0, kStop, request.jobId, L"", 0});
    const std::vector<RecordedMessage> messages = RecordedMessages();
    ASSERT_EQ(messages.size(), expected.size()) << c.sizeBytes;
    for (size_t i = 0; i < messages.size(); ++i) {
      EXPECT_EQ(messages[i].command, expected[i].command) << i;
      EXPECT_EQ(messages[i].jobId, expected[i].jobId) << i;
      EXPECT_EQ(messages[i].path, expected[i].path) << i;
      EXPECT_EQ(messages[i].bytesSoFar, expected[i].bytesSoFar) << i;
    }
  }
}

TEST_F(PipelineTest, NameAndExtensionRules) {
  struct Case {
    std::string bytes;
    const WCHAR* documentName;
    int interpretTitle;  // -1: not set
    const WCHAR* expected;
  } cases[] = {
      // clang-format off
      {PdfWithTitle("Quarterly", 200), L"Ledger.dbf", -1, L"Quarterly.DBF"},
      {PdfWithTitle("Quarterly", 200), L"Ledger.txt", -1, L"Quarterly.PDF"},
      {"%!PS-Adobe-3.0\n%%Title:Poster\n", L"", -1, L"Poster.PS"},
      {"%!VPS-1.0\n%%Title:Variable\n", L"", -1, L"Variable.VPS"},
      {"<?xml version=\"1.0\"?><ppml>\n%%Title:book.ppml\n", L"", -1, L"book.ppml"},
      {"<?xml version=\"1.0\"?><ppml>\n", L"", -1, L"spoold_file"},
      {"no signature\n%%Title:layers.psd\n", L"", -1, L"layers.psd"},
      {"no signature\n%%Title:notes.doc\n", L"Memo.txt", -1, L"notes.txt"},
      {"no signature\n%%Title:scan.pdf\n", L"Memo.txt", -1, L"scan.pdf"},
      {"%PDF-1.7\nno title here", L"Invoice 7.pdf", -1, L"Invoice 7.pdf"},
      // A plain title is not trusted with InterpretTitle 0, a decoded one is.
      {PdfWithTitle("FromTitle", 200), L"FromName.pdf", 0, L"FromName.PDF"},
      {"%!PS-Adobe-3.0\n%%Creator: PScript5.dll Version 5.2.2\n%%Title: Decoded\n", L"Other.ps", 0, L"Decoded.PS"},
      // clang-format on
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

TEST_F(PipelineTest, NameTakenAfterTheProbeIsProbedAgainNeverOpened) {
  // Another writer takes each name the moment it has been probed, twice.
  static int racesLeft;
  racesLeft = 2;
  const auto make = [](void*, const WCHAR* dataPath, const WCHAR*) -> BOOL {
    if (racesLeft-- > 0) {
      EXPECT_TRUE(WriteNewFile(dataPath, "someone else's data"));
    }
    return UniqueFile(CreateFileW(dataPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr))
        .valid();
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

// Every way a capture can end short of a file: result, last error, what is
// left in the folder, what the queue and the port heard, what the spooler
// was told to do with the job.
TEST_F(PipelineTest, FailureExits) {
  const std::string ticket = "<?xml version=\"1.0\"?><xpif></xpif>\n";
  const std::string pdf = PdfWithTitle("Failing", 100000);
  const std::vector<DWORD> announced = {kStart, kStop}, none = {};
  const std::vector<DWORD> deleted = {JOB_CONTROL_CANCEL, JOB_CONTROL_DELETE};
  const std::wstring noFolder = root_->path + L"no such folder";
  const auto failCall = [](sd::SpoolerCall call, unsigned nth) {
    return [=]() { sd::FailCall(call, ERROR_GEN_FAILURE, nth); };
  };
  const auto failWrites = [](unsigned nth) {
    return [=]() { FailOutputWritesFrom(nth, ERROR_DISK_FULL); };
  };
  const auto outputPath = [this](const std::wstring& path) {
    return [=]() { SetOutputPath(path); };
  };
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
      // clang-format off
      {"start doc fails", failCall(sd::SpoolerCall::StartDocPrinter, 0), pdf, nullptr, FALSE, ERROR_GEN_FAILURE, none, none},
      {"job cannot be opened", failCall(sd::SpoolerCall::OpenPrinter, 2), pdf, nullptr, FALSE, ERROR_GEN_FAILURE, none, none},
      {"first read fails", failCall(sd::SpoolerCall::ReadPrinter, 1), pdf, nullptr, TRUE, 0, none, none},
      {"later read fails", failCall(sd::SpoolerCall::ReadPrinter, 3), pdf, nullptr, TRUE, 0, announced, none},
      {"first write fails", failWrites(1), pdf, nullptr, FALSE, ERROR_DISK_FULL, announced, none},
      {"later write fails", failWrites(3), pdf, nullptr, FALSE, ERROR_DISK_FULL, announced, none},
      {"ticket write fails", failWrites(1), ticket, nullptr, FALSE, ERROR_DISK_FULL, none, none},
      {"data behind a ticket fails", failWrites(2), ticket + pdf, nullptr, FALSE, ERROR_DISK_FULL, announced, none},
      {"flush fails", []() { FailOutputFlush(ERROR_DISK_FULL); }, pdf, nullptr, FALSE, ERROR_DISK_FULL, announced, none},
      {"output cannot be created", outputPath(noFolder), pdf, nullptr, FALSE, 0, none, deleted},
      {"no temporary ticket name", outputPath(noFolder), ticket, nullptr, FALSE, 0, none, deleted},
      {"output path empty", outputPath(L""), pdf, nullptr, FALSE, ERROR_PATH_NOT_FOUND, none, none},
      {"no job number", []() {}, pdf, L"Halvek Cap Job 42", FALSE, ERROR_PATH_NOT_FOUND, none, none},
      {"output folder behind a link", outputPath(LinkFixture(L"linked\\")), pdf, nullptr, FALSE, ERROR_ACCESS_DENIED, none, none},
      // clang-format on
  };
  LONG jobId = 300;
  for (const Case& c : cases) {
    ResetDoubles();
    c.arrange();
    CaptureRequest request;
    request.bytes = c.bytes;
    request.jobId = jobId;
    HANDLE handle = OpenJob(request);
    ASSERT_NE(handle, nullptr) << c.name;
    std::wstring jobName = c.jobName ? c.jobName : JobName(jobId);
    sd::AddJob(jobName, request.bytes);
    SetLastError(0xdeadbeef);
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

// A pause holds the capture between two chunks; a resume lets it finish the
// file, a cancel ends it with nothing left behind, the stop still sent.
TEST_F(PipelineTest, PauseHoldsTheCaptureUntilResumeOrCancel) {
  for (DWORD release : {JOB_CONTROL_RESUME, JOB_CONTROL_CANCEL}) {
    ResetDoubles();
    CaptureRequest request;
    request.bytes = PdfWithTitle("Paused", 6 * 32768);
    request.jobId = static_cast<LONG>(release);
    HANDLE handle = OpenJob(request);
    ASSERT_NE(handle, nullptr);
    std::thread control;
    std::atomic<unsigned> writesWhilePaused{0};
    sd::SetHook([&, handle](sd::SpoolerCall call, unsigned number) {
      if (call != sd::SpoolerCall::ReadPrinter || number != 3) return;
      ControlPrintProcessor(handle, JOB_CONTROL_PAUSE);
      control = std::thread([&, handle]() {
        Sleep(150);
        writesWhilePaused = OutputWriteCount();
        ControlPrintProcessor(handle, release);
      });
    });
    EXPECT_TRUE(Print(handle, request.jobId));
    control.join();
    sd::SetHook(nullptr);
    ClosePrintProcessor(handle);
    EXPECT_EQ(writesWhilePaused, 2u);
    const bool resumed = release == JOB_CONTROL_RESUME;
    EXPECT_EQ(OutputFiles().size(), resumed ? 1u : 0u);
    if (resumed) {
      EXPECT_TRUE(Output(L"Paused.PDF") == request.bytes);
    }
    EXPECT_EQ(PortPaths().at(0).empty(), !resumed);
    EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
    DeleteFileW((outputFolder_ + L"Paused.PDF").c_str());
  }
}

TEST_F(PipelineTest, ImpersonationIsDroppedForTheJobAndRestoredAfter) {
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  std::atomic<int> readsWithToken{0};
  sd::SetHook([&](sd::SpoolerCall call, unsigned) {
    UniqueHandle token;
    if (call == sd::SpoolerCall::ReadPrinter &&
        OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) {
      ++readsWithToken;
    }
  });
  CaptureRequest request;
  request.bytes = PdfWithTitle("Token", 70000);
  EXPECT_TRUE(Capture(request));
  sd::SetHook(nullptr);
  EXPECT_EQ(readsWithToken, 0);
  UniqueHandle token;
  EXPECT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()));
  RevertToSelf();
}

}  // namespace
