// halvek-setup against Wine's spooler and registry.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

const std::wstring kHalvekRoot = L"Software\\Halvek";
const std::wstring kMonitorKey =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port";

using tools::ContainsNoCase;

const PrinterInfo* FindPrinter(const std::vector<PrinterInfo>& printers, const std::wstring& name) {
  for (const PrinterInfo& printer : printers) {
    if (printer.name == name) return &printer;
  }
  return nullptr;
}

// Everything the setup tool touches, to compare states.
std::vector<std::wstring> Snapshot() {
  std::vector<std::wstring> state = PrintProcessors();
  for (const std::wstring& port : Ports()) state.push_back(L"port " + port);
  for (const PrinterInfo& printer : Printers()) {
    state.push_back(L"printer " + printer.name + L"|" + printer.port + L"|" + printer.driver +
                    L"|" + printer.processor + L"|" + printer.datatype);
  }
  for (const std::wstring& line : DumpRegTree(kMonitorKey)) state.push_back(line);
  for (const std::wstring& line : DumpRegTree(kHalvekRoot)) state.push_back(line);
  return state;
}

std::wstring ProcessorDll() {
  WCHAR folder[MAX_PATH] = {};
  DWORD neededBytes = 0;
  WCHAR environment[] = L"Windows x64";
  GetPrintProcessorDirectoryW(nullptr, environment, 1, reinterpret_cast<BYTE*>(folder),
                              sizeof(folder) - sizeof(WCHAR), &neededBytes);
  return std::wstring(folder) + L"\\halvekprint.dll";
}

class Setup : public ::testing::Test {
 protected:
  void SetUp() override {
    const RunResult removed = e2e::Setup(L"uninstall");
    ASSERT_EQ(removed.exitCode, 0u) << removed.output;
  }
};

TEST_F(Setup, InstallWritesEverythingTheCaptureReads) {
  InstallDefault();
  EXPECT_TRUE(ContainsNoCase(PrintProcessors(), L"HalvekPrint"));
  EXPECT_TRUE(FileExists(ProcessorDll()));
  EXPECT_TRUE(ContainsNoCase(Ports(), kPort));
  const auto printers = Printers();
  const PrinterInfo* printer = FindPrinter(printers, kPrinter);
  ASSERT_NE(printer, nullptr);
  EXPECT_EQ(printer->port, kPort);
  EXPECT_EQ(printer->processor, L"HalvekPrint");
  EXPECT_EQ(printer->datatype, L"RAW");

  // Read with the limits the capture uses: 32 bytes for the port, 260 for
  // the output path.
  std::wstring port, outputPath, spoolFolder;
  ASSERT_TRUE(ReadRegString(std::wstring(kPrintersKey) + L"\\" + kPrinter, L"Port", &port, 32));
  EXPECT_EQ(port, kPort);
  ASSERT_TRUE(
      ReadRegString(std::wstring(kPortsKey) + L"\\" + port, L"OutputPath", &outputPath, 260));
  EXPECT_EQ(outputPath, kOutputFolder);
  EXPECT_NE(GetFileAttributesW(kOutputFolder) & FILE_ATTRIBUTE_DIRECTORY, 0u);
  ASSERT_TRUE(ReadRegString(kPrintersKey, L"DefaultSpoolDirectory", &spoolFolder, 260));
  EXPECT_EQ(_wcsicmp(spoolFolder.c_str(), SpoolFolder().c_str()), 0) << Utf8(spoolFolder);

  const RunResult status = e2e::Setup(L"status");
  EXPECT_EQ(status.exitCode, 0u);
  EXPECT_TRUE(Contains(status.output, "state: installed")) << status.output;
  EXPECT_TRUE(Contains(status.output, "output folder C:\\e2e-out")) << status.output;
}

