// Jobs captured through Wine's spooler: names, bytes, tickets, links, the
// port's path document and the queue messages.
#include <cstdio>
#include <sstream>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

const std::wstring kListenLog = L"C:\\e2e-jobs\\listen.txt";

std::wstring Example(const std::wstring& name) {
  std::wstring path =
      L"Z:" +
      std::wstring(HALVEK_EXAMPLES_DIR, HALVEK_EXAMPLES_DIR + sizeof(HALVEK_EXAMPLES_DIR) - 1) +
      L"/" + name;
  std::replace(path.begin(), path.end(), L'/', L'\\');
  return path;
}

std::string JsonPath(const std::wstring& path) {
  std::string escaped;
  for (char byte : Utf8(path)) {
    if (byte == '\\' || byte == '"') escaped.push_back('\\');
    escaped.push_back(byte);
  }
  return "\"path\":\"" + escaped + "\"";
}

// The queue's listener as a separate process writing to a log file.
struct Listener {
  UniqueHandle process;

  void Start(int messages) {
    DeleteFileW(kListenLog.c_str());
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    const UniqueFile log(CreateFileW(kListenLog.c_str(), GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, CREATE_ALWAYS,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(log.valid());
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = startup.hStdError = log.get();
    std::wstring line = Quote(tools::ModuleFolder() + L"\\halvek-listen.exe") + L" --count " +
                        std::to_wstring(messages);
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessW(nullptr, &line[0], nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                               nullptr, &startup, &started))
        << GetLastError();
    const UniqueHandle thread(started.hThread);
    process.reset(started.hProcess);
    // Ready once it says so; a listener that died instead ends the wait.
    while (!Contains(ReadWholeFile(kListenLog), "listening on the queue")) {
      ASSERT_EQ(WaitForSingleObject(process.get(), 50), static_cast<DWORD>(WAIT_TIMEOUT))
          << "listener ended: " << ReadWholeFile(kListenLog);
    }
  }

  // Waits for the listener to have heard its messages (it stops by itself
  // after --count of them) and returns its JSON lines.
  std::vector<std::string> Finish() {
    if (!process.valid()) return {};
    if (WaitForSingleObject(process.get(), 60000)) TerminateProcess(process.get(), 1);
    process.reset();
    std::vector<std::string> messages;
    std::istringstream text(ReadWholeFile(kListenLog));
    for (std::string line; std::getline(text, line);) {
      if (!line.empty() && line[0] == '{') messages.push_back(line);
    }
    return messages;
  }

  ~Listener() { Finish(); }
};

class Capture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u);
    e2e::Setup(L"set-prefix --clear");
    e2e::Setup(L"set-interpret-title default");
    InstallDefault();
    EmptyFolder(SpoolFolder());
  }

  std::wstring Output(const std::wstring& name) {
    return std::wstring(kOutputFolder) + L"\\" + name;
  }

  std::wstring Job(const std::wstring& name, const std::string& bytes) {
    CreateDirectoryW(L"C:\\e2e-jobs", nullptr);
    const std::wstring path = L"C:\\e2e-jobs\\" + name;
    EXPECT_TRUE(WriteFileBytes(path, bytes));
    return path;
  }

  std::string Sample(const std::wstring& name) {
    std::string bytes;
    EXPECT_TRUE(ReadFileBytes(Example(name), &bytes)) << Utf8(name);
    return bytes;
  }

  // Wine's file port overwrites the file from its start without truncating
  // it, so every job starts with no port file.
  // Files in the output folder before a job stay as they were.
  RunResult PrintFile(const std::wstring& path, const std::wstring& options = L"") {
    DeleteFileW(kPort);
    std::vector<std::pair<std::wstring, std::string>> before;
    for (const std::wstring& name : ListFolder(kOutputFolder)) {
      before.emplace_back(name, ReadWholeFile(Output(name)));
    }
    RunResult result =
        e2e::Run(L"halvek-print.exe", Quote(kPrinter) + L" " + Quote(path) + L" " + options);
    EXPECT_EQ(result.exitCode, 0u) << result.output;
    for (const auto& file : before) {
      std::string now;
      EXPECT_TRUE(ReadFileBytes(Output(file.first), &now) && now == file.second)
          << Utf8(file.first) << " changed by a later job";
    }
    return result;
  }

  void ExpectOutput(const std::wstring& name, const std::string& bytes) {
    std::string captured;
    ASSERT_TRUE(ReadFileBytes(Output(name), &captured))
        << Utf8(name) << " missing; folder holds " << FolderText();
    EXPECT_TRUE(captured == bytes)
        << Utf8(name) << ": " << captured.size() << " bytes, expected " << bytes.size();
  }

  void ExpectPortPath(const std::wstring& name) {
    std::string port;
    ASSERT_TRUE(ReadFileBytes(kPort, &port));
    const std::wstring path = Output(name);  // UTF-16LE, as wchar_t is here
    EXPECT_EQ(port, std::string(reinterpret_cast<const char*>(path.data()), path.size() * 2));
  }

  std::string FolderText() {
    std::string text;
    for (const std::wstring& name : ListFolder(kOutputFolder)) text += "[" + Utf8(name) + "] ";
    return text;
  }
};

