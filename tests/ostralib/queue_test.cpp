#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "platform/holders.h"
#include "platform/ostralib.h"
#include "tests/ostralib/queue_listener.h"

// After windows.h, which it needs.
#include <sddl.h>

using queue_test::Messages;
using queue_test::TestListener;
using queue_test::UniqueQueueName;

namespace {

// A block whose size word is declaredBytes and whose other bytes count up.
BYTE* PatternBlock(DWORD sizeBytes, DWORD declaredBytes = 0) {
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(sizeBytes));
  for (DWORD i = 0; block && i < sizeBytes; ++i) block[i] = static_cast<BYTE>(i * 7 + 3);
  if (!declaredBytes) declaredBytes = sizeBytes;
  if (block) std::memcpy(block, &declaredBytes, sizeof(DWORD));
  return block;
}

// A listener on a fresh queue and one sender's handle to it.
struct Connected {
  std::wstring name = UniqueQueueName(L"q");
  TestListener listener;
  MsgQueHandle queue = nullptr;
  bool ok = listener.Start(name, 1) && MsgQueCreate(name.c_str(), 1, &queue);
  ~Connected() { MsgQueDelete(queue); }
  Messages Sent(size_t count) {
    MsgQueDelete(queue);
    queue = nullptr;
    return listener.WaitFor([&](const Messages& got) { return got.size() >= count; });
  }
};

// Points one of a module's imported functions somewhere else for the life of
// the patch, through the module's import address table.
class ImportPatch {
 public:
  ImportPatch(HMODULE module, const char* dllName, const char* function, void* replacement) {
    BYTE* base = reinterpret_cast<BYTE*>(module);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* entry = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
    for (; imports.VirtualAddress && entry->Name && !slot_; ++entry) {
      if (_stricmp(reinterpret_cast<const char*>(base + entry->Name), dllName) != 0) continue;
      auto* name = reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
      auto* slot = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
      for (; name->u1.AddressOfData && !slot_; ++name, ++slot) {
        if (IMAGE_SNAP_BY_ORDINAL(name->u1.Ordinal)) continue;
        const auto* byName =
            reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + name->u1.AddressOfData);
        if (std::strcmp(reinterpret_cast<const char*>(byName->Name), function) == 0) {
          slot_ = &slot->u1.Function;
        }
      }
    }
    if (slot_) original_ = Swap(reinterpret_cast<ULONG_PTR>(replacement));
  }
  ~ImportPatch() {
    if (slot_) Swap(original_);
  }
  bool applied() const { return slot_ != nullptr; }

 private:
  ULONG_PTR Swap(ULONG_PTR value) {
    DWORD protection = 0;
    VirtualProtect(slot_, sizeof(*slot_), PAGE_READWRITE, &protection);
    const ULONG_PTR previous = *slot_;
    *slot_ = value;
    VirtualProtect(slot_, sizeof(*slot_), protection, &protection);
    return previous;
  }
  ULONG_PTR* slot_ = nullptr;
  ULONG_PTR original_ = 0;
};

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
  TestListener listener;
  ASSERT_TRUE(listener.Start(name, 1));
  gQueueOpenFlags = 0;
  MsgQueHandle queue = nullptr;
  {
    const ImportPatch patch(GetModuleHandleW(L"ostralib.dll"), "kernel32.dll", "CreateFileW",
                            reinterpret_cast<void*>(&RecordingCreateFileW));
    ASSERT_TRUE(patch.applied());
    ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  }
  MsgQueDelete(queue);
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
      {&system, &mallory, &admins, kDenyOnly, false},  // an administrator's filtered token
      {&system, &mallory, &admins, 0, false},
      {&alice, &mallory, nullptr, 0, false},
      {&system, nullptr, nullptr, 0, false},
  };
  for (const auto& c : cases) {
    TOKEN_GROUPS groups = {};
    groups.GroupCount = c.group ? 1 : 0;
    groups.Groups[0].Sid = c.group ? c.group->bytes : nullptr;
    groups.Groups[0].Attributes = c.groupAttributes;
    EXPECT_EQ(ostralib::IsTrustedQueueServer(c.sender->bytes, c.server ? c.server->bytes : nullptr,
                                             &groups),
              c.trusted)
        << (&c - cases);
  }
}

// A size word that does not fit the block would make the send read past it.
TEST(QueueSend, RejectsSizeWordsOutsideTheBlock) {
  Connected c;
  ASSERT_TRUE(c.ok);
  for (DWORD declaredBytes : {0ul, 3ul, 89ul, 0xFFFFFFFFul}) {
    BYTE* block = PatternBlock(88);
    std::memcpy(block, &declaredBytes, sizeof(DWORD));
    EXPECT_FALSE(MsgQueSendMessage(c.queue, block)) << declaredBytes;
    MsgQueFree(block);
  }
  BYTE* block = PatternBlock(88);
  EXPECT_TRUE(MsgQueSendMessage(c.queue, block));  // the queue is still good
  EXPECT_EQ(1u, c.listener.WaitFor([](const Messages& got) { return !got.empty(); }).size());
  c.listener.Stop();
  EXPECT_FALSE(MsgQueSendMessage(c.queue, block));  // the listener has gone
  MsgQueFree(block);
}

