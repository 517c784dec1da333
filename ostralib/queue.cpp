// Request queue, sender side: MsgQueCreate connects to the listener's pipe,
// MsgQueSendMessage writes one block as one pipe message. MsgQueDelete keeps
// the connection for the thread's next MsgQueCreate of the same queue, so a
// job's messages share one connection, one server check and one order.
#include <cwchar>
#include <utility>

#include "ostralib/queue_transport.h"
#include "platform/holders.h"
#include "platform/ostralib.h"
#include "platform/text.h"

namespace {

constexpr DWORD kQueueMagic = 0x51617351;  // tags a live queue record
constexpr DWORD kBlockMagic = 0x42617351;  // tags a live block

constexpr DWORD kPipePathChars = 16 + ostralib::kMaxQueueNameChars;

struct QueueRecord {
  DWORD magic;
  HANDLE pipe;
  HANDLE writeDone;
  BOOL broken;    // a cancelled write may have left half a message behind
  BOOL keepable;  // made by a thread acting as the process: may be kept
  BOOL reused;    // kept from an earlier queue: the listener may have gone since
  WCHAR path[kPipePathChars];
};

// The connection a thread keeps between its queues. Only a thread that is not
// impersonating keeps one: the server was checked against the process's
// identity, which does not change.
// The whole record is kept, its write event with it.
struct KeptConnection {
  KeptConnection* next;
  QueueRecord* record;  // null while none is kept
};

DWORD keptSlot = TLS_OUT_OF_INDEXES;
CRITICAL_SECTION keptLock;
KeptConnection* keptList = nullptr;  // every thread's, closed when the DLL unloads

// Precedes every block, so that a send can bound the size word by what was
// allocated.
struct BlockHeader {
  DWORD magic;
  DWORD capacityBytes;
  DWORD reserved[2];
};

QueueRecord* QueueFromHandle(MsgQueHandle queue) {
  QueueRecord* record = static_cast<QueueRecord*>(queue);
  return record && record->magic == kQueueMagic ? record : nullptr;
}

BlockHeader* HeaderOfBlock(void* block) {
  if (!block) return nullptr;
  BlockHeader* header =
      reinterpret_cast<BlockHeader*>(static_cast<BYTE*>(block) - sizeof(BlockHeader));
  return header->magic == kBlockMagic ? header : nullptr;
}

// One kind of a token's information, in a block of the process heap; empty
// when it cannot be had.
UniqueHeapBlock ReadTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS kind) {
  DWORD neededBytes = 0;
  GetTokenInformation(token, kind, nullptr, 0, &neededBytes);
  UniqueHeapBlock block(neededBytes ? HeapAlloc(GetProcessHeap(), 0, neededBytes) : nullptr);
  if (block.valid() && !GetTokenInformation(token, kind, block.get(), neededBytes, &neededBytes)) {
    block.reset();
  }
  return block;
}

PSID UserOf(const UniqueHeapBlock& tokenUser) {
  return tokenUser.valid() ? static_cast<const TOKEN_USER*>(tokenUser.get())->User.Sid : nullptr;
}

// The pipe's server process must pass IsTrustedQueueServer against the
// identity this thread connects with.
bool ServedByTrustedListener(HANDLE pipe) {
  ULONG serverProcessId = 0;
  if (!GetNamedPipeServerProcessId(pipe, &serverProcessId)) return false;
  UniqueHandle server(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, serverProcessId));
  UniqueHandle serverToken, ownToken;
  if (!server.valid() || !OpenProcessToken(server.get(), TOKEN_QUERY, serverToken.put())) {
    return false;
  }
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, ownToken.put()) &&
      !OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, ownToken.put())) {
    return false;
  }
  const UniqueHeapBlock ownUser = ReadTokenInformation(ownToken.get(), TokenUser);
  const UniqueHeapBlock serverUser = ReadTokenInformation(serverToken.get(), TokenUser);
  const UniqueHeapBlock serverGroups = ReadTokenInformation(serverToken.get(), TokenGroups);
  return ostralib::IsTrustedQueueServer(UserOf(ownUser), UserOf(serverUser),
                                        static_cast<const TOKEN_GROUPS*>(serverGroups.get()));
}