TEST_F(Capture, SamplesLandUnderTheirTitlesAndThePortGetsThePath) {
  PrintFile(Example(L"acrobat9-mac.ps"));
  ExpectOutput(L"Quarterly Report.PS", Sample(L"acrobat9-mac.ps"));
  ExpectPortPath(L"Quarterly Report.PS");

  PrintFile(Example(L"invoice.pdf"));
  ExpectOutput(L"invoice.PDF", Sample(L"invoice.pdf"));
  ExpectPortPath(L"invoice.PDF");

  const std::string ticketJob = Sample(L"ticket-order.xpif");
  const size_t tagEnd = ticketJob.find("</xpif>") + 7;
  PrintFile(Example(L"ticket-order.xpif"));
  ExpectOutput(L"ticket-order.XPF", ticketJob.substr(0, tagEnd));
  ExpectOutput(L"ticket-order.PDF", ticketJob.substr(tagEnd + 1));  // the line break is dropped
  ExpectPortPath(L"ticket-order.PDF");

  // Code page 1252 has no Japanese: every character becomes "_", one stays.
  PrintFile(Example(L"japanese-title.ps"));
  ExpectOutput(L"_.PS", Sample(L"japanese-title.ps"));
  EXPECT_EQ(ListFolder(kOutputFolder).size(), 5u) << FolderText();
}

// Run by its own ctest entry under ja_JP.UTF-8: a client's code page follows
// the locale Wine started the test with, not the client's environment block.
using Capture932 = Capture;

TEST_F(Capture932, JapaneseTitleKeptInTheFileName) {
  ASSERT_EQ(GetACP(), 932u);
  PrintFile(Example(L"japanese-title.ps"));
  ExpectOutput(L"\u65e5\u672c\u8a9e\u306e\u5831\u544a\u66f8.PS", Sample(L"japanese-title.ps"));
}

std::string PlainTitleJob(const std::string& titleBytes) {
  return "%!PS-Adobe-3.0\n%%Creator: Office\n%%Title: " + titleBytes +
         "\r\n%%EndComments\nshowpage\n";
}

// The office title corpus through the spooler, one job per title and
// encoding. Too slow for the suite: scripts/measure-japanese-corpus.sh runs
// it by hand.
using SpoolerCorpus932 = Capture;

std::wstring CorpusFile(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/japanese/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return std::wstring(path.begin(), path.end());
}

// The file name a title gives: the extension of up to four characters
// becomes the format's.
std::wstring NameOf(const std::string& titleUtf8) {
  std::wstring title(titleUtf8.size(), L'\0');
  title.resize(MultiByteToWideChar(CP_UTF8, 0, titleUtf8.data(), static_cast<int>(titleUtf8.size()),
                                   &title[0], static_cast<int>(title.size())));
  const size_t dot = title.rfind(L'.');
  if (dot != std::wstring::npos && title.size() - dot - 1 <= 4) title.resize(dot);
  return title + L".PS";
}

