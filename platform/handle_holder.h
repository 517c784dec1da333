// A kernel handle, closed on every way out.
#pragma once

#include "platform/win.h"

struct HandleHolder {
  HANDLE handle = nullptr;
  HandleHolder() = default;
  HandleHolder(const HandleHolder&) = delete;
  HandleHolder& operator=(const HandleHolder&) = delete;
  ~HandleHolder() {
    if (handle && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
  }
};
