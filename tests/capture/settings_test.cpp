#include "capture/settings.h"

#include <cwchar>

#include "platform/registry_names.h"
#include "tests/capture/capture_fixture.h"

// After windows.h, which it needs.
#include <sddl.h>

namespace {

class SettingsTest : public CaptureTest {};

// The job number, the printer (only the last comma splits), its port and the
// output folder, expanded and with exactly one trailing backslash; values
// beyond their limits are not read, and an output folder that could put files
// anywhere unexpected is refused.
TEST_F(SettingsTest, ReadsTheJobsSettingsAndNamesWhatIsMissingOrUnsafe) {
  const std::wstring printers = std::wstring(kPrintersKey) + L"\\";
  SetRegistryString(HKEY_LOCAL_MACHINE, (printers + L"Floor 3, Room 12").c_str(), kPortValue,
                    kCapturePort);
  // 16 characters: over the port's 32 bytes.
  SetRegistryString(HKEY_LOCAL_MACHINE, (printers + L"Long Port").c_str(), kPortValue,
                    L"P123456789ABCDEF");
  SetEnvironmentVariableW(L"HALVEK_TEST_ROOT", root_->path.c_str());
  const std::wstring out = outputFolder_, path129 = L"C:\\" + std::wstring(126, L'a');
  const struct {
    const WCHAR* documentName;
    std::wstring outputPath;  // "-": value removed
    DWORD type;
    LONG jobId;
    std::wstring folder;
    const WCHAR* missing;  // prefix of the reason; null: none
  } cases[] = {
      // clang-format off
      {L"Halvek Cap, Job 123456", out.substr(0, out.size() - 1), REG_SZ, 123456, out, nullptr},
      {L"Halvek Cap, Job 0042x", out, REG_SZ, 42, out, nullptr},
      {L"Floor 3, Room 12, Job 9", out, REG_SZ, 9, out, nullptr},
      {L"Halvek Cap, Job 4", L"%HALVEK_TEST_ROOT%out", REG_EXPAND_SZ, 4, out, nullptr},
      {L"Halvek Cap, Job 4", L"%HALVEK_TEST_ROOT%out\\", REG_SZ, 4, out, nullptr},
      {L"Halvek Cap, Job 4", path129, REG_SZ, 4, path129 + L"\\", nullptr},
      {L"Halvek Cap, Job 4", path129 + L"b", REG_SZ, 4, L"", L"OutputPath"},
      {L"Halvek Cap, Job 4", L"\\\\server\\share", REG_SZ, 4, L"\\\\server\\share\\", nullptr},
      {L"Halvek Cap Job 4", out, REG_SZ, 0, L"", L"job number"},
      {L"Unknown Printer, Job 4", out, REG_SZ, 4, L"", L"Port"},
      {L"Long Port, Job 4", out, REG_SZ, 4, L"", L"Port"},
      {L"Halvek Cap, Job 4", L"-", REG_SZ, 4, L"", L"OutputPath"},
      {L"Halvek Cap, Job 4", L"", REG_SZ, 4, L"", L"OutputPath"},
      {L"Halvek Cap, Job 4", L"relative\\folder", REG_SZ, 4, L"relative\\folder\\", L"OutputPath (not an absolute"},
      {L"Halvek Cap, Job 4", L"\\rooted", REG_SZ, 4, L"\\rooted\\", L"OutputPath (not an absolute"},
      {L"Halvek Cap, Job 4", L"D:", REG_SZ, 4, L"D:\\", L"OutputPath (a drive root"},
      {L"Halvek Cap, Job 4", L"C:\\", REG_SZ, 4, L"C:\\", L"OutputPath (a drive root"},
      // clang-format on
  };
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + L"\\" + kCapturePort;
  for (const auto& c : cases) {
    SetOutputPath(c.outputPath, c.type);
    if (c.outputPath == L"-")
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, portKey.c_str(), kOutputPathValue);
    CaptureSettings settings;
    LoadCaptureSettings(c.documentName, &settings);
    EXPECT_EQ(settings.jobId, c.jobId) << c.documentName;
    EXPECT_EQ(settings.outputFolder, c.folder) << c.documentName << L" " << c.outputPath;
    const WCHAR* missing = MissingCaptureSetting(settings);
    EXPECT_TRUE(c.missing ? missing && wcsncmp(missing, c.missing, wcslen(c.missing)) == 0
                          : !missing)
        << c.documentName << L" " << c.outputPath << L": " << (missing ? missing : L"(none)");
  }
  SetEnvironmentVariableW(L"HALVEK_TEST_ROOT", nullptr);
}

// The spooler's keys must be read with read access only: each is given a
// DACL that only lets anyone read it, and its own DACL back afterwards.
TEST_F(SettingsTest, ReadsKeysThatGrantOnlyReading) {
  const std::wstring paths[] = {kPrintersKey, std::wstring(kPrintersKey) + L"\\" + kCapturePrinter,
                                std::wstring(kHalvekPortsKey) + L"\\" + kCapturePort};
  PSECURITY_DESCRIPTOR readOnly = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
      L"D:P(A;;KR;;;WD)", SDDL_REVISION_1, &readOnly, nullptr));
  UniqueKey keys[3];
  BYTE dacls[3][4096] = {};
  const ScopeGuard unlock([&] {
    for (int i = 0; i < 3; ++i)
      RegSetKeySecurity(keys[i].get(), DACL_SECURITY_INFORMATION, dacls[i]);
    LocalFree(readOnly);
  });
  for (int i = 0; i < 3; ++i) {
    DWORD sizeBytes = sizeof(dacls[i]);
    ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, paths[i].c_str(), 0, READ_CONTROL | WRITE_DAC,
                            keys[i].put()),
              ERROR_SUCCESS);
    ASSERT_EQ(RegGetKeySecurity(keys[i].get(), DACL_SECURITY_INFORMATION, dacls[i], &sizeBytes),
              ERROR_SUCCESS);
    ASSERT_EQ(RegSetKeySecurity(keys[i].get(), DACL_SECURITY_INFORMATION, readOnly), ERROR_SUCCESS);
  }
  UniqueKey probe;
  ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPrintersKey, 0, KEY_ALL_ACCESS, probe.put()),
            ERROR_ACCESS_DENIED);
  CaptureSettings settings;
  LoadCaptureSettings(L"Halvek Cap, Job 42", &settings);
  EXPECT_EQ(settings.spoolDirectory, spoolFolder_);
  EXPECT_STREQ(settings.portName, kCapturePort);
  EXPECT_EQ(settings.outputFolder, outputFolder_);
}

}  // namespace
