// An in-process listener for the tests: owns a queue through the library's
// own server half of the transport and keeps every message it receives.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ostralib/queue_transport.h"
#include "platform/win.h"

namespace queue_test {

struct ReceivedMessage {
  std::vector<BYTE> bytes;
  DWORD sizeBytes;
  bool truncated;
};

class TestListener {
 public:
  TestListener() {
    InitializeCriticalSection(&lock_);
    stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    received_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  }
  ~TestListener() {
    Stop();
    CloseHandle(stop_);
    CloseHandle(received_);
    DeleteCriticalSection(&lock_);
  }
  TestListener(const TestListener&) = delete;
  TestListener& operator=(const TestListener&) = delete;

  // Owns the queue with the given number of server instances.
  bool Start(const std::wstring& queueName, int instances) {
    owner_ = ostralib::ClaimQueue(queueName.c_str());
    if (!owner_) return false;
    for (int i = 0; i < instances; ++i) {
      HANDLE pipe = ostralib::CreateQueueServerInstance(queueName.c_str(), i == 0);
      if (pipe == INVALID_HANDLE_VALUE) return i > 0;
      pipes_.push_back(pipe);
      threads_.push_back(CreateThread(nullptr, 0, Serve, this, 0, nullptr));
    }
    return true;
  }

  void Stop() {
    SetEvent(stop_);
    if (!threads_.empty()) {
      WaitForMultipleObjects(static_cast<DWORD>(threads_.size()), threads_.data(), TRUE, INFINITE);
    }
    for (HANDLE thread : threads_) CloseHandle(thread);
    for (HANDLE pipe : pipes_) CloseHandle(pipe);
    threads_.clear();
    pipes_.clear();
    if (owner_) CloseHandle(owner_);
    owner_ = nullptr;
  }

  std::vector<ReceivedMessage> Messages() {
    EnterCriticalSection(&lock_);
    std::vector<ReceivedMessage> copy = messages_;
    LeaveCriticalSection(&lock_);
    return copy;
  }

  // Waits until done(messages) holds; gives up after a generous bound so a
  // lost message fails the test instead of hanging it.
  bool WaitFor(const std::function<bool(const std::vector<ReceivedMessage>&)>& done) {
    for (int round = 0; round < 600; ++round) {
      if (done(Messages())) return true;
      WaitForSingleObject(received_, 50);
    }
    return done(Messages());
  }

 private:
  static DWORD WINAPI Serve(void* self) {
    TestListener* listener = static_cast<TestListener*>(self);
    EnterCriticalSection(&listener->lock_);
    HANDLE pipe = listener->pipes_[listener->nextPipe_++];
    LeaveCriticalSection(&listener->lock_);
    ostralib::ServeQueueInstance(pipe, listener->stop_, OnMessage, listener);
    return 0;
  }
  static void OnMessage(void* self, const BYTE* message, DWORD sizeBytes, bool truncated) {
    TestListener* listener = static_cast<TestListener*>(self);
    DWORD keptBytes =
        sizeBytes < ostralib::kMaxMessageBytes ? sizeBytes : ostralib::kMaxMessageBytes;
    EnterCriticalSection(&listener->lock_);
    listener->messages_.push_back(
        {std::vector<BYTE>(message, message + keptBytes), sizeBytes, truncated});
    LeaveCriticalSection(&listener->lock_);
    SetEvent(listener->received_);
  }

  CRITICAL_SECTION lock_;
  HANDLE stop_;
  HANDLE received_;
  HANDLE owner_ = nullptr;
  std::vector<HANDLE> pipes_;
  std::vector<HANDLE> threads_;
  size_t nextPipe_ = 0;
  std::vector<ReceivedMessage> messages_;
};

// A queue name no other test process uses at the same time.
inline std::wstring UniqueQueueName(const wchar_t* purpose) {
  static LONG counter = 0;
  return std::wstring(L"HalvekTest-") + purpose + L"-" + std::to_wstring(GetCurrentProcessId()) +
         L"-" + std::to_wstring(InterlockedIncrement(&counter));
}

// Serialises the test programs that own "RequestQue" itself.
class RequestQueLock {
 public:
  RequestQueLock() : mutex_(CreateMutexW(nullptr, FALSE, L"Local\\HalvekRequestQueTests")) {
    if (mutex_) WaitForSingleObject(mutex_, INFINITE);
  }
  ~RequestQueLock() {
    if (mutex_) {
      ReleaseMutex(mutex_);
      CloseHandle(mutex_);
    }
  }
  RequestQueLock(const RequestQueLock&) = delete;
  RequestQueLock& operator=(const RequestQueLock&) = delete;

 private:
  HANDLE mutex_;
};

}  // namespace queue_test
