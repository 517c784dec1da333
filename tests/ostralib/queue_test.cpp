#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/ostralib.h"
#include "tests/ostralib/queue_listener.h"

using queue_test::ReceivedMessage;
using queue_test::TestListener;
using queue_test::UniqueQueueName;

namespace {

// A block of sizeBytes whose size word is set and whose other bytes count up.
void* PatternBlock(DWORD sizeBytes) {
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(sizeBytes));
  if (!block) return nullptr;
  for (DWORD i = 0; i < sizeBytes; ++i) block[i] = static_cast<BYTE>(i * 7 + 3);
  std::memcpy(block, &sizeBytes, sizeof(DWORD));
  return block;
}

std::vector<BYTE> BytesOf(const void* block, DWORD sizeBytes) {
  const BYTE* bytes = static_cast<const BYTE*>(block);
  return std::vector<BYTE>(bytes, bytes + sizeBytes);
}

TEST(QueueCreate, FailsAtOnceWithoutListener) {
  MsgQueHandle queue = reinterpret_cast<MsgQueHandle>(1);
  EXPECT_FALSE(MsgQueCreate(UniqueQueueName(L"none").c_str(), 1, &queue));
  EXPECT_EQ(nullptr, queue);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(QueueCreate, RejectsBadArguments) {
  TestListener listener;
  std::wstring name = UniqueQueueName(L"args");
  ASSERT_TRUE(listener.Start(name, 1));
  MsgQueHandle queue = nullptr;
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 1, nullptr));
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 0, &queue));
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 2, &queue));
  EXPECT_FALSE(MsgQueCreate(nullptr, 1, &queue));
  EXPECT_FALSE(MsgQueCreate(L"", 1, &queue));
  EXPECT_FALSE(MsgQueCreate(L"..\\RequestQue", 1, &queue));
  EXPECT_FALSE(
      MsgQueCreate(std::wstring(ostralib::kMaxQueueNameChars + 1, L'q').c_str(), 1, &queue));
  EXPECT_EQ(nullptr, queue);
}

TEST(QueueCreate, SecondListenerCannotOwnTheQueue) {
  TestListener first;
  TestListener second;
  std::wstring name = UniqueQueueName(L"owner");
  ASSERT_TRUE(first.Start(name, 1));
  EXPECT_FALSE(second.Start(name, 1));
}

TEST(QueueAlloc, SizesOutsideTheLimitsGiveNoBlock) {
  EXPECT_EQ(nullptr, MsgQueAlloc(0));
  EXPECT_EQ(nullptr, MsgQueAlloc(3));
  EXPECT_EQ(nullptr, MsgQueAlloc(ostralib::kMaxMessageBytes + 1));
  EXPECT_EQ(nullptr, MsgQueAlloc(MAXDWORD));
  void* block = MsgQueAlloc(ostralib::kMaxMessageBytes);
  ASSERT_NE(nullptr, block);
  EXPECT_TRUE(MsgQueFree(block));
}

TEST(QueueAlloc, BlockIsZeroed) {
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(732));
  ASSERT_NE(nullptr, block);
  EXPECT_EQ(std::vector<BYTE>(732, 0), BytesOf(block, 732));
  EXPECT_TRUE(MsgQueFree(block));
}

TEST(QueueRelease, RefusesWhatItDidNotHandOut) {
  EXPECT_FALSE(MsgQueFree(nullptr));
  EXPECT_FALSE(MsgQueDelete(nullptr));
  // A foreign buffer, with room before it so the check reads in bounds.
  std::vector<BYTE> foreign(64, 0);
  EXPECT_FALSE(MsgQueFree(foreign.data() + 32));
  EXPECT_FALSE(MsgQueDelete(foreign.data() + 32));
}

