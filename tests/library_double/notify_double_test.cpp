#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "notify/notify.h"
#include "tests/library_double/ostralib_double.h"

using ostralib_double::Behaviour;
using ostralib_double::Call;

namespace {

struct Notification {
  const char* name;
  BOOL (*send)();
  DWORD sizeBytes;
};

const Notification kNotifications[] = {
    {"start", [] { return NotifyStartSpooling(7, L"C:\\out\\a.pdf"); }, 732},
    {"progress", [] { return NotifyProgressSpooling(7, 524288); }, 88},
    {"stop", [] { return NotifyStopSpooling(7); }, 84}};

const std::vector<Call> kFullRound = {Call::Create, Call::Alloc, Call::Send, Call::Delete,
                                      Call::Free};

// Whatever fails, the queue is released before the block and nothing leaks.
TEST(NotifyCalls, CallOrderAndReleasesOnEveryOutcome) {
  const struct {
    const char* name;
    void (*setup)(Behaviour*);
    bool sent;
    std::vector<Call> calls;
  } cases[] = {
      {"success", [](Behaviour*) {}, true, kFullRound},
      {"create fails", [](Behaviour* b) { b->createFails = true; }, false, {Call::Create}},
      {"failed create stores a handle",
       [](Behaviour* b) { b->createFails = b->createStoresHandleOnFailure = true; },
       false,
       {Call::Create, Call::Delete}},
      {"alloc fails",
       [](Behaviour* b) { b->allocFails = true; },
       false,
       {Call::Create, Call::Alloc, Call::Delete}},
      {"send fails", [](Behaviour* b) { b->sendFails = true; }, false, kFullRound},
  };
  for (const Notification& n : kNotifications) {
    for (const auto& c : cases) {
      Behaviour behaviour;
      c.setup(&behaviour);
      ostralib_double::Reset(behaviour);
      EXPECT_EQ(c.sent, n.send() != FALSE) << n.name << ": " << c.name;
      EXPECT_EQ(c.calls, ostralib_double::CallSequence()) << n.name << ": " << c.name;
      EXPECT_EQ(0, ostralib_double::OutstandingBlocks()) << n.name << ": " << c.name;
      EXPECT_EQ(0, ostralib_double::OutstandingQueues()) << n.name << ": " << c.name;
    }
    ostralib_double::Reset();
    ASSERT_TRUE(n.send());
    const std::vector<ostralib_double::CallRecord> calls = ostralib_double::Calls();
    EXPECT_EQ(1u, calls[0].value) << "queue mode";
    EXPECT_EQ(n.sizeBytes, calls[1].value) << n.name;
    EXPECT_EQ(L"RequestQue", ostralib_double::LastQueueName());
    // The size word and the record are filled; the last four bytes stay as
    // the library handed them over.
    const std::vector<BYTE> sent = ostralib_double::SentBlocks().at(0);
    ASSERT_EQ(n.sizeBytes, sent.size());
    DWORD sizeWord;
    std::memcpy(&sizeWord, sent.data(), sizeof(sizeWord));
    EXPECT_EQ(n.sizeBytes, sizeWord) << n.name;
    EXPECT_EQ(std::vector<BYTE>(4, 0xA5), std::vector<BYTE>(sent.end() - 4, sent.end())) << n.name;
    EXPECT_EQ(std::vector<BYTE>(4, 0), std::vector<BYTE>(sent.begin() + 8, sent.begin() + 12));
  }
}

TEST(NotifyCalls, LibraryExceptionsPassThroughAfterTheReleases) {
  const struct {
    Call thrower;
    std::vector<Call> expected;
  } cases[] = {
      {Call::Create, {Call::Create}},
      {Call::Alloc, {Call::Create, Call::Alloc, Call::Delete}},
      {Call::Send, kFullRound},
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
  const std::vector<BYTE> sent = ostralib_double::SentBlocks().at(0);
  EXPECT_EQ(std::vector<BYTE>(520, 0), std::vector<BYTE>(sent.begin() + 80, sent.begin() + 600));
}

}  // namespace