// One message {size, sender, number} through a queue of its own, as a job
// sends each notice.
bool SendNumbered(const std::wstring& name, DWORD sender, DWORD number) {
  MsgQueHandle queue = nullptr;
  if (!MsgQueCreate(name.c_str(), 1, &queue)) return false;
  const DWORD words[3] = {sizeof(words), sender, number};
  BYTE* block = static_cast<BYTE*>(MsgQueAlloc(sizeof(words)));
  bool sent = false;
  if (block) {
    std::memcpy(block, words, sizeof(words));
    sent = MsgQueSendMessage(queue, block);
    MsgQueFree(block);
  }
  MsgQueDelete(queue);
  return sent;
}

// Keeps {sender, number} of each message, each after a pause that differs
// from one message to the next, as readers that take turns unevenly.
struct UnevenReaders {
  std::mutex lock;
  std::vector<std::pair<DWORD, DWORD>> got;
  static void Keep(void* self, const BYTE* message, DWORD sizeBytes, bool) {
    DWORD words[3] = {};
    if (sizeBytes != sizeof(words)) return;
    std::memcpy(words, message, sizeof(words));
    Sleep(words[2] % 3);
    UnevenReaders* readers = static_cast<UnevenReaders*>(self);
    std::lock_guard<std::mutex> hold(readers->lock);
    readers->got.emplace_back(words[1], words[2]);
  }
};

// Several instances serve senders at once, yet each sender's messages arrive
// in the order sent; a listener that has gone and come back gets the next
// message all the same.
TEST(QueueSend, EachSendersMessagesArriveInOrder) {
  const std::wstring name = UniqueQueueName(L"order");
  constexpr DWORD kSenders = 3, kPerSender = 30;
  UniqueHandle owner(ostralib::ClaimQueue(name.c_str()));
  const UniqueHandle stop(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  UnevenReaders readers;
  std::vector<UniqueFile> pipes;
  std::vector<std::thread> serving;
  for (DWORD i = 0; i < 2 * kSenders; ++i) {
    pipes.emplace_back(ostralib::CreateQueueServerInstance(name.c_str(), i == 0));
    ASSERT_TRUE(pipes.back().valid());
    serving.emplace_back([&, pipe = pipes.back().get()] {
      ostralib::ServeQueueInstance(pipe, stop.get(), UnevenReaders::Keep, &readers);
    });
  }
  std::vector<std::thread> senders;
  std::vector<int> failures(kSenders, 0);
  for (DWORD s = 0; s < kSenders; ++s) {
    senders.emplace_back([&, s] {
      for (DWORD n = 0; n < kPerSender; ++n) failures[s] += !SendNumbered(name, s, n);
    });
  }
  for (std::thread& sender : senders) sender.join();
  EXPECT_EQ(std::vector<int>(kSenders, 0), failures);
  const auto readCount = [&] {
    std::lock_guard<std::mutex> hold(readers.lock);
    return readers.got.size();
  };
  for (int round = 0; round < 600 && readCount() < kSenders * kPerSender; ++round) Sleep(50);
  // This thread, sender kSenders, now keeps a connection to an instance.
  EXPECT_TRUE(SendNumbered(name, kSenders, 0));
  for (int round = 0; round < 600 && readCount() <= kSenders * kPerSender; ++round) Sleep(50);
  SetEvent(stop.get());
  for (std::thread& thread : serving) thread.join();
  std::vector<DWORD> next(kSenders + 1, 0);
  for (const auto& message : readers.got) {
    ASSERT_LE(message.first, kSenders);
    EXPECT_EQ(next[message.first]++, message.second) << "sender " << message.first;
  }
  std::vector<DWORD> expected(kSenders, kPerSender);
  expected.push_back(1);
  EXPECT_EQ(expected, next);
  pipes.clear();  // the listener goes
  owner.reset();
  TestListener again;
  ASSERT_TRUE(again.Start(name, 1));
  EXPECT_TRUE(SendNumbered(name, 0, 0));
  EXPECT_EQ(1u, again.WaitFor([](const Messages& got) { return !got.empty(); }).size());
}

// A listener that owns the pipe but never reads: neither create nor send may wait for it.
TEST(QueueSend, GivesUpWhenTheListenerStopsReading) {
  const std::wstring name = UniqueQueueName(L"stalled");
  const UniqueFile pipe(ostralib::CreateQueueServerInstance(name.c_str(), true));
  ASSERT_TRUE(pipe.valid());
  MsgQueHandle queue = nullptr, second = nullptr;
  ASSERT_TRUE(MsgQueCreate(name.c_str(), 1, &queue));
  EXPECT_FALSE(MsgQueCreate(name.c_str(), 1, &second));  // the only instance is taken
  EXPECT_EQ(nullptr, second);
  BYTE* block = PatternBlock(ostralib::kMaxMessageBytes / 4);
  int sent = 0;
  while (sent < 64 && MsgQueSendMessage(queue, block)) ++sent;
  EXPECT_LT(sent, 64) << "a listener that reads nothing took every block";
  EXPECT_FALSE(MsgQueSendMessage(queue, block));  // a cancelled write spoils the queue
  MsgQueFree(block);
  MsgQueDelete(queue);
}

}  // namespace
