// halvek-setup against Wine's spooler and registry.
#include "platform/registry_names.h"
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

std::wstring ProcessorFolderFile(const wchar_t* name) {
  WCHAR folder[MAX_PATH] = {};
  DWORD neededBytes = 0;
  WCHAR environment[] = L"Windows x64";
  GetPrintProcessorDirectoryW(nullptr, environment, 1, reinterpret_cast<BYTE*>(folder),
                              sizeof(folder) - sizeof(WCHAR), &neededBytes);
  return std::wstring(folder) + L"\\" + name;
}

std::wstring ProcessorDll() {
  return ProcessorFolderFile(L"halvekprint.dll");
}

bool Registered() {
  return tools::ContainsNoCase(tools::PrintProcessorNames(L"Windows x64"), L"HalvekPrint");
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
  DumpRegTree(kHalvekMonitorKey, &state);
  DumpRegTree(L"Software\\Halvek", &state);
  std::sort(state.begin(), state.end());
  return state;
}

class Setup : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u); }
};

TEST_F(Setup, InstallWritesEverythingTheCaptureReads) {
  InstallDefault();
  EXPECT_TRUE(Registered());
  EXPECT_TRUE(FileExists(ProcessorDll()));
  EXPECT_TRUE(tools::ContainsNoCase(tools::PortNames(), kPort));
  std::vector<BYTE> buffer;
  int ours = 0;
  for (const PRINTER_INFO_2W& printer : Printers(&buffer)) {
    if (std::wstring(printer.pPrinterName) != kPrinter) continue;
    ++ours;
    EXPECT_EQ(std::wstring(printer.pPortName), kPort);
    EXPECT_EQ(std::wstring(printer.pPrintProcessor), L"HalvekPrint");
    EXPECT_EQ(std::wstring(printer.pDatatype), L"RAW");
    const DWORD wanted = PRINTER_ATTRIBUTE_RAW_ONLY | PRINTER_ATTRIBUTE_QUEUED;
    EXPECT_EQ(printer.Attributes & wanted, wanted);
  }
  EXPECT_EQ(ours, 1);
  // The processor finds the library beside itself.
  EXPECT_TRUE(FileExists(ProcessorFolderFile(L"ostralib.dll")));
  // The capture finds its folder through the printer's port, in buffers of
  // 32 bytes for the port and 260 for the path.
  const std::wstring port = RegValue(std::wstring(::kPrintersKey) + L"\\" + kPrinter, kPortValue);
  EXPECT_EQ(port, kPort);
  EXPECT_LT(port.size() * sizeof(WCHAR), kPortValueBytes);
  EXPECT_EQ(RegValue(kPortsKey + port, kOutputPathValue), kOutputFolder);
  EXPECT_NE(GetFileAttributesW(kOutputFolder) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  const RunResult status = e2e::Setup(L"status");
  EXPECT_EQ(status.exitCode, 0u);
  EXPECT_TRUE(Contains(status.output, "state: installed")) << status.output;
  EXPECT_TRUE(Contains(status.output, "output folder C:\\e2e-out")) << status.output;
}

struct Command {
  const wchar_t* line;
  std::wstring key;
  const wchar_t* value;
  const wchar_t* datum;  // "-": the value is gone
  const char* status;
};

TEST_F(Setup, EachCommandLandsWhereTheCaptureReadsItAndRepeatsAsANoOp) {
  const std::wstring portKey = kPortsKey + kPort;
  const Command commands[] = {
      {L"install --output-folder C:\\e2e-out", portKey, kOutputPathValue, L"C:\\e2e-out",
       "output folder C:\\e2e-out"},
      {L"install --output-folder C:\\e2e-moved", portKey, kOutputPathValue, L"C:\\e2e-moved",
       "output folder C:\\e2e-moved"},
      {L"add-printer \"Second Capture\" --output-folder C:\\e2e-out2", portKey, kOutputPathValue,
       L"C:\\e2e-moved", "output folder C:\\e2e-out2"},
      {L"set-prefix draft \"Draft - \"", kPrefixKey, L"draft", L"Draft - ",
       "prefix rule \"draft\": \"Draft - \""},
      {L"set-interpret-title off", kSpoolerKey, kInterpretTitleValue, L"0",
       "InterpretTitle: off\n"},
      {L"set-interpret-title on", kSpoolerKey, kInterpretTitleValue, L"1", "InterpretTitle: on\n"},
      {L"set-interpret-title default", kSpoolerKey, kInterpretTitleValue, L"-",
       "InterpretTitle: on (default)"},
      {L"set-prefix --remove draft", kPrefixKey, L"draft", L"-", "no prefix rules"},
      {L"set-hard-links off", kSpoolerKey, kHardLinksValue, L"0", "HardLinks: off\n"},
      {L"set-hard-links on", kSpoolerKey, kHardLinksValue, L"1", "HardLinks: on\n"},
      {L"set-hard-links default", kSpoolerKey, kHardLinksValue, L"-", "HardLinks: on (default)"},
      {L"log on C:\\e2e-log\\capture.log", kSpoolerKey, kCaptureLogValue,
       L"C:\\e2e-log\\capture.log", "CaptureLog: on, C:\\e2e-log\\capture.log"},
      {L"log off", kSpoolerKey, kCaptureLogValue, L"-", "CaptureLog: off"},
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
  int ours = 0;
  for (const PRINTER_INFO_2W& printer : Printers(&buffer)) {
    ours += std::wstring(printer.pPrintProcessor) == L"HalvekPrint";
    if (std::wstring(printer.pPrinterName) != L"Second Capture") continue;
    EXPECT_LT(wcslen(printer.pPortName) * sizeof(WCHAR), kPortValueBytes);
    EXPECT_EQ(RegValue(kPortsKey + printer.pPortName, kOutputPathValue), L"C:\\e2e-out2");
  }
  EXPECT_EQ(ours, 2);  // the reinstall kept one default printer
}

TEST_F(Setup, UninstallRemovesWhatInstallAddedAndNothingElse) {
  // Another port's key under the monitor and an operator's rule must stay.
  const std::wstring foreignPort = kPortsKey + L"LPT9:";
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, foreignPort.c_str(), kOutputPathValue, REG_SZ,
                            L"D:\\elsewhere", 26),
            0);
  ASSERT_EQ(e2e::Setup(L"set-prefix keep \"Copy of \"").exitCode, 0u);
  const auto before = Snapshot();
  InstallDefault();
  ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(Registered());
  EXPECT_FALSE(FileExists(ProcessorDll()));
  EXPECT_EQ(RegValue(foreignPort, kOutputPathValue), L"D:\\elsewhere");
  EXPECT_TRUE(Contains(e2e::Setup(L"status").output, "state: not installed"));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHalvekMonitorKey);
  e2e::Setup(L"set-prefix --clear");
}

