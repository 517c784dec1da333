#include "capture/settings.h"

#include <cwchar>

#include "platform/holders.h"
#include "platform/registry_names.h"
#include "tests/capture/capture_fixture.h"

// After windows.h, which it needs.
#include <sddl.h>

namespace {

class SettingsTest : public CaptureTest {
 protected:
  CaptureSettings Load(const WCHAR* documentName = L"Halvek Cap, Job 42") {
    CaptureSettings settings;
    LoadCaptureSettings(documentName, &settings);
    return settings;
  }
  void SetPort(const std::wstring& printer, const std::wstring& port) {
    const std::wstring key = std::wstring(kPrintersKey) + L"\\" + printer;
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, key.c_str(), L"Port", port), ERROR_SUCCESS);
  }
};

TEST_F(SettingsTest, JobNumberSpoolFileAndPrinterName) {
  SetPort(L"Floor 3, Room 12", kCapturePort);
  const struct {
    const WCHAR* documentName;
    LONG jobId;
    const WCHAR* spoolFile;
    const WCHAR* printer;  // only the last comma splits
  } cases[] = {
      // clang-format off
      {L"Halvek Cap, Job 123456", 123456, L"123456.SPL", L"Halvek Cap"},
      {L"Halvek Cap, Job 0042x", 42, L"00042.SPL", L"Halvek Cap"},
      {L"Halvek Cap, Job abc", 0, L"00000.SPL", L"Halvek Cap"},
      {L"Floor 3, Room 12, Job 9", 9, L"00009.SPL", L"Floor 3, Room 12"},
      // clang-format on
  };
  for (const auto& c : cases) {
    const CaptureSettings settings = Load(c.documentName);
    EXPECT_EQ(settings.jobId, c.jobId) << c.documentName;
    EXPECT_STREQ(settings.spoolFileName, c.spoolFile) << c.documentName;
    EXPECT_STREQ(settings.printerName, c.printer) << c.documentName;
    EXPECT_STREQ(settings.portName, kCapturePort) << c.documentName;
  }
}

TEST_F(SettingsTest, OutputPathGetsExactlyOneTrailingBackslashAndIsExpanded) {
  SetEnvironmentVariableW(L"HALVEK_TEST_ROOT", root_->path.c_str());
  const std::pair<std::wstring, DWORD> cases[] = {
      {outputFolder_.substr(0, outputFolder_.size() - 1), REG_SZ},
      {outputFolder_, REG_SZ},
      {L"%HALVEK_TEST_ROOT%out", REG_EXPAND_SZ},
      {L"%HALVEK_TEST_ROOT%out\\", REG_SZ},  // expanded whatever the type says
  };
  for (const auto& c : cases) {
    SetOutputPath(c.first, c.second);
    EXPECT_EQ(Load().outputFolder, outputFolder_) << c.first;
  }
  SetEnvironmentVariableW(L"HALVEK_TEST_ROOT", nullptr);
}

TEST_F(SettingsTest, ValuesBeyondTheirLimitsAreNotRead) {
  // 15 characters fit the port's 32 bytes, 129 the output path's 260.
  const std::wstring port = L"P123456789ABCDE", path = L"C:\\" + std::wstring(126, L'a');
  SetPort(kCapturePrinter, port + L"F");
  EXPECT_STREQ(MissingCaptureSetting(Load()), L"Port");
  SetPort(kCapturePrinter, port);
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + L"\\" + port;
  for (const std::wstring& stored : {path, path + L"b"}) {
    ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, portKey.c_str(), L"OutputPath", stored),
              ERROR_SUCCESS);
    const CaptureSettings settings = Load();
    EXPECT_EQ(settings.outputFolder, stored == path ? path + L"\\" : L"");
  }
  EXPECT_STREQ(MissingCaptureSetting(Load()), L"OutputPath");
}

TEST_F(SettingsTest, MissingOrUnsafeSettingsAreNamed) {
  const struct {
    const WCHAR* documentName;
    const WCHAR* outputPath;  // null: value removed
    const WCHAR* missing;     // prefix of the reason
  } cases[] = {
      // clang-format off
      {L"Halvek Cap Job 4", L"C:\\out", L"job number"},
      {L"Unknown Printer, Job 4", L"C:\\out", L"Port"},
      {L"Halvek Cap, Job 4", nullptr, L"OutputPath"},
      {L"Halvek Cap, Job 4", L"", L"OutputPath"},
      {L"Halvek Cap, Job 4", L"relative\\folder", L"OutputPath (not an absolute"},
      {L"Halvek Cap, Job 4", L"\\rooted", L"OutputPath (not an absolute"},
      {L"Halvek Cap, Job 4", L"D:", L"OutputPath (a drive root"},
      {L"Halvek Cap, Job 4", L"C:\\", L"OutputPath (a drive root"},
      {L"Halvek Cap, Job 4", L"\\\\server\\share", nullptr},
      // clang-format on
  };
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + L"\\" + kCapturePort;
  for (const auto& c : cases) {
    if (c.outputPath) SetOutputPath(c.outputPath);
    if (!c.outputPath) RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, portKey.c_str(), L"OutputPath");
    const WCHAR* missing = MissingCaptureSetting(Load(c.documentName));
    const std::wstring got = missing ? missing : L"(none)";
    EXPECT_EQ(got.compare(0, c.missing ? wcslen(c.missing) : 6, c.missing ? c.missing : L"(none)"),
              0)
        << c.documentName << L" " << got;
  }
}

// Gives a key a DACL that only lets anyone read it, and puts the key's own
// DACL back when it goes.
class ReadOnlyKey {
 public:
  explicit ReadOnlyKey(const std::wstring& path) {
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, READ_CONTROL | WRITE_DAC, key_.put())) {
      return;
    }
    DWORD sizeBytes = sizeof(original_);
    if (RegGetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, original_, &sizeBytes)) return;
    PSECURITY_DESCRIPTOR readOnly = nullptr;
    if (ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;KR;;;WD)", SDDL_REVISION_1,
                                                             &readOnly, nullptr)) {
      locked_ = RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, readOnly) == ERROR_SUCCESS;
      LocalFree(readOnly);
    }
  }
  ~ReadOnlyKey() {
    if (locked_) RegSetKeySecurity(key_.get(), DACL_SECURITY_INFORMATION, original_);
  }
  bool locked() const { return locked_; }

 private:
  UniqueKey key_;
  BYTE original_[4096] = {};
  bool locked_ = false;
};

// The spooler's keys must be read with read access only.
TEST_F(SettingsTest, ReadsKeysThatGrantOnlyReading) {
  const ReadOnlyKey printers(kPrintersKey);
  const ReadOnlyKey printer(std::wstring(kPrintersKey) + L"\\" + kCapturePrinter);
  const ReadOnlyKey port(std::wstring(kHalvekPortsKey) + L"\\" + kCapturePort);
  ASSERT_TRUE(printers.locked() && printer.locked() && port.locked());
  UniqueKey probe;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_ALL_ACCESS, probe.put()),
            ERROR_ACCESS_DENIED);
  const CaptureSettings settings = Load(L"Halvek Cap, Job 42");
  EXPECT_EQ(settings.spoolDirectory, spoolFolder_);
  EXPECT_STREQ(settings.portName, kCapturePort);
  EXPECT_EQ(settings.outputFolder, outputFolder_);
}

}  // namespace
