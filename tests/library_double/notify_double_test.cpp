#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "notify/notify.h"
#include "tests/library_double/ostralib_double.h"

using ostralib_double::Behaviour;
using ostralib_double::Call;

namespace {

// The three notifications, run the same way in every case below.
struct Notification {
  const char* name;
  BOOL (*send)();
  DWORD sizeBytes;
};

BOOL SendStart() {
  return NotifyStartSpooling(7, L"C:\\out\\a.pdf");
}
BOOL SendProgress() {
  return NotifyProgressSpooling(7, 524288);
}
BOOL SendStop() {
  return NotifyStopSpooling(7);
}

const Notification kNotifications[] = {
    {"start", SendStart, 732}, {"progress", SendProgress, 88}, {"stop", SendStop, 84}};

TEST(NotifyCalls, SuccessOpensSendsAndReleasesQueueFirst) {
  for (const Notification& n : kNotifications) {
    ostralib_double::Reset();
    EXPECT_TRUE(n.send()) << n.name;
    EXPECT_EQ((std::vector<Call>{Call::Create, Call::Alloc, Call::Send, Call::Delete, Call::Free}),
              ostralib_double::CallSequence())
        << n.name;
    std::vector<ostralib_double::CallRecord> calls = ostralib_double::Calls();
    EXPECT_EQ(1u, calls[0].value) << "queue mode";
    EXPECT_EQ(n.sizeBytes, calls[1].value) << n.name;
    EXPECT_EQ(std::wstring(L"RequestQue"), ostralib_double::LastQueueName());
    EXPECT_EQ(0, ostralib_double::OutstandingBlocks()) << n.name;
    EXPECT_EQ(0, ostralib_double::OutstandingQueues()) << n.name;
  }
}

// The sender fills the size word and the record; the last four bytes stay
// as the library handed them over.
TEST(NotifyCalls, BlockTailIsLeftToTheLibrary) {
  for (const Notification& n : kNotifications) {
    Behaviour behaviour;
    behaviour.blockTailFill = 0xA5;
    ostralib_double::Reset(behaviour);
    ASSERT_TRUE(n.send());
    std::vector<std::vector<BYTE>> sent = ostralib_double::SentBlocks();
    ASSERT_EQ(1u, sent.size());
    ASSERT_EQ(n.sizeBytes, sent[0].size());
    DWORD sizeWord;
    std::memcpy(&sizeWord, sent[0].data(), sizeof(sizeWord));
    EXPECT_EQ(n.sizeBytes, sizeWord) << n.name;
    EXPECT_EQ(std::vector<BYTE>(4, 0xA5), std::vector<BYTE>(sent[0].end() - 4, sent[0].end()))
        << n.name;
    // Every byte of the record that carries nothing is zero, not the fill.
    EXPECT_EQ(std::vector<BYTE>(4, 0), std::vector<BYTE>(sent[0].begin() + 8, sent[0].begin() + 12))
        << n.name;
  }
}

TEST(NotifyCalls, CreateFailureRequestsNoBlock) {
  for (const Notification& n : kNotifications) {
    Behaviour behaviour;
    behaviour.createFails = true;
    ostralib_double::Reset(behaviour);
    EXPECT_FALSE(n.send()) << n.name;
    EXPECT_EQ(std::vector<Call>{Call::Create}, ostralib_double::CallSequence()) << n.name;
  }
}

TEST(NotifyCalls, HandleStoredByAFailingCreateIsDeleted) {
  for (const Notification& n : kNotifications) {
    Behaviour behaviour;
    behaviour.createFails = true;
    behaviour.createStoresHandleOnFailure = true;
    ostralib_double::Reset(behaviour);
    EXPECT_FALSE(n.send()) << n.name;
    EXPECT_EQ((std::vector<Call>{Call::Create, Call::Delete}), ostralib_double::CallSequence())
        << n.name;
    EXPECT_EQ(0, ostralib_double::OutstandingQueues());
  }
}

TEST(NotifyCalls, AllocFailureDeletesTheQueue) {
  for (const Notification& n : kNotifications) {
    Behaviour behaviour;
    behaviour.allocFails = true;
    ostralib_double::Reset(behaviour);
    EXPECT_FALSE(n.send()) << n.name;
    EXPECT_EQ((std::vector<Call>{Call::Create, Call::Alloc, Call::Delete}),
              ostralib_double::CallSequence())
        << n.name;
    EXPECT_EQ(0, ostralib_double::OutstandingQueues());
  }
}

TEST(NotifyCalls, SendFailureReleasesQueueThenBlock) {
  for (const Notification& n : kNotifications) {
    Behaviour behaviour;
    behaviour.sendFails = true;
    ostralib_double::Reset(behaviour);
    EXPECT_FALSE(n.send()) << n.name;
    EXPECT_EQ((std::vector<Call>{Call::Create, Call::Alloc, Call::Send, Call::Delete, Call::Free}),
              ostralib_double::CallSequence())
        << n.name;
    EXPECT_EQ(0, ostralib_double::OutstandingBlocks());
    EXPECT_EQ(0, ostralib_double::OutstandingQueues());
  }
}

TEST(NotifyCalls, LibraryExceptionsPassThroughAfterTheReleases) {
  const struct {
    Call thrower;
    std::vector<Call> expected;
  } cases[] = {
      {Call::Create, {Call::Create}},
      {Call::Alloc, {Call::Create, Call::Alloc, Call::Delete}},
      {Call::Send, {Call::Create, Call::Alloc, Call::Send, Call::Delete, Call::Free}},
  };
  for (const Notification& n : kNotifications) {
    for (const auto& c : cases) {
      Behaviour behaviour;
      behaviour.throwing = true;
      behaviour.throwFrom = c.thrower;
      ostralib_double::Reset(behaviour);
      bool caught = false;
      try {
        n.send();
      } catch (const ostralib_double::LibraryFault& fault) {
        caught = fault.call == c.thrower;
      }
      EXPECT_TRUE(caught) << n.name;
      EXPECT_EQ(c.expected, ostralib_double::CallSequence()) << n.name;
      EXPECT_EQ(0, ostralib_double::OutstandingBlocks()) << n.name;
      EXPECT_EQ(0, ostralib_double::OutstandingQueues()) << n.name;
    }
  }
}

TEST(NotifyCalls, NullPathSendsAnEmptyField) {
  ostralib_double::Reset();
  ASSERT_TRUE(NotifyStartSpooling(3, nullptr));
  std::vector<std::vector<BYTE>> sent = ostralib_double::SentBlocks();
  ASSERT_EQ(1u, sent.size());
  EXPECT_EQ(std::vector<BYTE>(520, 0),
            std::vector<BYTE>(sent[0].begin() + 80, sent[0].begin() + 600));
}

}  // namespace
