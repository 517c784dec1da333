// The notifications and the Japanese pass over a double of the companion
// library, linked in place of it, to force its failures and exceptions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <list>

#include "format/japanese.h"
#include "notify/notify.h"
#include "platform/ostralib.h"

namespace {

enum class Call { Create, Alloc, Send, Free, Delete, Init, Process, Status, Finalize };
struct LibraryFault {
  Call call;
};

// How the double behaves and what it saw; the tests run on one thread.
struct Double {
  bool createFails = false, createStoresHandle = false, allocFails = false, sendFails = false;
  bool throwing = false, fillWholeOutput = false;
  Call throwFrom = Call::Create;
  int initResult = 0, processResult = 0;
  std::string decoderOutput;
  std::vector<Call> calls;
  std::vector<DWORD> values;  // mode or size, where the call has one
  std::vector<std::vector<BYTE>> sent;
  std::list<std::vector<BYTE>> blocks;  // handed out, not yet freed
  std::wstring queueName;
  int queues = 0, records = 0;
} g;
int g_queueToken;

void Enter(Call call, DWORD value = 0) {
  g.calls.push_back(call);
  g.values.push_back(value);
  if (g.throwing && g.throwFrom == call) throw LibraryFault{call};
}

}  // namespace

extern "C" BOOL WINAPI MsgQueCreate(const WCHAR* queueName, DWORD mode, MsgQueHandle* queue) {
  Enter(Call::Create, mode);
  g.queueName = queueName;
  if (!g.createFails || g.createStoresHandle) *queue = &g_queueToken, ++g.queues;
  return !g.createFails;
}
extern "C" void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  Enter(Call::Alloc, sizeBytes);
  if (g.allocFails) return nullptr;
  g.blocks.emplace_back(sizeBytes, 0xA5);  // not zeroed, to see what is filled
  return g.blocks.back().data();
}
extern "C" BOOL WINAPI MsgQueSendMessage(MsgQueHandle queue, void* block) {
  Enter(Call::Send);
  for (const auto& owned : g.blocks) {
    if (owned.data() == block) g.sent.push_back(owned);
  }
  return queue == &g_queueToken && !g.sendFails;
}
extern "C" BOOL WINAPI MsgQueFree(void* block) {
  Enter(Call::Free);
  const size_t before = g.blocks.size();
  g.blocks.remove_if([block](const std::vector<BYTE>& b) { return b.data() == block; });
  return g.blocks.size() < before;
}
extern "C" BOOL WINAPI MsgQueDelete(MsgQueHandle queue) {
  Enter(Call::Delete);
  return queue == &g_queueToken && g.queues-- > 0;
}
extern "C" int WINAPI DecoderInit(DecoderRecord*) {
  Enter(Call::Init);
  ++g.records;
  return g.initResult;
}
extern "C" int WINAPI DecoderProcess(DecoderRecord* record) {
  Enter(Call::Process, record->OutputSize);
  if (g.processResult || g.fillWholeOutput) {
    std::memset(record->Output, 'A', record->OutputSize);
    return g.processResult;
  }
  const size_t copyBytes = std::min<size_t>(g.decoderOutput.size(), record->OutputSize - 1);
  std::memcpy(record->Output, g.decoderOutput.data(), copyBytes);
  record->Output[copyBytes] = 0;
  return 0;
}
extern "C" int WINAPI DecoderStatus(DecoderRecord*) {
  Enter(Call::Status);
  return 3;
}
extern "C" int WINAPI DecoderFinalize(DecoderRecord*) {
  Enter(Call::Finalize);
  --g.records;
  return 0;
}

