#include "notify/notify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/ostralib/queue_listener.h"

using queue_test::ReceivedMessage;
using queue_test::RequestQueLock;
using queue_test::TestListener;

namespace {

// Job numbers of this process, so that other programs' messages to the
// queue are told apart.
LONG UniqueJobId() {
  static LONG counter = 0;
  return static_cast<LONG>((GetCurrentProcessId() & 0xFFFF) << 12) + InterlockedIncrement(&counter);
}

// The layout written out byte by byte: size, code, name at 12, job at 76,
// then the payload at 80; blocks arrive zeroed, so the rest is zero.
std::vector<BYTE> Expected(DWORD sizeBytes, DWORD code, const std::wstring& name, LONG jobId,
                           const std::wstring& path = L"", DWORD progress = 0) {
  std::vector<BYTE> bytes(sizeBytes, 0);
  auto put = [&](size_t offset, DWORD value) { std::memcpy(&bytes[offset], &value, 4); };
  auto text = [&](size_t offset, const std::wstring& s) {
    for (size_t i = 0; i < s.size(); ++i) {
      bytes[offset + 2 * i] = static_cast<BYTE>(s[i] & 0xFF);
      bytes[offset + 2 * i + 1] = static_cast<BYTE>(s[i] >> 8);
    }
  };
  put(0, sizeBytes);
  put(4, code);
  text(12, name);
  put(76, static_cast<DWORD>(jobId));
  if (sizeBytes == 732) text(80, path);
  if (sizeBytes == 88) put(80, progress);
  return bytes;
}

class NotifyToListener : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(listener_.Start(L"RequestQue", 8)); }

  // The bytes of one job's messages, sorted, once count have arrived.
  std::vector<std::vector<BYTE>> MessagesOf(LONG jobId, size_t count) {
    auto ofJob = [jobId](const std::vector<ReceivedMessage>& all) {
      std::vector<std::vector<BYTE>> mine;
      for (const ReceivedMessage& message : all) {
        LONG job = 0;
        if (message.bytes.size() >= 80) std::memcpy(&job, &message.bytes[76], sizeof(job));
        if (job == jobId) mine.push_back(message.bytes);
      }
      std::sort(mine.begin(), mine.end());
      return mine;
    };
    listener_.WaitFor(
        [&](const std::vector<ReceivedMessage>& all) { return ofJob(all).size() >= count; });
    return ofJob(listener_.Messages());
  }

  RequestQueLock lock_;
  TestListener listener_;
};

// The path field holds 260 units; longer paths are cut and the reserved
// bytes behind it stay zero.
TEST_F(NotifyToListener, StartCarriesThePathZeroPadded) {
  std::vector<std::wstring> paths = {L"C:\\Output\\\x5831\x544A\x66F8.pdf"};
  for (size_t length : {0, 259, 260, 261, 400}) {
    std::wstring path;
    for (size_t i = 0; i < length; ++i) path.push_back(static_cast<WCHAR>(L'a' + i % 26));
    paths.push_back(path);
  }
  for (const std::wstring& path : paths) {
    const LONG jobId = UniqueJobId();
    ASSERT_TRUE(NotifyStartSpooling(jobId, path.c_str())) << path.size();
    EXPECT_EQ(std::vector<std::vector<BYTE>>{Expected(732, 4, L"START_SPOOLING", jobId,
                                                      path.substr(0, 260))},
              MessagesOf(jobId, 1))
        << path.size();
  }
}

TEST_F(NotifyToListener, ProgressAndStopLayouts) {
  for (LONG jobId : {UniqueJobId(), -UniqueJobId()}) {
    ASSERT_TRUE(NotifyProgressSpooling(jobId, 0x80000001u));
    ASSERT_TRUE(NotifyStopSpooling(jobId));
    std::vector<std::vector<BYTE>> expected = {
        Expected(88, 6, L"PROGRESS_SPOOLING", jobId, L"", 0x80000001u),
        Expected(84, 5, L"STOP_SPOOLING", jobId)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, MessagesOf(jobId, 2)) << jobId;
  }
}

// Connections may be served out of order; each message arrives once, intact.
TEST_F(NotifyToListener, JobsOnManyThreadsLoseNothing) {
  std::vector<LONG> jobs = {UniqueJobId(), UniqueJobId(), UniqueJobId(), UniqueJobId()};
  std::vector<int> failures(jobs.size(), 0);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < jobs.size(); ++i) {
    threads.emplace_back([&, i] {
      failures[i] += !NotifyStartSpooling(jobs[i], L"C:\\out\\job.ps");
      for (DWORD chunk = 1; chunk <= 5; ++chunk) {
        failures[i] += !NotifyProgressSpooling(jobs[i], chunk * 524288);
      }
      failures[i] += !NotifyStopSpooling(jobs[i]);
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < jobs.size(); ++i) {
    EXPECT_EQ(0, failures[i]);
    std::vector<std::vector<BYTE>> expected = {
        Expected(732, 4, L"START_SPOOLING", jobs[i], L"C:\\out\\job.ps"),
        Expected(84, 5, L"STOP_SPOOLING", jobs[i])};
    for (DWORD chunk = 1; chunk <= 5; ++chunk) {
      expected.push_back(Expected(88, 6, L"PROGRESS_SPOOLING", jobs[i], L"", chunk * 524288));
    }
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(expected, MessagesOf(jobs[i], 7)) << "job " << i;
  }
}

TEST(NotifyWithoutListener, EveryNotificationReportsFailure) {
  RequestQueLock lock;
  EXPECT_FALSE(NotifyStartSpooling(1, L"C:\\out\\a.pdf"));
  EXPECT_FALSE(NotifyProgressSpooling(1, 524288));
  EXPECT_FALSE(NotifyStopSpooling(1));
}

}  // namespace
