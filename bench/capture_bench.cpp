// Capture throughput (job bytes served by the spooler double from memory)
// against a file-to-file copy of the same bytes on the same volume, measured
// in the same run: prints ratios, never absolute pass/fail figures. Also what a
// stalled queue listener adds to a copied capture of 2 MiB and of the size
// given, against the same capture with no listener.
//   capture_bench [megabytes]
// With --log: captures with the capture log off, pointing into a folder that
// does not exist, and on, as ratios to the log off.
//   capture_bench --log [kibibytes]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/settings.h"
#include "ostralib/queue_transport.h"
#include "platform/holders.h"
#include "spooler/context.h"
#include "tests/support/registry_guard.h"
#include "tests/support/spooler_double.h"
#include "tests/support/test_files.h"

namespace sd = spooler_double;

namespace {

const WCHAR kPrinter[] = L"Halvek Bench";
const WCHAR kPort[] = L"HBENCH";

double Seconds(std::chrono::steady_clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

// The baselines: the same bytes copied file to file on the same volume, as
// the spooler's own processor moves a job from its spool file. First in
// 32 KiB ReadFile/WriteFile steps with a flush at the end (the capture's
// copy flushes too), then with CopyFileW, which chooses its own way.
double ChunkedCopySeconds(const std::wstring& source, const std::wstring& target) {
  static char buffer[32768];
  const auto start = std::chrono::steady_clock::now();
  UniqueFile input(CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                               OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  UniqueFile output(CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  DWORD readBytes = 0;
  while (ReadFile(input.get(), buffer, sizeof(buffer), &readBytes, nullptr) && readBytes > 0) {
    DWORD writtenBytes = 0;
    WriteFile(output.get(), buffer, readBytes, &writtenBytes, nullptr);
  }
  FlushFileBuffers(output.get());
  output.reset();
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  DeleteFileW(target.c_str());
  return seconds;
}

double CopyFileSeconds(const std::wstring& source, const std::wstring& target) {
  const auto start = std::chrono::steady_clock::now();
  CopyFileW(source.c_str(), target.c_str(), TRUE);
  const double seconds = Seconds(std::chrono::steady_clock::now() - start);
  DeleteFileW(target.c_str());
  return seconds;
}

double CaptureSeconds(const std::string& bytes, LONG jobId) {
  const std::wstring jobName = std::wstring(kPrinter) + L", Job " + std::to_wstring(jobId);
  sd::AddJob(jobName, bytes);
  std::wstring datatype = L"RAW";
  PRINTPROCESSOROPENDATA data = {};
  data.pDatatype = &datatype[0];
  const auto start = std::chrono::steady_clock::now();
  HANDLE handle = OpenPrintProcessor(const_cast<WCHAR*>(kPrinter), &data);
  std::wstring name = jobName;
  if (!handle || !PrintDocumentOnPrintProcessor(handle, &name[0])) {
    std::fprintf(stderr, "capture failed: %lu\n", GetLastError());
    std::exit(1);
  }
  ClosePrintProcessor(handle);
  return Seconds(std::chrono::steady_clock::now() - start);
}

// A listener that took the queue's pipe and never reads it, like one whose
// process was stopped: the first message fills its pipe, every later send
// waits out the queue's bound.
struct StalledListener {
  HANDLE pipe = ostralib::CreateQueueServerInstance(L"RequestQue", true);
  HANDLE connected = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  OVERLAPPED overlapped = {};
  StalledListener() {
    overlapped.hEvent = connected;
    ConnectNamedPipe(pipe, &overlapped);
  }
  ~StalledListener() {
    CancelIo(pipe);
    CloseHandle(pipe);
    CloseHandle(connected);
  }
};

double Median(std::vector<double> seconds) {
  std::sort(seconds.begin(), seconds.end());
  return seconds[seconds.size() / 2];
}

// Medians of five rounds each, so that one round slowed by other load on the
// machine does not decide the figure; the worst stalled round is shown too.
void PrintStallFigures(size_t megabytes, const std::string& pattern, LONG firstJobId) {
  std::string job = pattern;
  job.resize(megabytes << 20, 'x');
  const int rounds = 5;
  std::vector<double> quiet, stalled;
  for (int round = 0; round < rounds; ++round) {
    quiet.push_back(CaptureSeconds(job, firstJobId + round));
  }
  {
    StalledListener listener;
    if (listener.pipe == INVALID_HANDLE_VALUE) {
      std::fprintf(stderr, "queue pipe not created: %lu\n", GetLastError());
      std::exit(1);
    }
    for (int round = 0; round < rounds; ++round) {
      stalled.push_back(CaptureSeconds(job, firstJobId + rounds + round));
    }
  }
  std::printf("%3zu MiB copied, no listener:      %.3f s (median of %d)\n", megabytes,
              Median(quiet), rounds);
  std::printf("%3zu MiB copied, stalled listener: %.3f s (median), adds %.3f s; worst %.3f s\n",
              megabytes, Median(stalled), Median(stalled) - Median(quiet),
              *std::max_element(stalled.begin(), stalled.end()));
}

// Rounds of the three states interleaved, so that load on the machine falls on
// all of them alike; medians.
void PrintLogFigures(const std::wstring& root, size_t kibibytes) {
  std::string job = "%!PS-Adobe-3.0\n%%Title: Logged\n";
  job.resize(kibibytes << 10, 'x');
  const std::wstring logs[] = {L"", root + L"missing\\capture.log", root + L"capture.log"};
  const int rounds = 31;
  std::vector<double> seconds[3];
  for (int round = 0; round < rounds; ++round) {
    for (int state = 0; state < 3; ++state) {
      RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kCaptureLogValue);
      if (!logs[state].empty()) {
        SetRegistryString(HKEY_LOCAL_MACHINE, kSpoolerSettingsKey, kCaptureLogValue, logs[state]);
      }
      seconds[state].push_back(CaptureSeconds(job, 1000 + round * 3 + state));
    }
  }
  const double off = Median(seconds[0]);
  std::printf("%zu KiB job, median of %d: log off %.4f s\n", kibibytes, rounds, off);
  std::printf("  log into a missing folder: %.4f s, ratio %.3f to log off\n", Median(seconds[1]),
              Median(seconds[1]) / off);
  std::printf("  log on:                    %.4f s, ratio %.3f to log off\n", Median(seconds[2]),
              Median(seconds[2]) / off);
}

}  // namespace

int main(int argc, char** argv) {
  const bool logMode = argc > 1 && std::string(argv[1]) == "--log";
  if (logMode) {
    --argc;
    ++argv;
  }
  const size_t megabytes = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 64;
  const size_t sizeBytes = megabytes << 20;
  std::string job = "%PDF-1.7\n%%Title:Benchmark\n";
  job.resize(sizeBytes, 'x');
  for (size_t i = 64; i < sizeBytes; i += 4093) job[i] = static_cast<char>(i);

  ScopedRegistryValues printers(HKEY_LOCAL_MACHINE, kPrintersKey);
  ScopedRegistryValues ports(HKEY_LOCAL_MACHINE, kHalvekMonitorKey);
  TempFolder root;
  const std::wstring output = root.path + L"out\\";
  const std::wstring spool = root.path + L"spool";
  CreateDirectoryW(output.c_str(), nullptr);
  CreateDirectoryW(spool.c_str(), nullptr);
  SetRegistryString(HKEY_LOCAL_MACHINE, kPrintersKey, kDefaultSpoolDirectoryValue, spool);
  SetRegistryString(HKEY_LOCAL_MACHINE, (std::wstring(kPrintersKey) + L"\\" + kPrinter).c_str(),
                    kPortValue, kPort);
  SetRegistryString(HKEY_LOCAL_MACHINE, (std::wstring(kHalvekPortsKey) + L"\\" + kPort).c_str(),
                    kOutputPathValue, output);
  sd::Reset();
  sd::AddPrinter(kPrinter);
  if (logMode) {
    ScopedRegistryValues settings(HKEY_LOCAL_MACHINE, kVendorKey);
    // Small jobs show a per-job cost; the size given shows it against the copy.
    PrintLogFigures(root.path, 64);
    PrintLogFigures(root.path, argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 4096);
    return 0;
  }

  const std::wstring source = root.path + L"source.bin";
  WriteNewFile(source, job);
  const int rounds = 3;
  double chunked = 1e9, copyFile = 1e9, copied = 1e9, linked = 1e9;
  for (int round = 0; round < rounds; ++round) {
    chunked = std::min(chunked, ChunkedCopySeconds(source, root.path + L"chunked.bin"));
    copyFile = std::min(copyFile, CopyFileSeconds(source, root.path + L"copyfile.bin"));
    copied = std::min(copied, CaptureSeconds(job, 100 + round));
  }
  // Hard-link mode: the spool file exists, so the job is linked, not copied.
  for (int round = 0; round < rounds; ++round) {
    const LONG jobId = 200 + round;
    WCHAR spoolName[32];
    wsprintfW(spoolName, L"\\%05d.SPL", jobId);
    WriteNewFile(spool + spoolName, job);
    linked = std::min(linked, CaptureSeconds(job, jobId));
  }
  std::printf(
      "job size: %zu MiB, best of %d rounds; baselines copy a file of it on the same volume\n",
      megabytes, rounds);
  std::printf("file copy, 32 KiB + flush (baseline): %.3f s, %.0f MiB/s\n", chunked,
              megabytes / chunked);
  std::printf("file copy, CopyFileW:                 %.3f s, %.0f MiB/s\n", copyFile,
              megabytes / copyFile);
  std::printf("capture by copy:      %.3f s, ratio %.2f to 32 KiB copy, %.2f to CopyFileW\n",
              copied, copied / chunked, copied / copyFile);
  std::printf("capture by hard link: %.3f s, ratio %.3f to 32 KiB copy, %.3f to CopyFileW\n",
              linked, linked / chunked, linked / copyFile);
  PrintStallFigures(2, job.substr(0, 64), 300);
  PrintStallFigures(megabytes, job.substr(0, 64), 400);
  return 0;
}
