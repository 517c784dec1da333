#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "ostralib/queue_transport.h"
#include "platform/holders.h"
#include "platform/ostralib.h"

// After windows.h, which it needs.
#include <sddl.h>

namespace {

// An in-process listener serving a queue's pipe through the library's own
// server half of the transport; keeps every message. It holds each message
// 0-2 ms (by its ninth byte), as readers that take turns unevenly.
class Listener {
 public:
  ~Listener() { Stop(); }
  bool Start(const std::wstring& queueName, int instances) {
    for (int i = 0; i < instances; ++i) {
      pipes_.emplace_back(ostralib::CreateQueueServerInstance(queueName.c_str(), i == 0));
      if (!pipes_.back().valid()) return false;
      threads_.emplace_back(ostralib::ServeQueueInstance, pipes_.back().get(), stop_.get(), Keep,
                            this);
    }
    return true;
  }
  void Stop() {
    SetEvent(stop_.get());
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    pipes_.clear();
  }
  // Bounded, so that a lost message fails the test (none at all come back)
  // instead of hanging it.
  std::vector<std::vector<BYTE>> WaitFor(size_t count) {
    for (int round = 0; round < 600; ++round, Sleep(50)) {
      std::lock_guard<std::mutex> hold(lock_);
      if (messages_.size() >= count) return messages_;
    }
    return {};
  }

 private:
  static void Keep(void* self, const BYTE* message, DWORD sizeBytes, bool) {
    Listener* listener = static_cast<Listener*>(self);
    if (sizeBytes > 8) Sleep(message[8] % 3);
    std::lock_guard<std::mutex> hold(listener->lock_);
    listener->messages_.emplace_back(message, message + sizeBytes);
  }
  const UniqueHandle stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::vector<UniqueFile> pipes_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::vector<std::vector<BYTE>> messages_;
};

std::wstring UniqueQueueName(const wchar_t* purpose) {
  return std::wstring(L"HalvekTest-") + purpose + L"-" + std::to_wstring(GetCurrentProcessId());
}

// The slot of a module's import address table through which it calls
// function; null when it imports no such function by name.
ULONG_PTR* ImportSlot(HMODULE module, const char* function) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD at = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + at);
  for (; at && entry->Name; ++entry) {
    auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; name->u1.AddressOfData; ++name, ++slot) {
      const auto* byName =
          reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
      if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) && !std::strcmp(byName->Name, function)) {
        return &slot->u1.Function;
      }
    }
  }
  return nullptr;
}

// Writes value into slot, its protection kept; returns what it held.
ULONG_PTR Patch(ULONG_PTR* slot, ULONG_PTR value) {
  DWORD protection = 0;
  VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
  const ULONG_PTR previous = std::exchange(*slot, value);
  VirtualProtect(slot, sizeof(*slot), protection, &protection);
  return previous;
}

DWORD gQueueOpenFlags = 0;

HANDLE WINAPI RecordingCreateFileW(const WCHAR* name, DWORD access, DWORD share,
                                   SECURITY_ATTRIBUTES* security, DWORD disposition, DWORD flags,
                                   HANDLE templateFile) {
  gQueueOpenFlags = flags;
  return CreateFileW(name, access, share, security, disposition, flags, templateFile);
}

// The sender may be LocalSystem: the listener may identify it, never act as it.
// No listener is needed: the flags are those of the attempt.
TEST(QueueCreate, OpensThePipeForIdentificationOnly) {
  ULONG_PTR* slot = ImportSlot(GetModuleHandleW(L"ostralib.dll"), "CreateFileW");
  ASSERT_NE(nullptr, slot);
  const ULONG_PTR original = Patch(slot, reinterpret_cast<ULONG_PTR>(&RecordingCreateFileW));
  MsgQueHandle queue = nullptr;
  MsgQueCreate(UniqueQueueName(L"sqos").c_str(), 1, &queue);
  Patch(slot, original);
  EXPECT_NE(gQueueOpenFlags & SECURITY_SQOS_PRESENT, 0u);
  EXPECT_LE(gQueueOpenFlags & SECURITY_DELEGATION, SECURITY_IDENTIFICATION);  // the level's bits
}

