#include "tests/capture/capture_fixture.h"

#include "capture/settings.h"
#include "spooler/context.h"

namespace sd = spooler_double;

void CaptureTest::SetUp() {
  sd::Reset();
  sd::AddPrinter(kCapturePrinter);
  ResetQueueRecorder();
  ResetOutputWrites();
  for (const WCHAR* key :
       {L"SYSTEM\\CurrentControlSet\\Control\\Print\\Printers",
        L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port", L"Software\\Halvek"}) {
    guards_.push_back(std::make_unique<ScopedRegistryValues>(HKEY_LOCAL_MACHINE, key));
  }
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, L"Software\\Halvek");

  root_ = std::make_unique<TempFolder>();
  outputFolder_ = root_->path + L"out\\";
  spoolFolder_ = root_->path + L"spool";
  ASSERT_TRUE(CreateDirectoryW(outputFolder_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(spoolFolder_.c_str(), nullptr));

  ASSERT_EQ(
      SetRegistryString(HKEY_LOCAL_MACHINE, kPrintersKey, L"DefaultSpoolDirectory", spoolFolder_),
      ERROR_SUCCESS);
  const std::wstring printerKey = std::wstring(kPrintersKey) + kCapturePrinter;
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, printerKey.c_str(), L"Port", kCapturePort),
            ERROR_SUCCESS);
  SetOutputPath(outputFolder_);
}

void CaptureTest::TearDown() {
  sd::Reset();
  root_.reset();
  while (!guards_.empty()) guards_.pop_back();
}

void CaptureTest::SetOutputPath(const std::wstring& path, DWORD type) {
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + kCapturePort;
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, portKey.c_str(), L"OutputPath", path, type),
            ERROR_SUCCESS);
}

void CaptureTest::SetInterpretTitle(DWORD value) {
  ASSERT_EQ(SetRegistryValue(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, L"InterpretTitle", REG_DWORD,
                             &value, sizeof(value)),
            ERROR_SUCCESS);
}

std::wstring CaptureTest::JobName(LONG jobId) {
  return std::wstring(kCapturePrinter) + L", Job " + std::to_wstring(jobId);
}

std::wstring CaptureTest::SpoolFilePath(LONG jobId) const {
  WCHAR name[32];
  wsprintfW(name, L"%05d.SPL", jobId);
  return spoolFolder_ + L"\\" + name;
}

HANDLE CaptureTest::OpenJob(const CaptureRequest& request) {
  sd::AddJob(JobName(request.jobId), request.bytes, request.maxChunkBytes);
  if (request.spoolFile) {
    EXPECT_TRUE(WriteNewFile(SpoolFilePath(request.jobId), request.bytes));
  }
  std::wstring datatype = request.datatype;
  std::wstring documentName = request.documentName;
  PRINTPROCESSOROPENDATA openData = {};
  openData.pDatatype = &datatype[0];
  openData.pDocumentName = documentName.empty() ? nullptr : &documentName[0];
  openData.JobId = static_cast<DWORD>(request.jobId);
  return OpenPrintProcessor(const_cast<WCHAR*>(kCapturePrinter), &openData);
}

BOOL CaptureTest::Capture(const CaptureRequest& request) {
  HANDLE handle = OpenJob(request);
  EXPECT_NE(handle, nullptr);
  if (!handle) return FALSE;
  std::wstring jobName = JobName(request.jobId);
  const BOOL result = PrintDocumentOnPrintProcessor(handle, &jobName[0]);
  const DWORD error = GetLastError();
  EXPECT_TRUE(ClosePrintProcessor(handle));
  SetLastError(error);
  return result;
}

std::vector<OutputFile> CaptureTest::OutputFiles() const {
  std::vector<OutputFile> files;
  for (const std::wstring& name : ListFolder(outputFolder_)) {
    files.push_back({name, ReadWholeFile(outputFolder_ + name)});
  }
  return files;
}

std::vector<std::wstring> CaptureTest::PortPaths() const {
  std::vector<std::wstring> paths;
  for (const sd::PrinterDocument& document : sd::Documents()) {
    EXPECT_EQ(document.name, L"Job Ticket Link");
    EXPECT_TRUE(document.ended);
    EXPECT_EQ(document.data.size() % 2, 0u);
    paths.emplace_back(reinterpret_cast<const WCHAR*>(document.data.data()),
                       document.data.size() / 2);
  }
  return paths;
}

std::string JobBytes(size_t sizeBytes, unsigned seed) {
  std::string bytes(sizeBytes, '\0');
  unsigned state = seed * 2654435761u + 1;
  for (size_t i = 0; i < sizeBytes; ++i) {
    state = state * 1103515245u + 12345u;
    bytes[i] = static_cast<char>(state >> 16);
  }
  return bytes;
}

std::wstring Widen(const std::string& ascii) {
  return std::wstring(ascii.begin(), ascii.end());
}
