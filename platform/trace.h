// Debugger-output traces: a label, then its value, as two messages.
#pragma once

#include "platform/text.h"
#include "platform/win.h"

inline void TraceLabelled(const WCHAR* label, const WCHAR* value) {
  OutputDebugStringW(label);
  OutputDebugStringW(value);
}

// One message from a format with one number.
inline void TraceNumber(const WCHAR* format, DWORD value) {
  WCHAR message[260];
  FormatOneNumber(message, sizeof(message) / sizeof(WCHAR), format, static_cast<LONG>(value));
  OutputDebugStringW(message);
}
