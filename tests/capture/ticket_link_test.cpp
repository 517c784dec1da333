#include <cstring>

#include "capture/capture.h"
#include "capture/settings.h"
#include "notify/notify.h"
#include "tests/capture/capture_fixture.h"

namespace sd = spooler_double;

namespace {

constexpr DWORD kStart = static_cast<DWORD>(SpoolingCommand::Start);
constexpr DWORD kStop = static_cast<DWORD>(SpoolingCommand::Stop);

const std::string kTicket =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xpif version=\"1.0\">"
    "<job-template><copies>2</copies></job-template></xpif>";
const std::string kPdf = "%PDF-1.5\n%%Title:Brochure\n" + std::string(5000, 'p');

struct Split {
  std::string piece0;
  std::string piece1;
  bool found;
};

Split RunSplit(const std::string& bytes) {
  std::string copy = bytes;
  BYTE* starts[2] = {reinterpret_cast<BYTE*>(&copy[0]), reinterpret_cast<BYTE*>(1)};
  DWORD lengths[2] = {static_cast<DWORD>(copy.size()), 99};
  const BOOL found = TrySplitBuffer(starts, lengths);
  Split split;
  split.found = found != FALSE;
  split.piece0.assign(reinterpret_cast<char*>(starts[0]), lengths[0]);
  if (starts[1]) split.piece1.assign(reinterpret_cast<char*>(starts[1]), lengths[1]);
  EXPECT_EQ(starts[1] == nullptr, lengths[1] == 0u);
  return split;
}

TEST(TrySplitBuffer, SplitsAfterTheTagAndSkipsWhiteSpace) {
  struct Case {
    std::string bytes;
    bool found;
    std::string piece0;
    std::string piece1;
  } cases[] = {
      {"<x></xpif>\r\n%PDF", true, "<x></xpif>", "%PDF"},
      {"<x></XPIF> \t\v\f%PDF", true, "<x></XPIF>", "%PDF"},
      {"</Xpif>A", true, "</Xpif>", "A"},
      {"<x></xpif>\n\n\n", true, "<x></xpif>", ""},
      {"<x></xpif>", false, "<x></xpif>", ""},  // the tag closes the piece
      {"</xpif>", false, "</xpif>", ""},
      {"<x></xpi", false, "<x></xpi", ""},
      {"", false, "", ""},
      {"1234567", false, "1234567", ""},
      {std::string("a\0</xpif>b", 10), true, std::string("a\0</xpif>", 9), "b"},
      {"</xpif></xpif>x", true, "</xpif>", "</xpif>x"},
  };
  for (const Case& c : cases) {
    const Split split = RunSplit(c.bytes);
    EXPECT_EQ(split.found, c.found) << c.bytes;
    EXPECT_EQ(split.piece0, c.piece0) << c.bytes;
    EXPECT_EQ(split.piece1, c.piece1) << c.bytes;
  }
}

TEST(TrySplitBuffer, NeverReadsPastThePiece) {
  // The tag's last byte lies just past the piece: it must not be seen.
  std::string bytes = "header </xpif";
  bytes.push_back('>');
  std::string copy = bytes;
  BYTE* starts[2] = {reinterpret_cast<BYTE*>(&copy[0]), nullptr};
  DWORD lengths[2] = {static_cast<DWORD>(bytes.size() - 1), 0};
  EXPECT_FALSE(TrySplitBuffer(starts, lengths));
  EXPECT_EQ(lengths[0], bytes.size() - 1);
}

class TicketLinkTest : public CaptureTest {
 protected:
  static bool IsTemporaryTicket(const std::wstring& name) {
    return name.size() > 4 && name.compare(0, 3, L"XPF") == 0 &&
           name.compare(name.size() - 4, 4, L".tmp") == 0;
  }
  static unsigned LinkCount(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    BY_HANDLE_FILE_INFORMATION info = {};
    GetFileInformationByHandle(file, &info);
    CloseHandle(file);
    return info.nNumberOfLinks;
  }
};

TEST_F(TicketLinkTest, TicketIsSplitIntoXpfBesideItsData) {
  for (const char* tag : {"</xpif>", "</XPIF>"}) {
    std::string ticket = kTicket;
    ticket.replace(ticket.size() - 7, 7, tag);
    CaptureRequest request;
    request.bytes = ticket + "\r\n" + kPdf;
    ASSERT_TRUE(Capture(request));
    EXPECT_EQ(Output(L"Brochure.PDF"), kPdf) << tag;
    EXPECT_EQ(Output(L"Brochure.XPF"), ticket) << tag;
    EXPECT_EQ(OutputFiles().size(), 2u) << tag;
    EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
    EXPECT_EQ(PortPaths(), std::vector<std::wstring>{outputFolder_ + L"Brochure.PDF"});
    DeleteFileW((outputFolder_ + L"Brochure.PDF").c_str());
    DeleteFileW((outputFolder_ + L"Brochure.XPF").c_str());
    ResetDoubles();
  }
}

TEST_F(TicketLinkTest, TicketNumberedWithItsData) {
  ASSERT_TRUE(WriteNewFile(outputFolder_ + L"Brochure.PDF", "old"));
  ASSERT_TRUE(WriteNewFile(outputFolder_ + L"Brochure.XPF", "old ticket"));
  CaptureRequest request;
  request.bytes = kTicket + "\n" + kPdf;
  ASSERT_TRUE(Capture(request));
  EXPECT_EQ(Output(L"Brochure42.PDF"), kPdf);
  EXPECT_EQ(Output(L"Brochure42.XPF"), kTicket);
  EXPECT_EQ(Output(L"Brochure.XPF"), "old ticket");
}

TEST_F(TicketLinkTest, TagClosingAChunkExactlyIsNotSeenUntilABytesFollowsIt) {
  // The first chunk ends with the tag; the ticket file takes the next chunk
  // too, up to a tag that has a byte behind it.
  const std::string first = kTicket;
  const std::string second = "<more/></xpif>\n";
  CaptureRequest request;
  request.bytes = first + second + kPdf;
  request.maxChunkBytes = static_cast<DWORD>(first.size());
  ASSERT_TRUE(Capture(request));
  EXPECT_EQ(Output(L"Brochure.XPF"), first + "<more/></xpif>");
  EXPECT_EQ(Output(L"Brochure.PDF"), kPdf);
}

TEST_F(TicketLinkTest, OnlyWhiteSpaceAfterTheTagStartsTheDataWithTheNextChunk) {
  const std::string first = kTicket + " \r\n";
  CaptureRequest request;
  request.bytes = first + kPdf;
  request.maxChunkBytes = static_cast<DWORD>(first.size());
  ASSERT_TRUE(Capture(request));
  EXPECT_EQ(Output(L"Brochure.XPF"), kTicket);
  EXPECT_EQ(Output(L"Brochure.PDF"), kPdf);
}

TEST_F(TicketLinkTest, JobEndingInsideOrRightAfterItsTicketKeepsTheTemporaryTicket) {
  const std::string endings[] = {kTicket.substr(0, kTicket.size() - 20), kTicket + "\n"};
  LONG jobId = 60;
  for (const std::string& bytes : endings) {
    ResetDoubles();
    CaptureRequest request;
    request.bytes = bytes;
    request.jobId = jobId++;
    EXPECT_TRUE(Capture(request));
    const std::vector<OutputFile> files = OutputFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_TRUE(IsTemporaryTicket(files[0].name)) << files[0].name;
    EXPECT_TRUE(RecordedMessages().empty());
    EXPECT_TRUE(PortPaths().at(0).empty());
    DeleteFileW((outputFolder_ + files[0].name).c_str());
  }
}

TEST_F(TicketLinkTest, TicketJobNeverLinks) {
  CaptureRequest request;
  request.bytes = kTicket + "\n" + kPdf;
  request.spoolFile = true;
  ASSERT_TRUE(Capture(request));
  EXPECT_EQ(LinkCount(outputFolder_ + L"Brochure.PDF"), 1u);
  EXPECT_EQ(Output(L"Brochure.PDF"), kPdf);
}

TEST_F(TicketLinkTest, SpoolFileIsLinkedAndReadAtMostTwoChunksDeep) {
  CaptureRequest request;
  request.bytes = "%PDF-1.6\n%%Title:Linked\n" + JobBytes(10 * 32768);
  request.spoolFile = true;
  ASSERT_TRUE(Capture(request));
  const std::wstring path = outputFolder_ + L"Linked.PDF";
  EXPECT_EQ(LinkCount(path), 2u);
  EXPECT_TRUE(ReadWholeFile(path) == request.bytes);
  EXPECT_LE(sd::ChunksRead(JobName(kCaptureJobId)), 2u);
  EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
  const std::vector<RecordedMessage> messages = RecordedMessages();
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_EQ(messages[0].path, path);
  EXPECT_EQ(messages[1].command, kStop);
}

TEST_F(TicketLinkTest, OperatorSwitchDecidesBetweenLinkAndCopy) {
  const struct {
    DWORD hardLinks;
    unsigned links;
    size_t chunksRead;  // 0: at most two
  } cases[] = {
      {0, 1, 11},
      {1, 2, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.hardLinks);
    ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kHardLinksValue, REG_DWORD,
                               &c.hardLinks, sizeof(c.hardLinks)),
              ERROR_SUCCESS);
    CaptureRequest request;
    request.bytes = "%PDF-1.6\n%%Title:Switched\n" + JobBytes(10 * 32768);
    request.spoolFile = true;
    ASSERT_TRUE(Capture(request));
    const std::wstring path = outputFolder_ + L"Switched.PDF";
    EXPECT_EQ(LinkCount(path), c.links);
    EXPECT_TRUE(ReadWholeFile(path) == request.bytes);
    if (c.chunksRead) {
      EXPECT_EQ(sd::ChunksRead(JobName(kCaptureJobId)), c.chunksRead);
    } else {
      EXPECT_LE(sd::ChunksRead(JobName(kCaptureJobId)), 2u);
    }
    ASSERT_TRUE(DeleteFileW(path.c_str()));
    ASSERT_TRUE(DeleteFileW(SpoolFilePath(kCaptureJobId).c_str()));
  }
}

