// Jobs through the real spooler, from one client process, job by job in
// turn on three printers of one prefix: the capture printer in hard-link
// mode (output folder on the spool folder's volume), the capture printer in
// copy mode (output folder on another volume), and a printer on the
// built-in print processor with a file port, the baseline. A job's time is
// what the client sees: StartDocPrinter to the end of EndDocPrinter, inside
// which the spooler runs the print processor in this process. Prints one
// line per figure with the median and the spread of the per-round ratios.
// bench/spooler-bench.sh makes the prefix and the printers and runs this.
//   spooler_bench [--rounds N] [--small-jobs N] [--sizes KIB,...]
//   spooler_bench --count link|copy|file SIZE_KIB JOBS   (for strace -c)
//   spooler_bench --load-cost LOADS [DLL...]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/holders.h"
#include "platform/win.h"

namespace {

// The printers in the order of their columns; the last is the baseline.
enum PrinterKind { kLink, kCopy, kFile, kPrinterKinds };
const WCHAR* const kPrinterNames[kPrinterKinds] = {L"Bench Link", L"Bench Copy",
                                                   L"Bench File Port"};
const char* const kKindNames[kPrinterKinds] = {"link", "copy", "file"};
const WCHAR kFilePort[] = L"C:\\bnfile.prn";
const WCHAR kHalvekPortsKey[] =
    L"SYSTEM\\CurrentControlSet\\Control\\Print\\Monitors\\Halvek Port\\Ports\\";
constexpr DWORD kChunkBytes = 65536;

struct BenchPrinter {
  UniquePrinter handle;
  std::wstring portFile;      // deleted before each job: the port overwrites in place
  std::wstring outputFolder;  // emptied before each job; none for the baseline
};

void Die(const char* what, DWORD error) {
  std::fprintf(stderr, "spooler_bench: %s failed: error %lu\n", what, error);
  std::exit(1);
}

std::vector<BYTE> PrinterInfo2(HANDLE printer) {
  DWORD neededBytes = 0;
  GetPrinterW(printer, 2, nullptr, 0, &neededBytes);
  std::vector<BYTE> buffer(neededBytes ? neededBytes : 1);
  if (!GetPrinterW(printer, 2, buffer.data(), neededBytes, &neededBytes)) {
    Die("GetPrinterW", GetLastError());
  }
  return buffer;
}

// The local port monitor adds file ports through its configuration channel.
void AddFilePort() {
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, SERVER_ACCESS_ADMINISTER};
  UniquePrinter xcv;
  if (!OpenPrinterW(const_cast<WCHAR*>(L",XcvMonitor Local Port"), xcv.put(), &defaults)) {
    Die("opening the local port monitor", GetLastError());
  }
  DWORD neededBytes = 0;
  DWORD status = 0;
  XcvDataW(xcv.get(), L"AddPort", reinterpret_cast<BYTE*>(const_cast<WCHAR*>(kFilePort)),
           sizeof(kFilePort), nullptr, 0, &neededBytes, &status);
}

// The baseline: the link printer's settings (driver, attributes) on the
// built-in processor and a file port of its own.
void AddBaselinePrinter(HANDLE linkPrinter) {
  UniquePrinter existing;
  if (OpenPrinterW(const_cast<WCHAR*>(kPrinterNames[kFile]), existing.put(), nullptr)) return;
  AddFilePort();
  std::vector<BYTE> buffer = PrinterInfo2(linkPrinter);
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
  info->pPrinterName = const_cast<WCHAR*>(kPrinterNames[kFile]);
  info->pShareName = nullptr;
  info->pPortName = const_cast<WCHAR*>(kFilePort);
  info->pPrintProcessor = const_cast<WCHAR*>(L"winprint");
  info->pSecurityDescriptor = nullptr;
  UniquePrinter added(AddPrinterW(nullptr, 2, buffer.data()));
  if (!added.valid()) Die("AddPrinterW (baseline)", GetLastError());
}

std::wstring PortOutputFolder(const std::wstring& port) {
  WCHAR folder[MAX_PATH] = L"";
  DWORD sizeBytes = sizeof(folder);
  RegGetValueW(HKEY_LOCAL_MACHINE, (kHalvekPortsKey + port).c_str(), L"OutputPath", RRF_RT_REG_SZ,
               nullptr, folder, &sizeBytes);
  return folder;
}