TEST_F(SpoolerCorpus932, OfficeTitlesKeepTheirNames) {
  ASSERT_EQ(GetACP(), 932u);
  const std::vector<std::string> titles = ReadCorpusLines(CorpusFile("office-titles.txt"));
  int exact = 0, total = 0;
  for (const char* encoding : {"sjis", "eucjp", "iso2022jp"}) {
    const auto encoded =
        ReadCorpusLines(CorpusFile("office-titles." + std::string(encoding) + ".hex"));
    ASSERT_EQ(encoded.size(), titles.size()) << encoding;
    for (size_t i = 0; i < titles.size(); ++i) {
      if (encoded[i] == "-" || titles[i].empty()) continue;
      EmptyFolder(kOutputFolder);
      PrintFile(Job(L"corpus.ps", PlainTitleJob(encoded[i])));
      const std::vector<std::wstring> names = ListFolder(kOutputFolder);
      const bool same = names.size() == 1 && names[0] == NameOf(titles[i]);
      exact += same;
      ++total;
      if (!same) {
        std::printf("  %s:%zu %s -> %s\n", encoding, i + 1, titles[i].c_str(),
                    names.empty() ? "(none)" : Utf8(names[0]).c_str());
      }
    }
  }
  std::printf("Through the spooler, code page 932: %d of %d exact\n", exact, total);
  EXPECT_GE(exact * 100, total * 97);
}

TEST_F(Capture, SpoolFileIsLinkedNotCopied) {
  std::string big = "%PDF-1.4\n";
  while (big.size() < 3 * 512 * 1024) big += "% filler line of a large linked job\n";
  const std::wstring job = Job(L"linked.pdf", big);
  Listener listener;
  ASSERT_NO_FATAL_FAILURE(listener.Start(2));
  PrintFile(job);
  const auto messages = listener.Finish();
  ExpectOutput(L"linked.PDF", big);
  // Start and stop only: a linked job is not read far enough for progress.
  ASSERT_EQ(messages.size(), 2u);
  EXPECT_TRUE(Contains(messages[0], "\"command\":\"START_SPOOLING\",\"job\":1")) << messages[0];
  EXPECT_TRUE(Contains(messages[0], JsonPath(Output(L"linked.PDF")))) << messages[0];
}

TEST_F(Capture, CopiedJobReportsProgressEvery512KiB) {
  // A ticket rules out the link, so the data is copied chunk by chunk.
  const std::string ticket = "<?xml version=\"1.0\"?>\n<xpif version=\"1.0\"></xpif>\n";
  std::string data = "%PDF-1.4\n";
  while (data.size() < 3 * 512 * 1024 + 1000) data += "% filler line of a large copied job\n";
  const std::wstring job = Job(L"progress.pdf", ticket + data);
  const DWORD totalBytes = static_cast<DWORD>(ticket.size() + data.size());
  const DWORD steps = totalBytes >> 19;
  Listener listener;
  ASSERT_NO_FATAL_FAILURE(listener.Start(static_cast<int>(steps) + 2));
  PrintFile(job);
  const auto messages = listener.Finish();
  ExpectOutput(L"progress.PDF", data);
  ExpectOutput(L"progress.XPF", ticket.substr(0, ticket.size() - 1));
  ASSERT_EQ(messages.size(), steps + 2);
  for (DWORD step = 1; step <= steps; ++step) {
    const std::string& message = messages[step];
    ASSERT_TRUE(Contains(message, "\"command\":\"PROGRESS_SPOOLING\",\"job\":1")) << message;
    const unsigned long bytes =
        std::strtoul(message.c_str() + message.find("\"bytes\":") + 8, nullptr, 10);
    EXPECT_GE(bytes, step * 524288ul) << message;
    EXPECT_LT(bytes, step * 524288ul + 32768ul) << message;
  }
}

TEST_F(Capture, TextIsCapturedLikeRaw) {
  PrintFile(Example(L"invoice.pdf"), L"--datatype TEXT --document-name text-job.pdf");
  ExpectOutput(L"text-job.PDF", Sample(L"invoice.pdf"));
  ExpectPortPath(L"text-job.PDF");
}