// A spool file that the application is still writing, or a job cancelled
// before its link is made, must never become a linked output.
TEST_F(TicketLinkTest, OnlyACompleteUncancelledJobIsLinked) {
  const std::string bytes = "%PDF-1.6\n%%Title:Spooling\n" + JobBytes(6 * 32768);
  const std::wstring path = outputFolder_ + L"Spooling.PDF";
  CaptureRequest request;
  request.bytes = bytes;
  request.spoolFile = true;
  HANDLE handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  sd::SetJobStatus(JobName(kCaptureJobId), JOB_STATUS_SPOOLING);
  EXPECT_TRUE(Print(handle));
  ClosePrintProcessor(handle);
  EXPECT_EQ(LinkCount(path), 1u);
  EXPECT_TRUE(ReadWholeFile(path) == bytes);
  EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
  ASSERT_TRUE(DeleteFileW(path.c_str()));

  ResetDoubles();
  request.jobId = kCaptureJobId + 1;
  handle = OpenJob(request);
  ASSERT_NE(handle, nullptr);
  sd::SetHook([handle](sd::SpoolerCall call, unsigned number) {
    if (call == sd::SpoolerCall::ReadPrinter && number == 2) {
      ControlPrintProcessor(handle, JOB_CONTROL_CANCEL);
    }
  });
  EXPECT_TRUE(Print(handle, request.jobId));
  sd::SetHook(nullptr);
  ClosePrintProcessor(handle);
  EXPECT_TRUE(OutputFiles().empty());
  EXPECT_TRUE(PortPaths().at(0).empty());
  EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
}

