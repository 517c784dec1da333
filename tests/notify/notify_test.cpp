#include "notify/notify.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "tests/ostralib/queue_listener.h"

using queue_test::ReceivedMessage;
using queue_test::RequestQueLock;
using queue_test::TestListener;

namespace {

// Job numbers of this process, so that messages from other programs that
// happen to report to the queue meanwhile are told apart.
LONG UniqueJobId() {
  static LONG counter = 0;
  return static_cast<LONG>((GetCurrentProcessId() & 0xFFFF) << 12) + InterlockedIncrement(&counter);
}

void PutDword(std::vector<BYTE>* bytes, size_t offset, DWORD value) {
  std::memcpy(bytes->data() + offset, &value, sizeof(value));
}

void PutText(std::vector<BYTE>* bytes, size_t offset, const std::wstring& text) {
  for (size_t i = 0; i < text.size(); ++i) {
    (*bytes)[offset + 2 * i] = static_cast<BYTE>(text[i] & 0xFF);
    (*bytes)[offset + 2 * i + 1] = static_cast<BYTE>(text[i] >> 8);
  }
}

// The message the layout prescribes, written out byte by byte; the library
// hands blocks over zeroed, so the tail arrives as zero.
std::vector<BYTE> ExpectedMessage(DWORD sizeBytes, DWORD code, const std::wstring& name,
                                  LONG jobId) {
  std::vector<BYTE> bytes(sizeBytes, 0);
  PutDword(&bytes, 0, sizeBytes);
  PutDword(&bytes, 4, code);
  PutText(&bytes, 12, name);
  PutDword(&bytes, 76, static_cast<DWORD>(jobId));
  return bytes;
}

LONG JobOf(const ReceivedMessage& message) {
  if (message.bytes.size() < 80) return 0;
  LONG jobId;
  std::memcpy(&jobId, message.bytes.data() + 76, sizeof(jobId));
  return jobId;
}

class NotifyToListener : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(listener_.Start(L"RequestQue", 8)); }

  // The messages of one job, once count of them have arrived.
  std::vector<ReceivedMessage> MessagesOf(LONG jobId, size_t count) {
    auto ofJob = [jobId](const std::vector<ReceivedMessage>& all) {
      std::vector<ReceivedMessage> mine;
      for (const ReceivedMessage& message : all) {
        if (JobOf(message) == jobId) mine.push_back(message);
      }
      return mine;
    };
    listener_.WaitFor(
        [&](const std::vector<ReceivedMessage>& all) { return ofJob(all).size() >= count; });
    return ofJob(listener_.Messages());
  }

  RequestQueLock lock_;
  TestListener listener_;
};

TEST_F(NotifyToListener, StartCarriesThePathZeroPadded) {
  LONG jobId = UniqueJobId();
  std::wstring path = L"C:\\Output\\\x5831\x544A\x66F8.pdf";
  ASSERT_TRUE(NotifyStartSpooling(jobId, path.c_str()));
  std::vector<ReceivedMessage> got = MessagesOf(jobId, 1);
  ASSERT_EQ(1u, got.size());
  std::vector<BYTE> expected = ExpectedMessage(732, 4, L"START_SPOOLING", jobId);
  PutText(&expected, 80, path);
  EXPECT_EQ(732u, got[0].sizeBytes);
  EXPECT_EQ(expected, got[0].bytes);
}

TEST_F(NotifyToListener, StartPathAtAndBeyondTheFieldsEnd) {
  struct PathCase {
    size_t lengthChars;
    size_t expectedChars;  // units in the field
  };
  const PathCase cases[] = {{0, 0}, {259, 259}, {260, 260}, {261, 260}, {400, 260}};
  for (const PathCase& c : cases) {
    LONG jobId = UniqueJobId();
    std::wstring path;
    for (size_t i = 0; i < c.lengthChars; ++i) path.push_back(static_cast<WCHAR>(L'a' + i % 26));
    ASSERT_TRUE(NotifyStartSpooling(jobId, path.c_str())) << c.lengthChars;
    std::vector<ReceivedMessage> got = MessagesOf(jobId, 1);
    ASSERT_EQ(1u, got.size()) << c.lengthChars;
    std::vector<BYTE> expected = ExpectedMessage(732, 4, L"START_SPOOLING", jobId);
    PutText(&expected, 80, path.substr(0, c.expectedChars));
    EXPECT_EQ(expected, got[0].bytes) << c.lengthChars;
    // The reserved bytes after the path stay zero even for a cut path.
    EXPECT_EQ(std::vector<BYTE>(128, 0),
              std::vector<BYTE>(got[0].bytes.begin() + 600, got[0].bytes.begin() + 728));
  }
}

