#include "capture/settings.h"

#include <cwchar>

#include "tests/capture/capture_fixture.h"

namespace {

class SettingsTest : public CaptureTest {};

TEST_F(SettingsTest, LoadsEveryFieldFromNameAndRegistry) {
  CaptureSettings settings;
  LoadCaptureSettings(L"Halvek Cap, Job 42", &settings);
  EXPECT_STREQ(settings.printerName, L"Halvek Cap");
  EXPECT_EQ(settings.jobId, 42);
  EXPECT_EQ(settings.spoolDirectory, spoolFolder_);
  EXPECT_STREQ(settings.portName, kCapturePort);
  EXPECT_EQ(settings.outputFolder, outputFolder_);
  EXPECT_STREQ(settings.spoolFileName, L"00042.SPL");
  EXPECT_EQ(settings.wchSourceLinkPath, spoolFolder_ + L"\\00042.SPL");
  EXPECT_EQ(settings.wchDestinationLinkPath, outputFolder_ + L"\\Temp00042.SPL");
  EXPECT_EQ(MissingCaptureSetting(settings), nullptr);
}

TEST_F(SettingsTest, JobNumberAndSpoolFileName) {
  struct Case {
    const WCHAR* documentName;
    LONG jobId;
    const WCHAR* spoolFile;
  } cases[] = {
      {L"Halvek Cap, Job 7", 7, L"00007.SPL"},
      {L"Halvek Cap, Job 123456", 123456, L"123456.SPL"},
      {L"Halvek Cap, Job 0042x", 42, L"00042.SPL"},
      {L"Halvek Cap, Job", 0, L"00000.SPL"},
      {L"Halvek Cap, Job abc", 0, L"00000.SPL"},
  };
  for (const Case& c : cases) {
    CaptureSettings settings;
    LoadCaptureSettings(c.documentName, &settings);
    EXPECT_EQ(settings.jobId, c.jobId) << c.documentName;
    EXPECT_STREQ(settings.spoolFileName, c.spoolFile) << c.documentName;
    EXPECT_STREQ(settings.printerName, L"Halvek Cap") << c.documentName;
  }
}

TEST_F(SettingsTest, OnlyTheLastCommaSplitsThePrinterName) {
  const std::wstring printerKey = std::wstring(kPrintersKey) + L"Floor 3, Room 12";
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, printerKey.c_str(), L"Port", kCapturePort),
            ERROR_SUCCESS);
  CaptureSettings settings;
  LoadCaptureSettings(L"Floor 3, Room 12, Job 9", &settings);
  EXPECT_STREQ(settings.printerName, L"Floor 3, Room 12");
  EXPECT_EQ(settings.jobId, 9);
  EXPECT_STREQ(settings.portName, kCapturePort);
}

TEST_F(SettingsTest, OutputPathGetsExactlyOneTrailingBackslashAndIsExpanded) {
  const std::wstring bare = outputFolder_.substr(0, outputFolder_.size() - 1);
  SetEnvironmentVariableW(L"HALVEK_TEST_ROOT", root_->path.c_str());
  struct Case {
    std::wstring stored;
    DWORD type;
    std::wstring expected;
  } cases[] = {
      {bare, REG_SZ, outputFolder_},
      {outputFolder_, REG_SZ, outputFolder_},
      {L"%HALVEK_TEST_ROOT%out", REG_EXPAND_SZ, outputFolder_},
      // Expanded whatever the value's type says.
      {L"%HALVEK_TEST_ROOT%out\\", REG_SZ, outputFolder_},
  };
  for (const Case& c : cases) {
    SetOutputPath(c.stored, c.type);
    CaptureSettings settings;
    LoadCaptureSettings(L"Halvek Cap, Job 1", &settings);
    EXPECT_EQ(settings.outputFolder, c.expected) << c.stored;
  }
  SetEnvironmentVariableW(L"HALVEK_TEST_ROOT", nullptr);
}

