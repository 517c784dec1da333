// halvek-listen: the downstream side of the request queue. Owns the queue
// (default "RequestQue"), receives every message, checks its size and
// command, and prints one JSON object per line until stopped (Ctrl+C, or
// after --count messages).
//
//   halvek-listen [--count N] [--queue NAME]
#include <fcntl.h>
#include <io.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "notify/notify.h"
#include "ostralib/queue_transport.h"
#include "platform/win.h"
#include "tools/tool_support.h"

namespace {

// Several pipe instances, each read by its own thread in order. A sending
// thread keeps its connection from one message to the next, so a job's
// messages come through one instance and are printed in the order they were
// sent; jobs sending at once use different instances. A sender that finds
// every instance busy waits within its time bound.
constexpr int kInstances = 16;

struct ListenState {
  CRITICAL_SECTION outputLock;
  HANDLE stopEvent;
  long remaining;  // messages still to print; negative: no limit
};

HANDLE g_stopEvent = nullptr;

BOOL WINAPI OnConsoleControl(DWORD) {
  if (g_stopEvent) SetEvent(g_stopEvent);
  return TRUE;
}

void AppendJsonString(std::string* line, const WCHAR* text, size_t lengthChars) {
  line->push_back('"');
  for (size_t i = 0; i < lengthChars; ++i) {
    unsigned int unit = text[i];
    char escaped[8];
    if (unit == '"' || unit == '\\') {
      line->push_back('\\');
      line->push_back(static_cast<char>(unit));
    } else if (unit >= 0x20 && unit < 0x80) {
      line->push_back(static_cast<char>(unit));
    } else if (unit < 0x20 || (unit >= 0xD800 && unit <= 0xDFFF)) {
      std::snprintf(escaped, sizeof(escaped), "\\u%04x", unit);
      line->append(escaped);
    } else if (unit < 0x800) {
      line->push_back(static_cast<char>(0xC0 | (unit >> 6)));
      line->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else {
      line->push_back(static_cast<char>(0xE0 | (unit >> 12)));
      line->push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      line->push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
  line->push_back('"');
}

size_t BoundedLength(const WCHAR* text, size_t capacityChars) {
  size_t length = 0;
  while (length < capacityChars && text[length]) ++length;
  return length;
}

// The line for one message; an "error" line when its size and command do
// not agree with the layout.
std::string DescribeMessage(const BYTE* message, DWORD sizeBytes, bool truncated) {
  char number[64];
  std::string line;
  DWORD declaredBytes = 0;
  DWORD command = 0;
  if (sizeBytes >= 8) {
    std::memcpy(&declaredBytes, message, sizeof(DWORD));
    std::memcpy(&command, message + 4, sizeof(DWORD));
  }
  DWORD expectedBytes =
      command == static_cast<DWORD>(SpoolingCommand::Start)      ? sizeof(SpoolingStartMessage)
      : command == static_cast<DWORD>(SpoolingCommand::Progress) ? sizeof(SpoolingProgressMessage)
      : command == static_cast<DWORD>(SpoolingCommand::Stop)     ? sizeof(SpoolingStopMessage)
                                                                 : 0;
  if (truncated || expectedBytes == 0 || sizeBytes != expectedBytes || declaredBytes != sizeBytes) {
    std::snprintf(number, sizeof(number), "{\"error\":\"unexpected message\",\"sizeBytes\":%lu",
                  static_cast<unsigned long>(sizeBytes));
    line = number;
    std::snprintf(number, sizeof(number), ",\"declaredBytes\":%lu,\"code\":%lu}",
                  static_cast<unsigned long>(declaredBytes), static_cast<unsigned long>(command));
    return line + number;
  }
  SpoolingMessage header;
  std::memcpy(&header, message, sizeof(header));
  line = "{\"command\":";
  AppendJsonString(&line, header.commandName, BoundedLength(header.commandName, 32));
  std::snprintf(number, sizeof(number), ",\"job\":%ld,\"path\":", static_cast<long>(header.jobId));
  line += number;
  if (command == static_cast<DWORD>(SpoolingCommand::Start)) {
    SpoolingStartMessage start;
    std::memcpy(&start, message, sizeof(start));
    AppendJsonString(&line, start.outputPath, BoundedLength(start.outputPath, MAX_PATH));
  } else {
    line += "null";
  }
  line += ",\"bytes\":";
  if (command == static_cast<DWORD>(SpoolingCommand::Progress)) {
    SpoolingProgressMessage progress;
    std::memcpy(&progress, message, sizeof(progress));
    std::snprintf(number, sizeof(number), "%lu", static_cast<unsigned long>(progress.bytesSoFar));
    line += number;
  } else {
    line += "null";
  }
  line += "}";
  return line;
}

void OnMessage(void* context, const BYTE* message, DWORD sizeBytes, bool truncated) {
  ListenState* state = static_cast<ListenState*>(context);
  std::string line = DescribeMessage(message, sizeBytes, truncated) + "\n";
  EnterCriticalSection(&state->outputLock);
  if (state->remaining != 0) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
    if (state->remaining > 0 && --state->remaining == 0) SetEvent(state->stopEvent);
  }
  LeaveCriticalSection(&state->outputLock);
}

struct InstanceArgs {
  HANDLE pipe;
  ListenState* state;
};

DWORD WINAPI ServeInstance(void* parameter) {
  InstanceArgs* args = static_cast<InstanceArgs*>(parameter);
  bool served =
      ostralib::ServeQueueInstance(args->pipe, args->state->stopEvent, OnMessage, args->state);
  if (!served) SetEvent(args->state->stopEvent);
  return served ? 0 : 1;
}

int Usage() {
  std::fputs("usage: halvek-listen [--count N] [--queue NAME]\n", stderr);
  return 2;
}

// The queue name (queueCapacityChars with its terminator) and the message
// count; false for bad usage.
bool ParseArguments(int argc, char** argv, WCHAR* queueName, int queueCapacityChars, long* count) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--count") == 0 && i + 1 < argc) {
      if (!tools::ParseNumber(argv[++i], 1, LONG_MAX, count)) return false;
    } else if (std::strcmp(argv[i], "--queue") == 0 && i + 1 < argc) {
      if (!MultiByteToWideChar(CP_ACP, 0, argv[++i], -1, queueName, queueCapacityChars)) {
        return false;
      }
    } else {
      return false;
    }
  }
  return true;
}

