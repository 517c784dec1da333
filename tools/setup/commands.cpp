// Every command can be run again and leaves the same state.
#include "tools/setup/commands.h"

#include <cwchar>

#include "platform/registry_names.h"
#include "tools/setup/common.h"
#include "tools/setup/install.h"
#include "tools/setup/registry.h"
#include "tools/setup/spooler.h"
#include "tools/tool_support.h"

namespace setup {
namespace {

using tools::Say;

constexpr WCHAR kDefaultPrinter[] = L"Halvek Capture";
constexpr WCHAR kDefaultPort[] = L"C:\\halvek.prn";
constexpr WCHAR kDefaultOutputFolder[] = L"C:\\HalvekOut";

// The longest rule the print processor reads whole.
constexpr size_t kMaxPrefixLabelChars = kPrefixLabelReadLimitChars - 1;
constexpr size_t kMaxPrefixChars = kPrefixReadLimitBytes / sizeof(WCHAR) - 1;
static_assert((kMaxPrefixChars + 1) * sizeof(WCHAR) == kPrefixReadLimitBytes,
              "a prefix of the limit must fit the capture's read of the rule");

// A port for another printer: the first free "C:\halvekN.prn".
std::wstring FreePortName() {
  const auto recorded = ListValues(kSetupPortsKey);
  for (int number = 2;; ++number) {
    const std::wstring candidate = L"C:\\halvek" + std::to_wstring(number) + L".prn";
    bool taken = PortExists(candidate);
    for (const auto& value : recorded)
      taken = taken || _wcsicmp(value.first.c_str(), candidate.c_str()) == 0;
    if (!taken) return candidate;
  }
}

// "Name: on|off", with " (default)" when the value is not set.
void SaySwitch(const WCHAR* valueName) {
  DWORD value = 1;
  const bool set =
      tools::ReadDword(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, valueName, &value) == 0;
  Say(valueName + (L": " + std::wstring(value ? L"on" : L"off")) + (set ? L"" : L" (default)"));
}

void SayInstallation(bool registered, bool dllPresent, const std::wstring& processorFolder) {
  Say(std::wstring(L"print processor ") + kProcessorName + L": " +
      (registered ? L"registered" : L"not registered") + L", " + kProcessorDll +
      (dllPresent ? L" present in " + processorFolder : std::wstring(L" missing")));
  const std::wstring library = tools::SystemFolder() + L"\\" + kLibraryDll;
  Say(std::wstring(kLibraryDll) + L": " +
      (tools::FileExists(library) ? L"present in " + tools::SystemFolder()
                                  : std::wstring(L"missing")));
  const std::wstring driver = DriverToUse();
  Say(L"driver \"" + driver + L"\": " +
      (DriverInstalled(driver) ? L"installed" : L"not installed"));
  std::wstring spoolFolder;
  if (ReadString(kPrintersKey, kDefaultSpoolDirectoryValue, &spoolFolder)) {
    spoolFolder = L"(not set)";
  }
  Say(L"spool folder: " + spoolFolder);
}

void SayPrinter(const std::wstring& printerName) {
  const PrinterSetting printer = ReadPrinter(printerName);
  if (!printer.exists) {
    Say(L"printer \"" + printerName + L"\": missing from the spooler");
    return;
  }
  std::wstring outputFolder;
  const bool portKnown =
      ReadString(SubKey(kHalvekPortsKey, printer.port), kOutputPathValue, &outputFolder) == 0;
  Say(L"printer \"" + printerName + L"\": port " + printer.port + L" (" +
      (PortExists(printer.port) ? L"present" : L"missing") + L"), print processor " +
      printer.processor + L", datatype " + printer.datatype + L", output folder " +
      (portKnown ? outputFolder + (FolderExists(outputFolder) ? L"" : L" (missing)")
                 : std::wstring(L"(not configured)")));
}

}  // namespace

bool ParseOptions(int argc, wchar_t** argv, int first, Options* options) {
  for (int index = first; index < argc; ++index) {
    const std::wstring argument = argv[index];
    std::wstring* target = nullptr;
    if (argument == L"--printer") target = &options->printer;
    if (argument == L"--port") target = &options->port;
    if (argument == L"--output-folder") target = &options->outputFolder;
    if (argument == L"--from") target = &options->from;
    if (argument == L"--reader") target = &options->reader;
    if (target) {
      if (index + 1 >= argc) {
        Complain(argument + L" needs a value");
        return false;
      }
      *target = argv[++index];
    } else if (argument == L"--remove") {
      options->remove = true;
    } else if (argument == L"--clear") {
      options->clear = true;
    } else if (argument.size() > 2 && argument.compare(0, 2, L"--") == 0) {
      Complain(L"unknown option " + argument);
      return false;
    } else {
      options->positional.push_back(argument);
    }
  }
  return true;
}

int Install(const Options& options) {
  if (!options.positional.empty()) {
    Complain(L"install takes no name; use --printer NAME");
    return kExitUsage;
  }
  const std::wstring printer = options.printer.empty() ? kDefaultPrinter : options.printer;
  const std::wstring port = options.port.empty() ? kDefaultPort : options.port;
  const std::wstring folder =
      options.outputFolder.empty() ? kDefaultOutputFolder : options.outputFolder;
  if (!CheckPortName(port) || !CheckOutputFolder(FullPath(folder))) return kExitUsage;
  if (int code = InstallProcessor(options.from.empty() ? tools::ModuleFolder() : options.from))
    return code;
  if (int code = InstallDriver()) return code;
  if (int code = EnsureSpoolDirectoryValue()) return code;
  if (int code = SetUpPrinter(printer, port, folder, options.reader)) return code;
  Say(L"installed");
  return 0;
}

int AddPrinter(const Options& options) {
  if (options.positional.size() != 1 || options.outputFolder.empty()) {
    Complain(L"usage: add-printer NAME --output-folder DIR [--port FILE]");
    return kExitUsage;
  }
  const std::wstring& printer = options.positional[0];
  if (!ProcessorRegistered() || !DriverInstalled(DriverToUse())) {
    Complain(L"the print processor is not installed: run halvek-setup install first");
    return kExitFailure;
  }
  std::wstring port = options.port;
  if (port.empty()) {
    const PrinterSetting existing = ReadPrinter(printer);
    port = existing.exists ? existing.port : FreePortName();
  }
  return SetUpPrinter(printer, port, options.outputFolder, options.reader);
}

int SetPrefix(const Options& options) {
  if (options.clear && options.positional.empty()) {
    if (DWORD error = DeleteTree(kPrefixKey)) return Fail(L"removing the prefix rules", error);
    Say(L"no prefix rules");
    return 0;
  }
  if (options.remove && options.positional.size() == 1) {
    if (DWORD error = DeleteValue(kPrefixKey, options.positional[0])) {
      return Fail(L"removing the prefix rule", error);
    }
    Say(L"prefix rule \"" + options.positional[0] + L"\" removed");
    return 0;
  }
  if (options.remove || options.clear || options.positional.size() != 2) {
    Complain(L"usage: set-prefix LABEL PREFIX | set-prefix --remove LABEL | set-prefix --clear");
    return kExitUsage;
  }
  const std::wstring& label = options.positional[0];
  const std::wstring& prefix = options.positional[1];
  if (label.size() > kMaxPrefixLabelChars || prefix.size() > kMaxPrefixChars) {
    Complain(L"a rule's label may have " + std::to_wstring(kMaxPrefixLabelChars) +
             L" and its prefix " + std::to_wstring(kMaxPrefixChars) +
             L" characters at most: a longer one would end the print processor's reading of the "
             L"rules");
    return kExitUsage;
  }
  if (DWORD error = WriteString(kPrefixKey, label, prefix)) {
    return Fail(L"writing the prefix rule", error);
  }
  Say(L"prefix rule \"" + label + L"\" removes \"" + prefix + L"\"");
  return 0;
}

// "default" removes the switch, which the print processor reads as on.
int SetSwitch(const Options& options, const WCHAR* command, const WCHAR* valueName) {
  const std::wstring usage = std::wstring(L"usage: ") + command + L" on|off|default";
  if (options.positional.size() != 1) {
    Complain(usage);
    return kExitUsage;
  }
  const std::wstring& setting = options.positional[0];
  DWORD error = 0;
  if (setting == L"on" || setting == L"1") {
    error = WriteDword(kSpoolerSettingsKey, valueName, 1);
  } else if (setting == L"off" || setting == L"0") {
    error = WriteDword(kSpoolerSettingsKey, valueName, 0);
  } else if (setting == L"default") {
    error = DeleteValue(kSpoolerSettingsKey, valueName);
  } else {
    Complain(usage);
    return kExitUsage;
  }
  if (error) return Fail(std::wstring(L"writing ") + valueName, error);
  Say(valueName + (L" " + setting));
  return 0;
}

int Status() {
  DWORD error = 0;
  const std::wstring processorFolder = PrintProcessorFolder(&error);
  const bool registered = ProcessorRegistered();
  const bool dllPresent = !error && tools::FileExists(processorFolder + L"\\" + kProcessorDll);
  SayInstallation(registered, dllPresent, processorFolder);
  const auto printers = ListValues(kSetupPrintersKey);
  if (printers.empty()) Say(L"no capture printers");
  for (const auto& entry : printers) SayPrinter(entry.first);
  SaySwitch(kInterpretTitleValue);
  SaySwitch(kHardLinksValue);
  Say(std::wstring(kCaptureLogValue) + L": " + CaptureLogState());
  const auto rules = ListValues(kPrefixKey);
  if (rules.empty()) Say(L"no prefix rules");
  for (const auto& rule : rules)
    Say(L"prefix rule \"" + rule.first + L"\": \"" + rule.second + L"\"");
  Say(registered && dllPresent && !printers.empty() ? L"state: installed"
                                                    : L"state: not installed");
  return 0;
}

}  // namespace setup
