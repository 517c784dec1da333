// halvek-setup against Wine's spooler and registry.
#include "platform/registry_names.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

const std::wstring kMonitorKey = ::kHalvekMonitorKey;
constexpr DWORD kCaptureQueueAttributes = PRINTER_ATTRIBUTE_RAW_ONLY | PRINTER_ATTRIBUTE_QUEUED;

std::wstring ProcessorDll() {
  WCHAR folder[MAX_PATH] = {};
  DWORD neededBytes = 0;
  WCHAR environment[] = L"Windows x64";
  GetPrintProcessorDirectoryW(nullptr, environment, 1, reinterpret_cast<BYTE*>(folder),
                              sizeof(folder) - sizeof(WCHAR), &neededBytes);
  return std::wstring(folder) + L"\\halvekprint.dll";
}

// Every key and value under an HKLM key, one line each.
void DumpRegTree(const std::wstring& key, std::vector<std::wstring>* lines) {
  UniqueKey holder;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, KEY_READ, holder.put())) return;
  WCHAR name[512];
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = 512;
    if (RegEnumValueW(holder.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr))
      break;
    lines->push_back(key + L"=" + name + L":" + RegValue(key, name));
  }
  for (DWORD index = 0;; ++index) {
    DWORD nameChars = 512;
    if (RegEnumKeyExW(holder.get(), index, name, &nameChars, nullptr, nullptr, nullptr, nullptr)) {
      break;
    }
    DumpRegTree(key + L"\\" + name, lines);
  }
}

// Everything the setup tool touches, to compare states.
std::vector<std::wstring> Snapshot() {
  std::vector<std::wstring> state = tools::PrintProcessorNames(L"Windows x64");
  for (const std::wstring& port : tools::PortNames()) state.push_back(L"port " + port);
  std::vector<BYTE> buffer;
  for (const PRINTER_INFO_2W& printer : Printers(&buffer)) {
    state.push_back(std::wstring(L"printer ") + printer.pPrinterName + L"|" + printer.pPortName +
                    L"|" + printer.pPrintProcessor + L"|" + printer.pDatatype);
  }
  DumpRegTree(kMonitorKey, &state);
  DumpRegTree(L"Software\\Halvek", &state);
  std::sort(state.begin(), state.end());
  return state;
}

class Setup : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u); }
};

struct Command {
  const wchar_t* line;
  std::wstring key;
  const wchar_t* value;
  const wchar_t* datum;  // "-": the value is gone
  const char* status;
};

