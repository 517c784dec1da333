#include <atomic>
#include <functional>
#include <thread>

#include "capture/capture.h"
#include "capture/output_guard.h"
#include "naming/naming.h"
#include "platform/registry_names.h"
#include "platform/trace.h"
#include "tests/capture/capture_fixture.h"

namespace {

class PipelineTest : public CaptureTest {};

// Whatever its size and however the reads cut it, a job lands whole under
// its name, which is announced and handed to the port; progress goes out
// once per 512 KiB crossed, with the bytes captured so far. An empty job
// leaves no file and no message.
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
      // clang-format on
  };
  for (const Case& c : cases) {
    Reset();
    const CaptureRequest request = {JobBytes(c.sizeBytes, c.maxChunkBytes),
                                    L"Size" + std::to_wstring(c.sizeBytes) + L".bin",
                                    c.maxChunkBytes};
    ASSERT_TRUE(Capture(request)) << c.sizeBytes;
    EXPECT_EQ(sd::OpenHandleCount(), 0);
    const std::wstring path = c.sizeBytes ? outputFolder_ + request.documentName : L"";
    EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
    EXPECT_EQ(OutputNames().size(), c.sizeBytes ? 1u : 0u);
    EXPECT_TRUE(Output(request.documentName) == request.bytes) << c.sizeBytes;
    std::vector<DWORD> expected;
    if (c.sizeBytes) {
      expected.assign(1 + (c.sizeBytes >> 19), kProgress);
      expected.front() = kStart;
      expected.push_back(kStop);
      EXPECT_EQ(RecordedMessages().at(0).path, path);
    }
    EXPECT_EQ(RecordedCommands(), expected) << c.sizeBytes;
    const std::vector<RecordedMessage> messages = RecordedMessages();
    for (size_t i = 1; i + 1 < messages.size(); ++i) {
      EXPECT_EQ(messages[i].bytesSoFar, static_cast<DWORD>(i) << 19) << c.sizeBytes;
    }
  }
}

// The name comes from the title, the document name or the fallback, the
// extension from the format, a known title extension or the document name.
TEST_F(PipelineTest, NameAndExtensionRules) {
  struct Case {
    std::string bytes;
    const WCHAR* documentName;
    bool plainTitleOff;  // InterpretTitle 0
    const WCHAR* expected;
  } cases[] = {
      // clang-format off
      {PdfWithTitle("Quarterly", 200), L"Ledger.dbf", false, L"Quarterly.DBF"},
      {PdfWithTitle("Quarterly", 200), L"Ledger.txt", false, L"Quarterly.PDF"},
      {"%!PS-Adobe-3.0\n%%Title:Poster\n", L"", false, L"Poster.PS"},
      {"%!PS-Adobe-3.0\n%%Creator: x\n", L"memo.txt", false, L"memo.PS"},
      {"%!VPS-1.0\n%%Title:Variable\n", L"", false, L"Variable.VPS"},
      {"<?xml version=\"1.0\"?><ppml>\n%%Title:book.ppml\n", L"", false, L"book.ppml"},
      {"<?xml version=\"1.0\"?><ppml>\n", L"", false, L"spoold_file"},
      {"no signature\n%%Title:layers.psd\n", L"", false, L"layers.psd"},
      {"no signature\n%%Title:notes.doc\n", L"Memo.txt", false, L"notes.txt"},
      {"no signature\n%%Title:scan.pdf\n", L"Memo.txt", false, L"scan.pdf"},
      // A plain title is not trusted with InterpretTitle 0, a decoded one is.
      {PdfWithTitle("FromTitle", 200), L"FromName.pdf", true, L"FromName.PDF"},
      {"%!PS-Adobe-3.0\n%%Creator: PScript5.dll Version 5.2.2\n%%Title: Decoded\n", L"Other.ps", true, L"Decoded.PS"},
      // clang-format on
  };
  const DWORD off = 0;
  for (const Case& c : cases) {
    Reset();
    if (c.plainTitleOff)
      SetRegistryValue(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kInterpretTitleValue, REG_DWORD,
                       &off, sizeof(off));
    ASSERT_TRUE(Capture({c.bytes, c.documentName})) << c.expected;
    EXPECT_EQ(Output(c.expected), c.bytes) << c.expected;
  }
}