HANDLE ConnectToQueue(const WCHAR* path) {
  // No listener: fail at once. Every instance busy: keep trying for a
  // bounded time while the listener frees one.
  const ULONGLONG deadline = GetTickCount64() + ostralib::kConnectTimeoutMs;
  for (;;) {
    UniqueFile pipe(CreateFileW(path, GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                ostralib::kQueueClientFlags, nullptr));
    if (pipe.valid()) {
      if (ServedByTrustedListener(pipe.get())) return pipe.release();
      SetLastError(ERROR_ACCESS_DENIED);
      return INVALID_HANDLE_VALUE;
    }
    if (GetLastError() != ERROR_PIPE_BUSY) break;
    ULONGLONG now = GetTickCount64();
    if (now >= deadline) break;
    if (!WaitNamedPipeW(path, static_cast<DWORD>(deadline - now))) Sleep(1);
  }
  return INVALID_HANDLE_VALUE;
}

bool ThreadActsAsProcess() {
  UniqueHandle token;
  if (OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, token.put())) return false;
  return GetLastError() == ERROR_NO_TOKEN;
}

void CloseRecord(QueueRecord* record) {
  record->magic = 0;
  CloseHandle(record->pipe);
  CloseHandle(record->writeDone);
  HeapFree(GetProcessHeap(), 0, record);
}

KeptConnection* ThreadsKeptConnection() {
  if (keptSlot == TLS_OUT_OF_INDEXES) return nullptr;
  return static_cast<KeptConnection*>(TlsGetValue(keptSlot));
}

// The thread's kept record for path, handed over; null when it keeps none or
// is impersonating (a record for another queue is closed).
QueueRecord* TakeKeptRecord(const WCHAR* path) {
  KeptConnection* kept = ThreadsKeptConnection();
  if (!kept || !kept->record) return nullptr;
  QueueRecord* record = std::exchange(kept->record, nullptr);
  if (std::wcscmp(record->path, path) == 0 && ThreadActsAsProcess()) return record;
  CloseRecord(record);
  return nullptr;
}

void KeepRecord(QueueRecord* record) {
  KeptConnection* kept = ThreadsKeptConnection();
  if (!kept && keptSlot != TLS_OUT_OF_INDEXES) {
    kept = static_cast<KeptConnection*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(KeptConnection)));
    if (kept && !TlsSetValue(keptSlot, kept)) {
      HeapFree(GetProcessHeap(), 0, kept);
      kept = nullptr;
    }
    if (kept) {
      EnterCriticalSection(&keptLock);
      kept->next = keptList;
      keptList = kept;
      LeaveCriticalSection(&keptLock);
    }
  }
  if (!kept) {
    CloseRecord(record);
    return;
  }
  if (kept->record) CloseRecord(kept->record);
  kept->record = record;
}

// Closes the kept connection of the thread ending (thread) or of every
// thread (nullptr, the DLL unloading).
void DropKeptConnections(KeptConnection* thread) {
  EnterCriticalSection(&keptLock);
  for (KeptConnection** link = &keptList; *link;) {
    KeptConnection* kept = *link;
    if (thread && kept != thread) {
      link = &kept->next;
      continue;
    }
    *link = kept->next;
    if (kept->record) CloseRecord(kept->record);
    HeapFree(GetProcessHeap(), 0, kept);
  }
  LeaveCriticalSection(&keptLock);
}

// Writes one message; false with the error set when it did not go whole.
BOOL WriteBlock(QueueRecord* record, const void* block, DWORD sizeBytes) {
  OVERLAPPED ov = {};
  ov.hEvent = record->writeDone;
  ResetEvent(record->writeDone);
  DWORD writtenBytes = 0;
  BOOL written = WriteFile(record->pipe, block, sizeBytes, &writtenBytes, &ov);
  DWORD error = written ? ERROR_SUCCESS : GetLastError();
  if (!written && error == ERROR_IO_PENDING) {
    // The listener has fallen behind by a full buffer. Give up after a bounded
    // wait; the write must be finished either way before the caller frees
    // the block.
    if (WaitForSingleObject(record->writeDone, ostralib::kSendTimeoutMs) != WAIT_OBJECT_0) {
      CancelIo(record->pipe);
    }
    written = GetOverlappedResult(record->pipe, &ov, &writtenBytes, TRUE);
    error = written ? ERROR_SUCCESS : GetLastError();
    if (!written) record->broken = TRUE;
  } else if (written) {
    written = GetOverlappedResult(record->pipe, &ov, &writtenBytes, TRUE);
    error = written ? ERROR_SUCCESS : GetLastError();
  }
  if (written && writtenBytes != sizeBytes) {
    record->broken = TRUE;
    written = FALSE;
    error = ERROR_WRITE_FAULT;
  }
  if (!written) SetLastError(error == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : error);
  return written;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void* reserved) {
  switch (reason) {
    case DLL_PROCESS_ATTACH:
      InitializeCriticalSection(&keptLock);
      keptSlot = TlsAlloc();
      break;
    case DLL_THREAD_DETACH:
      if (KeptConnection* kept = ThreadsKeptConnection()) DropKeptConnections(kept);
      break;
    case DLL_PROCESS_DETACH:
      // At process exit the handles go with the process.
      if (reserved) break;
      DropKeptConnections(nullptr);
      if (keptSlot != TLS_OUT_OF_INDEXES) TlsFree(keptSlot);
      DeleteCriticalSection(&keptLock);
      break;
  }
  return TRUE;
}