// Each command lands where the capture reads it and, repeated, changes
// nothing; uninstall then removes what install added and nothing else.
TEST_F(Setup, CommandsAreIdempotentAndUninstallRestoresTheStart) {
  // Another port's key under the monitor and an operator's rule must stay.
  const std::wstring foreignPort = kMonitorKey + L"\\Ports\\LPT9:";
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, foreignPort.c_str(), kOutputPathValue, REG_SZ,
                            L"D:\\elsewhere", 26),
            0);
  ASSERT_EQ(e2e::Setup(L"set-prefix keep \"Copy of \"").exitCode, 0u);
  const auto before = Snapshot();
  const std::wstring portKey = kPortsKey + kPort;
  const Command commands[] = {
      // clang-format off
      {L"install --output-folder C:\\e2e-out", portKey, kOutputPathValue, L"C:\\e2e-out", "output folder C:\\e2e-out"},
      {L"install --output-folder C:\\e2e-moved", portKey, kOutputPathValue, L"C:\\e2e-moved", "output folder C:\\e2e-moved"},
      {L"add-printer \"Second Capture\" --output-folder C:\\e2e-out2", portKey, kOutputPathValue, L"C:\\e2e-moved", "output folder C:\\e2e-out2"},
      {L"set-prefix draft \"Draft - \"", kPrefixKey, L"draft", L"Draft - ", "prefix rule \"draft\": \"Draft - \""},
      {L"set-interpret-title off", kSpoolerKey, kInterpretTitleValue, L"0", "InterpretTitle: off\n"},
      {L"set-interpret-title default", kSpoolerKey, kInterpretTitleValue, L"-", "InterpretTitle: on (default)"},
      {L"set-prefix --remove draft", kPrefixKey, L"draft", L"-", "prefix rule \"keep\""},
      {L"set-hard-links off", kSpoolerKey, kHardLinksValue, L"0", "HardLinks: off\n"},
      {L"set-hard-links default", kSpoolerKey, kHardLinksValue, L"-", "HardLinks: on (default)"},
      {L"log on C:\\e2e-log\\capture.log", kSpoolerKey, kCaptureLogValue, L"C:\\e2e-log\\capture.log", "CaptureLog: on, C:\\e2e-log\\capture.log"},
      {L"log off", kSpoolerKey, kCaptureLogValue, L"-", "CaptureLog: off"},
      // clang-format on
  };
  for (const Command& command : commands) {
    SCOPED_TRACE(Utf8(command.line));
    const RunResult first = e2e::Setup(command.line);
    ASSERT_EQ(first.exitCode, 0u) << first.output;
    EXPECT_EQ(RegValue(command.key, command.value), command.datum);
    const auto once = Snapshot();
    ASSERT_EQ(e2e::Setup(command.line).exitCode, 0u);
    EXPECT_EQ(Snapshot(), once);
    const RunResult status = e2e::Setup(L"status");
    EXPECT_TRUE(Contains(status.output, command.status)) << status.output;
  }
  std::vector<BYTE> buffer;
  const std::vector<PRINTER_INFO_2W> printers = Printers(&buffer);
  int ours = 0;
  for (const PRINTER_INFO_2W& printer : printers) {
    ours += std::wstring(printer.pPrintProcessor) == L"HalvekPrint";
    // RAW only, and printing starts once the job is wholly spooled (links).
    EXPECT_TRUE(std::wstring(printer.pPrintProcessor) != L"HalvekPrint" ||
                (printer.Attributes & kCaptureQueueAttributes) == kCaptureQueueAttributes);
    if (std::wstring(printer.pPrinterName) != L"Second Capture") continue;
    EXPECT_LE(wcslen(printer.pPortName), 15u);
    EXPECT_EQ(RegValue(kPortsKey + printer.pPortName, kOutputPathValue), L"C:\\e2e-out2");
  }
  EXPECT_EQ(ours, 2);  // the reinstall kept one default printer
  ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(FileExists(ProcessorDll()));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMonitorKey.c_str());
  e2e::Setup(L"set-prefix --clear");
}

// A processor the spooler holds loaded: an identical one is left in place, a
// changed one or an uninstall asks for a spooler restart, not for rights.
TEST_F(Setup, LoadedProcessorIsKeptWhenUnchangedAndNamedWhenItCannotBeReplaced) {
  InstallDefault();
  const std::wstring changedFolder = L"C:\\e2e-changed";
  CreateDirectoryW(changedFolder.c_str(), nullptr);
  std::string dll;
  ASSERT_TRUE(ReadFileBytes(tools::ModuleFolder() + L"\\halvekprint.dll", &dll));
  ASSERT_TRUE(WriteFileBytes(changedFolder + L"\\halvekprint.dll", dll + "changed"));
  UniqueFile held(CreateFileW(ProcessorDll().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  const struct {
    std::wstring arguments;
    DWORD exitCode;
    const char* message;
  } cases[] = {
      {L"install --output-folder C:\\e2e-out", 0, "installed"},
      {L"install --output-folder C:\\e2e-out --from " + changedFolder, 1, "restart it"},
      {L"uninstall", 1, "restart it"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(Utf8(c.arguments));
    const RunResult result = e2e::Setup(c.arguments);
    EXPECT_EQ(result.exitCode, c.exitCode) << result.output;
    EXPECT_TRUE(Contains(result.output, c.message)) << result.output;
    EXPECT_FALSE(Contains(result.output, "administrator")) << result.output;
  }
  held.reset();
  EXPECT_EQ(e2e::Setup(L"uninstall").exitCode, 0u);
  DeleteFileW((changedFolder + L"\\halvekprint.dll").c_str());
  RemoveDirectoryW(changedFolder.c_str());
}

}  // namespace
}  // namespace e2e
