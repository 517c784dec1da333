// Traces: every message goes to the debugger output and, while a capture
// runs with the operator's capture log switched on, as one line into the log.
#pragma once

#include "platform/text.h"
#include "platform/win.h"

// One message.
void TraceText(const WCHAR* text);
void TraceTextA(const char* text);

// A label, then its value, as two messages.
inline void TraceLabelled(const WCHAR* label, const WCHAR* value) {
  TraceText(label);
  TraceText(value);
}

// One message from a format with one number.
inline void TraceNumber(const WCHAR* format, DWORD value) {
  WCHAR message[260];
  FormatOneNumber(message, sizeof(message) / sizeof(WCHAR), format, static_cast<LONG>(value));
  TraceText(message);
}

// One line for the operator in the capture log (the debugger output keeps its
// own traces only): what happened, then the system's text of error ("There is
// not enough space on the disk.") and its number.
void TraceReason(const WCHAR* what, DWORD error);
// The same without an error: what happened, then a detail (may be null).
void LogReasonText(const WCHAR* what, const WCHAR* detail);

// The capture log of the calling thread's job ("CaptureLog"): the value is
// read once, a log of kCaptureLogLimitBytes or more is renamed to "<log>.1",
// and the log is opened for appending. Nothing fails when it cannot be.
void OpenCaptureLog();
// The job id the log's lines carry from now on.
void SetCaptureLogJobId(LONG jobId);
void CloseCaptureLog();

constexpr DWORD kCaptureLogLimitBytes = 1024 * 1024;