TEST_F(TicketLinkTest, FailedLinkFallsBackToACopyOfTheJob) {
  // A folder where the spool file should be: it exists, but cannot be linked.
  ASSERT_TRUE(CreateDirectoryW(SpoolFilePath(kCaptureJobId).c_str(), nullptr));
  CaptureRequest request;
  request.bytes = "%PDF-1.6\n%%Title:Fallback\n" + JobBytes(5 * 32768 + 3);
  ASSERT_TRUE(Capture(request));
  const std::wstring path = outputFolder_ + L"Fallback.PDF";
  EXPECT_EQ(LinkCount(path), 1u);
  EXPECT_TRUE(ReadWholeFile(path) == request.bytes);
  EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
  EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
  EXPECT_TRUE(sd::SetJobCalls().empty());
  EXPECT_EQ(sd::OpenHandleCount(), 0);
}

TEST_F(TicketLinkTest, FailedLinkAndFailedRereadStillStops) {
  ASSERT_TRUE(CreateDirectoryW(SpoolFilePath(kCaptureJobId).c_str(), nullptr));
  // The third open is the second look at the job, for the copy.
  sd::FailCall(sd::SpoolerCall::OpenPrinter, ERROR_ACCESS_DENIED, 3);
  CaptureRequest request;
  request.bytes = "%PDF-1.6\n%%Title:Gone\n" + JobBytes(40000);
  EXPECT_FALSE(Capture(request));
  EXPECT_TRUE(OutputFiles().empty());
  EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
  // The job is not deleted: it can still be printed again.
  EXPECT_TRUE(sd::SetJobCalls().empty());
}

TEST_F(TicketLinkTest, OutputOnAnotherVolumeIsCopiedFromTheStart) {
  // Z: is the Unix root under Wine; the spool folder lies on C:.
  WCHAR unixTemp[MAX_PATH] = L"";
  const DWORD chars = GetEnvironmentVariableW(L"HALVEK_OTHER_VOLUME_FOLDER", unixTemp, MAX_PATH);
  std::wstring otherVolume = chars ? std::wstring(unixTemp) : std::wstring(L"Z:\\tmp");
  otherVolume += L"\\halvek-capture-" + std::to_wstring(GetCurrentProcessId()) + L"\\";
  ASSERT_TRUE(CreateDirectoryW(otherVolume.c_str(), nullptr)) << GetLastError();
  SetOutputPath(otherVolume);
  CaptureRequest request;
  request.bytes = "%PDF-1.6\n%%Title:Remote\n" + JobBytes(3 * 32768);
  request.spoolFile = true;
  EXPECT_TRUE(Capture(request));
  const std::wstring path = otherVolume + L"Remote.PDF";
  EXPECT_TRUE(ReadWholeFile(path) == request.bytes);
  EXPECT_EQ(LinkCount(path), 1u);
  EXPECT_EQ(sd::ChunksRead(JobName(kCaptureJobId)), 4u);
  DeleteFileW(path.c_str());
  RemoveDirectoryW(otherVolume.c_str());
}

}  // namespace