TEST_F(PipelineTest, NameTakenAfterTheProbeIsProbedAgainNeverOpened) {
  // Another writer takes each name the moment it has been probed, twice.
  static int racesLeft;
  racesLeft = 2;
  const auto make = [](void*, const WCHAR* dataPath, const WCHAR*) -> BOOL {
    if (racesLeft-- > 0) WriteNewFile(dataPath, "someone else's data");
    return UniqueFile(CreateFileW(dataPath, GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr))
        .valid();
  };
  WCHAR outputPath[270], ticketPath[270];
  ASSERT_TRUE(ClaimOutputName(9, outputFolder_.c_str(), L"Report", L"PDF", TRUE, outputPath,
                              ticketPath, 270, make, nullptr));
  EXPECT_EQ(std::wstring(outputPath), outputFolder_ + L"Report10.PDF");
  EXPECT_EQ(std::wstring(ticketPath), outputFolder_ + L"Report10.XPF");
  EXPECT_EQ(Output(L"Report.PDF"), "someone else's data");
  EXPECT_EQ(Output(L"Report9.PDF"), "someone else's data");
}

// Every way a capture can end short of a file: result, last error, nothing
// left in the folder, what the queue heard, what the spooler was told to do
// with the job; the port always hears an empty path.
TEST_F(PipelineTest, FailureExits) {
  const std::string ticket = "<?xml version=\"1.0\"?><xpif></xpif>\n";
  const std::string pdf = PdfWithTitle("Failing", 100000);
  const std::vector<DWORD> announced = {kStart, kStop}, none = {};
  const std::vector<DWORD> deleted = {JOB_CONTROL_CANCEL, JOB_CONTROL_DELETE};
  const std::wstring noFolder = root_->path + L"no such folder";
  struct Case {
    const char* name;
    std::function<void()> arrange;
    std::string bytes;
    BOOL result;
    DWORD error;  // 0: not checked
    std::vector<DWORD> messages;
    std::vector<DWORD> setJobs;
  } cases[] = {
      // clang-format off
      {"start doc fails", [] { sd::FailCall(sd::SpoolerCall::StartDocPrinter, ERROR_GEN_FAILURE); }, pdf, FALSE, ERROR_GEN_FAILURE, none, none},
      {"job cannot be opened", [] { sd::FailCall(sd::SpoolerCall::OpenPrinter, ERROR_GEN_FAILURE, 2); }, pdf, FALSE, ERROR_GEN_FAILURE, none, none},
      {"first read fails", [] { sd::FailCall(sd::SpoolerCall::ReadPrinter, ERROR_GEN_FAILURE, 1); }, pdf, TRUE, 0, none, none},
      {"later read fails", [] { sd::FailCall(sd::SpoolerCall::ReadPrinter, ERROR_GEN_FAILURE, 3); }, pdf, TRUE, 0, announced, none},
      {"later write fails", [] { FailOutput(3, ERROR_DISK_FULL); }, pdf, FALSE, ERROR_DISK_FULL, announced, none},
      {"ticket write fails", [] { FailOutput(1, ERROR_DISK_FULL); }, ticket, FALSE, ERROR_DISK_FULL, none, none},
      {"data behind a ticket fails", [] { FailOutput(2, ERROR_DISK_FULL); }, ticket + pdf, FALSE, ERROR_DISK_FULL, announced, none},
      {"flush fails", [] { FailOutput(0, ERROR_DISK_FULL); }, pdf, FALSE, ERROR_DISK_FULL, announced, none},
      {"output cannot be created", [&] { SetOutputPath(noFolder); }, pdf, FALSE, 0, none, deleted},
      {"no temporary ticket name", [&] { SetOutputPath(noFolder); }, ticket, FALSE, 0, none, deleted},
      {"output path empty", [&] { SetOutputPath(L""); }, pdf, FALSE, ERROR_PATH_NOT_FOUND, none, none},
      {"output folder is a link", [&] { SetOutputPath(LinkFixture(L"linked\\")); }, pdf, FALSE, ERROR_ACCESS_DENIED, none, none},
      {"output folder behind a link", [&] { SetOutputPath(LinkFixture(L"linked\\inner")); }, pdf, FALSE, ERROR_ACCESS_DENIED, none, none},
      // clang-format on
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    SetOutputPath(outputFolder_);
    c.arrange();
    EXPECT_EQ(Capture({c.bytes}), c.result);
    EXPECT_EQ(c.error ? GetLastError() : 0, c.error);
    EXPECT_TRUE(OutputNames().empty());
    EXPECT_EQ(RecordedCommands(), c.messages);
    for (const std::wstring& path : PortPaths()) EXPECT_TRUE(path.empty());
    std::vector<DWORD> setJobs;
    for (const sd::SetJobRecord& record : sd::SetJobCalls())
      setJobs.push_back(record.jobId == kCaptureJobId ? record.command : 0);
    EXPECT_EQ(setJobs, c.setJobs);
    EXPECT_EQ(sd::OpenHandleCount(), 0);
  }
  EXPECT_EQ(ListFolder(LinkFixture(L"real\\")), std::vector<std::wstring>{L"inner"});
  EXPECT_TRUE(ListFolder(LinkFixture(L"real\\inner\\")).empty());
}

