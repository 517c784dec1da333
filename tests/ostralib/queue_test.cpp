#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "platform/ostralib.h"
#include "tests/ostralib/queue_listener.h"

using queue_test::ReceivedMessage;
using queue_test::TestListener;
using queue_test::UniqueQueueName;

namespace {

// A block of sizeBytes whose size word is set and whose other bytes count up.
BYTE* PatternBlock(DWORD sizeBytes) {
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(sizeBytes));
  if (!block) return nullptr;
  for (DWORD i = 0; i < sizeBytes; ++i) block[i] = static_cast<BYTE>(i * 7 + 3);
  std::memcpy(block, &sizeBytes, sizeof(DWORD));
  return block;
}

// A listener on a fresh queue and one sender's handle to it.
struct Connected {
  std::wstring name = UniqueQueueName(L"q");
  TestListener listener;
  MsgQueHandle queue = nullptr;
  bool ok = listener.Start(name, 1) && MsgQueCreate(name.c_str(), 1, &queue);
  ~Connected() {
    if (queue) MsgQueDelete(queue);
  }
  std::vector<ReceivedMessage> WaitFor(size_t count) {
    if (queue) MsgQueDelete(queue);
    queue = nullptr;
    listener.WaitFor([&](const std::vector<ReceivedMessage>& got) { return got.size() >= count; });
    return listener.Messages();
  }
};

// Owns the queue's pipe but never reads from it.
struct StalledListener {
  std::wstring name = UniqueQueueName(L"stalled");
  HANDLE pipe = ostralib::CreateQueueServerInstance(name.c_str(), true);
  ~StalledListener() {
    if (pipe != INVALID_HANDLE_VALUE) CloseHandle(pipe);
  }
};

TEST(QueueCreate, RefusedWithoutListenerBadArgumentsOrSecondOwner) {
  MsgQueHandle queue = reinterpret_cast<MsgQueHandle>(1);
  EXPECT_FALSE(MsgQueCreate(UniqueQueueName(L"none").c_str(), 1, &queue));
  EXPECT_EQ(nullptr, queue);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());

  Connected good;
  ASSERT_TRUE(good.ok);
  const WCHAR* name = good.name.c_str();
  queue = nullptr;
  EXPECT_FALSE(MsgQueCreate(name, 1, nullptr));
  EXPECT_FALSE(MsgQueCreate(name, 0, &queue));
  EXPECT_FALSE(MsgQueCreate(name, 2, &queue));
  EXPECT_FALSE(MsgQueCreate(nullptr, 1, &queue));
  EXPECT_FALSE(MsgQueCreate(L"", 1, &queue));
  EXPECT_FALSE(MsgQueCreate(L"..\\RequestQue", 1, &queue));
  EXPECT_FALSE(
      MsgQueCreate(std::wstring(ostralib::kMaxQueueNameChars + 1, L'q').c_str(), 1, &queue));
  EXPECT_EQ(nullptr, queue);
  TestListener second;
  EXPECT_FALSE(second.Start(good.name, 1));
}

TEST(QueueCreate, BusyQueueFailsInsteadOfWaiting) {
  StalledListener stalled;
  ASSERT_NE(INVALID_HANDLE_VALUE, stalled.pipe);
  MsgQueHandle first = nullptr;
  ASSERT_TRUE(MsgQueCreate(stalled.name.c_str(), 1, &first));
  // The only instance is taken and the listener never frees it.
  MsgQueHandle second = nullptr;
  EXPECT_FALSE(MsgQueCreate(stalled.name.c_str(), 1, &second));
  EXPECT_EQ(nullptr, second);
  MsgQueDelete(first);
}

TEST(QueueAlloc, ZeroedBlocksWithinTheLimitsAndOnlyOwnBlocksReleased) {
  const DWORD refused[] = {0, 3, ostralib::kMaxMessageBytes + 1, MAXDWORD};
  for (DWORD sizeBytes : refused) {
    EXPECT_EQ(nullptr, MsgQueAlloc(sizeBytes)) << sizeBytes;
  }
  const DWORD accepted[] = {732, ostralib::kMaxMessageBytes};
  for (DWORD sizeBytes : accepted) {
    BYTE* block = static_cast<BYTE*>(MsgQueAlloc(sizeBytes));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(std::vector<BYTE>(sizeBytes, 0), std::vector<BYTE>(block, block + sizeBytes));
    EXPECT_TRUE(MsgQueFree(block));
  }
  EXPECT_FALSE(MsgQueFree(nullptr));
  EXPECT_FALSE(MsgQueDelete(nullptr));
  // A foreign buffer, with room before it so the check reads in bounds.
  std::vector<BYTE> foreign(64, 0);
  EXPECT_FALSE(MsgQueFree(foreign.data() + 32));
  EXPECT_FALSE(MsgQueDelete(foreign.data() + 32));
}

