// The halvek-listen program as operators run it: a second process that owns
// "RequestQue" and prints one JSON line per message as it arrives.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "notify/notify.h"
#include "platform/ostralib.h"
#include "tests/ostralib/queue_listener.h"

using queue_test::RequestQueLock;
using queue_test::TestListener;

namespace {

// The listener process, its output pipe, and what it has printed so far.
struct ListenerProcess {
  PROCESS_INFORMATION process = {};
  HANDLE output = nullptr;
  std::string printed;

  explicit ListenerProcess(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE childOutput = nullptr;
    if (!CreatePipe(&output, &childOutput, &inherit, 0)) return;
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = childOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    WCHAR self[MAX_PATH] = {};
    std::wstring folder(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
    std::wstring commandLine = L"\"" + folder.substr(0, folder.find_last_of(L'\\') + 1) +
                               L"halvek-listen.exe\" " + arguments;
    CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                   &process);
    CloseHandle(childOutput);
  }
  ~ListenerProcess() {
    if (process.hProcess) {
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 99);
        WaitForSingleObject(process.hProcess, INFINITE);
      }
      CloseHandle(process.hProcess);
      CloseHandle(process.hThread);
    }
    if (output) CloseHandle(output);
  }

  bool WaitUntilListening() {
    for (int round = 0; process.hProcess && round < 400; ++round) {
      if (WaitNamedPipeW(L"\\\\.\\pipe\\RequestQue", 50)) return true;
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) return false;
      Sleep(50);
    }
    return false;
  }

  // -1 when the program does not end by itself within a minute.
  long ExitCode() {
    DWORD code = 0;
    if (WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) return -1;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<long>(code);
  }

  // Reads until count printed lines hold the marker, or the program ends.
  std::vector<std::string> LinesWith(const std::string& marker, size_t count) {
    for (;;) {
      std::vector<std::string> lines;
      for (size_t at = 0, end; (end = printed.find('\n', at)) != std::string::npos; at = end + 1) {
        const std::string line =
            printed.substr(at, end - at - (end > at && printed[end - 1] == '\r'));
        if (line.find(marker) != std::string::npos) lines.push_back(line);
      }
      char chunk[512];
      DWORD readBytes = 0;
      if (lines.size() >= count || !ReadFile(output, chunk, sizeof(chunk), &readBytes, nullptr)) {
        return lines;
      }
      printed.append(chunk, readBytes);
    }
  }
};

TEST(ListenProgram, PrintsOneLinePerMessageAsItArrives) {
  RequestQueLock lock;
  ListenerProcess listener(L"");
  ASSERT_TRUE(listener.WaitUntilListening());
  const LONG jobId = 700000 + static_cast<LONG>(GetCurrentProcessId() & 0xFFFF);
  const std::string marker = "\"job\":" + std::to_string(jobId) + ",";
  // Each line is flushed as printed: it is read while the program runs.
  ASSERT_TRUE(NotifyStartSpooling(jobId, L"C:\\Out\\\x5831\x544A\x66F8 \"1\".pdf"));
  ASSERT_EQ(1u, listener.LinesWith(marker, 1).size());
  ASSERT_TRUE(NotifyProgressSpooling(jobId, 1048576));
  ASSERT_EQ(2u, listener.LinesWith(marker, 2).size());
  ASSERT_TRUE(NotifyStopSpooling(jobId));
  const std::vector<std::string> lines = listener.LinesWith(marker, 3);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(listener.process.hProcess, 0));
  EXPECT_EQ((std::vector<std::string>{
                "{\"command\":\"START_SPOOLING\"," + marker +
                    "\"path\":\"C:\\\\Out\\\\\xE5\xA0\xB1\xE5\x91\x8A\xE6\x9B\xB8 \\\"1\\\".pdf\","
                    "\"bytes\":null}",
                "{\"command\":\"PROGRESS_SPOOLING\"," + marker + "\"path\":null,\"bytes\":1048576}",
                "{\"command\":\"STOP_SPOOLING\"," + marker + "\"path\":null,\"bytes\":null}"}),
            lines)
      << listener.printed;
}

// A block whose size and command disagree is reported, not printed as a job.
TEST(ListenProgram, ReportsMalformedMessagesAndStopsAfterCount) {
  RequestQueLock lock;
  ListenerProcess listener(L"--count 1");
  ASSERT_TRUE(listener.WaitUntilListening());
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(MsgQueCreate(L"RequestQue", 1, &queue));
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(88));
  ASSERT_NE(nullptr, block);
  const DWORD words[2] = {88, 4};  // a start code in a progress-sized block
  std::memcpy(block, words, sizeof(words));
  EXPECT_TRUE(MsgQueSendMessage(queue, block));
  MsgQueDelete(queue);
  MsgQueFree(block);
  EXPECT_EQ(0, listener.ExitCode());
  EXPECT_EQ((std::vector<std::string>{"{\"error\":\"unexpected message\",\"sizeBytes\":88,"
                                      "\"declaredBytes\":88,\"code\":4}"}),
            listener.LinesWith("", 1));
}

TEST(ListenProgram, RefusesAQueueThatAlreadyHasAListener) {
  RequestQueLock lock;
  TestListener owner;
  ASSERT_TRUE(owner.Start(L"RequestQue", 1));
  ListenerProcess listener(L"");
  EXPECT_EQ(1, listener.ExitCode());
}

}  // namespace
