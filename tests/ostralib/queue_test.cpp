#include <gtest/gtest.h>

#include <cstring>

#include "platform/ostralib.h"
#include "tests/ostralib/queue_listener.h"

using queue_test::Messages;
using queue_test::TestListener;
using queue_test::UniqueQueueName;

namespace {

// A block whose size word is declaredBytes and whose other bytes count up.
BYTE* PatternBlock(DWORD sizeBytes, DWORD declaredBytes = 0) {
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(sizeBytes));
  for (DWORD i = 0; block && i < sizeBytes; ++i) block[i] = static_cast<BYTE>(i * 7 + 3);
  if (!declaredBytes) declaredBytes = sizeBytes;
  if (block) std::memcpy(block, &declaredBytes, sizeof(DWORD));
  return block;
}

// A listener on a fresh queue and one sender's handle to it.
struct Connected {
  std::wstring name = UniqueQueueName(L"q");
  TestListener listener;
  MsgQueHandle queue = nullptr;
  bool ok = listener.Start(name, 1) && MsgQueCreate(name.c_str(), 1, &queue);
  ~Connected() { MsgQueDelete(queue); }
  Messages Sent(size_t count) {
    MsgQueDelete(queue);
    queue = nullptr;
    return listener.WaitFor([&](const Messages& got) { return got.size() >= count; });
  }
};

TEST(QueueCreate, RefusedWithoutListenerBadArgumentsOrSecondOwner) {
  MsgQueHandle queue = reinterpret_cast<MsgQueHandle>(1);
  EXPECT_FALSE(MsgQueCreate(UniqueQueueName(L"none").c_str(), 1, &queue));  // fails at once
  EXPECT_EQ(nullptr, queue);
  EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
  Connected good;
  ASSERT_TRUE(good.ok);
  const std::wstring tooLong(ostralib::kMaxQueueNameChars + 1, L'q');
  EXPECT_FALSE(MsgQueCreate(good.name.c_str(), 1, nullptr));
  for (DWORD mode : {0, 2}) EXPECT_FALSE(MsgQueCreate(good.name.c_str(), mode, &queue)) << mode;
  for (const WCHAR* name :
       {static_cast<const WCHAR*>(nullptr), L"", L"..\\RequestQue", tooLong.c_str()}) {
    EXPECT_FALSE(MsgQueCreate(name, 1, &queue));
  }
  EXPECT_EQ(nullptr, queue);
  EXPECT_FALSE(TestListener().Start(good.name, 1));
}

TEST(QueueAlloc, ZeroedBlocksWithinTheLimitsAndOnlyOwnBlocksReleased) {
  for (DWORD sizeBytes : {0ul, 3ul, ostralib::kMaxMessageBytes + 1ul, 0xFFFFFFFFul}) {
    EXPECT_EQ(nullptr, MsgQueAlloc(sizeBytes)) << sizeBytes;
  }
  for (DWORD sizeBytes : {732ul, static_cast<unsigned long>(ostralib::kMaxMessageBytes)}) {
    BYTE* block = static_cast<BYTE*>(MsgQueAlloc(sizeBytes));
    ASSERT_NE(nullptr, block);
    EXPECT_EQ(std::vector<BYTE>(sizeBytes, 0), std::vector<BYTE>(block, block + sizeBytes));
    EXPECT_TRUE(MsgQueFree(block));
  }
  std::vector<BYTE> foreign(64, 0);  // room before it, so the check reads in bounds
  for (void* block : {static_cast<void*>(nullptr), static_cast<void*>(&foreign[32])}) {
    EXPECT_FALSE(MsgQueFree(block));
    EXPECT_FALSE(MsgQueDelete(block));
  }
}

TEST(QueueSend, MessagesArriveWholeAndOnlyTheDeclaredSize) {
  Connected c;
  ASSERT_TRUE(c.ok);
  const DWORD cases[][2] = {{732, 0}, {4, 0}, {88, 0}, {ostralib::kMaxMessageBytes, 0}, {100, 40}};
  std::vector<std::vector<BYTE>> sent;
  for (const auto& size : cases) {
    BYTE* block = PatternBlock(size[0], size[1]);
    ASSERT_NE(nullptr, block);
    sent.emplace_back(block, block + (size[1] ? size[1] : size[0]));
    EXPECT_TRUE(MsgQueSendMessage(c.queue, block));
    std::memset(block, 0xEE, size[0]);  // nothing of the block is kept after the send
    EXPECT_TRUE(MsgQueFree(block));
  }
  const Messages got = c.Sent(sent.size());
  EXPECT_EQ(sent, got);
}

// A size word that does not fit the block would make the send read past it.
TEST(QueueSend, RejectsSizeWordsOutsideTheBlockAndForeignArguments) {
  Connected c;
  ASSERT_TRUE(c.ok);
  for (DWORD declaredBytes : {0ul, 3ul, 89ul, 0xFFFFFFFFul}) {
    BYTE* block = PatternBlock(88);
    std::memcpy(block, &declaredBytes, sizeof(DWORD));
    EXPECT_FALSE(MsgQueSendMessage(c.queue, block)) << declaredBytes;
    MsgQueFree(block);
  }
  std::vector<BYTE> foreign(64, 0);
  EXPECT_FALSE(MsgQueSendMessage(c.queue, nullptr));
  EXPECT_FALSE(MsgQueSendMessage(c.queue, &foreign[32]));
  BYTE* block = PatternBlock(88);
  EXPECT_FALSE(MsgQueSendMessage(nullptr, block));
  EXPECT_TRUE(MsgQueSendMessage(c.queue, block));  // the queue is still good
  EXPECT_EQ(1u, c.listener.WaitFor([](const Messages& got) { return !got.empty(); }).size());
  c.listener.Stop();
  EXPECT_FALSE(MsgQueSendMessage(c.queue, block));  // the listener has gone
  MsgQueFree(block);
}

// A listener that owns the pipe but never reads: neither create nor send may wait for it.
TEST(QueueSend, GivesUpWhenTheListenerStopsReading) {
  const std::wstring name = UniqueQueueName(L"stalled");
  HANDLE pipe = ostralib::CreateQueueServerInstance(name.c_str(), true);
  ASSERT_NE(INVALID_HANDLE_VALUE, pipe);
  MsgQueHandle queue = nullptr, second = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 1, &second));  // the only instance is taken
  EXPECT_EQ(nullptr, second);
  BYTE* block = PatternBlock(ostralib::kMaxMessageBytes / 4);
  int sent = 0;
  while (sent < 64 && MsgQueSendMessage(queue, block)) ++sent;
  EXPECT_LT(sent, 64) << "a listener that reads nothing took every block";
  EXPECT_FALSE(MsgQueSendMessage(queue, block));  // a cancelled write spoils the queue
  MsgQueFree(block);
  MsgQueDelete(queue);
  CloseHandle(pipe);
}

}  // namespace