TEST_F(NotifyToListener, ProgressAndStopLayouts) {
  LONG jobId = UniqueJobId();
  ASSERT_TRUE(NotifyProgressSpooling(jobId, 0x80000001u));
  std::vector<ReceivedMessage> got = MessagesOf(jobId, 1);
  ASSERT_EQ(1u, got.size());
  std::vector<BYTE> progress = ExpectedMessage(88, 6, L"PROGRESS_SPOOLING", jobId);
  PutDword(&progress, 80, 0x80000001u);
  EXPECT_EQ(progress, got[0].bytes);
  // 17 units of name, then 15 zero units.
  EXPECT_EQ(std::vector<BYTE>(30, 0),
            std::vector<BYTE>(got[0].bytes.begin() + 12 + 34, got[0].bytes.begin() + 76));

  ASSERT_TRUE(NotifyStopSpooling(jobId));
  got = MessagesOf(jobId, 2);
  ASSERT_EQ(2u, got.size());
  EXPECT_EQ(ExpectedMessage(84, 5, L"STOP_SPOOLING", jobId), got[1].bytes);
}

TEST_F(NotifyToListener, NegativeJobNumbersPassAsTheyAre) {
  LONG jobId = -UniqueJobId();
  ASSERT_TRUE(NotifyStopSpooling(jobId));
  std::vector<ReceivedMessage> got = MessagesOf(jobId, 1);
  ASSERT_EQ(1u, got.size());
  EXPECT_EQ(ExpectedMessage(84, 5, L"STOP_SPOOLING", jobId), got[0].bytes);
}

struct JobThreadArgs {
  LONG jobId;
  int failures;
};

DWORD WINAPI ReportOneJob(void* parameter) {
  JobThreadArgs* args = static_cast<JobThreadArgs*>(parameter);
  if (!NotifyStartSpooling(args->jobId, L"C:\\out\\job.ps")) ++args->failures;
  for (DWORD chunk = 1; chunk <= 5; ++chunk) {
    if (!NotifyProgressSpooling(args->jobId, chunk * 524288)) ++args->failures;
  }
  if (!NotifyStopSpooling(args->jobId)) ++args->failures;
  return 0;
}

TEST_F(NotifyToListener, JobsOnManyThreadsKeepTheirOrder) {
  const int kJobs = 4;
  JobThreadArgs args[kJobs];
  HANDLE threads[kJobs];
  for (int i = 0; i < kJobs; ++i) {
    args[i] = {UniqueJobId(), 0};
    threads[i] = CreateThread(nullptr, 0, ReportOneJob, &args[i], 0, nullptr);
    ASSERT_NE(nullptr, threads[i]);
  }
  WaitForMultipleObjects(kJobs, threads, TRUE, INFINITE);
  for (int i = 0; i < kJobs; ++i) {
    CloseHandle(threads[i]);
    EXPECT_EQ(0, args[i].failures);
    std::vector<ReceivedMessage> got = MessagesOf(args[i].jobId, 7);
    ASSERT_EQ(7u, got.size()) << "job " << i;
    // Connections may be served out of order; what counts is that each
    // message arrived once and intact.
    std::vector<std::vector<BYTE>> expected;
    std::vector<BYTE> start = ExpectedMessage(732, 4, L"START_SPOOLING", args[i].jobId);
    PutText(&start, 80, L"C:\\out\\job.ps");
    expected.push_back(start);
    for (DWORD chunk = 1; chunk <= 5; ++chunk) {
      std::vector<BYTE> progress = ExpectedMessage(88, 6, L"PROGRESS_SPOOLING", args[i].jobId);
      PutDword(&progress, 80, chunk * 524288);
      expected.push_back(progress);
    }
    expected.push_back(ExpectedMessage(84, 5, L"STOP_SPOOLING", args[i].jobId));
    std::vector<std::vector<BYTE>> received;
    for (const ReceivedMessage& message : got) received.push_back(message.bytes);
    std::sort(expected.begin(), expected.end());
    std::sort(received.begin(), received.end());
    EXPECT_EQ(expected, received) << "job " << i;
  }
}

TEST(NotifyWithoutListener, EveryNotificationReportsFailure) {
  RequestQueLock lock;
  EXPECT_FALSE(NotifyStartSpooling(1, L"C:\\out\\a.pdf"));
  EXPECT_FALSE(NotifyProgressSpooling(1, 524288));
  EXPECT_FALSE(NotifyStopSpooling(1));
}

}  // namespace
