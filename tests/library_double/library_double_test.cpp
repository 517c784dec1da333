// The notifications and the Japanese pass over a double of the companion
// library, linked in place of it, to force its failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <list>

#include "format/japanese.h"
#include "notify/notify.h"
#include "platform/ostralib.h"

namespace {

// How the double behaves and what it saw; the tests run on one thread.
struct Double {
  bool createFails = false, sendFails = false, fillWholeOutput = false;
  int initResult = 0, processResult = 0;
  std::string decoderOutput;
  int creates = 0, sends = 0, records = 0;
  std::list<std::vector<BYTE>> blocks;  // handed out, not yet freed
} g;
int g_queueToken;

}  // namespace

extern "C" BOOL WINAPI MsgQueCreate(const WCHAR*, DWORD, MsgQueHandle* queue) {
  ++g.creates;
  if (!g.createFails) *queue = &g_queueToken;
  return !g.createFails;
}
extern "C" void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  g.blocks.emplace_back(sizeBytes, 0);
  return g.blocks.back().data();
}
extern "C" BOOL WINAPI MsgQueSendMessage(MsgQueHandle, void*) {
  ++g.sends;
  return !g.sendFails;
}
extern "C" BOOL WINAPI MsgQueFree(void* block) {
  g.blocks.remove_if([block](const std::vector<BYTE>& b) { return b.data() == block; });
  return TRUE;
}
extern "C" BOOL WINAPI MsgQueDelete(MsgQueHandle) {
  return TRUE;
}
extern "C" int WINAPI DecoderInit(DecoderRecord*) {
  ++g.records;
  return g.initResult;
}
extern "C" int WINAPI DecoderProcess(DecoderRecord* record) {
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
  return 3;
}
extern "C" int WINAPI DecoderFinalize(DecoderRecord*) {
  --g.records;
  return 0;
}

namespace {

// A stalled listener costs each try the queue's whole wait: after a failed
// send no progress message is tried until a start or stop goes through.
TEST(NotifyCalls, ProgressWaitsUntilTheQueueTakesMessagesAgain) {
  g = Double();
  g.sendFails = true;
  EXPECT_FALSE(NotifyStartSpooling(7, L"C:\\out\\a.pdf"));
  g = Double();
  EXPECT_FALSE(NotifyProgressSpooling(7, 524288));
  EXPECT_EQ(0, g.creates);
  g.createFails = true;
  EXPECT_FALSE(NotifyStopSpooling(7));
  g = Double();
  EXPECT_FALSE(NotifyProgressSpooling(8, 524288));
  EXPECT_TRUE(NotifyStartSpooling(8, L"C:\\out\\b.pdf"));
  EXPECT_TRUE(NotifyProgressSpooling(8, 524288));
  EXPECT_EQ(2, g.sends);
  EXPECT_TRUE(g.blocks.empty());
}

// Runs the Japanese pass over source; returns what the destination holds.
std::wstring RunPass(const Double& behaviour, const std::wstring& source, DWORD capacity = 270) {
  g = behaviour;
  std::vector<WCHAR> destination(capacity + 1, 0xABCD);
  CheckForJapaneseEncoding(source.c_str(), destination.data(), capacity);
  EXPECT_EQ(0xABCD, destination[capacity]) << "written past the capacity";
  EXPECT_EQ(0, g.records) << "a record was not finalized";
  return destination.data();
}

TEST(JapaneseDecoderCalls, SuccessReplacesTheTextFailuresKeepIt) {
  Double decodes;
  decodes.decoderOutput = "\xE6\x97\xA5\xE6\x9C\xAC";
  EXPECT_EQ(L"\x65E5\x672C", RunPass(decodes, L"\x93\xFA\x96\x7B"));
  const struct {
    int initResult, processResult;
    bool fillWholeOutput;  // no terminator: no read past the output
    std::string output;
  } cases[] = {
      // clang-format off
      {1, 0, false, "x"},
      {0, 4, false, "x"},
      {0, 0, true, ""},
      // clang-format on
  };
  for (const auto& c : cases) {
    Double behaviour;
    behaviour.initResult = c.initResult;
    behaviour.processResult = c.processResult;
    behaviour.fillWholeOutput = c.fillWholeOutput;
    behaviour.decoderOutput = c.output;
    EXPECT_EQ(L"Titel \xE9t\xE9", RunPass(behaviour, L"Titel \xE9t\xE9", 16)) << &c - cases;
  }
}

}  // namespace
