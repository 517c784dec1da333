// Jobs captured through Wine's spooler: names, bytes, tickets, links and
// copies, the port's path document and the queue's messages.
#include <cstdio>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

const std::wstring kListenLog = L"C:\\e2e-jobs\\listen.txt";

// A path of the build machine as Wine's drive Z: shows it.
std::wstring OnDriveZ(const std::string& path) {
  std::wstring wide = L"Z:" + std::wstring(path.begin(), path.end());
  std::replace(wide.begin(), wide.end(), L'/', L'\\');
  return wide;
}

std::wstring Example(const std::wstring& name) {
  return OnDriveZ(HALVEK_EXAMPLES_DIR "/") + name;
}

// A path as a JSON string's content, the way the tools escape it.
std::string Json(const std::wstring& path) {
  std::string escaped;
  for (char byte : Utf8(path)) escaped += byte == '\\' ? std::string("\\\\") : std::string(1, byte);
  return escaped;
}

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u);
    e2e::Setup(L"set-prefix --clear");
    ASSERT_EQ(e2e::Setup(L"install --output-folder " + std::wstring(kOutputFolder)).exitCode, 0u);
    EmptyFolder(kOutputFolder);
    EmptyFolder(tools::SystemFolder() + L"\\spool\\PRINTERS");
  }

  std::wstring Output(const std::wstring& name) { return kOutputFolder + (L"\\" + name); }

  std::wstring Job(const std::wstring& name, const std::string& bytes) {
    CreateDirectoryW(L"C:\\e2e-jobs", nullptr);
    EXPECT_TRUE(WriteFileBytes(L"C:\\e2e-jobs\\" + name, bytes));
    return L"C:\\e2e-jobs\\" + name;
  }

  // Wine's file port overwrites the file from its start without truncating
  // it, so every job starts with no port file.
  void PrintFile(const std::wstring& path, const std::wstring& options = L"") {
    DeleteFileW(kPort);
    const RunResult result =
        e2e::Run(L"halvek-print.exe", Quote(kPrinter) + L" " + Quote(path) + L" " + options);
    EXPECT_EQ(result.exitCode, 0u) << result.output;
  }

  void ExpectOutput(const std::wstring& path, const std::string& bytes) {
    EXPECT_TRUE(!bytes.empty() && ReadWholeFile(path) == bytes)
        << Utf8(path) << " missing or not the job's bytes";
  }

  // The port's file: the path of the job's output, in UTF-16LE as wchar_t is.
  std::wstring PortPath() {
    const std::string port = ReadWholeFile(kPort);
    return std::wstring(reinterpret_cast<const wchar_t*>(port.data()), port.size() / 2);
  }
};

// The samples land under their titles with their bytes, a ticket apart from
// its data, and the port gets the path; a TEXT job is captured too, and a
// name taken is numbered from the job's id. (Wine's spooler hands the
// processor no datatype but those it lists: pass-through is not reached here.)
TEST_F(Capture, SamplesLandUnderTheirTitlesAndThePortGetsThePath) {
  const std::string invoice = ReadWholeFile(Example(L"invoice.pdf")),
                    ticketJob = ReadWholeFile(Example(L"ticket-order.xpif"));
  const size_t tagEnd = ticketJob.find("</xpif>") + 7;
  PrintFile(Example(L"acrobat9-mac.ps"));
  ExpectOutput(Output(L"Quarterly Report.PS"), ReadWholeFile(Example(L"acrobat9-mac.ps")));
  PrintFile(Example(L"ticket-order.xpif"));
  ExpectOutput(Output(L"ticket-order.XPF"), ticketJob.substr(0, tagEnd));
  ExpectOutput(Output(L"ticket-order.PDF"), ticketJob.substr(tagEnd + 1));  // no line break
  EXPECT_EQ(PortPath(), Output(L"ticket-order.PDF"));
  // Job 2 finds invoice.PDF taken and starts numbering at its own id.
  PrintFile(Example(L"invoice.pdf"), L"--datatype TEXT --repeat 3");
  for (const wchar_t* name : {L"invoice.PDF", L"invoice2.PDF", L"invoice3.PDF"}) {
    ExpectOutput(Output(name), invoice);
  }
  EXPECT_EQ(PortPath(), Output(L"invoice3.PDF"));
  EXPECT_EQ(ListFolder(kOutputFolder).size(), 6u);
}

// Run by its own ctest entry under ja_JP.UTF-8: a client's code page follows
// the locale Wine started the test with, not the client's environment block.
using Capture932 = Capture;

TEST_F(Capture932, JapaneseTitleKeptInTheFileName) {
  ASSERT_EQ(GetACP(), 932u);
  PrintFile(Example(L"japanese-title.ps"));
  ExpectOutput(Output(L"\u65e5\u672c\u8a9e\u306e\u5831\u544a\u66f8.PS"),
               ReadWholeFile(Example(L"japanese-title.ps")));
}

// The office title corpus through the spooler, one job per title and
// encoding. Too slow for the suite: scripts/measure-japanese-corpus.sh runs
// it by hand.
using SpoolerCorpus932 = Capture;

