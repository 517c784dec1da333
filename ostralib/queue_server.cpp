// Request queue, listener side: claiming a queue, its pipe instances, and
// the loop that serves one instance.
#include <vector>

#include "ostralib/queue_transport.h"
#include "platform/holders.h"
#include "platform/text.h"

namespace ostralib {
namespace {

enum class WaitOutcome { Done, Stopped, Failed };

// Waits for an overlapped operation or the stop event; a stopped operation
// is cancelled and waited for, since ov and the buffer belong to the caller.
WaitOutcome WaitForPipeIo(HANDLE pipe, OVERLAPPED* ov, HANDLE stopEvent, DWORD* transferredBytes,
                          DWORD* error) {
  HANDLE waits[2] = {ov->hEvent, stopEvent};
  DWORD waited = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
  if (waited != WAIT_OBJECT_0) {
    CancelIo(pipe);
    GetOverlappedResult(pipe, ov, transferredBytes, TRUE);
    return waited == WAIT_OBJECT_0 + 1 ? WaitOutcome::Stopped : WaitOutcome::Failed;
  }
  if (GetOverlappedResult(pipe, ov, transferredBytes, FALSE)) {
    *error = ERROR_SUCCESS;
  } else {
    *error = GetLastError();
  }
  return WaitOutcome::Done;
}

struct ServedInstance {
  HANDLE pipe;
  HANDLE stopEvent;
  HANDLE ioEvent;
  bool stopped;
  bool failed;
};

OVERLAPPED FreshOverlapped(const ServedInstance& instance) {
  ResetEvent(instance.ioEvent);
  OVERLAPPED ov = {};
  ov.hEvent = instance.ioEvent;
  return ov;
}

// Waits for a pending connect or read; false (with stopped or failed set)
// when the instance is to end instead.
bool FinishPending(ServedInstance& instance, OVERLAPPED* ov, DWORD* transferredBytes,
                   DWORD* error) {
  const WaitOutcome outcome =
      WaitForPipeIo(instance.pipe, ov, instance.stopEvent, transferredBytes, error);
  if (outcome == WaitOutcome::Done) return true;
  instance.stopped = outcome == WaitOutcome::Stopped;
  instance.failed = !instance.stopped;
  return false;
}

// Waits for the next sender; false when the instance is to end.
bool AcceptSender(ServedInstance& instance) {
  OVERLAPPED ov = FreshOverlapped(instance);
  if (ConnectNamedPipe(instance.pipe, &ov)) return true;
  DWORD error = GetLastError();
  DWORD transferredBytes = 0;
  if (error == ERROR_IO_PENDING && !FinishPending(instance, &ov, &transferredBytes, &error)) {
    return false;
  }
  // A sender that has already written and gone still left its messages.
  if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
    instance.failed = true;
    return false;
  }
  return true;
}

// Hands every message of the connected sender to handler, until the sender
// closes its end, the pipe breaks or the instance is to end.
void ReadSenderMessages(ServedInstance& instance, BYTE* buffer, QueueMessageHandler handler,
                        void* context) {
  DWORD messageBytes = 0;
  bool truncated = false;
  for (;;) {
    OVERLAPPED ov = FreshOverlapped(instance);
    const DWORD offsetBytes = truncated ? 0 : messageBytes;
    const DWORD roomBytes = truncated ? kMaxMessageBytes : kMaxMessageBytes - messageBytes;
    BYTE* into = buffer + offsetBytes;
    std::vector<BYTE> discard;
    if (truncated) {
      discard.resize(kMaxMessageBytes);
      into = discard.data();
    }
    DWORD transferredBytes = 0;
    DWORD error = ERROR_SUCCESS;
    if (!ReadFile(instance.pipe, into, roomBytes, &transferredBytes, &ov)) {
      error = GetLastError();
      if (error == ERROR_IO_PENDING && !FinishPending(instance, &ov, &transferredBytes, &error)) {
        return;
      }
    } else {
      GetOverlappedResult(instance.pipe, &ov, &transferredBytes, FALSE);
    }
    if (error != ERROR_SUCCESS && error != ERROR_MORE_DATA) return;
    if (truncated) {
      messageBytes = messageBytes + transferredBytes < messageBytes
                         ? MAXDWORD
                         : messageBytes + transferredBytes;
    } else {
      messageBytes += transferredBytes;
      if (error == ERROR_MORE_DATA && messageBytes >= kMaxMessageBytes) truncated = true;
    }
    if (error == ERROR_SUCCESS) {
      handler(context, buffer, messageBytes, truncated);
      messageBytes = 0;
      truncated = false;
    }
  }
}

}  // namespace

HANDLE ClaimQueue(const WCHAR* queueName) {
  WCHAR path[16 + kMaxQueueNameChars];
  if (!MakeQueuePipePath(queueName, path, sizeof(path) / sizeof(WCHAR))) return nullptr;
  WCHAR mutexName[32 + kMaxQueueNameChars] = L"Local\\OstralibQueueOwner-";
  AppendBounded(mutexName, sizeof(mutexName) / sizeof(WCHAR), queueName);
  UniqueHandle mutex(CreateMutexW(nullptr, FALSE, mutexName));
  if (!mutex.valid()) return nullptr;
  if (GetLastError() == ERROR_ALREADY_EXISTS) return nullptr;  // closing keeps the error
  return mutex.release();
}

HANDLE CreateQueueServerInstance(const WCHAR* queueName, bool firstInstance) {
  WCHAR path[16 + kMaxQueueNameChars];
  if (!MakeQueuePipePath(queueName, path, sizeof(path) / sizeof(WCHAR))) {
    SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  DWORD openMode = PIPE_ACCESS_INBOUND | FILE_FLAG_OVERLAPPED;
  if (firstInstance) openMode |= FILE_FLAG_FIRST_PIPE_INSTANCE;
  return CreateNamedPipeW(
      path, openMode,
      PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS,
      PIPE_UNLIMITED_INSTANCES, 0, kPipeBufferBytes, 0, nullptr);
}

bool ServeQueueInstance(HANDLE pipe, HANDLE stopEvent, QueueMessageHandler handler, void* context) {
  const UniqueHandle ioEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!ioEvent.valid()) return false;
  std::vector<BYTE> buffer(kMaxMessageBytes);
  ServedInstance instance = {pipe, stopEvent, ioEvent.get(), false, false};
  while (!instance.stopped && !instance.failed) {
    if (!AcceptSender(instance)) break;
    ReadSenderMessages(instance, buffer.data(), handler, context);
    DisconnectNamedPipe(pipe);
  }
  return !instance.failed;
}

}  // namespace ostralib
