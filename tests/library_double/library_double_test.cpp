// The notifications and the Japanese pass over a double of the companion
// library, linked in place of it, to read what is sent and force failures.
#include <gtest/gtest.h>

#include <cstring>

#include "format/japanese.h"
#include "notify/notify.h"
#include "platform/ostralib.h"

namespace {

using Bytes = std::vector<BYTE>;

// How the double behaves and what it saw; the tests run on one thread.
struct Double {
  bool sendFails = false;
  int initResult = 0, processResult = 0;  // the decoder's; it never ends its output
  int records = 0;
  std::vector<Bytes> blocks;  // every block handed out
  std::vector<Bytes> sent;    // each block as it was sent
} g;

}  // namespace

extern "C" BOOL WINAPI MsgQueCreate(const WCHAR*, DWORD, MsgQueHandle* queue) {
  *queue = &g;
  return TRUE;
}
extern "C" void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  g.blocks.emplace_back(sizeBytes, 0);
  return g.blocks.back().data();
}
// Each message goes in the block last handed out.
extern "C" BOOL WINAPI MsgQueSendMessage(MsgQueHandle, void* block) {
  if (!g.sendFails && block == g.blocks.back().data()) g.sent.push_back(g.blocks.back());
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
  std::memset(record->Output, 'A', record->OutputSize);
  return g.processResult;
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
               const void* payload, size_t payloadBytes) {
  Bytes bytes(sizeBytes, 0);
  std::memcpy(&bytes[0], &sizeBytes, 4);
  std::memcpy(&bytes[4], &code, 4);
  std::memcpy(&bytes[12], name.data(), 2 * name.size());
  std::memcpy(&bytes[76], &jobId, 4);
  std::memcpy(&bytes[80], payload, payloadBytes);
  return bytes;
}

// The path field holds 260 units: a longer path is cut, with no terminator.
TEST(NotifyCalls, MessagesCarryJobPathAndProgress) {
  const std::wstring path = L"C:\\\x5831\x544A\\" + std::wstring(300, L'x');
  const DWORD progress = 0x80000001u;
  g = Double();
  EXPECT_TRUE(NotifyStartSpooling(-10, path.c_str()));
  EXPECT_TRUE(NotifyProgressSpooling(-10, progress));
  EXPECT_TRUE(NotifyStopSpooling(-10));
  const std::vector<Bytes> expected = {Expected(732, 4, L"START_SPOOLING", -10, path.data(), 520),
                                       Expected(88, 6, L"PROGRESS_SPOOLING", -10, &progress, 4),
                                       Expected(84, 5, L"STOP_SPOOLING", -10, "", 0)};
  EXPECT_TRUE(expected == g.sent);
}

// A stalled listener costs each try the queue's whole wait: after a failed
// send no progress message is tried until a start or stop goes through.
TEST(NotifyCalls, ProgressWaitsUntilTheQueueTakesMessagesAgain) {
  g = Double();
  g.sendFails = true;
  EXPECT_FALSE(NotifyStartSpooling(7, L"C:\\out\\a.pdf"));
  g.sendFails = false;
  EXPECT_FALSE(NotifyProgressSpooling(7, 524288));
  EXPECT_TRUE(NotifyStopSpooling(7));
  EXPECT_TRUE(NotifyProgressSpooling(8, 524288));
  EXPECT_EQ(2u, g.sent.size());  // the stop and the last progress
}

// A failed decoder, or one whose output has no terminator, leaves the text;
// the record is finalized and nothing is written past the capacity.
TEST(JapaneseDecoderCalls, FailuresKeepTheText) {
  const int results[][2] = {{1, 0}, {0, 4}, {0, 0}};  // the decoder's init and process
  for (const auto& [initResult, processResult] : results) {
    g = Double();
    g.initResult = initResult;
    g.processResult = processResult;
    std::vector<WCHAR> destination(17, 0xABCD);
    CheckForJapaneseEncoding(L"Titel \xE9t\xE9", destination.data(), 16);
    EXPECT_EQ(0xABCD, destination[16]) << "written past the capacity";
    EXPECT_EQ(0, g.records) << "a record was not finalized";
    EXPECT_EQ(std::wstring(L"Titel \xE9t\xE9"), destination.data()) << processResult;
  }
}

}  // namespace
