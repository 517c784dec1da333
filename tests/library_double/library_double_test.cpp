// The notifications and the Japanese pass over a double of the companion
// library, linked in place of it, to read what is sent and force failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <list>

#include "format/japanese.h"
#include "notify/notify.h"
#include "platform/ostralib.h"

namespace {

using Bytes = std::vector<BYTE>;

// How the double behaves and what it saw; the tests run on one thread.
struct Double {
  bool createFails = false, sendFails = false, fillWholeOutput = false;
  int initResult = 0, processResult = 0;
  std::string decoderOutput;
  int creates = 0, records = 0;
  std::list<Bytes> blocks;  // every block handed out
  std::vector<Bytes> sent;  // each block as it was sent
} g;

}  // namespace

extern "C" BOOL WINAPI MsgQueCreate(const WCHAR*, DWORD, MsgQueHandle* queue) {
  ++g.creates;
  if (!g.createFails) *queue = &g;
  return !g.createFails;
}
extern "C" void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  g.blocks.emplace_back(sizeBytes, 0);
  return g.blocks.back().data();
}
extern "C" BOOL WINAPI MsgQueSendMessage(MsgQueHandle, void* block) {
  for (const Bytes& b : g.blocks) {
    if (b.data() == block && !g.sendFails) g.sent.push_back(b);
  }
  return !g.sendFails;
}
extern "C" BOOL WINAPI MsgQueFree(void*) {
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

// The layout byte by byte: size, code, name at 12, job at 76, payload at 80;
// the rest zero.
Bytes Expected(DWORD sizeBytes, DWORD code, const std::wstring& name, LONG jobId,
               const std::wstring& path = L"", DWORD progress = 0) {
  Bytes bytes(sizeBytes, 0);
  auto put = [&](size_t at, const void* value, size_t count) {
    std::memcpy(&bytes[at], value, count);
  };
  put(0, &sizeBytes, 4);
  put(4, &code, 4);
  put(12, name.data(), 2 * name.size());
  put(76, &jobId, 4);
  if (sizeBytes == 732) put(80, path.data(), 2 * path.size());
  if (sizeBytes == 88) put(80, &progress, 4);
  return bytes;
}

// The path field holds 260 units: a longer path is cut, a full one has no
// terminator.
TEST(NotifyCalls, MessagesCarryJobPathAndProgress) {
  const struct {
    std::wstring path;
    LONG jobId;
  } cases[] = {
      // clang-format off
      {L"C:\\Output\\\x5831\x544A\x66F8.pdf", 7},
      {L"", -8},
      {std::wstring(260, L'x'), 9},
      {std::wstring(200, L'y') + std::wstring(61, L'z'), -10},
      // clang-format on
  };
  for (const auto& c : cases) {
    g = Double();
    EXPECT_TRUE(NotifyStartSpooling(c.jobId, c.path.c_str()));
    EXPECT_TRUE(NotifyProgressSpooling(c.jobId, 0x80000001u));
    EXPECT_TRUE(NotifyStopSpooling(c.jobId));
    const std::vector<Bytes> expected = {
        Expected(732, 4, L"START_SPOOLING", c.jobId, c.path.substr(0, 260)),
        Expected(88, 6, L"PROGRESS_SPOOLING", c.jobId, L"", 0x80000001u),
        Expected(84, 5, L"STOP_SPOOLING", c.jobId)};
    EXPECT_TRUE(expected == g.sent) << c.path.size();
  }
}

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
  EXPECT_EQ(2u, g.sent.size());
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
  } cases[] = {{1, 0, false}, {0, 4, false}, {0, 0, true}};
  for (const auto& c : cases) {
    Double behaviour;
    behaviour.initResult = c.initResult;
    behaviour.processResult = c.processResult;
    behaviour.fillWholeOutput = c.fillWholeOutput;
    behaviour.decoderOutput = "x";
    EXPECT_EQ(L"Titel \xE9t\xE9", RunPass(behaviour, L"Titel \xE9t\xE9", 16)) << &c - cases;
  }
}

}  // namespace
