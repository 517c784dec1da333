// An in-process listener owning a queue through the library's own server
// half of the transport; keeps every message it receives.
#pragma once

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ostralib/queue_transport.h"

namespace queue_test {

// Each message's bytes, cut at the transport's limit.
using Messages = std::vector<std::vector<BYTE>>;

class TestListener {
 public:
  ~TestListener() {
    Stop();
    CloseHandle(stop_);
  }
  bool Start(const std::wstring& queueName, int instances) {
    owner_ = ostralib::ClaimQueue(queueName.c_str());
    for (int i = 0; owner_ && i < instances; ++i) {
      HANDLE pipe = ostralib::CreateQueueServerInstance(queueName.c_str(), i == 0);
      if (pipe == INVALID_HANDLE_VALUE) return i > 0;
      pipes_.push_back(pipe);
      threads_.emplace_back(
          [this, pipe] { ostralib::ServeQueueInstance(pipe, stop_, Keep, this); });
    }
    return owner_ != nullptr;
  }
  void Stop() {
    SetEvent(stop_);
    for (std::thread& thread : threads_) thread.join();
    for (HANDLE pipe : pipes_) CloseHandle(pipe);
    threads_.clear();
    pipes_.clear();
    if (owner_) CloseHandle(owner_);
    owner_ = nullptr;
  }
  Messages Received() {
    std::lock_guard<std::mutex> hold(lock_);
    return messages_;
  }
  // Bounded, so that a lost message fails the test instead of hanging it.
  Messages WaitFor(const std::function<bool(const Messages&)>& done) {
    for (int round = 0; round < 600 && !done(Received()); ++round) Sleep(50);
    return Received();
  }

 private:
  static void Keep(void* self, const BYTE* message, DWORD sizeBytes, bool) {
    TestListener* listener = static_cast<TestListener*>(self);
    const DWORD keptBytes = std::min<DWORD>(sizeBytes, ostralib::kMaxMessageBytes);
    std::lock_guard<std::mutex> hold(listener->lock_);
    listener->messages_.emplace_back(message, message + keptBytes);
  }
  HANDLE stop_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE owner_ = nullptr;
  std::vector<HANDLE> pipes_;
  std::vector<std::thread> threads_;
  std::mutex lock_;
  Messages messages_;
};

inline std::wstring UniqueQueueName(const wchar_t* purpose) {
  static LONG counter = 0;
  return std::wstring(L"HalvekTest-") + purpose + L"-" + std::to_wstring(GetCurrentProcessId()) +
         L"-" + std::to_wstring(InterlockedIncrement(&counter));
}

// Serialises the test programs that own "RequestQue" itself.
struct RequestQueLock {
  HANDLE mutex = CreateMutexW(nullptr, FALSE, L"Local\\HalvekRequestQueTests");
  RequestQueLock() { WaitForSingleObject(mutex, INFINITE); }
  ~RequestQueLock() {
    ReleaseMutex(mutex);
    CloseHandle(mutex);
  }
};

}  // namespace queue_test