TEST_F(Setup, EveryCommandRunTwiceGivesTheSameState) {
  const std::vector<std::wstring> commands = {
      L"install --output-folder C:\\e2e-out",
      L"add-printer \"Second Capture\" --output-folder C:\\e2e-out2",
      L"set-prefix draft \"Draft - \"",
      L"set-interpret-title off",
      L"set-prefix --remove draft",
      L"set-interpret-title default",
  };
  for (const std::wstring& command : commands) {
    SCOPED_TRACE(Utf8(command));
    const RunResult first = e2e::Setup(command);
    ASSERT_EQ(first.exitCode, 0u) << first.output;
    const auto once = Snapshot();
    const RunResult second = e2e::Setup(command);
    ASSERT_EQ(second.exitCode, 0u) << second.output;
    EXPECT_EQ(Snapshot(), once);
  }
  const auto printers = Printers();
  const PrinterInfo* second = FindPrinter(printers, L"Second Capture");
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second->port, kPort);
  EXPECT_LE(second->port.size(), 15u);
  std::wstring outputPath;
  ASSERT_TRUE(ReadRegString(std::wstring(kPortsKey) + L"\\" + second->port, L"OutputPath",
                            &outputPath, 260));
  EXPECT_EQ(outputPath, L"C:\\e2e-out2");
}

TEST_F(Setup, ReinstallMovesTheOutputFolderAndKeepsOnePrinter) {
  InstallDefault();
  const RunResult again = e2e::Setup(L"install --output-folder C:\\e2e-moved");
  ASSERT_EQ(again.exitCode, 0u) << again.output;
  std::wstring outputPath;
  ASSERT_TRUE(ReadRegString(std::wstring(kPortsKey) + L"\\" + kPort, L"OutputPath", &outputPath));
  EXPECT_EQ(outputPath, L"C:\\e2e-moved");
  int capturePrinters = 0;
  for (const PrinterInfo& printer : Printers())
    capturePrinters += printer.processor == L"HalvekPrint";
  EXPECT_EQ(capturePrinters, 1);
}

TEST_F(Setup, UninstallRemovesWhatInstallAddedAndNothingElse) {
  // Another port's key under the monitor and an operator's name rule exist
  // before the install and must outlive the uninstall.
  const std::wstring foreignPort = kMonitorKey + L"\\Ports\\LPT9:";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, foreignPort.c_str(), 0, nullptr, 0, KEY_SET_VALUE,
                            nullptr, &key, nullptr),
            0);
  const wchar_t folder[] = L"D:\\elsewhere";
  RegSetValueExW(key, L"OutputPath", 0, REG_SZ, reinterpret_cast<const BYTE*>(folder),
                 sizeof(folder));
  RegCloseKey(key);
  ASSERT_EQ(e2e::Setup(L"set-prefix keep \"Copy of \"").exitCode, 0u);
  const auto portsBefore = Ports();
  const auto printersBefore = Printers();

  InstallDefault();
  const RunResult removed = e2e::Setup(L"uninstall");
  ASSERT_EQ(removed.exitCode, 0u) << removed.output;

  EXPECT_FALSE(ContainsNoCase(PrintProcessors(), L"HalvekPrint"));
  EXPECT_FALSE(FileExists(ProcessorDll()));
  EXPECT_EQ(Ports(), portsBefore);
  EXPECT_EQ(Printers().size(), printersBefore.size());
  EXPECT_FALSE(RegKeyExists(std::wstring(kPortsKey) + L"\\" + kPort));
  EXPECT_FALSE(RegKeyExists(L"Software\\Halvek\\Vornak\\Setup"));
  std::wstring kept;
  EXPECT_TRUE(ReadRegString(foreignPort, L"OutputPath", &kept));
  EXPECT_EQ(kept, folder);
  EXPECT_TRUE(ReadRegString(kPrefixKey, L"keep", &kept));
  EXPECT_EQ(kept, L"Copy of ");
  const RunResult status = e2e::Setup(L"status");
  EXPECT_TRUE(Contains(status.output, "state: not installed")) << status.output;

  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kMonitorKey.c_str());
  RegDeleteKeyW(HKEY_LOCAL_MACHINE, kMonitorKey.c_str());
  e2e::Setup(L"set-prefix --clear");
}