TEST_F(Capture, NameCollisionIsNumberedByTheJobId) {
  PrintFile(Example(L"invoice.pdf"), L"--repeat 3");
  ExpectOutput(L"invoice.PDF", Sample(L"invoice.pdf"));
  // Job 2 finds invoice.PDF taken and starts numbering at its own id.
  ExpectOutput(L"invoice2.PDF", Sample(L"invoice.pdf"));
  ExpectOutput(L"invoice3.PDF", Sample(L"invoice.pdf"));
  EXPECT_EQ(ListFolder(kOutputFolder).size(), 3u) << FolderText();
}

// Tickets through the spooler: two jobs of one title keep their own tickets
// (the second is numbered with its data), an end tag cut by the first read,
// and a job that is all ticket. Nothing stays in a temporary file.
TEST_F(Capture, TicketJobsLandWholeInNamedOutputs) {
  const std::string ticket = "<?xml version=\"1.0\"?>\n<xpif version=\"1.0\">";
  const std::string one = ticket + "<copies>1</copies></xpif>";
  const std::string nine = ticket + "<copies>9</copies></xpif>";
  const std::string ps = "%!PS-Adobe-3.0\n%%Title: Report\n%%EndComments\nshowpage\n";
  const std::string pdf = "%PDF-1.4\n%%Title: Report\n%%EOF\n";
  PrintFile(Job(L"first.prn", one + "\n" + ps));
  PrintFile(Job(L"second.prn", nine + "\n" + pdf));
  std::string cut = ticket;
  cut.resize(32763, ' ');
  cut += "</xpif>";
  const std::string big = "%!PS-Adobe-3.0\n%%Title: BigTicket\n" + std::string(20000, '%');
  PrintFile(Job(L"cut.prn", cut + "\n" + big));
  PrintFile(Job(L"alone.prn", one), L"--document-name order.txt");
  ExpectOutput(L"Report.PS", ps);
  ExpectOutput(L"Report.XPF", one);
  // Each client's job is job 1: the second pair is numbered from it.
  ExpectOutput(L"Report1.PDF", pdf);
  ExpectOutput(L"Report1.XPF", nine);
  ExpectOutput(L"BigTicket.PS", big);
  ExpectOutput(L"BigTicket.XPF", cut);
  ExpectOutput(L"order.XPF", one);
  ExpectPortPath(L"order.XPF");
  EXPECT_EQ(ListFolder(kOutputFolder).size(), 7u) << FolderText();
}

}  // namespace
// The values under a key and its subkeys, as text.
std::wstring RegistryText(HKEY root, const std::wstring& path) {
  UniqueKey key;
  if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS) return L"-";
  std::wstring text = L"[" + path + L"]";
  for (DWORD index = 0;; ++index) {
    WCHAR name[260];
    DWORD nameChars = 260;
    BYTE data[1024];
    DWORD dataBytes = sizeof(data);
    if (RegEnumValueW(key.get(), index, name, &nameChars, nullptr, nullptr, data, &dataBytes)) {
      break;
    }
    text += name + std::wstring(L"=") +
            std::wstring(reinterpret_cast<WCHAR*>(data), dataBytes / sizeof(WCHAR)) + L";";
  }
  for (DWORD index = 0;; ++index) {
    WCHAR name[260];
    DWORD nameChars = 260;
    if (RegEnumKeyExW(key.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr)) {
      break;
    }
    text += RegistryText(root, path + L"\\" + name);
  }
  return text;
}

// A string field of the explain tool's JSON line, unescaped; "null" when null.
std::string JsonField(const std::string& json, const std::string& name) {
  const std::string key = "\"" + name + "\":";
  const size_t at = json.find(key);
  if (at == std::string::npos) return "(missing)";
  size_t pos = at + key.size();
  if (json.compare(pos, 4, "null") == 0) return "null";
  std::string value;
  for (++pos; pos < json.size() && json[pos] != '"'; ++pos) {
    if (json[pos] == '\\') ++pos;
    value.push_back(json[pos]);
  }
  return value;
}

