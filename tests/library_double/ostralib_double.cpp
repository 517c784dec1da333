#include "tests/library_double/ostralib_double.h"

#include <algorithm>
#include <cstring>

namespace ostralib_double {
namespace {

// The tests run their calls on one thread at a time.
Behaviour g_behaviour;
std::vector<CallRecord> g_calls;
std::vector<std::vector<BYTE>> g_sent;
std::vector<std::vector<BYTE>*> g_blocks;
std::wstring g_queueName;
int g_queues = 0;
int g_records = 0;
int g_queueToken = 0;

void Enter(Call call, const void* pointer, DWORD value = 0) {
  g_calls.push_back({call, pointer, value});
  if (g_behaviour.throwing && g_behaviour.throwFrom == call) throw LibraryFault{call};
}

}  // namespace

void Reset(const Behaviour& behaviour) {
  g_behaviour = behaviour;
  g_calls.clear();
  g_sent.clear();
  for (std::vector<BYTE>* block : g_blocks) delete block;
  g_blocks.clear();
  g_queueName.clear();
  g_queues = 0;
  g_records = 0;
}

std::vector<CallRecord> Calls() {
  return g_calls;
}

std::vector<Call> CallSequence() {
  std::vector<Call> sequence;
  for (const CallRecord& record : g_calls) sequence.push_back(record.call);
  return sequence;
}

std::vector<std::vector<BYTE>> SentBlocks() {
  return g_sent;
}
std::wstring LastQueueName() {
  return g_queueName;
}
int OutstandingBlocks() {
  return static_cast<int>(g_blocks.size());
}
int OutstandingQueues() {
  return g_queues;
}
int OpenRecords() {
  return g_records;
}

}  // namespace ostralib_double

using namespace ostralib_double;

extern "C" BOOL WINAPI MsgQueCreate(const WCHAR* queueName, DWORD mode, MsgQueHandle* queue) {
  Enter(Call::Create, queue, mode);
  g_queueName = queueName ? queueName : L"";
  if (g_behaviour.createFails) {
    if (g_behaviour.createStoresHandleOnFailure) {
      *queue = &g_queueToken;
      ++g_queues;
    }
    return FALSE;
  }
  *queue = &g_queueToken;
  ++g_queues;
  return TRUE;
}

extern "C" void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  Enter(Call::Alloc, nullptr, sizeBytes);
  if (g_behaviour.allocFails) return nullptr;
  g_blocks.push_back(new std::vector<BYTE>(sizeBytes, g_behaviour.blockTailFill));
  return g_blocks.back()->data();
}

extern "C" BOOL WINAPI MsgQueSendMessage(MsgQueHandle queue, void* block) {
  Enter(Call::Send, block);
  for (std::vector<BYTE>* owned : g_blocks) {
    if (owned->data() == block) g_sent.push_back(*owned);
  }
  return queue == &g_queueToken && !g_behaviour.sendFails;
}

extern "C" BOOL WINAPI MsgQueFree(void* block) {
  Enter(Call::Free, block);
  auto owned = std::find_if(g_blocks.begin(), g_blocks.end(),
                            [block](std::vector<BYTE>* b) { return b->data() == block; });
  if (owned == g_blocks.end()) return FALSE;
  delete *owned;
  g_blocks.erase(owned);
  return TRUE;
}

extern "C" BOOL WINAPI MsgQueDelete(MsgQueHandle queue) {
  Enter(Call::Delete, queue);
  if (queue != &g_queueToken || g_queues == 0) return FALSE;
  --g_queues;
  return TRUE;
}

extern "C" int WINAPI DecoderInit(DecoderRecord* record) {
  Enter(Call::DecoderInit, record);
  ++g_records;
  return g_behaviour.initResult;
}

extern "C" int WINAPI DecoderProcess(DecoderRecord* record) {
  Enter(Call::DecoderProcess, record, record->OutputSize);
  if (g_behaviour.processResult != 0) return g_behaviour.processResult;
  if (g_behaviour.fillWholeOutput) {
    std::memset(record->Output, 'A', record->OutputSize);
  } else {
    size_t copyBytes = std::min<size_t>(g_behaviour.decoderOutput.size(), record->OutputSize - 1);
    std::memcpy(record->Output, g_behaviour.decoderOutput.data(), copyBytes);
    record->Output[copyBytes] = 0;
  }
  return 0;
}

extern "C" int WINAPI DecoderStatus(DecoderRecord* record) {
  Enter(Call::DecoderStatus, record);
  return g_behaviour.status;
}

extern "C" int WINAPI DecoderFinalize(DecoderRecord* record) {
  Enter(Call::DecoderFinalize, record);
  --g_records;
  return 0;
}