void OpenBenchPrinter(PrinterKind kind, BenchPrinter* printer) {
  if (!OpenPrinterW(const_cast<WCHAR*>(kPrinterNames[kind]), printer->handle.put(), nullptr)) {
    Die("OpenPrinterW (run bench/spooler-bench.sh, which makes the printers)", GetLastError());
  }
  std::vector<BYTE> buffer = PrinterInfo2(printer->handle.get());
  const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
  printer->portFile = info->pPortName;
  if (kind != kFile) printer->outputFolder = PortOutputFolder(info->pPortName);
}

void EmptyFolder(const std::wstring& folder) {
  if (folder.empty()) return;
  WIN32_FIND_DATAW entry;
  UniqueFind find(FindFirstFileW((folder + L"\\*").c_str(), &entry));
  if (!find.valid()) return;
  do {
    if (!(entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      DeleteFileW((folder + L"\\" + entry.cFileName).c_str());
    }
  } while (FindNextFileW(find.get(), &entry));
}

double NowSeconds() {
  static LARGE_INTEGER frequency = {};
  if (!frequency.QuadPart) QueryPerformanceFrequency(&frequency);
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// One job as the client submits it; seconds from StartDocPrinter to the end
// of EndDocPrinter. Files of the previous job are removed first, untimed.
double TimedJob(BenchPrinter& printer, const std::vector<char>& bytes) {
  DeleteFileW(printer.portFile.c_str());
  EmptyFolder(printer.outputFolder);
  DOC_INFO_1W document = {};
  document.pDocName = const_cast<WCHAR*>(L"bench.pdf");
  document.pDatatype = const_cast<WCHAR*>(L"RAW");
  const double start = NowSeconds();
  if (!StartDocPrinterW(printer.handle.get(), 1, reinterpret_cast<BYTE*>(&document))) {
    Die("StartDocPrinterW", GetLastError());
  }
  for (size_t doneBytes = 0; doneBytes < bytes.size();) {
    const DWORD wantBytes =
        static_cast<DWORD>(std::min<size_t>(bytes.size() - doneBytes, kChunkBytes));
    DWORD writtenBytes = 0;
    if (!WritePrinter(printer.handle.get(), const_cast<char*>(bytes.data() + doneBytes), wantBytes,
                      &writtenBytes) ||
        writtenBytes == 0) {
      Die("WritePrinter", GetLastError());
    }
    doneBytes += writtenBytes;
  }
  if (!EndDocPrinter(printer.handle.get())) Die("EndDocPrinter", GetLastError());
  return NowSeconds() - start;
}

// A PDF named by its title, as applications send; the rest filler.
std::vector<char> JobBytes(size_t sizeBytes) {
  const char header[] = "%PDF-1.7\n%%Title:Benchmark\n";
  std::vector<char> bytes(sizeBytes, 'x');
  std::memcpy(bytes.data(), header, std::min(sizeBytes, sizeof(header) - 1));
  for (size_t i = 64; i < sizeBytes; i += 4093) bytes[i] = static_cast<char>(i);
  return bytes;
}

// The queue listener, started from this program's folder with its output
// discarded; ready once its pipe exists.
struct Listener {
  UniqueHandle process;
  UniqueFile nul;

  void Start() {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    nul.reset(CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                          OPEN_EXISTING, 0, nullptr));
    WCHAR self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring command = self;
    command = L"\"" + command.substr(0, command.find_last_of(L'\\')) + L"\\halvek-listen.exe\"";
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nul.get();
    startup.hStdOutput = nul.get();
    startup.hStdError = nul.get();
    PROCESS_INFORMATION started = {};
    if (!CreateProcessW(nullptr, &command[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                        &started)) {
      Die("starting halvek-listen.exe", GetLastError());
    }
    CloseHandle(started.hThread);
    process.reset(started.hProcess);
    for (int tries = 0; tries < 1000; ++tries) {
      if (WaitNamedPipeW(L"\\\\.\\pipe\\RequestQue", 1) || GetLastError() != ERROR_FILE_NOT_FOUND) {
        return;
      }
      Sleep(10);
    }
    Die("waiting for the listener's pipe", GetLastError());
  }
  void Stop() {
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), INFINITE);
    process.reset();
    nul.reset();
  }
};

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

void PrintRatioLine(const char* label, const std::vector<double>& ratios) {
  std::printf("%-40s %.2f (%.2f-%.2f)\n", label, Median(ratios),
              *std::min_element(ratios.begin(), ratios.end()),
              *std::max_element(ratios.begin(), ratios.end()));
}

std::string SizeLabel(size_t sizeKib) {
  return sizeKib >= 1024 ? std::to_string(sizeKib / 1024) + " MiB"
                         : std::to_string(sizeKib) + " KiB";
}

