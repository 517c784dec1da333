#include "tests/capture/queue_recorder.h"

#include <cstring>
#include <mutex>

#include "notify/notify.h"
#include "platform/ostralib.h"

namespace {
std::mutex recorderLock;
std::vector<RecordedMessage> recorded;
}  // namespace

void ResetQueueRecorder() {
  std::lock_guard<std::mutex> guard(recorderLock);
  recorded.clear();
}

std::vector<RecordedMessage> RecordedMessages() {
  std::lock_guard<std::mutex> guard(recorderLock);
  return recorded;
}

extern "C" {

BOOL WINAPI MsgQueCreate(const WCHAR* /*queueName*/, DWORD /*mode*/, MsgQueHandle* queue) {
  *queue = reinterpret_cast<MsgQueHandle>(static_cast<ULONG_PTR>(0x51));
  return TRUE;
}

void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  return GlobalAlloc(GMEM_FIXED, sizeBytes);
}

BOOL WINAPI MsgQueSendMessage(MsgQueHandle /*queue*/, void* block) {
  const auto* header = static_cast<const SpoolingMessage*>(block);
  RecordedMessage message = {header->messageSizeBytes, header->command, header->jobId, L"", 0};
  if (header->command == static_cast<DWORD>(SpoolingCommand::Start)) {
    const auto* start = static_cast<const SpoolingStartMessage*>(block);
    message.path.assign(start->outputPath, wcsnlen(start->outputPath, MAX_PATH));
  } else if (header->command == static_cast<DWORD>(SpoolingCommand::Progress)) {
    message.bytesSoFar = static_cast<const SpoolingProgressMessage*>(block)->bytesSoFar;
  }
  std::lock_guard<std::mutex> guard(recorderLock);
  recorded.push_back(message);
  return TRUE;
}

BOOL WINAPI MsgQueFree(void* block) {
  return GlobalFree(block) == nullptr;
}

BOOL WINAPI MsgQueDelete(MsgQueHandle /*queue*/) {
  return TRUE;
}

}  // extern "C"
