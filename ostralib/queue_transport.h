// The transport under a request queue: a message-mode named pipe
// "\\.\pipe\<queue name>" owned by the downstream listener. Senders connect
// as clients, one pipe message per queue message. A pipe keeps message
// boundaries, gives back-pressure through its bounded buffer (so a stalled
// listener makes a send time out instead of piling up memory), and does not
// exist without a listener (so opening the queue fails at once).
//
// Both sides live here: the library uses the client half, the listener
// program and the tests the server half.
#pragma once

#include <vector>

#include "platform/win.h"

namespace ostralib {

constexpr DWORD kQueueModeSend = 1;
constexpr DWORD kMaxQueueNameChars = 200;
// Largest block MsgQueAlloc hands out, and so the largest message.
constexpr DWORD kMaxMessageBytes = 64 * 1024;
// How long a send or a connect to a busy queue may hold up the sender.
constexpr DWORD kSendTimeoutMs = 100;
constexpr DWORD kConnectTimeoutMs = 100;
// Server-side buffer: what a listener may fall behind by before sends stall.
constexpr DWORD kPipeBufferBytes = 64 * 1024;
// How a sender opens the pipe. The sender may run as LocalSystem (inside the
// spooler): the server gets an identification token only, with which it can
// learn who sent but never act as the sender.
constexpr DWORD kQueueClientFlags =
    FILE_FLAG_OVERLAPPED | SECURITY_SQOS_PRESENT | SECURITY_IDENTIFICATION;

// Whether a sender hands its messages (job paths) to the process serving the
// pipe: only when that process runs as the sender's own account, as
// LocalSystem, or with the Administrators group enabled, all of which could
// read the captured files anyway. Anyone else may have created the pipe
// before the real listener did.
inline bool IsTrustedQueueServer(PSID senderUser, PSID serverUser,
                                 const TOKEN_GROUPS* serverGroups) {
  if (!senderUser || !serverUser || !IsValidSid(serverUser)) return false;
  if (EqualSid(senderUser, serverUser) || IsWellKnownSid(serverUser, WinLocalSystemSid)) {
    return true;
  }
  for (DWORD i = 0; serverGroups && i < serverGroups->GroupCount; ++i) {
    const SID_AND_ATTRIBUTES& group = serverGroups->Groups[i];
    if ((group.Attributes & SE_GROUP_ENABLED) && !(group.Attributes & SE_GROUP_USE_FOR_DENY_ONLY) &&
        IsWellKnownSid(group.Sid, WinBuiltinAdministratorsSid)) {
      return true;
    }
  }
  return false;
}

// "\\.\pipe\<queueName>"; false for an empty or over-long name or one that
// could reach outside the pipe namespace.
inline bool MakeQueuePipePath(const WCHAR* queueName, WCHAR* path, DWORD capacityChars) {
  static const WCHAR kPrefix[] = L"\\\\.\\pipe\\";
  const DWORD prefixChars = sizeof(kPrefix) / sizeof(WCHAR) - 1;
  if (!queueName || !path) return false;
  DWORD nameChars = 0;
  while (nameChars <= kMaxQueueNameChars && queueName[nameChars]) {
    if (queueName[nameChars] == L'\\' || queueName[nameChars] == L'/') return false;
    ++nameChars;
  }
  if (nameChars == 0 || nameChars > kMaxQueueNameChars) return false;
  if (prefixChars + nameChars + 1 > capacityChars) return false;
  for (DWORD i = 0; i < prefixChars; ++i) path[i] = kPrefix[i];
  for (DWORD i = 0; i < nameChars; ++i) path[prefixChars + i] = queueName[i];
  path[prefixChars + nameChars] = 0;
  return true;
}

// Claims a queue for one listener; zero when another listener holds it.
// The platform does not reliably refuse a second first pipe instance, so a
// named mutex, released when its holder ends, marks the owner.
inline HANDLE ClaimQueue(const WCHAR* queueName) {
  WCHAR path[16 + kMaxQueueNameChars];
  if (!MakeQueuePipePath(queueName, path, sizeof(path) / sizeof(WCHAR))) return nullptr;
  WCHAR mutexName[32 + kMaxQueueNameChars] = L"Local\\OstralibQueueOwner-";
  size_t used = 0;
  while (mutexName[used]) ++used;
  for (size_t i = 0; queueName[i] && used + 1 < sizeof(mutexName) / sizeof(WCHAR); ++i) {
    mutexName[used++] = queueName[i];
  }
  mutexName[used] = 0;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, mutexName);
  if (!mutex) return nullptr;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    SetLastError(ERROR_ALREADY_EXISTS);
    return nullptr;
  }
  return mutex;
}

