// halvek-name: what the capture would name a job, without printing it.
//   halvek-name [--printer NAME] [--document-name TEXT] [--job-id N]
//               [--output-folder DIR] [--json] FILE...
// Runs the capture's own name step on each file's first block with the
// registry's rules and the printer's output folder; creates, changes and
// sends nothing. Exit 0, 1 when a file or the folder failed, 2 on bad usage.
#include <cwchar>
#include <string>
#include <vector>

#include "capture/capture.h"
#include "capture/output_name.h"
#include "capture/settings.h"
#include "platform/holders.h"
#include "tools/setup/common.h"
#include "tools/tool_support.h"

namespace {

const wchar_t kTool[] = L"halvek-name";

struct Options {
  std::wstring printer;
  std::wstring documentName;
  bool hasDocumentName = false;
  long jobId = 1;
  std::wstring outputFolder;
  bool json = false;
  std::vector<std::wstring> files;
};

const wchar_t* FormatName(JobFormat format) {
  switch (format) {
    case JobFormat::PostScript:
      return L"postscript";
    case JobFormat::Vps:
      return L"vps";
    case JobFormat::Pdf:
      return L"pdf";
    case JobFormat::Xpif:
      return L"xpif";
    case JobFormat::Ppml:
      return L"ppml";
    default:
      return L"none";
  }
}

// The first printer that uses this print processor.
std::wstring FirstCapturePrinter() {
  DWORD count = 0;
  const std::vector<BYTE> buffer = tools::Enumerated(
      [](BYTE* into, DWORD bytes, DWORD* needed, DWORD* returned) {
        return EnumPrintersW(PRINTER_ENUM_LOCAL, nullptr, 2, into, bytes, needed, returned);
      },
      &count);
  const auto* printers = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  for (DWORD i = 0; i < count; ++i) {
    if (printers[i].pPrintProcessor && printers[i].pPrinterName &&
        _wcsicmp(printers[i].pPrintProcessor, setup::kProcessorName) == 0) {
      return printers[i].pPrinterName;
    }
  }
  return L"";
}

// The output folder as the capture reads it for the printer's jobs, ending
// in a backslash; empty, with the reason told, when there is none.
std::wstring CaptureFolder(const Options& options) {
  std::wstring folder = options.outputFolder;
  if (folder.empty()) {
    const std::wstring printer = options.printer.empty() ? FirstCapturePrinter() : options.printer;
    if (printer.empty()) {
      tools::Complain(kTool,
                      L"no printer uses the print processor; give --printer or "
                      L"--output-folder");
      return L"";
    }
    CaptureSettings settings = {};
    const std::wstring jobName = printer + L", Job " + std::to_wstring(options.jobId);
    LoadCaptureSettings(jobName.c_str(), &settings);
    if (const WCHAR* missing = MissingCaptureSetting(settings)) {
      tools::Complain(kTool, L"printer \"" + printer + L"\": setting missing: " + missing);
      return L"";
    }
    folder = settings.outputFolder;
  }
  if (folder.back() != L'\\') folder += L'\\';
  const DWORD attributes = GetFileAttributesW(folder.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    tools::Complain(kTool,
                    L"output folder " + folder + L" cannot be used: " +
                        tools::ErrorText(attributes == INVALID_FILE_ATTRIBUTES ? GetLastError()
                                                                               : ERROR_DIRECTORY));
    return L"";
  }
  return folder;
}

// The file's first block, as much of it as the capture's buffer takes.
bool ReadFirstBlock(const std::wstring& path, std::vector<BYTE>* block, DWORD* error) {
  UniqueFile file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    *error = GetLastError();
    return false;
  }
  block->assign(kReadBufferBytes, 0);
  DWORD heldBytes = 0;
  while (heldBytes < kReadBufferBytes) {
    DWORD readBytes = 0;
    if (!ReadFile(file.get(), block->data() + heldBytes, kReadBufferBytes - heldBytes, &readBytes,
                  nullptr)) {
      *error = GetLastError();
      return false;
    }
    if (readBytes == 0) break;
    heldBytes += readBytes;
  }
  block->resize(heldBytes);
  return true;
}

std::wstring JsonString(const wchar_t* text) {
  if (!text) return L"null";
  std::wstring quoted = L"\"";
  for (const wchar_t* unit = text; *unit; ++unit) {
    if (*unit == L'"' || *unit == L'\\') {
      quoted += L'\\';
      quoted += *unit;
    } else if (*unit < 0x20) {
      wchar_t escaped[8];
      swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(*unit));
      quoted += escaped;
    } else {
      quoted += *unit;
    }
  }
  return quoted + L"\"";
}

const wchar_t* OrNull(const wchar_t* text) {
  return text && text[0] ? text : nullptr;
}

struct Explained {
  const std::wstring& file;
  const NameChoice& choice;
  const NameReport& report;
};

// What each Japanese pass made of the title, or "unchanged".
std::wstring PassResult(const wchar_t* before, const wchar_t* after) {
  return std::wcscmp(before, after) == 0 ? L"unchanged" : L"\"" + std::wstring(after) + L"\"";
}

