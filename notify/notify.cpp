#include "notify/notify.h"

#include <atomic>
#include <cstring>

#include "platform/ostralib.h"

namespace {

const WCHAR kQueueName[] = L"RequestQue";
constexpr DWORD kQueueModeSend = 1;
constexpr size_t kCommandNameChars = 32;

// Set by a failed send and cleared by the next one that goes through, in the
// whole process. While it is set, progress messages are not tried: each try
// at a stalled listener would hold the job up for the queue's full wait, once
// per 512 KiB. Start and stop are always tried, so a listener that reads
// again is found by the next of them.
std::atomic<bool> queueFailing{false};

// Hands the queue back first, then the block, on every way out (an exception
// from the library included).
struct QueueHold {
  MsgQueHandle queue = nullptr;
  void* block = nullptr;
  QueueHold() = default;
  QueueHold(const QueueHold&) = delete;
  QueueHold& operator=(const QueueHold&) = delete;
  ~QueueHold() {
    if (queue) MsgQueDelete(queue);
    if (block) MsgQueFree(block);
  }
};

// Copies at most capacityChars units and pads the rest of the field with
// zeros; a text that fills the field gets no terminator.
void CopyPadded(WCHAR* field, size_t capacityChars, const WCHAR* text) {
  size_t i = 0;
  if (text) {
    for (; i < capacityChars && text[i]; ++i) field[i] = text[i];
  }
  for (; i < capacityChars; ++i) field[i] = 0;
}

void FillHeader(SpoolingMessage* header, SpoolingCommand command, const WCHAR* commandName,
                LONG jobId) {
  header->command = static_cast<DWORD>(command);
  CopyPadded(header->commandName, kCommandNameChars, commandName);
  header->jobId = jobId;
}

// message is the complete record, zero where not set; its size word and its
// last four bytes are not copied: the size goes in here and the tail belongs
// to the library.
template <typename Message>
BOOL SendSpoolingMessage(const Message& message) {
  const DWORD sizeBytes = sizeof(Message);
  QueueHold hold;
  if (!MsgQueCreate(kQueueName, kQueueModeSend, &hold.queue)) return FALSE;
  hold.block = MsgQueAlloc(sizeBytes);
  if (!hold.block) return FALSE;
  BYTE* block = static_cast<BYTE*>(hold.block);
  std::memcpy(block, &sizeBytes, sizeof(DWORD));
  const BYTE* record = reinterpret_cast<const BYTE*>(&message);
  std::memcpy(block + sizeof(DWORD), record + sizeof(DWORD), sizeBytes - 2 * sizeof(DWORD));
  return MsgQueSendMessage(hold.queue, hold.block) ? TRUE : FALSE;
}

template <typename Message>
BOOL SendAndNoteOutcome(const Message& message) {
  const BOOL sent = SendSpoolingMessage(message);
  queueFailing = !sent;
  return sent;
}

}  // namespace

BOOL NotifyStartSpooling(LONG jobId, const WCHAR* outputPath) {
  SpoolingStartMessage message = {};
  FillHeader(&message.header, SpoolingCommand::Start, L"START_SPOOLING", jobId);
  CopyPadded(message.outputPath, MAX_PATH, outputPath);
  return SendAndNoteOutcome(message);
}

BOOL NotifyProgressSpooling(LONG jobId, DWORD bytesSoFar) {
  if (queueFailing) return FALSE;
  SpoolingProgressMessage message = {};
  FillHeader(&message.header, SpoolingCommand::Progress, L"PROGRESS_SPOOLING", jobId);
  message.bytesSoFar = bytesSoFar;
  return SendAndNoteOutcome(message);
}

BOOL NotifyStopSpooling(LONG jobId) {
  SpoolingStopMessage message = {};
  FillHeader(&message.header, SpoolingCommand::Stop, L"STOP_SPOOLING", jobId);
  return SendAndNoteOutcome(message);
}