TEST_F(Setup, FailuresExitNonZeroWithAReasonAndChangeNothing) {
  const struct {
    std::wstring arguments;
    DWORD exitCode;
    const char* message;
  } cases[] = {
      {L"frobnicate", 2, "usage:"},
      {L"install --port C:\\much-too-long.prn", 2, "must have 1 to 15 characters"},
      {L"install --output-folder C:\\" + std::wstring(140, L'f'), 2, "must have 1 to"},
      {L"add-printer Lonely --output-folder C:\\e2e-x", 1, "run halvek-setup install first"},
  };
  const auto before = Snapshot();
  for (const auto& bad : cases) {
    SCOPED_TRACE(Utf8(bad.arguments));
    const RunResult result = e2e::Setup(bad.arguments);
    EXPECT_EQ(result.exitCode, bad.exitCode) << result.output;
    EXPECT_TRUE(Contains(result.output, bad.message)) << result.output;
  }
  EXPECT_EQ(Snapshot(), before);
}

// The spooler keeps the installed DLLs loaded; a held file stands in for that.
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

TEST_F(Setup, PrinterOfAnotherProcessorIsNotTakenOver) {
  InstallDefault();
  PRINTER_INFO_2W info = {};
  info.pPrinterName = const_cast<WCHAR*>(L"Plain Printer");
  info.pPortName = const_cast<WCHAR*>(L"FILE:");
  info.pDriverName = const_cast<WCHAR*>(L"Halvek Capture Driver");
  info.pPrintProcessor = const_cast<WCHAR*>(L"winprint");
  info.pDatatype = const_cast<WCHAR*>(L"RAW");
  UniquePrinter printer(AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info)));
  ASSERT_TRUE(printer.valid()) << GetLastError();
  const RunResult taken = e2e::Setup(L"add-printer \"Plain Printer\" --output-folder C:\\e2e-p");
  EXPECT_EQ(taken.exitCode, 1u);
  EXPECT_TRUE(Contains(taken.output, "uses the print processor \"winprint\"")) << taken.output;
  DeletePrinter(printer.get());
}

}  // namespace
}  // namespace e2e