TEST_F(SpoolerCorpus932, OfficeTitlesKeepTheirNames) {
  ASSERT_EQ(GetACP(), 932u);
  const auto corpus = [](const std::string& name) {
    return ReadCorpusLines(OnDriveZ(HALVEK_FIXTURES_DIR "/japanese/" + name));
  };
  const std::vector<std::string> titles = corpus("office-titles.txt");
  int exact = 0, total = 0;
  for (const std::string encoding : {"sjis", "eucjp", "iso2022jp"}) {
    const auto encoded = corpus("office-titles." + encoding + ".hex");
    ASSERT_EQ(encoded.size(), titles.size()) << encoding;
    for (size_t i = 0; i < titles.size(); ++i) {
      if (encoded[i] == "-" || titles[i].empty()) continue;
      EmptyFolder(kOutputFolder);
      PrintFile(Job(L"corpus.ps", "%!PS-Adobe-3.0\n%%Creator: Office\n%%Title: " + encoded[i] +
                                      "\r\n%%EndComments\nshowpage\n"));
      // A title's extension of up to four characters (the dot and four UTF-8
      // lead bytes) gives way to the format's.
      std::string expected = titles[i];
      const size_t dot = std::min(expected.rfind('.'), expected.size());
      if (std::count_if(expected.begin() + dot, expected.end(),
                        [](char byte) { return (byte & 0xC0) != 0x80; }) <= 5)
        expected.resize(dot);
      const std::vector<std::wstring> names = ListFolder(kOutputFolder);
      const bool same = names.size() == 1 && Utf8(names[0]) == expected + ".PS";
      exact += same;
      ++total;
      if (!same) {
        std::printf("  %s:%zu %s -> %s\n", encoding.c_str(), i + 1, titles[i].c_str(),
                    names.empty() ? "(none)" : Utf8(names[0]).c_str());
      }
    }
  }
  std::printf("Through the spooler, code page 932: %d of %d exact\n", exact, total);
  EXPECT_GE(exact * 100, total * 97);
}

// A job whose spool file lies on the output folder's volume is linked, not
// read; on another volume it is copied, and the queue hears its progress
// every 512 KiB between the start and the stop of each job.
TEST_F(Capture, LinkedOnTheSpoolVolumeCopiedFromAnother) {
  std::string big = "%PDF-1.4\n";
  while (big.size() < 3 * 512 * 1024 + 1000) big += "% filler line of a large job\n";
  const std::wstring job = Job(L"big.pdf", big);
  const size_t steps = big.size() >> 19;
  // On drive Z:, in this build's own tree.
  const std::wstring otherVolume = tools::ModuleFolder() + L"\\e2e-out";
  CreateDirectoryW(otherVolume.c_str(), nullptr);
  EmptyFolder(otherVolume);

  const UniqueHandle listener =
      Start(L"halvek-listen.exe", L"--count " + std::to_wstring(steps + 4), kListenLog);
  ASSERT_TRUE(listener.valid());
  const ScopeGuard stop([&] { TerminateProcess(listener.get(), 1); });
  while (!Contains(ReadWholeFile(kListenLog), "listening on the queue")) {
    ASSERT_EQ(WaitForSingleObject(listener.get(), 50), static_cast<DWORD>(WAIT_TIMEOUT))
        << "listener ended: " << ReadWholeFile(kListenLog);
  }
  PrintFile(job);
  ExpectOutput(Output(L"big.PDF"), big);
  ASSERT_EQ(e2e::Setup(L"install --output-folder " + Quote(otherVolume)).exitCode, 0u);
  PrintFile(job);
  ExpectOutput(otherVolume + L"\\big.PDF", big);
  EXPECT_EQ(WaitForSingleObject(listener.get(), 60000), static_cast<DWORD>(WAIT_OBJECT_0));
  std::vector<std::string> messages;
  std::istringstream text(ReadWholeFile(kListenLog));
  for (std::string line; std::getline(text, line);) {
    if (!line.empty() && line[0] == '{') messages.push_back(line);
  }
  ASSERT_EQ(messages.size(), steps + 4) << ReadWholeFile(kListenLog);
  EXPECT_TRUE(Contains(messages[0], "\"command\":\"START_SPOOLING\",\"job\":1,\"path\":\"" +
                                        Json(Output(L"big.PDF")) + "\""))
      << messages[0];
  EXPECT_TRUE(Contains(messages[1], "STOP_SPOOLING")) << messages[1];
  for (size_t step = 1; step <= steps; ++step) {
    EXPECT_TRUE(Contains(messages[2 + step], "PROGRESS_SPOOLING")) << messages[2 + step];
  }
  RemoveTree(otherVolume);
}

// The explain tool names each job as the capture through the spooler then
// does, and leaves the output folder, the spooler and the registry as they were.
TEST_F(Capture, ExplainToolAgreesWithTheCapture) {
  ASSERT_EQ(e2e::Setup(L"set-prefix word \"Microsoft Word - \"").exitCode, 0u);
  const struct {
    std::wstring path;
    const char* prefixRule;
    const wchar_t* ticket;
  } cases[] = {
      {Example(L"ticket-order.xpif"), "null", L"ticket-order.XPF"},
      {OnDriveZ(HALVEK_FIXTURES_DIR "/format/msoffice_german.ps"), "\"word\"", nullptr},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.path));
    EmptyFolder(kOutputFolder);
    const auto before = Snapshot();
    const std::wstring documentName = c.path.substr(c.path.rfind(L'\\') + 1);
    const RunResult explained =
        e2e::Run(L"halvek-name.exe", L"--json --printer " + Quote(kPrinter) + L" --document-name " +
                                         Quote(documentName) + L" " + Quote(c.path));
    ASSERT_EQ(explained.exitCode, 0u) << explained.output;
    EXPECT_TRUE(ListFolder(kOutputFolder).empty());
    EXPECT_EQ(Snapshot(), before);
    PrintFile(c.path);
    const std::string ticket = c.ticket ? "\"" + Json(Output(c.ticket)) + "\"" : "null";
    for (const std::string& field :
         {"\"prefix_rule\":" + std::string(c.prefixRule), "\"path\":\"" + Json(PortPath()) + "\"",
          "\"ticket_path\":" + ticket}) {
      EXPECT_TRUE(Contains(explained.output, field)) << field << " not in " << explained.output;
    }
  }
}

}  // namespace
}  // namespace e2e
