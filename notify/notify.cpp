#include "notify/notify.h"

#include <atomic>
#include <cstring>

#include "platform/holders.h"
#include "platform/ostralib.h"
#include "platform/text.h"

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

// A queue handle and a message block of the library, each handed back on
// every way out (an exception from the library included).
struct QueueTraits : holder_traits::NullWhenEmpty<MsgQueHandle> {
  static void Release(Value value) { MsgQueDelete(value); }
};
struct QueueBlockTraits : holder_traits::NullWhenEmpty<void*> {
  static void Release(Value value) { MsgQueFree(value); }
};

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
  // Declared block first: the queue goes back before the block.
  Holder<QueueBlockTraits> block;
  Holder<QueueTraits> queue;
  if (!MsgQueCreate(kQueueName, kQueueModeSend, queue.put())) return FALSE;
  block.reset(MsgQueAlloc(sizeBytes));
  if (!block.valid()) return FALSE;
  BYTE* bytes = static_cast<BYTE*>(block.get());
  std::memcpy(bytes, &sizeBytes, sizeof(DWORD));
  const BYTE* record = reinterpret_cast<const BYTE*>(&message);
  std::memcpy(bytes + sizeof(DWORD), record + sizeof(DWORD), sizeBytes - 2 * sizeof(DWORD));
  return MsgQueSendMessage(queue.get(), block.get()) ? TRUE : FALSE;
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