TEST(QueueSend, MessagesArriveWhole) {
  TestListener listener;
  std::wstring name = UniqueQueueName(L"send");
  ASSERT_TRUE(listener.Start(name, 1));
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  // Boundaries are kept: two messages of different sizes, back to back,
  // and one as large as a block may be.
  const DWORD sizes[] = {732, 4, 88, ostralib::kMaxMessageBytes};
  std::vector<std::vector<BYTE>> sent;
  for (DWORD sizeBytes : sizes) {
    void* block = PatternBlock(sizeBytes);
    ASSERT_NE(nullptr, block);
    sent.push_back(BytesOf(block, sizeBytes));
    EXPECT_TRUE(MsgQueSendMessage(queue, block));
    // The library keeps nothing of the block once the send has returned.
    std::memset(block, 0xEE, sizeBytes);
    EXPECT_TRUE(MsgQueFree(block));
  }
  EXPECT_TRUE(MsgQueDelete(queue));
  ASSERT_TRUE(listener.WaitFor(
      [&](const std::vector<ReceivedMessage>& got) { return got.size() >= sent.size(); }));
  std::vector<ReceivedMessage> got = listener.Messages();
  ASSERT_EQ(sent.size(), got.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_FALSE(got[i].truncated);
    EXPECT_EQ(sent[i].size(), got[i].sizeBytes) << "message " << i;
    EXPECT_EQ(sent[i], got[i].bytes) << "message " << i;
  }
}

TEST(QueueSend, SendsOnlyTheDeclaredSize) {
  TestListener listener;
  std::wstring name = UniqueQueueName(L"declared");
  ASSERT_TRUE(listener.Start(name, 1));
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  void* block = PatternBlock(100);
  DWORD declaredBytes = 40;
  std::memcpy(block, &declaredBytes, sizeof(DWORD));
  EXPECT_TRUE(MsgQueSendMessage(queue, block));
  MsgQueFree(block);
  MsgQueDelete(queue);
  ASSERT_TRUE(
      listener.WaitFor([](const std::vector<ReceivedMessage>& got) { return !got.empty(); }));
  EXPECT_EQ(40u, listener.Messages()[0].sizeBytes);
}

// A size word that does not fit the block would make the send read past it.
TEST(QueueSend, RejectsSizeWordsOutsideTheBlock) {
  TestListener listener;
  std::wstring name = UniqueQueueName(L"badsize");
  ASSERT_TRUE(listener.Start(name, 1));
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  const DWORD badSizes[] = {0, 3, 89, MAXDWORD};
  for (DWORD declaredBytes : badSizes) {
    void* block = MsgQueAlloc(88);
    ASSERT_NE(nullptr, block);
    std::memcpy(block, &declaredBytes, sizeof(DWORD));
    EXPECT_FALSE(MsgQueSendMessage(queue, block)) << declaredBytes;
    MsgQueFree(block);
  }
  EXPECT_FALSE(MsgQueSendMessage(queue, nullptr));
  std::vector<BYTE> foreign(64, 0);
  EXPECT_FALSE(MsgQueSendMessage(queue, foreign.data() + 32));
  void* block = PatternBlock(88);
  EXPECT_FALSE(MsgQueSendMessage(nullptr, block));
  // The queue is still good for a proper block.
  EXPECT_TRUE(MsgQueSendMessage(queue, block));
  MsgQueFree(block);
  MsgQueDelete(queue);
  ASSERT_TRUE(
      listener.WaitFor([](const std::vector<ReceivedMessage>& got) { return !got.empty(); }));
  EXPECT_EQ(1u, listener.Messages().size());
}

TEST(QueueSend, FailsWhenTheListenerHasGone) {
  std::wstring name = UniqueQueueName(L"gone");
  MsgQueHandle queue = nullptr;
  {
    TestListener listener;
    ASSERT_TRUE(listener.Start(name, 1));
    ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  }
  void* block = PatternBlock(88);
  EXPECT_FALSE(MsgQueSendMessage(queue, block));
  EXPECT_TRUE(MsgQueFree(block));
  EXPECT_TRUE(MsgQueDelete(queue));
}

// Owns the queue's pipe but never reads from it.
struct StalledListener {
  HANDLE pipe;
  explicit StalledListener(const std::wstring& name)
      : pipe(ostralib::CreateQueueServerInstance(name.c_str(), true)) {}
  ~StalledListener() {
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  }
};

