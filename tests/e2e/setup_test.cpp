// halvek-setup against Wine's spooler and registry.
#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

const std::wstring kProcessorDll =
    tools::SystemFolder() + L"\\spool\\prtprocs\\x64\\halvekprint.dll";

class Setup : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u); }
};

// Each command lands where the capture reads it and, repeated, changes
// nothing; uninstall then removes what install added and nothing else.
TEST_F(Setup, CommandsAreIdempotentAndUninstallRestoresTheStart) {
  // Another port's key under the monitor and an operator's rule must stay.
  const std::wstring foreignPort = std::wstring(kHalvekMonitorKey) + L"\\Ports\\LPT9:";
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, foreignPort.c_str(), kOutputPathValue, REG_SZ,
                            L"D:\\elsewhere", 26),
            0);
  ASSERT_EQ(e2e::Setup(L"set-prefix keep \"Copy of \"").exitCode, 0u);
  const auto before = Snapshot();
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + L"\\" + kPort;
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
      {L"set-interpret-title off", kSpoolerSettingsKey, kInterpretTitleValue, L"0", "InterpretTitle: off\n"},
      {L"set-interpret-title default", kSpoolerSettingsKey, kInterpretTitleValue, L"-", "InterpretTitle: on (default)"},
      {L"set-prefix --remove draft", kPrefixKey, L"draft", L"-", "prefix rule \"keep\""},
      {L"log on C:\\e2e-log\\capture.log", kSpoolerSettingsKey, kCaptureLogValue, L"C:\\e2e-log\\capture.log", "CaptureLog: on, C:\\e2e-log\\capture.log"},
      {L"log off", kSpoolerSettingsKey, kCaptureLogValue, L"-", "CaptureLog: off"},
      // clang-format on
  };
  for (const auto& command : commands) {
    SCOPED_TRACE(Utf8(command.line));
    const RunResult first = e2e::Setup(command.line);
    ASSERT_EQ(first.exitCode, 0u) << first.output;
    const auto once = Snapshot();
    const auto found = once.find(command.key + L"=" + command.value);
    EXPECT_EQ(found == once.end() ? L"-" : found->second, command.datum);
    ASSERT_EQ(e2e::Setup(command.line).exitCode, 0u);
    EXPECT_EQ(Snapshot(), once);
    const RunResult status = e2e::Setup(L"status");
    EXPECT_TRUE(Contains(status.output, command.status)) << status.output;
  }
  // The reinstall kept one default printer; both take RAW only and print a
  // job once it is wholly spooled (a link needs the whole spool file).
  const auto installed = Snapshot();
  const DWORD rawQueued = PRINTER_ATTRIBUTE_RAW_ONLY | PRINTER_ATTRIBUTE_QUEUED;
  EXPECT_EQ(std::count_if(installed.begin(), installed.end(),
                          [&](const State::value_type& entry) {
                            return Contains(Utf8(entry.first), "|HalvekPrint|") &&
                                   (std::stoul(entry.second) & rawQueued) == rawQueued;
                          }),
            2);
  ASSERT_EQ(e2e::Setup(L"uninstall").exitCode, 0u);
  EXPECT_EQ(Snapshot(), before);
  EXPECT_FALSE(tools::FileExists(kProcessorDll));
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kHalvekMonitorKey);
}
// A processor the spooler holds loaded: an identical one is left in place, a
// changed one or an uninstall asks for a spooler restart, not for rights.
TEST_F(Setup, LoadedProcessorIsKeptWhenUnchangedAndNamedWhenItCannotBeReplaced) {
  ASSERT_EQ(e2e::Setup(L"install --output-folder C:\\e2e-out").exitCode, 0u);
  TempFolder changed;
  ASSERT_TRUE(WriteFileBytes(changed.path + L"halvekprint.dll",
                             ReadWholeFile(tools::ModuleFolder() + L"\\halvekprint.dll") + "x"));
  UniqueFile held(CreateFileW(kProcessorDll.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr));
  ASSERT_TRUE(held.valid());
  const struct {
    std::wstring arguments;
    DWORD exitCode;
    const char* message;
  } cases[] = {
      {L"install --output-folder C:\\e2e-out", 0, "installed"},
      {L"install --output-folder C:\\e2e-out --from " +
           Quote(changed.path.substr(0, changed.path.size() - 1)),
       1, "restart it"},
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
}

}  // namespace
}  // namespace e2e