std::wstring PrefixText(const PrefixRuleMatch& rule) {
  if (!rule.matched) return L"none";
  return std::wstring(rule.label) + L" (\"" + rule.prefix + L"\" removed)";
}

void PrintText(const Explained& e) {
  const NameReport& r = e.report;
  const auto line = [](const wchar_t* label, const std::wstring& value) {
    wchar_t padded[32];
    swprintf(padded, 32, L"  %-14ls ", label);
    tools::Say(padded + value);
  };
  tools::Say(e.file);
  line(L"format", FormatName(e.choice.format));
  line(L"producer", r.producer ? r.producer : L"none (plain %%Title: scan)");
  line(L"title", L"\"" + std::wstring(r.title) + L"\"");
  line(L"library pass", PassResult(r.title, r.titleAfterLibraryPass));
  line(L"hex pass", PassResult(r.titleAfterLibraryPass, r.titleAfterHexPass));
  line(L"base", std::wstring(L"\"") + r.chosenBase + L"\" from " + r.baseRule +
                    (r.interpretTitle == 0 ? L" (InterpretTitle 0)" : L""));
  line(L"extension", (e.choice.extension[0] ? e.choice.extension : L"(none)") +
                         std::wstring(L" from ") + r.extensionRule);
  line(L"prefix rule", PrefixText(r.prefixRule));
  line(L"valid name", e.choice.validName);
  line(L"path", e.choice.dataPath);
  if (r.ticketCount > 0) {
    line(L"tickets", std::to_wstring(r.ticketCount) +
                         (e.choice.ticketPath[0] ? L", in " + std::wstring(e.choice.ticketPath)
                                                 : L", the job is all ticket"));
  }
}

void PrintJson(const Explained& e) {
  const NameReport& r = e.report;
  std::wstring json = L"{\"file\":" + JsonString(e.file.c_str());
  json += L",\"format\":" + JsonString(FormatName(e.choice.format));
  json += std::wstring(L",\"known_format\":") + (e.choice.knownFormat ? L"true" : L"false");
  json += L",\"producer\":" + JsonString(r.producer);
  json += L",\"title\":" + JsonString(r.title);
  json += L",\"decoded_title\":" + JsonString(r.titleAfterHexPass);
  json += L",\"base\":" + JsonString(r.chosenBase);
  json += L",\"base_rule\":" + JsonString(r.baseRule);
  json += L",\"extension\":" + JsonString(e.choice.extension);
  json += L",\"extension_rule\":" + JsonString(r.extensionRule);
  json += L",\"prefix_rule\":" + JsonString(r.prefixRule.matched ? r.prefixRule.label : nullptr);
  json += L",\"valid_name\":" + JsonString(e.choice.validName);
  json += L",\"path\":" + JsonString(e.choice.dataPath);
  json += L",\"ticket_path\":" + JsonString(OrNull(e.choice.ticketPath));
  json += L",\"tickets\":" + std::to_wstring(r.ticketCount) + L"}";
  tools::Say(json);
}

bool ExplainFile(const Options& options, const std::wstring& folder, const std::wstring& file) {
  std::vector<BYTE> block;
  DWORD error = 0;
  if (!ReadFirstBlock(file, &block, &error)) {
    tools::Complain(kTool, file + L": " + tools::ErrorText(error));
    return false;
  }
  NameChoice choice = {};
  NameReport report = {};
  if (!ChooseOutputName(block.data(), static_cast<DWORD>(block.size()),
                        options.hasDocumentName ? options.documentName.c_str() : nullptr,
                        options.jobId, folder.c_str(), &choice, &report)) {
    tools::Complain(kTool, file + L": no name fits the output folder " + folder);
    return false;
  }
  const Explained explained{file, choice, report};
  if (options.json) {
    PrintJson(explained);
  } else {
    PrintText(explained);
  }
  return true;
}

int Usage() {
  tools::Complain(kTool,
                  L"usage: halvek-name [--printer NAME] [--document-name TEXT] "
                  L"[--job-id N] [--output-folder DIR] [--json] FILE...");
  return setup::kExitUsage;
}

bool ParseOptions(int argc, wchar_t** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring argument = argv[i];
    const bool hasValue = i + 1 < argc;
    if (argument == L"--json") {
      options->json = true;
    } else if (argument == L"--printer" && hasValue) {
      options->printer = argv[++i];
    } else if (argument == L"--document-name" && hasValue) {
      options->documentName = argv[++i];
      options->hasDocumentName = true;
    } else if (argument == L"--output-folder" && hasValue) {
      options->outputFolder = argv[++i];
    } else if (argument == L"--job-id" && hasValue) {
      if (!tools::ParseNumber(argv[++i], 1, 0x7fffffff, &options->jobId)) return false;
    } else if (argument.rfind(L"--", 0) == 0) {
      return false;
    } else {
      options->files.push_back(argument);
    }
  }
  return !options->files.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) return Usage();
  const std::wstring folder = CaptureFolder(options);
  if (folder.empty()) return setup::kExitFailure;
  bool allExplained = true;
  for (const std::wstring& file : options.files) {
    if (!ExplainFile(options, folder, file)) allExplained = false;
  }
  return allExplained ? 0 : setup::kExitFailure;
}
