// The one holder family for everything the system opens, allocates or starts:
// each is released on every way out, and releasing keeps the thread's last
// error, so a failure's cause survives the clean-up that follows it.
#pragma once

#include <utility>

#include "platform/win.h"

template <typename Traits>
class Holder {
 public:
  using Value = typename Traits::Value;

  Holder() = default;
  explicit Holder(Value value) : value_(value) {}
  ~Holder() { reset(); }
  Holder(Holder&& other) noexcept : value_(other.release()) {}
  Holder& operator=(Holder&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  Value get() const { return value_; }
  bool valid() const { return Traits::IsValid(value_); }
  Value release() { return std::exchange(value_, Traits::Empty()); }
  void reset(Value value = Traits::Empty()) {
    if (Traits::IsValid(value_)) {
      const DWORD error = GetLastError();
      Traits::Release(value_);
      SetLastError(error);
    }
    value_ = value;
  }
  // For calls that deliver the value through an out-argument.
  Value* put() {
    reset();
    return &value_;
  }

 private:
  Value value_ = Traits::Empty();
};

namespace holder_traits {

inline bool IsKernelHandle(HANDLE handle) {
  return handle && handle != INVALID_HANDLE_VALUE;
}

// Kernel objects whose calls return null on failure (events, tokens, processes).
struct Handle {
  using Value = HANDLE;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value value) { return IsKernelHandle(value); }
  static void Release(Value value) { CloseHandle(value); }
};
// Files and pipes, whose calls return INVALID_HANDLE_VALUE on failure.
struct File : Handle {
  static Value Empty() { return INVALID_HANDLE_VALUE; }
};
// Values that are null when empty; each kind says only how it is released.
template <typename T>
struct NullWhenEmpty {
  using Value = T;
  static Value Empty() { return nullptr; }
  static bool IsValid(Value value) { return value != nullptr; }
};

struct Find {
  using Value = HANDLE;
  static Value Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(Value value) { return value != INVALID_HANDLE_VALUE; }
  static void Release(Value value) { FindClose(value); }
};
struct Key : NullWhenEmpty<HKEY> {
  static void Release(Value value) { RegCloseKey(value); }
};
struct Printer : NullWhenEmpty<HANDLE> {
  static void Release(Value value) { ClosePrinter(value); }
};
// A printer handle whose document was started: releasing ends the document
// (the printer handle itself belongs to someone else).
struct StartedDocument : Printer {
  static void Release(Value value) { EndDocPrinter(value); }
};
struct GlobalBlock : NullWhenEmpty<void*> {
  static void Release(Value value) { GlobalFree(value); }
};
// A block of the process heap.
struct HeapBlock : NullWhenEmpty<void*> {
  static void Release(Value value) { HeapFree(GetProcessHeap(), 0, value); }
};

}  // namespace holder_traits

using UniqueHandle = Holder<holder_traits::Handle>;
using UniqueFile = Holder<holder_traits::File>;
using UniqueFind = Holder<holder_traits::Find>;
using UniqueKey = Holder<holder_traits::Key>;
using UniquePrinter = Holder<holder_traits::Printer>;
using StartedDocument = Holder<holder_traits::StartedDocument>;
using UniqueGlobal = Holder<holder_traits::GlobalBlock>;
using UniqueHeapBlock = Holder<holder_traits::HeapBlock>;

// Runs an action on every way out of a scope, unless dismissed.
template <typename Action>
class ScopeGuard {
 public:
  explicit ScopeGuard(Action action) : action_(std::move(action)) {}
  ~ScopeGuard() {
    if (armed_) action_();
  }
  ScopeGuard(const ScopeGuard&) = delete;
  ScopeGuard& operator=(const ScopeGuard&) = delete;
  void dismiss() { armed_ = false; }

 private:
  Action action_;
  bool armed_ = true;
};
