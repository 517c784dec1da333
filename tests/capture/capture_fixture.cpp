#include "tests/capture/capture_fixture.h"

#include <atomic>
#include <mutex>

#include "capture/capture.h"
#include "capture/settings.h"
#include "platform/ostralib.h"

namespace {
std::mutex recorderLock;
std::vector<RecordedMessage> recorded;
std::atomic<unsigned> writeCount{0}, failFrom{0};
std::atomic<DWORD> failError{0};
}  // namespace

std::vector<RecordedMessage> RecordedMessages() {
  std::lock_guard<std::mutex> guard(recorderLock);
  return recorded;
}

std::vector<DWORD> RecordedCommands(LONG jobId) {
  std::vector<DWORD> commands;
  for (const auto& m : RecordedMessages()) commands.push_back(m.jobId == jobId ? m.command : 0);
  return commands;
}

void FailOutput(unsigned nth, DWORD error) {
  failError = error;
  failFrom = nth;
}

unsigned OutputWriteCount() {
  return writeCount;
}

BOOL WriteOutputBytes(HANDLE file, const BYTE* data, DWORD sizeBytes) {
  const unsigned number = ++writeCount;
  const bool fail = failFrom != 0 && number >= failFrom;
  DWORD writtenBytes = 0;
  const BOOL wrote =
      WriteFile(file, data, fail ? sizeBytes / 2 : sizeBytes, &writtenBytes, nullptr);
  if (fail) SetLastError(failError);
  return !fail && wrote && writtenBytes == sizeBytes;
}

BOOL FlushOutput(HANDLE file) {
  const bool fail = failFrom == 0 && failError != 0;
  if (fail) SetLastError(failError);
  return !fail && FlushFileBuffers(file);
}

extern "C" {

BOOL WINAPI MsgQueCreate(const WCHAR* /*queueName*/, DWORD /*mode*/, MsgQueHandle* queue) {
  *queue = reinterpret_cast<MsgQueHandle>(static_cast<ULONG_PTR>(0x51));
  return TRUE;
}

void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  return GlobalAlloc(GMEM_FIXED, sizeBytes);
}

BOOL WINAPI MsgQueSendMessage(MsgQueHandle /*queue*/, void* block) {
  const auto* header = static_cast<const SpoolingMessage*>(block);
  RecordedMessage message = {header->command, header->jobId, L"", 0};
  if (header->command == kStart) {
    const auto* start = static_cast<const SpoolingStartMessage*>(block);
    message.path.assign(start->outputPath, wcsnlen(start->outputPath, MAX_PATH));
  } else if (header->command == kProgress) {
    message.bytesSoFar = static_cast<const SpoolingProgressMessage*>(block)->bytesSoFar;
  }
  std::lock_guard<std::mutex> guard(recorderLock);
  recorded.push_back(message);
  return TRUE;
}

BOOL WINAPI MsgQueFree(void* block) {
  return GlobalFree(block) == nullptr;
}

BOOL WINAPI MsgQueDelete(MsgQueHandle /*queue*/) {
  return TRUE;
}

}  // extern "C"

void CaptureTest::Reset() {
  sd::Reset();
  sd::AddPrinter(kCapturePrinter);
  RegDeleteTreeW(HKEY_LOCAL_MACHINE, kVendorKey);
  if (root_) {
    for (const std::wstring& name : OutputNames()) DeleteFileW((outputFolder_ + name).c_str());
  }
  std::lock_guard<std::mutex> guard(recorderLock);
  recorded.clear();
  writeCount = failFrom = 0;
  failError = 0;
}

void CaptureTest::SetUp() {
  for (const WCHAR* key : {kPrintersKey, kHalvekMonitorKey, kVendorKey}) {
    guards_.push_back(std::make_unique<ScopedRegistryValues>(HKEY_LOCAL_MACHINE, key));
  }
  Reset();
  root_ = std::make_unique<TempFolder>();
  outputFolder_ = root_->path + L"out\\";
  spoolFolder_ = root_->path + L"spool";
  ASSERT_TRUE(CreateDirectoryW(outputFolder_.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryW(spoolFolder_.c_str(), nullptr));
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, kPrintersKey, kDefaultSpoolDirectoryValue,
                              spoolFolder_),
            ERROR_SUCCESS);
  const std::wstring printerKey = std::wstring(kPrintersKey) + L"\\" + kCapturePrinter;
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, printerKey.c_str(), kPortValue, kCapturePort),
            ERROR_SUCCESS);
  SetOutputPath(outputFolder_);
}

void CaptureTest::TearDown() {
  Reset();
}

void CaptureTest::SetOutputPath(const std::wstring& path, DWORD type) {
  const std::wstring portKey = std::wstring(kHalvekPortsKey) + L"\\" + kCapturePort;
  ASSERT_EQ(SetRegistryString(HKEY_LOCAL_MACHINE, portKey.c_str(), kOutputPathValue, path, type),
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
  std::wstring datatype = L"RAW", documentName = request.documentName;
  PRINTPROCESSOROPENDATA openData = {};
  openData.pDatatype = &datatype[0];
  openData.pDocumentName = documentName.empty() ? nullptr : &documentName[0];
  openData.pParameters = const_cast<WCHAR*>(request.parameters);
  openData.JobId = static_cast<DWORD>(request.jobId);
  return OpenPrintProcessor(const_cast<WCHAR*>(kCapturePrinter), &openData);
}

BOOL CaptureTest::Print(HANDLE handle, LONG jobId) {
  std::wstring jobName = JobName(jobId);
  return PrintDocumentOnPrintProcessor(handle, &jobName[0]);
}

BOOL CaptureTest::Capture(const CaptureRequest& request) {
  HANDLE handle = OpenJob(request);
  EXPECT_NE(handle, nullptr);
  if (!handle) return FALSE;
  const BOOL result = Print(handle, request.jobId);
  const DWORD error = GetLastError();
  EXPECT_TRUE(ClosePrintProcessor(handle));
  SetLastError(error);
  return result;
}

std::vector<std::wstring> CaptureTest::PortPaths() const {
  std::vector<std::wstring> paths;
  for (const sd::PrinterDocument& document : sd::Documents()) {
    EXPECT_TRUE(document.ended && document.name == L"Job Ticket Link");
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

std::string PdfWithTitle(const std::string& title, size_t sizeBytes) {
  std::string bytes = "%PDF-1.4\n%%Title:" + title + "\n";
  return bytes + JobBytes(sizeBytes > bytes.size() ? sizeBytes - bytes.size() : 0);
}

std::wstring LinkFixture(const std::wstring& relative) {
  const std::string unixPath = HALVEK_LINK_FIXTURE_DIR;
  std::wstring path = L"Z:" + std::wstring(unixPath.begin(), unixPath.end()) + L"\\" + relative;
  for (WCHAR& c : path) c = c == L'/' ? L'\\' : c;
  return path;
}