namespace {

const std::vector<Call> kFullRound = {Call::Create, Call::Alloc, Call::Send, Call::Delete,
                                      Call::Free};
const struct {
  const char* name;
  BOOL (*send)();
  DWORD sizeBytes;
} kNotifications[] = {{"start", [] { return NotifyStartSpooling(7, L"C:\\out\\a.pdf"); }, 732},
                      {"progress", [] { return NotifyProgressSpooling(7, 524288); }, 88},
                      {"stop", [] { return NotifyStopSpooling(7); }, 84}};

// Whatever fails or throws, the queue is released before the block, nothing
// leaks, and no block is asked for when the queue cannot be made.
TEST(NotifyCalls, CallOrderAndReleasesOnEveryOutcome) {
  const struct {
    const char* name;
    void (*setup)(Double*);
    std::vector<Call> calls;
  } cases[] = {
      {"success", [](Double*) {}, kFullRound},
      {"create fails", [](Double* d) { d->createFails = true; }, {Call::Create}},
      {"failed create stores a handle",
       [](Double* d) { d->createFails = d->createStoresHandle = true; },
       {Call::Create, Call::Delete}},
      {"alloc fails",
       [](Double* d) { d->allocFails = true; },
       {Call::Create, Call::Alloc, Call::Delete}},
      {"send fails", [](Double* d) { d->sendFails = true; }, kFullRound},
      {"create throws", [](Double* d) { d->throwing = true; }, {Call::Create}},
      {"alloc throws",
       [](Double* d) { d->throwing = true, d->throwFrom = Call::Alloc; },
       {Call::Create, Call::Alloc, Call::Delete}},
      {"send throws", [](Double* d) { d->throwing = true, d->throwFrom = Call::Send; }, kFullRound},
  };
  for (const auto& n : kNotifications) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(n.name) + ": " + c.name);
      g = Double();
      ASSERT_TRUE(NotifyStopSpooling(7));  // ends the back-off a failed case began
      g = Double();
      c.setup(&g);
      bool sent = false, caught = false;
      try {
        sent = n.send();
      } catch (const LibraryFault& fault) {
        caught = fault.call == g.throwFrom;
      }
      EXPECT_EQ(c.calls == kFullRound && !g.sendFails && !g.throwing, sent);
      EXPECT_EQ(g.throwing, caught);
      EXPECT_EQ(c.calls, g.calls);
      EXPECT_TRUE(g.blocks.empty());
      EXPECT_EQ(0, g.queues);
    }
    // The block: its size word set, and the record's last four bytes as the library gave them.
    g = Double();
    ASSERT_TRUE(n.send());
    EXPECT_EQ(1u, g.values[0]) << "queue mode";
    EXPECT_EQ(n.sizeBytes, g.values[1]) << n.name;
    EXPECT_EQ(L"RequestQue", g.queueName);
    const std::vector<BYTE> block = g.sent.at(0);
    ASSERT_EQ(n.sizeBytes, block.size());
    DWORD sizeWord;
    std::memcpy(&sizeWord, block.data(), sizeof(sizeWord));
    EXPECT_EQ(n.sizeBytes, sizeWord) << n.name;
    EXPECT_EQ(std::vector<BYTE>(4, 0xA5), std::vector<BYTE>(block.end() - 4, block.end()));
    EXPECT_EQ(std::vector<BYTE>(4, 0), std::vector<BYTE>(block.begin() + 8, block.begin() + 12));
  }
  g = Double();
  ASSERT_TRUE(NotifyStartSpooling(3, nullptr));  // a null path sends an empty field
  EXPECT_EQ(std::vector<BYTE>(520, 0), std::vector<BYTE>(&g.sent.at(0)[80], &g.sent[0][600]));
}