// A pause holds the capture between two chunks; a resume lets it finish the
// file, a cancel ends it with nothing left behind, the stop still sent.
TEST_F(PipelineTest, PauseHoldsTheCaptureUntilResumeOrCancel) {
  for (DWORD release : {JOB_CONTROL_RESUME, JOB_CONTROL_CANCEL}) {
    Reset();
    const CaptureRequest request = {PdfWithTitle("Paused", 6 * 32768)};
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
    EXPECT_TRUE(Print(handle));
    control.join();
    sd::SetHook(nullptr);
    ClosePrintProcessor(handle);
    EXPECT_EQ(writesWhilePaused, 2u);
    const bool resumed = release == JOB_CONTROL_RESUME;
    EXPECT_EQ(OutputNames().size(), resumed ? 1u : 0u);
    EXPECT_EQ(Output(L"Paused.PDF") == request.bytes, resumed);
    EXPECT_EQ(PortPaths().at(0).empty(), !resumed);
    EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
  }
}

TEST_F(PipelineTest, ImpersonationIsDroppedForTheJobAndRestoredAfter) {
  const auto impersonating = [] {
    UniqueHandle token;
    return OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put()) != FALSE;
  };
  ASSERT_TRUE(ImpersonateSelf(SecurityImpersonation));
  std::atomic<int> readsWithToken{0};
  sd::SetHook([&](sd::SpoolerCall call, unsigned) {
    readsWithToken += call == sd::SpoolerCall::ReadPrinter && impersonating();
  });
  EXPECT_TRUE(Capture({PdfWithTitle("Token", 70000)}));
  sd::SetHook(nullptr);
  EXPECT_EQ(readsWithToken, 0);
  EXPECT_TRUE(impersonating());
  RevertToSelf();
}

// A log that cannot be written or has grown full never stops a job; a full
// one is set aside whole and a new one begun, its lines under the job's id.
TEST_F(PipelineTest, CaptureLogNeverStopsAJob) {
  const std::wstring log = root_->path + L"capture.log";
  const std::string full(kCaptureLogLimitBytes, 'x');
  ASSERT_TRUE(WriteNewFile(log, full));
  for (const std::wstring& path : {root_->path + L"none\\x.log", log}) {
    Reset();
    SetRegistryString(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kCaptureLogValue, path);
    EXPECT_TRUE(Capture({"%!PS-Adobe-3.0\n%%Title: Logged\n"}));
    EXPECT_EQ(Output(L"Logged.PS"), "%!PS-Adobe-3.0\n%%Title: Logged\n");
  }
  EXPECT_EQ(ReadWholeFile(log + L".1"), full);
  const std::string text = ReadWholeFile(log);
  EXPECT_NE(text.find("job " + std::to_string(kCaptureJobId) + " "), std::string::npos);
  EXPECT_LT(text.size(), full.size());
}

// A file reached through the link to the output folder does not lie in it.
TEST(OutputGuard, FileMustLieInTheConfiguredFolderItself) {
  const std::wstring created = LinkFixture(L"linked\\guard.tmp");
  const UniqueFile file(CreateFileW(created.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  ASSERT_TRUE(file.valid());
  EXPECT_TRUE(FileLiesInFolder(file.get(), LinkFixture(L"real\\").c_str()));
  EXPECT_FALSE(FileLiesInFolder(file.get(), LinkFixture(L"linked\\").c_str()));
  EXPECT_FALSE(FileLiesInFolder(file.get(), LinkFixture(L"real\\inner\\").c_str()));
}

}  // namespace
