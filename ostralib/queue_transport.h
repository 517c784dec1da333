// The transport under a request queue: a message-mode named pipe
// "\\.\pipe\<queue name>" owned by the downstream listener. Senders connect
// as clients, one pipe message per queue message. A pipe keeps message
// boundaries, gives back-pressure through its bounded buffer (so a stalled
// listener makes a send time out instead of piling up memory), and does not
// exist without a listener (so opening the queue fails at once).
//
// The library uses the client half, the listener program and the tests the
// server half.
#pragma once

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

// The server half, for the listener program and the tests
// (ostralib/queue_server.cpp, library ostralib_queue_server).

// Claims a queue for one listener; zero when another listener holds it.
// The platform does not reliably refuse a second first pipe instance, so a
// named mutex, released when its holder ends, marks the owner.
HANDLE ClaimQueue(const WCHAR* queueName);

// One server instance of the queue's pipe. The first instance must be new:
// two listeners never share a queue.
HANDLE CreateQueueServerInstance(const WCHAR* queueName, bool firstInstance);

// Receives one message. sizeBytes is the message's full size; a message
// larger than kMaxMessageBytes arrives cut to that size (truncated true).
typedef void (*QueueMessageHandler)(void* context, const BYTE* message, DWORD sizeBytes,
                                    bool truncated);

// Serves one server instance until stopEvent is set: accepts a sender,
// hands every message it sends to handler, then accepts the next sender.
// Returns false when the pipe failed rather than being stopped.
bool ServeQueueInstance(HANDLE pipe, HANDLE stopEvent, QueueMessageHandler handler, void* context);

}  // namespace ostralib