// Owns the queue and serves it until stopped; returns the exit code.
int Listen(const WCHAR* queueName, ListenState* state) {
  UniqueHandle owner(ostralib::ClaimQueue(queueName));
  if (!owner.valid()) {
    std::fprintf(stderr, "halvek-listen: the queue already has a listener\n");
    return 1;
  }
  InstanceArgs args[kInstances];
  UniqueFile pipes[kInstances];
  UniqueHandle threads[kInstances];
  HANDLE waited[kInstances] = {};
  int started = 0;
  for (int i = 0; i < kInstances; ++i) {
    pipes[i].reset(ostralib::CreateQueueServerInstance(queueName, i == 0));
    if (!pipes[i].valid()) {
      if (i == 0) {
        std::fprintf(stderr,
                     "halvek-listen: cannot own the queue (error %lu); is another "
                     "listener running?\n",
                     GetLastError());
        return 1;
      }
      break;
    }
    args[i] = {pipes[i].get(), state};
    threads[i].reset(CreateThread(nullptr, 0, ServeInstance, &args[i], 0, nullptr));
    if (!threads[i].valid()) {
      pipes[i].reset();
      break;
    }
    waited[i] = threads[i].get();
    ++started;
  }
  std::fprintf(stderr, "halvek-listen: listening on the queue\n");
  WaitForMultipleObjects(static_cast<DWORD>(started), waited, TRUE, INFINITE);
  int exitCode = 0;
  for (int i = 0; i < started; ++i) {
    DWORD threadExit = 0;
    GetExitCodeThread(threads[i].get(), &threadExit);
    if (threadExit != 0) exitCode = 1;
  }
  return exitCode;
}

}  // namespace

int main(int argc, char** argv) {
  WCHAR queueName[ostralib::kMaxQueueNameChars + 1] = L"RequestQue";
  long count = -1;
  if (!ParseArguments(argc, argv, queueName, ostralib::kMaxQueueNameChars + 1, &count)) {
    return Usage();
  }
  // One JSON object per line, ended by "\n" alone.
  _setmode(_fileno(stdout), _O_BINARY);
  ListenState state;
  InitializeCriticalSection(&state.outputLock);
  state.stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  state.remaining = count;
  g_stopEvent = state.stopEvent;
  SetConsoleCtrlHandler(OnConsoleControl, TRUE);
  return Listen(queueName, &state);
}
