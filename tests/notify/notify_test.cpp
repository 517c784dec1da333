#include "notify/notify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "tests/ostralib/queue_listener.h"

using queue_test::Messages;

namespace {

// The layout byte by byte: size, code, name at 12, job at 76, payload at 80;
// blocks arrive zeroed, so the rest is zero.
std::vector<BYTE> Expected(DWORD sizeBytes, DWORD code, const std::wstring& name, LONG jobId,
                           const std::wstring& path = L"", DWORD progress = 0) {
  std::vector<BYTE> bytes(sizeBytes, 0);
  auto put = [&](size_t at, DWORD value) { std::memcpy(&bytes[at], &value, 4); };
  auto text = [&](size_t at, const std::wstring& s) {
    std::memcpy(&bytes[at], s.data(), 2 * s.size());
  };
  text(12, name);
  if (sizeBytes == 732) text(80, path);
  put(0, sizeBytes);
  put(4, code);
  put(76, static_cast<DWORD>(jobId));
  if (sizeBytes == 88) put(80, progress);
  return bytes;
}

// Several jobs at once, each with a path of another length: the path field
// holds 260 units, longer paths are cut and what follows stays zero.
TEST(NotifyToListener, LayoutsOfJobsOnManyThreads) {
  queue_test::RequestQueLock lock;
  queue_test::TestListener listener;
  ASSERT_TRUE(listener.Start(L"RequestQue", 8));
  const std::wstring letters = L"abcdefghijklmnopqrstuvwxyz";
  std::vector<std::wstring> paths = {L"C:\\Output\\\x5831\x544A\x66F8.pdf"};
  for (size_t length : {0, 260, 261}) {
    std::wstring path;
    while (path.size() < length) path += letters;
    paths.push_back(path.substr(0, length));
  }
  const LONG base = static_cast<LONG>((GetCurrentProcessId() & 0xFFFF) << 8);
  std::vector<int> failures(paths.size(), 0);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < paths.size(); ++i) {
    const LONG job = i % 2 ? -(base + LONG(i)) : base + LONG(i);
    threads.emplace_back([&, i, job] {
      failures[i] += !NotifyStartSpooling(job, paths[i].c_str());
      failures[i] += !NotifyProgressSpooling(job, 0x80000001u);
      failures[i] += !NotifyStopSpooling(job);
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(paths.size(), 0), failures);
  const Messages all =
      listener.WaitFor([&](const Messages& got) { return got.size() >= 3 * paths.size(); });
  for (size_t i = 0; i < paths.size(); ++i) {
    const LONG job = i % 2 ? -(base + LONG(i)) : base + LONG(i);
    Messages expected = {Expected(732, 4, L"START_SPOOLING", job, paths[i].substr(0, 260)),
                         Expected(88, 6, L"PROGRESS_SPOOLING", job, L"", 0x80000001u),
                         Expected(84, 5, L"STOP_SPOOLING", job)};
    Messages mine;  // other programs may use the queue too
    std::copy_if(all.begin(), all.end(), std::back_inserter(mine), [&](const std::vector<BYTE>& m) {
      return m.size() >= 80 && std::memcmp(&m[76], &job, 4) == 0;
    });
    std::sort(expected.begin(), expected.end());
    std::sort(mine.begin(), mine.end());
    EXPECT_EQ(expected, mine) << "path of " << paths[i].size();
  }
}

}  // namespace