TEST_F(SettingsTest, ValuesBeyondTheirLimitsAreNotRead) {
  // 15 characters fit the port's 32 bytes; 16 do not.
  const std::wstring longPort = L"P123456789ABCDEF";
  const std::wstring printerKey = std::wstring(kPrintersKey) + kCapturePrinter;
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, printerKey.c_str(), L"Port", longPort),
            ERROR_SUCCESS);
  CaptureSettings settings;
  LoadCaptureSettings(L"Halvek Cap, Job 1", &settings);
  EXPECT_STREQ(settings.portName, L"");
  EXPECT_STREQ(MissingCaptureSetting(settings), L"Port");

  ASSERT_EQ(
      SetRegistryString(HKEY_LOCAL_MACHINE, printerKey.c_str(), L"Port", longPort.substr(0, 15)),
      ERROR_SUCCESS);
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + longPort.substr(0, 15);
  // 129 characters fit 260 bytes; 130 do not.
  const std::wstring fits = L"C:\\" + std::wstring(126, L'a');
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, portKey.c_str(), L"OutputPath", fits),
            ERROR_SUCCESS);
  LoadCaptureSettings(L"Halvek Cap, Job 1", &settings);
  EXPECT_EQ(settings.outputFolder, fits + L"\\");
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, portKey.c_str(), L"OutputPath", fits + L"b"),
            ERROR_SUCCESS);
  LoadCaptureSettings(L"Halvek Cap, Job 1", &settings);
  EXPECT_STREQ(settings.outputFolder, L"");
  EXPECT_STREQ(MissingCaptureSetting(settings), L"OutputPath");
}

TEST_F(SettingsTest, MissingOrUnsafeSettingsAreNamed) {
  struct Case {
    const WCHAR* documentName;
    const WCHAR* outputPath;  // null: value removed
    const WCHAR* missing;     // prefix of the reason
  } cases[] = {
      {L"Halvek Cap Job 4", L"C:\\out", L"job number"},
      {L"Unknown Printer, Job 4", L"C:\\out", L"Port"},
      {L"Halvek Cap, Job 4", nullptr, L"OutputPath"},
      {L"Halvek Cap, Job 4", L"", L"OutputPath"},
      {L"Halvek Cap, Job 4", L"relative\\folder", L"OutputPath (not an absolute"},
      {L"Halvek Cap, Job 4", L"\\rooted", L"OutputPath (not an absolute"},
      {L"Halvek Cap, Job 4", L"C:", L"OutputPath (a drive root"},
      {L"Halvek Cap, Job 4", L"C:\\", L"OutputPath (a drive root"},
      {L"Halvek Cap, Job 4", L"D:", L"OutputPath (a drive root"},
      {L"Halvek Cap, Job 4", L"\\\\server\\share", nullptr},
      {L"Halvek Cap, Job 4", L"C:\\out", nullptr},
  };
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + kCapturePort;
  for (const Case& c : cases) {
    if (c.outputPath) {
      SetOutputPath(c.outputPath);
    } else {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, portKey.c_str(), L"OutputPath");
    }
    CaptureSettings settings;
    LoadCaptureSettings(c.documentName, &settings);
    const WCHAR* missing = MissingCaptureSetting(settings);
    if (!c.missing) {
      EXPECT_EQ(missing, nullptr) << c.documentName << L" " << c.outputPath;
    } else {
      ASSERT_NE(missing, nullptr) << c.documentName;
      EXPECT_EQ(std::wcsncmp(missing, c.missing, std::wcslen(c.missing)), 0)
          << c.documentName << L": " << missing;
    }
  }
}

TEST_F(SettingsTest, MissingSpoolDirectoryLeavesNoLinkSource) {
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kPrintersKey, L"DefaultSpoolDirectory");
  CaptureSettings settings;
  LoadCaptureSettings(L"Halvek Cap, Job 5", &settings);
  EXPECT_STREQ(settings.spoolDirectory, L"");
  EXPECT_STREQ(settings.wchSourceLinkPath, L"");
  EXPECT_EQ(MissingCaptureSetting(settings), nullptr);
}

TEST_F(SettingsTest, InterpretTitleReadsAsOneUnlessStored) {
  EXPECT_EQ(ReadInterpretTitle(), 1u);  // no Spooler key
  SetInterpretTitle(0);
  EXPECT_EQ(ReadInterpretTitle(), 0u);
  SetInterpretTitle(5);
  EXPECT_EQ(ReadInterpretTitle(), 5u);
  RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, L"InterpretTitle");
  EXPECT_EQ(ReadInterpretTitle(), 1u);
  // A value of the wrong size cannot be read into 4 bytes.
  const ULONGLONG wide = 0;
  ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, L"InterpretTitle", REG_QWORD,
                             &wide, sizeof(wide)),
            ERROR_SUCCESS);
  EXPECT_EQ(ReadInterpretTitle(), 1u);
}

}  // namespace
