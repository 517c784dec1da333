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

std::wstring ListenerPath() {
  WCHAR path[MAX_PATH] = {};
  DWORD lengthChars = GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path, lengthChars);
  return folder.substr(0, folder.find_last_of(L'\\') + 1) + L"halvek-listen.exe";
}

// The listener process, its output pipe, and what it has printed so far.
struct ListenerProcess {
  PROCESS_INFORMATION process = {};
  HANDLE output = nullptr;
  std::string printed;

  ListenerProcess() = default;
  ListenerProcess(const ListenerProcess&) = delete;
  ListenerProcess& operator=(const ListenerProcess&) = delete;
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

  bool Start(const std::wstring& arguments) {
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE childOutput = nullptr;
    if (!CreatePipe(&output, &childOutput, &inherit, 0)) return false;
    SetHandleInformation(output, HANDLE_FLAG_INHERIT, 0);
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = childOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    std::wstring commandLine = L"\"" + ListenerPath() + L"\" " + arguments;
    BOOL created = CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                                  nullptr, &startup, &process);
    CloseHandle(childOutput);
    return created != FALSE;
  }

  // Waits (boundedly) until the program owns the queue.
  bool WaitUntilListening() {
    for (int round = 0; round < 400; ++round) {
      if (WaitNamedPipeW(L"\\\\.\\pipe\\RequestQue", 50)) return true;
      if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) return false;
      Sleep(50);
    }
    return false;
  }

  // Reads what is printed until it holds count lines with the marker.
  void ReadUntil(const std::string& marker, size_t count) {
    for (int round = 0; round < 400 && Count(marker) < count; ++round) {
      DWORD availableBytes = 0;
      if (!PeekNamedPipe(output, nullptr, 0, nullptr, &availableBytes, nullptr)) return;
      if (availableBytes == 0) {
        Sleep(50);
        continue;
      }
      std::vector<char> chunk(availableBytes);
      DWORD readBytes = 0;
      if (!ReadFile(output, chunk.data(), availableBytes, &readBytes, nullptr)) return;
      printed.append(chunk.data(), readBytes);
    }
  }

  size_t Count(const std::string& marker) const {
    size_t count = 0;
    for (size_t at = printed.find(marker); at != std::string::npos;
         at = printed.find(marker, at + 1)) {
      ++count;
    }
    return count;
  }

  std::vector<std::string> LinesWith(const std::string& marker) const {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = printed.find('\n'); end != std::string::npos;
         start = end + 1, end = printed.find('\n', start)) {
      std::string line = printed.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.find(marker) != std::string::npos) lines.push_back(line);
    }
    return lines;
  }
};

TEST(ListenProgram, PrintsOneLinePerMessageAsItArrives) {
  RequestQueLock lock;
  ListenerProcess listener;
  ASSERT_TRUE(listener.Start(L""));
  ASSERT_TRUE(listener.WaitUntilListening());
  const LONG jobId = 700000 + static_cast<LONG>(GetCurrentProcessId() & 0xFFFF);
  const std::string marker = "\"job\":" + std::to_string(jobId) + ",";
  ASSERT_TRUE(NotifyStartSpooling(jobId, L"C:\\Out\\\x5831\x544A\x66F8 \"1\".pdf"));
  // Each line is flushed as it is printed: it can be read while the program runs.
  listener.ReadUntil(marker, 1);
  ASSERT_EQ(1u, listener.Count(marker));
  ASSERT_TRUE(NotifyProgressSpooling(jobId, 1048576));
  listener.ReadUntil(marker, 2);
  ASSERT_TRUE(NotifyStopSpooling(jobId));
  listener.ReadUntil(marker, 3);
  EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(listener.process.hProcess, 0));
  std::vector<std::string> lines = listener.LinesWith(marker);
  ASSERT_EQ(3u, lines.size()) << listener.printed;
  EXPECT_EQ("{\"command\":\"START_SPOOLING\"," + marker +
                "\"path\":\"C:\\\\Out\\\\\xE5\xA0\xB1\xE5\x91\x8A\xE6\x9B\xB8 \\\"1\\\".pdf\","
                "\"bytes\":null}",
            lines[0]);
  EXPECT_EQ("{\"command\":\"PROGRESS_SPOOLING\"," + marker + "\"path\":null,\"bytes\":1048576}",
            lines[1]);
  EXPECT_EQ("{\"command\":\"STOP_SPOOLING\"," + marker + "\"path\":null,\"bytes\":null}", lines[2]);
}

// A block whose size and command disagree is reported, not printed as a job.
TEST(ListenProgram, ReportsMalformedMessagesAndStopsAfterCount) {
  RequestQueLock lock;
  ListenerProcess listener;
  ASSERT_TRUE(listener.Start(L"--count 1"));
  ASSERT_TRUE(listener.WaitUntilListening());
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(MsgQueCreate(L"RequestQue", 1, &queue));
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(88));
  ASSERT_NE(nullptr, block);
  DWORD words[2] = {88, 4};  // a start code in a progress-sized block
  std::memcpy(block, words, sizeof(words));
  EXPECT_TRUE(MsgQueSendMessage(queue, block));
  MsgQueDelete(queue);
  MsgQueFree(block);
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(listener.process.hProcess, 60000));
  DWORD exitCode = 1;
  GetExitCodeProcess(listener.process.hProcess, &exitCode);
  EXPECT_EQ(0u, exitCode);
  listener.ReadUntil("\n", 1);
  EXPECT_EQ("{\"error\":\"unexpected message\",\"sizeBytes\":88,\"declaredBytes\":88,\"code\":4}\n",
            listener.printed);
}

TEST(ListenProgram, RefusesAQueueThatAlreadyHasAListener) {
  RequestQueLock lock;
  TestListener owner;
  ASSERT_TRUE(owner.Start(L"RequestQue", 1));
  ListenerProcess listener;
  ASSERT_TRUE(listener.Start(L""));
  ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(listener.process.hProcess, 60000));
  DWORD exitCode = 0;
  GetExitCodeProcess(listener.process.hProcess, &exitCode);
  EXPECT_EQ(1u, exitCode);
}

}  // namespace
