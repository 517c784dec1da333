// Capture throughput against a plain file copy of the same bytes, measured in
// the same run: prints ratios, never absolute pass/fail figures. Also what a
// stalled queue listener adds to a copied capture of 2 MiB and of the size
// given, against the same capture with no listener.
//   capture_bench [megabytes]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "capture/settings.h"
#include "ostralib/queue_transport.h"
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

// The baseline: the same bytes written to a new file in 32 KiB chunks.
double PlainCopySeconds(const std::string& bytes, const std::wstring& path) {
  const auto start = std::chrono::steady_clock::now();
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  for (size_t offset = 0; offset < bytes.size(); offset += 32768) {
    const DWORD chunkBytes = static_cast<DWORD>(std::min<size_t>(32768, bytes.size() - offset));
    DWORD writtenBytes = 0;
    WriteFile(file, bytes.data() + offset, chunkBytes, &writtenBytes, nullptr);
  }
  FlushFileBuffers(file);
  CloseHandle(file);
  return Seconds(std::chrono::steady_clock::now() - start);
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

}  // namespace

int main(int argc, char** argv) {
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

  const int rounds = 3;
  double baseline = 1e9, copied = 1e9, linked = 1e9;
  for (int round = 0; round < rounds; ++round) {
    baseline = std::min(
        baseline, PlainCopySeconds(job, root.path + L"plain" + std::to_wstring(round) + L".bin"));
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
  std::printf("job size: %zu MiB, best of %d rounds\n", megabytes, rounds);
  std::printf("plain file write (baseline): %.3f s, %.0f MiB/s\n", baseline, megabytes / baseline);
  std::printf("capture by copy:             %.3f s, ratio to baseline %.2f\n", copied,
              copied / baseline);
  std::printf("capture by hard link:        %.3f s, ratio to baseline %.3f\n", linked,
              linked / baseline);
  PrintStallFigures(2, job.substr(0, 64), 300);
  PrintStallFigures(megabytes, job.substr(0, 64), 400);
  return 0;
}
