#include <gtest/gtest.h>

#include <cstring>

#include "platform/holders.h"
#include "platform/ostralib.h"
#include "tests/ostralib/queue_listener.h"

// After windows.h, which it needs.
#include <sddl.h>

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

// A sender hands its messages only to a listener that could read the
// captured files anyway.
TEST(QueueServerCheck, TrustsOnlyTheSendersAccountSystemAndAdministrators) {
  struct Sid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
    explicit Sid(const WCHAR* text) {
      PSID converted = nullptr;
      ConvertStringSidToSidW(text, &converted);
      CopySid(sizeof(bytes), bytes, converted);
      LocalFree(converted);
    }
  };
  Sid system(L"S-1-5-18"), admins(L"S-1-5-32-544"), users(L"S-1-5-32-545");
  Sid alice(L"S-1-5-21-1-2-3-1001"), mallory(L"S-1-5-21-1-2-3-1002");
  const DWORD kEnabled = SE_GROUP_ENABLED;
  const DWORD kDenyOnly = SE_GROUP_USE_FOR_DENY_ONLY;
  const struct {
    Sid* sender;
    Sid* server;
    Sid* group;  // the server's one group, or none
    DWORD groupAttributes;
    bool trusted;
  } cases[] = {
      {&system, &system, nullptr, 0, true},
      {&alice, &alice, nullptr, 0, true},
      {&alice, &system, nullptr, 0, true},
      {&system, &alice, nullptr, 0, false},
      {&system, &mallory, &users, kEnabled, false},
      {&system, &mallory, &admins, kEnabled, true},
      {&system, &mallory, &admins, kDenyOnly, false},  // an administrator's filtered token
      {&system, &mallory, &admins, 0, false},
      {&alice, &mallory, nullptr, 0, false},
      {&system, nullptr, nullptr, 0, false},
  };
  for (const auto& c : cases) {
    TOKEN_GROUPS groups = {};
    groups.GroupCount = c.group ? 1 : 0;
    groups.Groups[0].Sid = c.group ? c.group->bytes : nullptr;
    groups.Groups[0].Attributes = c.groupAttributes;
    EXPECT_EQ(ostralib::IsTrustedQueueServer(c.sender->bytes, c.server ? c.server->bytes : nullptr,
                                             &groups),
              c.trusted)
        << (&c - cases);
  }
}

// A size word that does not fit the block would make the send read past it.
TEST(QueueSend, RejectsSizeWordsOutsideTheBlock) {
  Connected c;
  ASSERT_TRUE(c.ok);
  for (DWORD declaredBytes : {0ul, 3ul, 89ul, 0xFFFFFFFFul}) {
    BYTE* block = PatternBlock(88);
    std::memcpy(block, &declaredBytes, sizeof(DWORD));
    EXPECT_FALSE(MsgQueSendMessage(c.queue, block)) << declaredBytes;
    MsgQueFree(block);
  }
  BYTE* block = PatternBlock(88);
  EXPECT_TRUE(MsgQueSendMessage(c.queue, block));  // the queue is still good
  EXPECT_EQ(1u, c.listener.WaitFor([](const Messages& got) { return !got.empty(); }).size());
  c.listener.Stop();
  EXPECT_FALSE(MsgQueSendMessage(c.queue, block));  // the listener has gone
  MsgQueFree(block);
}

// A listener that owns the pipe but never reads: neither create nor send may wait for it.
TEST(QueueSend, GivesUpWhenTheListenerStopsReading) {
  const std::wstring name = UniqueQueueName(L"stalled");
  const UniqueFile pipe(ostralib::CreateQueueServerInstance(name.c_str(), true));
  ASSERT_TRUE(pipe.valid());
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
}

}  // namespace