extern "C" BOOL WINAPI MsgQueCreate(const WCHAR* queueName, DWORD mode, MsgQueHandle* queue) {
  if (!queue) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *queue = nullptr;
  WCHAR path[kPipePathChars];
  if (mode != ostralib::kQueueModeSend ||
      !ostralib::MakeQueuePipePath(queueName, path, kPipePathChars)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  QueueRecord* kept = TakeKeptRecord(path);
  if (kept) {
    kept->magic = kQueueMagic;
    kept->reused = TRUE;
    *queue = kept;
    return TRUE;
  }
  UniqueFile pipe(ConnectToQueue(path));
  if (!pipe.valid()) return FALSE;
  UniqueHandle writeDone(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  auto* record = writeDone.valid() ? static_cast<QueueRecord*>(HeapAlloc(
                                         GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(QueueRecord)))
                                   : nullptr;
  if (!record) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  // The record owns both handles from here until MsgQueDelete.
  record->magic = kQueueMagic;
  record->pipe = pipe.release();
  record->writeDone = writeDone.release();
  record->keepable = ThreadActsAsProcess();
  CopyBounded(record->path, kPipePathChars, path);
  *queue = record;
  return TRUE;
}

extern "C" void* WINAPI MsgQueAlloc(DWORD sizeBytes) {
  // A block must at least carry its size word.
  if (sizeBytes < sizeof(DWORD) || sizeBytes > ostralib::kMaxMessageBytes) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  BlockHeader* header = static_cast<BlockHeader*>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(BlockHeader) + sizeBytes));
  if (!header) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  header->magic = kBlockMagic;
  header->capacityBytes = sizeBytes;
  return header + 1;
}

extern "C" BOOL WINAPI MsgQueSendMessage(MsgQueHandle queue, void* block) {
  QueueRecord* record = QueueFromHandle(queue);
  BlockHeader* header = HeaderOfBlock(block);
  if (!record || !header) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  DWORD sizeBytes = *static_cast<const DWORD*>(block);
  if (sizeBytes < sizeof(DWORD) || sizeBytes > header->capacityBytes) {
    SetLastError(ERROR_INVALID_DATA);
    return FALSE;
  }
  if (record->broken) {
    SetLastError(ERROR_BROKEN_PIPE);
    return FALSE;
  }
  if (WriteBlock(record, block, sizeBytes)) return TRUE;
  record->keepable = FALSE;  // a failed send closes the connection
  // A kept connection whose listener has gone since: one new connection,
  // then the message again (a refused pipe message is not half written).
  const DWORD error = GetLastError();
  if (!record->reused ||
      (error != ERROR_NO_DATA && error != ERROR_BROKEN_PIPE && error != ERROR_PIPE_NOT_CONNECTED)) {
    return FALSE;
  }
  record->reused = FALSE;
  UniqueFile pipe(ConnectToQueue(record->path));
  if (!pipe.valid()) {
    record->broken = TRUE;
    return FALSE;
  }
  CloseHandle(record->pipe);
  record->pipe = pipe.release();
  if (WriteBlock(record, block, sizeBytes)) {
    record->keepable = TRUE;
    return TRUE;
  }
  return FALSE;
}

extern "C" BOOL WINAPI MsgQueFree(void* block) {
  BlockHeader* header = HeaderOfBlock(block);
  if (!header) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  header->magic = 0;
  return HeapFree(GetProcessHeap(), 0, header);
}

extern "C" BOOL WINAPI MsgQueDelete(MsgQueHandle queue) {
  QueueRecord* record = QueueFromHandle(queue);
  if (!record) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (record->keepable && !record->broken) {
    record->magic = 0;
    KeepRecord(record);
  } else {
    CloseRecord(record);
  }
  return TRUE;
}
