// halvek-setup against Wine's spooler and registry.
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

const std::wstring kMonitorKey = ::kHalvekMonitorKey;

std::wstring ProcessorDll() {
  WCHAR folder[MAX_PATH] = {};
  DWORD neededBytes = 0;
  WCHAR environment[] = L"Windows x64";
  GetPrintProcessorDirectoryW(nullptr, environment, 1, reinterpret_cast<BYTE*>(folder),
                              sizeof(folder) - sizeof(WCHAR), &neededBytes);
  return std::wstring(folder) + L"\\halvekprint.dll";
}

// A value of the snapshot's registry lines, or "-" when missing.
std::wstring Value(const std::vector<std::wstring>& state, const std::wstring& key,
                   const wchar_t* name) {
  const std::wstring start = key + L"=" + name + L":";
  for (const std::wstring& line : state) {
    if (line.compare(0, start.size(), start) == 0) return line.substr(start.size());
  }
  return L"-";
}

class Setup : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u); }
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
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + L"\\" + kPort;
  const std::wstring settingsKey = kSpoolerSettingsKey;
  const struct {
    const wchar_t* line;
    std::wstring key;
    const wchar_t* value;
    const wchar_t* datum;  // "-": the value is gone
    const char* status;
  } commands[] = {
      // clang-format off
      {L"install --output-folder C:\\e2e-out", portKey, kOutputPathValue, L"C:\\e2e-out", "output folder C:\\e2e-out"},
      {L"install --output-folder C:\\e2e-moved", portKey, kOutputPathValue, L"C:\\e2e-moved", "output folder C:\\e2e-moved"},
      {L"add-printer \"Second Capture\" --output-folder C:\\e2e-out2", portKey, kOutputPathValue, L"C:\\e2e-moved", "output folder C:\\e2e-out2"},
      {L"set-prefix draft \"Draft - \"", kPrefixKey, L"draft", L"Draft - ", "prefix rule \"draft\": \"Draft - \""},
      {L"set-interpret-title off", settingsKey, kInterpretTitleValue, L"0", "InterpretTitle: off\n"},
      {L"set-interpret-title default", settingsKey, kInterpretTitleValue, L"-", "InterpretTitle: on (default)"},
      {L"set-prefix --remove draft", kPrefixKey, L"draft", L"-", "prefix rule \"keep\""},
      {L"set-hard-links off", settingsKey, kHardLinksValue, L"0", "HardLinks: off\n"},
      {L"set-hard-links default", settingsKey, kHardLinksValue, L"-", "HardLinks: on (default)"},
      {L"log on C:\\e2e-log\\capture.log", settingsKey, kCaptureLogValue, L"C:\\e2e-log\\capture.log", "CaptureLog: on, C:\\e2e-log\\capture.log"},
      {L"log off", settingsKey, kCaptureLogValue, L"-", "CaptureLog: off"},
      // clang-format on
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(Utf8(command.line));
    const RunResult first = e2e::Setup(command.line);
    ASSERT_EQ(first.exitCode, 0u) << first.output;
    const auto once = Snapshot();
    EXPECT_EQ(Value(once, command.key, command.value), command.datum);
    ASSERT_EQ(e2e::Setup(command.line).exitCode, 0u);
    EXPECT_EQ(Snapshot(), once);
    const RunResult status = e2e::Setup(L"status");
    EXPECT_TRUE(Contains(status.output, command.status)) << status.output;
  }
  // The reinstall kept one default printer; both take RAW only and print a
  // job once it is wholly spooled (a link needs the whole spool file).
  const auto installed = Snapshot();
  EXPECT_EQ(std::count_if(installed.begin(), installed.end(),
                          [](const std::wstring& line) {
                            const DWORD attributes =
                                PRINTER_ATTRIBUTE_RAW_ONLY | PRINTER_ATTRIBUTE_QUEUED;
                            return line.find(L"|HalvekPrint|") != std::wstring::npos &&
                                   (std::wcstoul(&line[line.rfind(L'|') + 1], nullptr, 10) &
                                    attributes) == attributes;
                          }),
            2);
  ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(tools::FileExists(ProcessorDll()));
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
