#include <functional>

#include "capture/capture.h"
#include "capture/settings.h"
#include "tests/capture/capture_fixture.h"

namespace {

const std::string kTicket =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<xpif version=\"1.0\">"
    "<job-template><copies>2</copies></job-template></xpif>";
const std::string kPdf = "%PDF-1.5\n%%Title:Brochure\n" + std::string(5000, 'p');

// The tag is found wherever the reads cut it: in the last piece, closing
// it, or begun in the pieces before (each of which must not end the ticket).
// A '>' lies just past every piece: it must never be read.
TEST(TrySplitBuffer, SplitsAfterTheTagWhereverTheReadsCutIt) {
  struct Case {
    std::vector<std::string> pieces;
    bool found;
    std::string piece0;
    std::string piece1;
  } cases[] = {
      // clang-format off
      {{"<x></xpif>\r\n%PDF"}, true, "<x></xpif>", "%PDF"},
      {{"<x></XPIF> \t\v\f%PDF"}, true, "<x></XPIF>", "%PDF"},
      {{"<x></xpif>\n\n\n"}, true, "<x></xpif>", ""},
      {{"<x></xpif"}, false, "<x></xpif", ""},
      {{"1234567"}, false, "1234567", ""},
      {{std::string("a\0</xpif>b", 10)}, true, std::string("a\0</xpif>", 9), "b"},
      {{"</xpif></xpif>x"}, true, "</xpif>", "</xpif>x"},
      {{"<x></xpi", "f>\n%PDF"}, true, "f>", "%PDF"},
      {{"<", "/x", "p", "if>%!PS"}, true, "if>", "%!PS"},
      {{"</xp", "x</xpif>y"}, true, "x</xpif>", "y"},
      {{"</xpif", "X"}, false, "X", ""},
      // clang-format on
  };
  for (const Case& c : cases) {
    TicketTagCarry carry = {};
    for (size_t i = 0; i < c.pieces.size(); ++i) {
      std::string copy = c.pieces[i] + ">";
      BYTE* starts[2] = {reinterpret_cast<BYTE*>(&copy[0]), reinterpret_cast<BYTE*>(1)};
      DWORD lengths[2] = {static_cast<DWORD>(c.pieces[i].size()), 99};
      const bool last = i + 1 == c.pieces.size();
      EXPECT_EQ(TrySplitBuffer(starts, lengths, &carry) != FALSE, last && c.found) << copy;
      EXPECT_EQ(starts[1] == nullptr, lengths[1] == 0u);
      if (!last) continue;
      EXPECT_EQ(std::string(reinterpret_cast<char*>(starts[0]), lengths[0]), c.piece0) << copy;
      EXPECT_EQ(std::string(starts[1] ? reinterpret_cast<char*>(starts[1]) : "", lengths[1]),
                c.piece1)
          << copy;
    }
  }
}

class TicketLinkTest : public CaptureTest {};

enum class Outcome { Nothing, Copied, Linked };

// However the reads cut a ticket job, it ends in named outputs only, the
// output is announced and handed to the port, and no temporary file stays.
// Its number must be free for both the data and the ticket; a file that was
// there stays as it was.
TEST_F(TicketLinkTest, TicketJobsEndInNamedOutputsWhereverTheReadsEnd) {
  using Files = std::vector<std::pair<std::wstring, std::string>>;
  struct TicketCase {
    std::string bytes;
    DWORD maxChunkBytes;
    std::wstring documentName;
    Files files;                  // the whole folder afterwards, the output first
    std::wstring existing = L"";  // there before the job, holding "older"
  };
  const std::string ps = "%!PS-Adobe-3.0\n%%Title: Poster\n" + std::string(3000, 's');
  const std::string pjl = "@PJL JOB\n%%Title:Sheet.xpf\n" + std::string(100, 'j');
  const std::string open = kTicket.substr(0, kTicket.size() - 7);
  const std::string cut = kTicket + "\n" + kPdf;
  const Files brochure = {{L"Brochure.PDF", kPdf}, {L"Brochure.XPF", kTicket}};
  std::vector<TicketCase> cases = {
      // clang-format off
      {kTicket + "\r\n" + kPdf, 0, L"", brochure},
      {open + "</XPIF>\n" + kPdf, 0, L"", {{L"Brochure.PDF", kPdf}, {L"Brochure.XPF", open + "</XPIF>"}}},
      // Every read is one byte.
      {cut, 1, L"", brochure},
      // The ticket's name is taken: data and ticket move on to a number.
      {cut, 0, L"", {{L"Brochure42.PDF", kPdf}, {L"Brochure.XPF", "older"}, {L"Brochure42.XPF", kTicket}}, L"Brochure.XPF"},
      // White space behind the tag, over two reads, is no data.
      {kTicket + " \r\n\n\t" + kPdf, static_cast<DWORD>(kTicket.size()) + 3, L"", brochure},
      // A job that is all ticket is its own output.
      {open, 0, L"Order.txt", {{L"Order.XPF", open}}},
      {kTicket + "\n \r\n", 16, L"", {{L"spoold_file.XPF", kTicket}}},
      // Two tickets in a row share the ticket file.
      {kTicket + "\n" + kTicket + "\n" + ps, 0, L"", {{L"Poster.PS", ps}, {L"Poster.XPF", kTicket + kTicket}}},
      // Data that would take the ticket's extension goes without one.
      {kTicket + "\n" + pjl, 0, L"", {{L"Sheet", pjl}, {L"Sheet.XPF", kTicket}}},
      // clang-format on
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const TicketCase& c = cases[i];
    SCOPED_TRACE(testing::Message() << "case " << i);
    Reset();
    if (!c.existing.empty()) WriteNewFile(outputFolder_ + c.existing, "older");
    ASSERT_TRUE(Capture({c.bytes, c.documentName, c.maxChunkBytes}));
    EXPECT_EQ(OutputNames().size(), c.files.size());
    for (const auto& file : c.files) {
      EXPECT_TRUE(Output(file.first) == file.second)
          << std::string(file.first.begin(), file.first.end());
    }
    const std::wstring output = outputFolder_ + c.files[0].first;
    EXPECT_EQ(PortPaths(), std::vector<std::wstring>{output});
    EXPECT_EQ(RecordedCommands(), (std::vector<DWORD>{kStart, kStop}));
    EXPECT_EQ(RecordedMessages().at(0).path, output);
  }
}

// A job is linked only where the operator allows it, no ticket comes with
// it and the spooler has finished writing its spool file; otherwise, and
// when the link cannot be made, it is copied whole. A link is made before
// its name is announced: another job may take the name right after. A job
// cancelled before its link leaves nothing.
TEST_F(TicketLinkTest, LinkOrCopy) {
  const std::string data = "%PDF-1.6\n%%Title:Linked\n" + JobBytes(10 * 32768);
  const DWORD off = 0;
  const struct {
    const char* name;
    std::string ticket;
    bool spoolFile;
    std::function<void(LONG, HANDLE)> arrange;
    Outcome outcome;
  } cases[] = {
      // clang-format off
      {"linked", "", true, [&](LONG, HANDLE) { sd::SetHook([](sd::SpoolerCall call, unsigned) { if (call == sd::SpoolerCall::ClosePrinter) for (const RecordedMessage& m : RecordedMessages()) WriteNewFile(m.path, "another job"); }); }, Outcome::Linked},
      {"operator switch off", "", true, [&](LONG, HANDLE) { SetRegistryValue(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kHardLinksValue, REG_DWORD, &off, sizeof(off)); }, Outcome::Copied},
      {"ticket in front", kTicket + "\n", true, [](LONG, HANDLE) {}, Outcome::Copied},
      {"still spooling", "", true, [](LONG id, HANDLE) { sd::SetJobStatus(JobName(id), JOB_STATUS_SPOOLING); }, Outcome::Copied},
      {"link fails", "", false, [this](LONG id, HANDLE) { CreateDirectoryW(SpoolFilePath(id).c_str(), nullptr); }, Outcome::Copied},
      {"cancelled while the spooler is asked", "", true, [&](LONG, HANDLE job) { sd::SetHook([job](sd::SpoolerCall call, unsigned) { if (call == sd::SpoolerCall::GetJob) ControlPrintProcessor(job, JOB_CONTROL_CANCEL); }); }, Outcome::Nothing},
      // clang-format on
  };
  LONG jobId = 80;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Reset();
    const CaptureRequest request = {c.ticket + data, L"", 0, ++jobId, c.spoolFile};
    HANDLE handle = OpenJob(request);
    ASSERT_NE(handle, nullptr);
    c.arrange(jobId, handle);
    EXPECT_TRUE(Print(handle, jobId));
    sd::SetHook(nullptr);
    ClosePrintProcessor(handle);
    const std::wstring path = outputFolder_ + L"Linked.PDF";
    EXPECT_TRUE(sd::SetJobCalls().empty());
    EXPECT_EQ(sd::OpenHandleCount(), 0);
    if (c.outcome == Outcome::Nothing) {
      EXPECT_TRUE(OutputNames().empty());
      EXPECT_TRUE(PortPaths().at(0).empty());
      EXPECT_TRUE(RecordedCommands(jobId).empty());
      continue;
    }
    EXPECT_TRUE(ReadWholeFile(path) == data);
    const unsigned chunks = sd::ChunksRead(JobName(jobId));
    // A linked job is not read on; a copied one is read whole.
    EXPECT_TRUE(c.outcome == Outcome::Linked ? chunks <= 2 : chunks >= 10) << chunks;
    EXPECT_EQ(PortPaths(), std::vector<std::wstring>{path});
    EXPECT_EQ(RecordedCommands(jobId), (std::vector<DWORD>{kStart, kStop}));
    EXPECT_EQ(RecordedMessages().at(0).path, path);
  }
}

}  // namespace