// A stalled listener costs each try the queue's whole wait: after a failed
// send no progress message is tried until a start or stop goes through.
TEST(NotifyCalls, ProgressWaitsUntilTheQueueTakesMessagesAgain) {
  g = Double();
  g.sendFails = true;
  EXPECT_FALSE(NotifyStartSpooling(7, L"C:\\out\\a.pdf"));
  g = Double();
  EXPECT_FALSE(NotifyProgressSpooling(7, 524288));
  EXPECT_TRUE(g.calls.empty());
  g.createFails = true;
  EXPECT_FALSE(NotifyStopSpooling(7));
  EXPECT_EQ(std::vector<Call>{Call::Create}, g.calls);
  g = Double();
  EXPECT_FALSE(NotifyProgressSpooling(8, 524288));
  EXPECT_TRUE(NotifyStartSpooling(8, L"C:\\out\\b.pdf"));
  EXPECT_TRUE(NotifyProgressSpooling(8, 524288));
  EXPECT_EQ(2u, g.sent.size());
}

// Runs the Japanese pass over source; returns what the destination holds.
std::wstring RunPass(const Double& behaviour, const std::wstring& source, DWORD capacity = 270) {
  g = behaviour;
  std::vector<WCHAR> destination(capacity + 1, 0xABCD);
  CheckForJapaneseEncoding(source.c_str(), destination.data(), capacity);
  EXPECT_EQ(0xABCD, destination[capacity]) << "written past the capacity";
  EXPECT_EQ(0, g.records);
  return destination.data();
}

TEST(JapaneseDecoderCalls, SuccessReplacesTheTextFailuresKeepIt) {
  Double decodes;
  decodes.decoderOutput = "\xE6\x97\xA5\xE6\x9C\xAC";
  EXPECT_EQ(L"\x65E5\x672C", RunPass(decodes, L"\x93\xFA\x96\x7B"));
  EXPECT_EQ((std::vector<Call>{Call::Init, Call::Process, Call::Finalize}), g.calls);
  EXPECT_EQ(270u, g.values[1]) << "OutputSize is the capacity in bytes";
  EXPECT_EQ(L"", RunPass(decodes, L""));
  EXPECT_TRUE(g.calls.empty()) << "empty source reached the decoder";
  const std::vector<Call> initFails = {Call::Init, Call::Status, Call::Finalize};
  const struct {
    int initResult, processResult;
    bool fillWholeOutput;
    std::string output;
    std::vector<Call> calls;
  } cases[] = {
      {1, 0, false, "x", initFails},
      {-1, 0, false, "x", initFails},
      {0, 4, false, "x", {Call::Init, Call::Process, Call::Status, Call::Finalize}},
      // 16 bytes without a terminator: no read past the output
      {0, 0, true, "", {Call::Init, Call::Process, Call::Finalize}},
      {0, 0, false, "", {Call::Init, Call::Process, Call::Finalize}},
  };
  for (const auto& c : cases) {
    Double behaviour;
    behaviour.initResult = c.initResult;
    behaviour.processResult = c.processResult;
    behaviour.fillWholeOutput = c.fillWholeOutput;
    behaviour.decoderOutput = c.output;
    EXPECT_EQ(L"Titel \xE9t\xE9", RunPass(behaviour, L"Titel \xE9t\xE9", 16)) << &c - cases;
    EXPECT_EQ(c.calls, g.calls) << &c - cases;
  }
  Double invalid;
  invalid.decoderOutput = "\xC3\x28";
  EXPECT_EQ(L"\xFFFD(", RunPass(invalid, L"text"));  // the platform replaces the bad byte
}

TEST(JapaneseDecoderCalls, LibraryExceptionsPassThroughAfterFinalize) {
  for (Call thrower : {Call::Init, Call::Process}) {
    g = Double();
    g.throwing = true;
    g.throwFrom = thrower;
    std::vector<WCHAR> destination(270, 0);
    EXPECT_THROW(CheckForJapaneseEncoding(L"\x93\xFA\x96\x7B", destination.data(), 270),
                 LibraryFault);
    EXPECT_EQ(thrower == Call::Init ? 2u : 3u, g.calls.size());
    EXPECT_EQ(Call::Finalize, g.calls.back());
    EXPECT_EQ(L"\x93\xFA\x96\x7B", std::wstring(destination.data()));  // the first copy stays
  }
}

}  // namespace