TEST(QueueSend, GivesUpWhenTheListenerStopsReading) {
  std::wstring name = UniqueQueueName(L"stalled");
  StalledListener stalled(name);
  ASSERT_NE(INVALID_HANDLE_VALUE, stalled.pipe);
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  void* block = PatternBlock(ostralib::kMaxMessageBytes / 4);
  ASSERT_NE(nullptr, block);
  // The pipe's buffer takes a few blocks; then a send must fail rather
  // than wait for the reader.
  int sent = 0;
  bool failed = false;
  ULONGLONG failedAfterMs = 0;
  for (int attempt = 0; attempt < 64 && !failed; ++attempt) {
    ULONGLONG before = GetTickCount64();
    if (MsgQueSendMessage(queue, block)) {
      ++sent;
    } else {
      failed = true;
      failedAfterMs = GetTickCount64() - before;
    }
  }
  EXPECT_TRUE(failed) << "sent " << sent << " blocks to a listener that reads nothing";
  std::printf(
      "stalled listener: %d blocks of %lu bytes accepted, next send gave up after %llu ms\n", sent,
      static_cast<unsigned long>(ostralib::kMaxMessageBytes / 4), failedAfterMs);
  // A queue whose write was cancelled refuses further sends.
  EXPECT_FALSE(MsgQueSendMessage(queue, block));
  MsgQueFree(block);
  MsgQueDelete(queue);
}

TEST(QueueCreate, BusyQueueFailsInsteadOfWaiting) {
  std::wstring name = UniqueQueueName(L"busy");
  StalledListener stalled(name);
  ASSERT_NE(INVALID_HANDLE_VALUE, stalled.pipe);
  MsgQueHandle first = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &first));
  // The only instance is taken and the listener never frees it.
  MsgQueHandle second = nullptr;
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 1, &second));
  EXPECT_EQ(nullptr, second);
  MsgQueDelete(first);
}

struct SenderArgs {
  const std::wstring* name;
  int index;
  int sentCount;
};

DWORD WINAPI SendMany(void* parameter) {
  SenderArgs* args = static_cast<SenderArgs*>(parameter);
  for (int i = 0; i < 25; ++i) {
    MsgQueHandle queue = nullptr;
    if (!MsgQueCreate(args->name->c_str(), 1, &queue)) continue;
    BYTE* block = static_cast<BYTE*>(MsgQueAlloc(12));
    DWORD words[3] = {12, static_cast<DWORD>(args->index), static_cast<DWORD>(i)};
    std::memcpy(block, words, sizeof(words));
    if (MsgQueSendMessage(queue, block)) ++args->sentCount;
    MsgQueDelete(queue);
    MsgQueFree(block);
  }
  return 0;
}

TEST(QueueSend, ConcurrentSendersLoseNothing) {
  TestListener listener;
  std::wstring name = UniqueQueueName(L"many");
  ASSERT_TRUE(listener.Start(name, 8));
  const int kSenders = 6;
  SenderArgs args[kSenders];
  HANDLE threads[kSenders];
  for (int i = 0; i < kSenders; ++i) {
    args[i] = {&name, i, 0};
    threads[i] = CreateThread(nullptr, 0, SendMany, &args[i], 0, nullptr);
    ASSERT_NE(nullptr, threads[i]);
  }
  WaitForMultipleObjects(kSenders, threads, TRUE, INFINITE);
  int sentTotal = 0;
  for (int i = 0; i < kSenders; ++i) {
    CloseHandle(threads[i]);
    sentTotal += args[i].sentCount;
  }
  EXPECT_GT(sentTotal, 0);
  ASSERT_TRUE(listener.WaitFor([&](const std::vector<ReceivedMessage>& got) {
    return got.size() >= static_cast<size_t>(sentTotal);
  }));
  // Every reported send arrived once, intact.
  std::vector<int> seen(kSenders * 25, 0);
  for (const ReceivedMessage& message : listener.Messages()) {
    ASSERT_EQ(12u, message.sizeBytes);
    DWORD words[3];
    std::memcpy(words, message.bytes.data(), sizeof(words));
    ASSERT_LT(words[1], static_cast<DWORD>(kSenders));
    ASSERT_LT(words[2], 25u);
    ++seen[words[1] * 25 + words[2]];
  }
  int received = 0;
  for (int count : seen) {
    EXPECT_LE(count, 1);
    received += count;
  }
  EXPECT_EQ(sentTotal, received);
  std::printf("concurrent senders: %d of %d messages sent and received\n", sentTotal,
              kSenders * 25);
}

}  // namespace