// One server instance of the queue's pipe. The first instance must be new:
// two listeners never share a queue.
inline HANDLE CreateQueueServerInstance(const WCHAR* queueName, bool firstInstance) {
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

// Receives one message. sizeBytes is the message's full size; a message
// larger than kMaxMessageBytes arrives cut to that size (truncated true).
typedef void (*QueueMessageHandler)(void* context, const BYTE* message, DWORD sizeBytes,
                                    bool truncated);

enum class WaitOutcome { Done, Stopped, Failed };

// Waits for an overlapped operation or the stop event; a stopped operation
// is cancelled and waited for, since ov and the buffer belong to the caller.
inline WaitOutcome WaitForPipeIo(HANDLE pipe, OVERLAPPED* ov, HANDLE stopEvent,
                                 DWORD* transferredBytes, DWORD* error) {
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

// Serves one server instance until stopEvent is set: accepts a sender,
// hands every message it sends to handler, then accepts the next sender.
// Returns false when the pipe failed rather than being stopped.
inline bool ServeQueueInstance(HANDLE pipe, HANDLE stopEvent, QueueMessageHandler handler,
                               void* context) {
  HANDLE ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!ioEvent) return false;
  std::vector<BYTE> buffer(kMaxMessageBytes);
  bool stopped = false;
  bool failed = false;
  // Waits for a pending connect or read; false (with stopped or failed set)
  // when the instance is to end instead.
  auto finishPending = [&](OVERLAPPED* ov, DWORD* transferredBytes, DWORD* error) {
    const WaitOutcome outcome = WaitForPipeIo(pipe, ov, stopEvent, transferredBytes, error);
    if (outcome == WaitOutcome::Done) return true;
    stopped = outcome == WaitOutcome::Stopped;
    failed = !stopped;
    return false;
  };
  while (!stopped && !failed) {
    OVERLAPPED ov = {};
    ov.hEvent = ioEvent;
    ResetEvent(ioEvent);
    DWORD error = ERROR_SUCCESS;
    DWORD transferredBytes = 0;
    if (!ConnectNamedPipe(pipe, &ov)) {
      error = GetLastError();
      if (error == ERROR_IO_PENDING) {
        if (!finishPending(&ov, &transferredBytes, &error)) break;
      }
      // A sender that has already written and gone still left its messages.
      if (error != ERROR_SUCCESS && error != ERROR_PIPE_CONNECTED && error != ERROR_NO_DATA) {
        failed = true;
        break;
      }
    }
    DWORD messageBytes = 0;
    bool truncated = false;
    for (;;) {
      ResetEvent(ioEvent);
      ov = OVERLAPPED{};
      ov.hEvent = ioEvent;
      DWORD offsetBytes = truncated ? 0 : messageBytes;
      DWORD roomBytes = truncated ? kMaxMessageBytes : kMaxMessageBytes - messageBytes;
      BYTE* into = buffer.data() + offsetBytes;
      std::vector<BYTE> discard;
      if (truncated) {
        discard.resize(kMaxMessageBytes);
        into = discard.data();
      }
      transferredBytes = 0;
      error = ERROR_SUCCESS;
      if (!ReadFile(pipe, into, roomBytes, &transferredBytes, &ov)) {
        error = GetLastError();
        if (error == ERROR_IO_PENDING) {
          if (!finishPending(&ov, &transferredBytes, &error)) break;
        }
      } else {
        GetOverlappedResult(pipe, &ov, &transferredBytes, FALSE);
      }
      if (error == ERROR_SUCCESS || error == ERROR_MORE_DATA) {
        if (truncated) {
          messageBytes = messageBytes + transferredBytes < messageBytes
                             ? MAXDWORD
                             : messageBytes + transferredBytes;
        } else {
          messageBytes += transferredBytes;
          if (error == ERROR_MORE_DATA && messageBytes >= kMaxMessageBytes) truncated = true;
        }
        if (error == ERROR_SUCCESS) {
          handler(context, buffer.data(), messageBytes, truncated);
          messageBytes = 0;
          truncated = false;
        }
        continue;
      }
      break;  // the sender closed its end (or the pipe broke)
    }
    DisconnectNamedPipe(pipe);
  }
  CloseHandle(ioEvent);
  return !failed;
}

}  // namespace ostralib
