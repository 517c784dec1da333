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
// server half of the transport; keeps every message. An uneven one holds each
// message 0-2 ms (by its ninth byte), as readers that take turns unevenly.
class Listener {
 public:
  explicit Listener(bool uneven = false) : uneven_(uneven) {}
  ~Listener() { Stop(); }
  bool Start(const std::wstring& queueName, int instances) {
    for (int i = 0; i < instances; ++i) {
      pipes_.emplace_back(ostralib::CreateQueueServerInstance(queueName.c_str(), i == 0));
      if (!pipes_.back().valid()) return false;
      threads_.emplace_back([this, pipe = pipes_.back().get()] {
        ostralib::ServeQueueInstance(pipe, stop_.get(), Keep, this);
      });
    }
    return true;
  }
  void Stop() {
    SetEvent(stop_.get());
    for (std::thread& thread : threads_) thread.join();
    threads_.clear();
    pipes_.clear();
  }
  // Bounded, so that a lost message fails the test instead of hanging it.
  std::vector<std::vector<BYTE>> WaitFor(size_t count) {
    for (int round = 0; round < 600; ++round, Sleep(50)) {
      std::lock_guard<std::mutex> hold(lock_);
      if (messages_.size() >= count) break;
    }
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
  }

 private:
  static void Keep(void* self, const BYTE* message, DWORD sizeBytes, bool) {
    Listener* listener = static_cast<Listener*>(self);
    if (listener->uneven_ && sizeBytes > 8) Sleep(message[8] % 3);
    std::lock_guard<std::mutex> hold(listener->lock_);
    listener->messages_.emplace_back(message, message + sizeBytes);
  }
  const bool uneven_;
  const UniqueHandle stop_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
  std::vector<UniqueFile> pipes_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  std::vector<std::vector<BYTE>> messages_;
};

std::wstring UniqueQueueName(const wchar_t* purpose) {
  static LONG counter = 0;
  return std::wstring(L"HalvekTest-") + purpose + L"-" + std::to_wstring(GetCurrentProcessId()) +
         L"-" + std::to_wstring(InterlockedIncrement(&counter));
}

// The slot of a module's import address table through which it calls
// function; null when it imports no such function by name.
ULONG_PTR* ImportSlot(HMODULE module, const char* function) {
  BYTE* base = reinterpret_cast<BYTE*>(module);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& imports =
      nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
  for (; imports.VirtualAddress && entry->Name; ++entry) {
    auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
    auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
    for (; name->u1.AddressOfData; ++name, ++slot) {
      if (!IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal) &&
          std::strcmp(
              reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData)->Name,
              function) == 0) {
        return &slot->u1.Function;
      }
    }
  }
  return nullptr;
}

// Writes value into slot; returns what it held.
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
TEST(QueueCreate, OpensThePipeForIdentificationOnly) {
  const std::wstring name = UniqueQueueName(L"sqos");
  Listener listener;
  ASSERT_TRUE(listener.Start(name, 1));
  ULONG_PTR* slot = ImportSlot(GetModuleHandleW(L"ostralib.dll"), "CreateFileW");
  ASSERT_NE(nullptr, slot);
  gQueueOpenFlags = 0;
  const ULONG_PTR original = Patch(slot, reinterpret_cast<ULONG_PTR>(&RecordingCreateFileW));
  MsgQueHandle queue = nullptr;
  const BOOL created = MsgQueCreate(name.c_str(), 1, &queue);
  Patch(slot, original);
  MsgQueDelete(queue);
  ASSERT_TRUE(created);
  EXPECT_NE(gQueueOpenFlags & SECURITY_SQOS_PRESENT, 0u);
  const DWORD level = gQueueOpenFlags & (SECURITY_IMPERSONATION | SECURITY_DELEGATION);
  EXPECT_TRUE(level == SECURITY_ANONYMOUS || level == SECURITY_IDENTIFICATION) << level;
}

// A sender hands its messages only to a listener that could read the
// captured files anyway.
TEST(QueueServerCheck, TrustsOnlyTheSendersAccountSystemAndAdministrators) {
  struct Sid {
    BYTE bytes[SECURITY_MAX_SID_SIZE];
    explicit Sid(const WCHAR* text) {
      PSID converted = nullptr;
      ConvertStringSidToSidW(text, &converted);
      CopySid(sizeof(bytes), bytes, converted);
      LocalFree(converted);
    }
  };
  Sid system(L"S-1-5-18"), admins(L"S-1-5-32-544"), users(L"S-1-5-32-545");
  Sid alice(L"S-1-5-21-1-2-3-1001"), mallory(L"S-1-5-21-1-2-3-1002");
  const DWORD kEnabled = SE_GROUP_ENABLED;
  const DWORD kDenyOnly = SE_GROUP_USE_FOR_DENY_ONLY;
  const struct {
    Sid* sender;
    Sid* server;
    Sid* group;  // the server's one group, or none
    DWORD groupAttributes;
    bool trusted;
  } cases[] = {
      {&system, &system, nullptr, 0, true},
      {&alice, &alice, nullptr, 0, true},
      {&alice, &system, nullptr, 0, true},
      {&system, &alice, nullptr, 0, false},
      {&system, &mallory, &users, kEnabled, false},
      {&system, &mallory, &admins, kEnabled, true},
      {&system, &mallory, &admins, kEnabled | kDenyOnly, false},  // enabled, yet for deny only
      {&system, &mallory, &admins, 0, false},
      {&alice, &mallory, nullptr, 0, false},
      {&system, nullptr, nullptr, 0, false},
  };
  for (const auto& c : cases) {
    TOKEN_GROUPS groups = {c.group ? 1u : 0u,
                           {{c.group ? c.group->bytes : nullptr, c.groupAttributes}}};
    EXPECT_EQ(ostralib::IsTrustedQueueServer(c.sender->bytes, c.server ? c.server->bytes : nullptr,
                                             &groups),
              c.trusted)
        << (&c - cases);
  }
}