TEST(QueueSend, MessagesArriveWholeAndOnlyTheDeclaredSize) {
  Connected c;
  ASSERT_TRUE(c.ok);
  // Boundaries are kept, up to the largest block; a smaller size word sends less.
  const DWORD sizes[] = {732, 4, 88, ostralib::kMaxMessageBytes, 100};
  std::vector<std::vector<BYTE>> sent;
  for (DWORD sizeBytes : sizes) {
    BYTE* block = PatternBlock(sizeBytes);
    ASSERT_NE(nullptr, block);
    if (sizeBytes == 100) {
      const DWORD declaredBytes = 40;
      std::memcpy(block, &declaredBytes, sizeof(DWORD));
    }
    sent.emplace_back(block, block + (sizeBytes == 100 ? 40 : sizeBytes));
    EXPECT_TRUE(MsgQueSendMessage(c.queue, block));
    // The library keeps nothing of the block once the send has returned.
    std::memset(block, 0xEE, sizeBytes);
    EXPECT_TRUE(MsgQueFree(block));
  }
  const std::vector<ReceivedMessage> got = c.WaitFor(sent.size());
  ASSERT_EQ(sent.size(), got.size());
  for (size_t i = 0; i < sent.size(); ++i) {
    EXPECT_FALSE(got[i].truncated);
    EXPECT_EQ(sent[i].size(), got[i].sizeBytes) << "message " << i;
    EXPECT_EQ(sent[i], got[i].bytes) << "message " << i;
  }
}

// A size word that does not fit the block would make the send read past it.
TEST(QueueSend, RejectsSizeWordsOutsideTheBlockAndForeignArguments) {
  Connected c;
  ASSERT_TRUE(c.ok);
  const DWORD badSizes[] = {0, 3, 89, MAXDWORD};
  for (DWORD declaredBytes : badSizes) {
    void* block = MsgQueAlloc(88);
    ASSERT_NE(nullptr, block);
    std::memcpy(block, &declaredBytes, sizeof(DWORD));
    EXPECT_FALSE(MsgQueSendMessage(c.queue, block)) << declaredBytes;
    MsgQueFree(block);
  }
  EXPECT_FALSE(MsgQueSendMessage(c.queue, nullptr));
  std::vector<BYTE> foreign(64, 0);
  EXPECT_FALSE(MsgQueSendMessage(c.queue, foreign.data() + 32));
  BYTE* block = PatternBlock(88);
  EXPECT_FALSE(MsgQueSendMessage(nullptr, block));
  // The queue is still good for a proper block.
  EXPECT_TRUE(MsgQueSendMessage(c.queue, block));
  MsgQueFree(block);
  EXPECT_EQ(1u, c.WaitFor(1).size());
}

TEST(QueueSend, FailsWhenTheListenerHasGone) {
  Connected c;
  ASSERT_TRUE(c.ok);
  c.listener.Stop();
  BYTE* block = PatternBlock(88);
  EXPECT_FALSE(MsgQueSendMessage(c.queue, block));
  EXPECT_TRUE(MsgQueFree(block));
  EXPECT_TRUE(MsgQueDelete(c.queue));
  c.queue = nullptr;
}

TEST(QueueSend, GivesUpWhenTheListenerStopsReading) {
  StalledListener stalled;
  ASSERT_NE(INVALID_HANDLE_VALUE, stalled.pipe);
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(MsgQueCreate(stalled.name.c_str(), 1, &queue));
  BYTE* block = PatternBlock(ostralib::kMaxMessageBytes / 4);
  ASSERT_NE(nullptr, block);
  // The pipe's buffer takes a few blocks; then a send must fail rather than
  // wait for the reader.
  int sent = 0;
  bool failed = false;
  ULONGLONG failedAfterMs = 0;
  for (int attempt = 0; attempt < 64 && !failed; ++attempt) {
    const ULONGLONG before = GetTickCount64();
    failed = !MsgQueSendMessage(queue, block);
    if (failed) failedAfterMs = GetTickCount64() - before;
    sent += !failed;
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

TEST(QueueSend, ConcurrentSendersLoseNothing) {
  TestListener listener;
  const std::wstring name = UniqueQueueName(L"many");
  ASSERT_TRUE(listener.Start(name, 8));
  constexpr DWORD kSenders = 6, kEach = 25;
  std::vector<int> sentCount(kSenders, 0);
  std::vector<std::thread> threads;
  for (DWORD t = 0; t < kSenders; ++t) {
    threads.emplace_back([&, t] {
      for (DWORD i = 0; i < kEach; ++i) {
        MsgQueHandle queue = nullptr;
        if (!MsgQueCreate(name.c_str(), 1, &queue)) continue;
        BYTE* block = static_cast<BYTE*>(MsgQueAlloc(12));
        const DWORD words[3] = {12, t, i};
        std::memcpy(block, words, sizeof(words));
        sentCount[t] += MsgQueSendMessage(queue, block) ? 1 : 0;
        MsgQueDelete(queue);
        MsgQueFree(block);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  int sentTotal = 0;
  for (int count : sentCount) sentTotal += count;
  EXPECT_GT(sentTotal, 0);
  ASSERT_TRUE(listener.WaitFor([&](const std::vector<ReceivedMessage>& got) {
    return got.size() >= static_cast<size_t>(sentTotal);
  }));
  // Every reported send arrived once, intact.
  std::vector<int> seen(kSenders * kEach, 0);
  for (const ReceivedMessage& message : listener.Messages()) {
    ASSERT_EQ(12u, message.sizeBytes);
    DWORD words[3];
    std::memcpy(words, message.bytes.data(), sizeof(words));
    ASSERT_TRUE(words[1] < kSenders && words[2] < kEach);
    EXPECT_EQ(0, seen[words[1] * kEach + words[2]]++) << "received twice";
  }
  EXPECT_EQ(sentTotal, static_cast<int>(listener.Messages().size()));
  std::printf("concurrent senders: %d of %lu messages sent and received\n", sentTotal,
              static_cast<unsigned long>(kSenders * kEach));
}

}  // namespace