// The explain tool names every fixture and sample as the capture through the
// spooler then does, and leaves the folder and the registry as they were.
TEST_F(Capture, ExplainToolAgreesWithTheCapture) {
  // The other groups share the prefix and expect no rules of this test's.
  const ScopeGuard clearRules([] { e2e::Setup(L"set-prefix --clear"); });
  ASSERT_EQ(e2e::Setup(L"set-prefix word \"Microsoft Word - \"").exitCode, 0u);
  std::wstring fixtures =
      L"Z:" +
      std::wstring(HALVEK_FIXTURES_DIR, HALVEK_FIXTURES_DIR + sizeof(HALVEK_FIXTURES_DIR) - 1) +
      L"\\format\\";
  std::replace(fixtures.begin(), fixtures.end(), L'/', L'\\');
  struct Case {
    std::wstring path;
    const char* prefixRule;
  };
  // clang-format off
  const Case cases[] = {
      {Example(L"acrobat9-mac.ps"), "null"},
      {Example(L"invoice.pdf"), "null"},
      {Example(L"japanese-title.ps"), "null"},
      {Example(L"ticket-order.xpif"), "null"},
      {fixtures + L"acrobat8_macos_roman.ps", "null"},
      {fixtures + L"acrobat9_mac_hex_utf16.ps", "null"},
      {fixtures + L"document.pdf", "null"},
      {fixtures + L"embedded_eps.ps", "null"},
      {fixtures + L"mac_utf8_octal.ps", "null"},
      {fixtures + L"macos_japanese.ps", "null"},
      {fixtures + L"mailing.vps", "null"},
      {fixtures + L"msoffice_french.ps", "null"},
      {fixtures + L"msoffice_german.ps", "word"},
      {fixtures + L"no_title.ps", "null"},
      {fixtures + L"plain_title_crlf.ps", "null"},
      {fixtures + L"plain_title_lf.ps", "null"},
      {fixtures + L"ppml_job.ppml", "null"},
      {fixtures + L"xp_word_hex.ps", "word"},
      {fixtures + L"xpif_ticket.xpf", "null"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(Utf8(c.path));
    EmptyFolder(kOutputFolder);
    const std::wstring registryBefore = RegistryText(HKEY_LOCAL_MACHINE, L"Software\\Halvek") +
                                        RegistryText(HKEY_LOCAL_MACHINE, kHalvekMonitorKey);
    const std::wstring documentName = c.path.substr(c.path.find_last_of(L'\\') + 1);
    const RunResult explained =
        e2e::Run(L"halvek-name.exe", L"--json --printer " + Quote(kPrinter) + L" --document-name " +
                                         Quote(documentName) + L" " + Quote(c.path));
    ASSERT_EQ(explained.exitCode, 0u) << explained.output;
    EXPECT_TRUE(ListFolder(kOutputFolder).empty()) << FolderText();
    EXPECT_EQ(RegistryText(HKEY_LOCAL_MACHINE, L"Software\\Halvek") +
                  RegistryText(HKEY_LOCAL_MACHINE, kHalvekMonitorKey),
              registryBefore);
    EXPECT_EQ(JsonField(explained.output, "prefix_rule"), c.prefixRule) << explained.output;

    PrintFile(c.path);
    std::string port;
    ASSERT_TRUE(ReadFileBytes(kPort, &port));
    const std::wstring portPath(reinterpret_cast<const wchar_t*>(port.data()),
                                port.size() / sizeof(wchar_t));
    EXPECT_EQ(JsonField(explained.output, "path"), Utf8(portPath)) << explained.output;
    const std::string ticketPath = JsonField(explained.output, "ticket_path");
    if (ticketPath != "null") {
      WCHAR wide[MAX_PATH] = {};
      MultiByteToWideChar(CP_UTF8, 0, ticketPath.c_str(), -1, wide, MAX_PATH);
      EXPECT_TRUE(tools::FileExists(wide))
          << ticketPath << " missing; folder holds " << FolderText();
    }
  }
}

}  // namespace e2e