struct Options {
  int rounds = 5;
  int smallJobs = 10;  // jobs per printer and round below 64 MiB
  std::vector<size_t> sizesKib = {4, 1024, 65536, 262144};
};

// seconds[listener][size][printer][round]: the round's summed job times.
using Figures = std::vector<std::vector<std::vector<std::vector<double>>>>;

void RunRound(BenchPrinter* printers, const Options& options,
              const std::vector<std::vector<char>>& jobs, int round, bool listening,
              Figures* seconds) {
  for (size_t size = 0; size < jobs.size(); ++size) {
    const int count = options.sizesKib[size] < 65536 ? options.smallJobs : 1;
    double sums[kPrinterKinds] = {};
    for (int job = 0; job < count; ++job) {
      // The order turns with the job, so that no printer always goes first.
      for (int step = 0; step < kPrinterKinds; ++step) {
        const int kind = (step + job + round) % kPrinterKinds;
        sums[kind] += TimedJob(printers[kind], jobs[size]);
      }
    }
    for (int kind = 0; kind < kPrinterKinds; ++kind) {
      (*seconds)[listening][size][kind].push_back(sums[kind] / count);
    }
  }
}

void PrintFigures(const Options& options, const Figures& seconds) {
  const char* const listenerNames[2] = {"listener off", "listener on"};
  for (int listening = 0; listening < 2; ++listening) {
    for (size_t size = 0; size < options.sizesKib.size(); ++size) {
      const auto& figure = seconds[listening][size];
      std::printf("%-8s %-12s per job (median ms): link %.2f  copy %.2f  file port %.2f\n",
                  SizeLabel(options.sizesKib[size]).c_str(), listenerNames[listening],
                  Median(figure[kLink]) * 1e3, Median(figure[kCopy]) * 1e3,
                  Median(figure[kFile]) * 1e3);
      for (int kind : {kLink, kCopy}) {
        std::vector<double> ratios;
        for (size_t round = 0; round < figure[kind].size(); ++round) {
          ratios.push_back(figure[kind][round] / figure[kFile][round]);
        }
        const std::string label = SizeLabel(options.sizesKib[size]) + ", " +
                                  listenerNames[listening] + ", " + kKindNames[kind] +
                                  " / file port:";
        PrintRatioLine(label.c_str(), ratios);
      }
    }
  }
  for (size_t size = 0; size < options.sizesKib.size(); ++size) {
    for (int kind : {kLink, kCopy}) {
      std::vector<double> ratios;
      for (size_t round = 0; round < seconds[0][size][kind].size(); ++round) {
        ratios.push_back(seconds[1][size][kind][round] / seconds[0][size][kind][round]);
      }
      const std::string label =
          SizeLabel(options.sizesKib[size]) + ", " + kKindNames[kind] + ", listener on / off:";
      PrintRatioLine(label.c_str(), ratios);
    }
  }
  // The same, each against the file port of its own half of the round: the
  // file port sends no messages, so this takes out what the machine's load
  // did between the two halves.
  for (size_t size = 0; size < options.sizesKib.size(); ++size) {
    for (int kind : {kLink, kCopy}) {
      std::vector<double> ratios;
      for (size_t round = 0; round < seconds[0][size][kind].size(); ++round) {
        ratios.push_back((seconds[1][size][kind][round] / seconds[1][size][kFile][round]) /
                         (seconds[0][size][kind][round] / seconds[0][size][kFile][round]));
      }
      const std::string label = SizeLabel(options.sizesKib[size]) + ", " + kKindNames[kind] +
                                ", on / off, per file port:";
      PrintRatioLine(label.c_str(), ratios);
    }
  }
}

void OpenAll(BenchPrinter* printers) {
  OpenBenchPrinter(kLink, &printers[kLink]);
  OpenBenchPrinter(kCopy, &printers[kCopy]);
  AddBaselinePrinter(printers[kLink].handle.get());
  OpenBenchPrinter(kFile, &printers[kFile]);
}