// A size word that does not fit the block would make the send read past it.
TEST(QueueSend, SendsOnlySizeWordsWithinTheBlock) {
  const std::wstring name = UniqueQueueName(L"size");
  Listener listener;
  MsgQueHandle queue = nullptr;
  ASSERT_TRUE(listener.Start(name, 1) && MsgQueCreate(name.c_str(), 1, &queue));
  void* block = MsgQueAlloc(88);
  for (DWORD declaredBytes : {0ul, 3ul, 89ul, 0xFFFFFFFFul, 88ul}) {
    std::memcpy(block, &declaredBytes, sizeof(DWORD));
    EXPECT_EQ(declaredBytes == 88, !!MsgQueSendMessage(queue, block)) << declaredBytes;
  }
  EXPECT_EQ(1u, listener.WaitFor(1).size());
  listener.Stop();
  EXPECT_FALSE(MsgQueSendMessage(queue, block));  // the listener has gone
  MsgQueFree(block);
  MsgQueDelete(queue);
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
// sender's messages arrive in the order sent; a listener that has gone and
// come back gets the next message all the same.
TEST(QueueSend, EachSendersMessagesArriveInOrder) {
  const std::wstring name = UniqueQueueName(L"order");
  constexpr DWORD kSenders = 3, kPerSender = 30;
  Listener listener(true);
  ASSERT_TRUE(listener.Start(name, 2 * kSenders));
  std::vector<std::thread> senders;
  std::vector<int> failures(kSenders + 1, 0);
  for (DWORD s = 0; s < kSenders; ++s) {
    senders.emplace_back([&, s] {
      for (DWORD n = 0; n < kPerSender; ++n) failures[s] += !SendNumbered(name, s, n);
    });
  }
  for (std::thread& sender : senders) sender.join();
  listener.WaitFor(kSenders * kPerSender);
  // This thread, sender kSenders, now keeps a connection to an instance.
  failures[kSenders] += !SendNumbered(name, kSenders, 0);
  EXPECT_EQ(std::vector<int>(kSenders + 1, 0), failures);
  std::vector<DWORD> next(kSenders + 1, 0);
  for (const std::vector<BYTE>& message : listener.WaitFor(kSenders * kPerSender + 1)) {
    DWORD words[3] = {};
    ASSERT_EQ(sizeof(words), message.size());
    std::memcpy(words, message.data(), sizeof(words));
    ASSERT_LE(words[1], kSenders);
    EXPECT_EQ(next[words[1]]++, words[2]) << "sender " << words[1];
  }
  std::vector<DWORD> expected(kSenders, kPerSender);
  expected.push_back(1);
  EXPECT_EQ(expected, next);
  listener.Stop();
  Listener again;
  ASSERT_TRUE(again.Start(name, 1));
  EXPECT_TRUE(SendNumbered(name, 0, 0));
  EXPECT_EQ(1u, again.WaitFor(1).size());
}

// A listener that owns the pipe but never reads: neither create nor send may
// wait for it.
TEST(QueueSend, GivesUpWhenTheListenerStopsReading) {
  const std::wstring name = UniqueQueueName(L"stalled");
  const UniqueFile pipe(ostralib::CreateQueueServerInstance(name.c_str(), true));
  ASSERT_TRUE(pipe.valid());
  MsgQueHandle queue = nullptr, second = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 1, &second));  // the only instance is taken
  const DWORD sizeBytes = ostralib::kMaxMessageBytes / 4;
  void* block = MsgQueAlloc(sizeBytes);
  std::memcpy(block, &sizeBytes, sizeof(DWORD));
  int sent = 0;
  while (sent < 64 && MsgQueSendMessage(queue, block)) ++sent;
  EXPECT_LT(sent, 64) << "a listener that reads nothing took every block";
  EXPECT_FALSE(MsgQueSendMessage(queue, block));  // a cancelled write spoils the queue
  MsgQueFree(block);
  MsgQueDelete(queue);
}

}  // namespace