TEST_F(Setup, PrefixAndInterpretTitleLandWhereTheCaptureReadsThem) {
  ASSERT_EQ(e2e::Setup(L"set-prefix draft \"Draft - \"").exitCode, 0u);
  std::wstring prefix;
  ASSERT_TRUE(ReadRegString(kPrefixKey, L"draft", &prefix, 260));
  EXPECT_EQ(prefix, L"Draft - ");

  ASSERT_EQ(e2e::Setup(L"set-interpret-title off").exitCode, 0u);
  DWORD interpret = 7;
  ASSERT_TRUE(ReadRegDword(kSpoolerKey, L"InterpretTitle", &interpret));
  EXPECT_EQ(interpret, 0u);
  ASSERT_EQ(e2e::Setup(L"set-interpret-title on").exitCode, 0u);
  ASSERT_TRUE(ReadRegDword(kSpoolerKey, L"InterpretTitle", &interpret));
  EXPECT_EQ(interpret, 1u);
  ASSERT_EQ(e2e::Setup(L"set-interpret-title default").exitCode, 0u);
  EXPECT_FALSE(ReadRegDword(kSpoolerKey, L"InterpretTitle", &interpret));

  const RunResult status = e2e::Setup(L"status");
  EXPECT_TRUE(Contains(status.output, "prefix rule \"draft\": \"Draft - \"")) << status.output;
  EXPECT_TRUE(Contains(status.output, "InterpretTitle: on (default)")) << status.output;

  ASSERT_EQ(e2e::Setup(L"set-prefix --remove draft").exitCode, 0u);
  EXPECT_FALSE(ReadRegString(kPrefixKey, L"draft", &prefix));
}

struct BadCommand {
  const wchar_t* arguments;
  DWORD exitCode;
  const char* message;
};

TEST_F(Setup, FailuresExitNonZeroWithAReason) {
  const BadCommand cases[] = {
      {L"", 2, "usage:"},
      {L"frobnicate", 2, "usage:"},
      {L"install --port C:\\much-too-long.prn", 2, "must have 1 to 15 characters"},
      {L"install --port", 2, "--port needs a value"},
      {L"install --from C:\\no-such-folder", 1, "(error 2)"},
      {L"add-printer Lonely --output-folder C:\\e2e-x", 1, "run halvek-setup install first"},
      {L"add-printer NoFolder", 2, "usage: add-printer"},
      {L"set-interpret-title maybe", 2, "usage: set-interpret-title"},
      {L"set-prefix onlylabel", 2, "usage: set-prefix"},
      {L"status extra", 2, "usage:"},
  };
  for (const BadCommand& bad : cases) {
    SCOPED_TRACE(Utf8(bad.arguments));
    const RunResult result = e2e::Setup(bad.arguments);
    EXPECT_EQ(result.exitCode, bad.exitCode) << result.output;
    EXPECT_TRUE(Contains(result.output, bad.message)) << result.output;
  }
  // A too-long output folder is refused before anything is installed.
  const RunResult longFolder =
      e2e::Setup(L"install --output-folder C:\\" + std::wstring(140, L'f'));
  EXPECT_EQ(longFolder.exitCode, 2u);
  EXPECT_FALSE(ContainsNoCase(PrintProcessors(), L"HalvekPrint"));
}

TEST_F(Setup, PrinterOfAnotherProcessorIsNotTakenOver) {
  InstallDefault();
  PRINTER_INFO_2W info = {};
  WCHAR name[] = L"Plain Printer", port[] = L"FILE:", driver[] = L"Halvek Capture Driver",
        processor[] = L"winprint", datatype[] = L"RAW";
  info.pPrinterName = name;
  info.pPortName = port;
  info.pDriverName = driver;
  info.pPrintProcessor = processor;
  info.pDatatype = datatype;
  HANDLE printer = AddPrinterW(nullptr, 2, reinterpret_cast<BYTE*>(&info));
  ASSERT_NE(printer, nullptr) << GetLastError();
  const RunResult taken =
      e2e::Setup(L"add-printer \"Plain Printer\" --output-folder C:\\e2e-plain");
  EXPECT_EQ(taken.exitCode, 1u);
  EXPECT_TRUE(Contains(taken.output, "uses the print processor \"winprint\"")) << taken.output;
  DeletePrinter(printer);
  ClosePrinter(printer);
}

}  // namespace
}  // namespace e2e