int RunRounds(const Options& options) {
  BenchPrinter printers[kPrinterKinds];
  OpenAll(printers);
  std::vector<std::vector<char>> jobs;
  for (size_t sizeKib : options.sizesKib) jobs.push_back(JobBytes(sizeKib * 1024));
  Figures seconds(2, std::vector<std::vector<std::vector<double>>>(
                         jobs.size(), std::vector<std::vector<double>>(kPrinterKinds)));
  // One untimed job per printer loads what the first job would load.
  for (BenchPrinter& printer : printers) TimedJob(printer, jobs[0]);
  for (int round = 0; round < options.rounds; ++round) {
    RunRound(printers, options, jobs, round, false, &seconds);
    Listener listener;
    listener.Start();
    RunRound(printers, options, jobs, round, true, &seconds);
    listener.Stop();
    std::fprintf(stderr, "round %d of %d done\n", round + 1, options.rounds);
  }
  std::printf("%d rounds; below 64 MiB each round's figure is the mean of %d jobs per printer\n",
              options.rounds, options.smallJobs);
  PrintFigures(options, seconds);
  for (BenchPrinter& printer : printers) {
    DeleteFileW(printer.portFile.c_str());
    EmptyFolder(printer.outputFolder);
  }
  return 0;
}

// Jobs to one printer only, untimed, for a system-call count of the process.
int RunCount(const char* kindName, size_t sizeKib, int jobCount) {
  BenchPrinter printers[kPrinterKinds];
  OpenAll(printers);
  for (int kind = 0; kind < kPrinterKinds; ++kind) {
    if (std::strcmp(kindName, kKindNames[kind]) != 0) continue;
    const std::vector<char> bytes = JobBytes(sizeKib * 1024);
    for (int job = 0; job < jobCount; ++job) TimedJob(printers[kind], bytes);
    return 0;
  }
  return 2;
}

// What loading and freeing a print processor costs, as the spooler does for
// each job: by default the capture's DLL (which brings the companion
// library) and the built-in processor's, in turn; median microseconds of
// each. A DLL given by path finds its imports in its own folder first.
int RunLoadCost(int loads, std::vector<std::wstring> paths) {
  if (paths.empty()) {
    WCHAR folder[MAX_PATH] = L"";
    DWORD neededBytes = 0;
    GetPrintProcessorDirectoryW(nullptr, nullptr, 1, reinterpret_cast<BYTE*>(folder),
                                sizeof(folder), &neededBytes);
    paths = {std::wstring(folder) + L"\\halvekprint.dll", std::wstring(folder) + L"\\winprint.dll"};
  }
  std::vector<std::vector<double>> seconds(paths.size());
  for (int load = 0; load < loads; ++load) {
    for (size_t which = 0; which < paths.size(); ++which) {
      const double start = NowSeconds();
      HMODULE module = LoadLibraryExW(paths[which].c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
      if (!module) Die("LoadLibraryExW", GetLastError());
      FreeLibrary(module);
      seconds[which].push_back(NowSeconds() - start);
    }
  }
  for (size_t which = 0; which < paths.size(); ++which) {
    std::printf("load+free of %ls: %.0f us (median of %d)\n", paths[which].c_str(),
                Median(seconds[which]) * 1e6, loads);
  }
  return 0;
}

std::vector<size_t> ParseSizes(const char* text) {
  std::vector<size_t> sizes;
  for (char* end = nullptr; *text; text = *end ? end + 1 : end) {
    sizes.push_back(std::strtoul(text, &end, 10));
    if (end == text) break;
  }
  return sizes;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int index = 1; index < argc; ++index) {
    const std::string argument = argv[index];
    const bool hasValue = index + 1 < argc;
    if (argument == "--count" && index + 3 < argc) {
      return RunCount(argv[index + 1], std::strtoul(argv[index + 2], nullptr, 10),
                      std::atoi(argv[index + 3]));
    } else if (argument == "--load-cost" && hasValue) {
      std::vector<std::wstring> paths;
      for (int path = index + 2; path < argc; ++path) {
        paths.push_back(std::wstring(argv[path], argv[path] + std::strlen(argv[path])));
      }
      return RunLoadCost(std::max(1, std::atoi(argv[index + 1])), paths);
    } else if (argument == "--rounds" && hasValue) {
      options.rounds = std::max(1, std::atoi(argv[++index]));
    } else if (argument == "--small-jobs" && hasValue) {
      options.smallJobs = std::max(1, std::atoi(argv[++index]));
    } else if (argument == "--sizes" && hasValue) {
      options.sizesKib = ParseSizes(argv[++index]);
    } else {
      std::fprintf(stderr,
                   "usage: spooler_bench [--rounds N] [--small-jobs N] [--sizes KIB,...]\n"
                   "       spooler_bench --count link|copy|file SIZE_KIB JOBS\n"
                   "       spooler_bench --load-cost LOADS [DLL...]\n");
      return 2;
    }
  }
  if (options.sizesKib.empty()) return 2;
  return RunRounds(options);
}