// A sender hands its messages only to a listener that could read the
// captured files anyway.
TEST(QueueServerCheck, TrustsOnlyTheSendersAccountSystemAndAdministrators) {
  std::vector<PSID> sids;  // freed at the end
  auto sid = [&sids](const WCHAR* text) {
    ConvertStringSidToSidW(text, &sids.emplace_back());
    return sids.back();
  };
  PSID system = sid(L"S-1-5-18"), admins = sid(L"S-1-5-32-544"), users = sid(L"S-1-5-32-545");
  PSID alice = sid(L"S-1-5-21-1-2-3-1001"), mallory = sid(L"S-1-5-21-1-2-3-1002");
  const DWORD kEnabled = SE_GROUP_ENABLED, kDenyOnly = SE_GROUP_USE_FOR_DENY_ONLY;
  const struct {
    PSID sender, server, group;  // the server's one group, or none
    DWORD groupAttributes;
    bool trusted;
  } cases[] = {
      {system, system, nullptr, 0, true},
      {alice, alice, nullptr, 0, true},
      {alice, system, nullptr, 0, true},
      {system, alice, nullptr, 0, false},
      {system, mallory, users, kEnabled, false},
      {system, mallory, admins, kEnabled, true},
      {system, mallory, admins, kEnabled | kDenyOnly, false},  // enabled, yet for deny only
      {system, mallory, admins, 0, false},
      {alice, mallory, nullptr, 0, false},
      {system, nullptr, nullptr, 0, false},
  };
  for (const auto& c : cases) {
    TOKEN_GROUPS groups = {c.group ? 1u : 0u, {{c.group, c.groupAttributes}}};
    EXPECT_EQ(ostralib::IsTrustedQueueServer(c.sender, c.server, &groups), c.trusted)
        << (&c - cases);
  }
  for (PSID each : sids) LocalFree(each);
}

// One message {size, sender, number} through a queue of its own, as a job
// sends each notice.
bool SendNumbered(const std::wstring& name, DWORD sender, DWORD number) {
  MsgQueHandle queue = nullptr;
  if (!MsgQueCreate(name.c_str(), 1, &queue)) return false;
  const DWORD words[3] = {sizeof(words), sender, number};
  void* block = MsgQueAlloc(sizeof(words));
  std::memcpy(block, words, sizeof(words));
  const bool sent = MsgQueSendMessage(queue, block);
  MsgQueFree(block);
  MsgQueDelete(queue);
  return sent;
}

// Several instances serve senders at once and read unevenly, yet each
// sender's messages arrive in the order sent; a connection kept while its
// listener went and came back carries the next message all the same, and
// with no listener left a send fails.
TEST(QueueSend, EachSendersMessagesArriveInOrder) {
  const std::wstring name = UniqueQueueName(L"order");
  constexpr DWORD kSenders = 3, kPerSender = 30;
  Listener listener;
  ASSERT_TRUE(listener.Start(name, 2 * kSenders));
  auto send = [&name](DWORD s) {
    for (DWORD n = 0; n < kPerSender; ++n) EXPECT_TRUE(SendNumbered(name, s, n)) << s << ' ' << n;
  };
  std::vector<std::thread> senders;
  for (DWORD s = 1; s < kSenders; ++s) senders.emplace_back(send, s);
  send(0);  // this thread keeps its connection
  for (std::thread& sender : senders) sender.join();
  std::vector<DWORD> next(kSenders, 0);
  for (const std::vector<BYTE>& message : listener.WaitFor(kSenders * kPerSender)) {
    DWORD words[3] = {};
    ASSERT_EQ(sizeof(words), message.size());
    std::memcpy(words, message.data(), sizeof(words));
    ASSERT_LT(words[1], kSenders);
    EXPECT_EQ(next[words[1]]++, words[2]) << "sender " << words[1];
  }
  EXPECT_EQ(std::vector<DWORD>(kSenders, kPerSender), next);
  listener.Stop();
  Listener again;
  ASSERT_TRUE(again.Start(name, 1));
  EXPECT_TRUE(SendNumbered(name, 0, kPerSender));
  EXPECT_EQ(1u, again.WaitFor(1).size());
  again.Stop();
  EXPECT_FALSE(SendNumbered(name, 0, kPerSender + 1));  // no listener: never taken as sent
}

// A listener that owns the pipe but never reads: neither create nor send may
// wait for it. A size word that does not fit the block would make the send
// read past it.
TEST(QueueSend, GivesUpWhenTheListenerStopsReading) {
  const std::wstring name = UniqueQueueName(L"stalled");
  const UniqueFile pipe(ostralib::CreateQueueServerInstance(name.c_str(), true));
  ASSERT_TRUE(pipe.valid());
  MsgQueHandle queue = nullptr, second = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 1, &second));  // the only instance is taken
  const DWORD sizeBytes = ostralib::kMaxMessageBytes / 4;
  void* block = MsgQueAlloc(sizeBytes);
  for (DWORD declaredBytes : {0ul, 3ul, sizeBytes + 1, 0xFFFFFFFFul, sizeBytes}) {
    std::memcpy(block, &declaredBytes, sizeof(DWORD));
    EXPECT_EQ(declaredBytes == sizeBytes, !!MsgQueSendMessage(queue, block)) << declaredBytes;
  }
  int sent = 0;
  while (sent < 64 && MsgQueSendMessage(queue, block)) ++sent;
  EXPECT_LT(sent, 64) << "a listener that reads nothing took every block";
  EXPECT_FALSE(MsgQueSendMessage(queue, block));  // a cancelled write spoils the queue
  MsgQueFree(block);
  MsgQueDelete(queue);
}

}  // namespace
