// Spooling notifications to the request queue "RequestQue": start (with the
// output path), progress (bytes read so far) and stop of a job's capture.
#pragma once

#include <cstddef>

#include "platform/win.h"

enum class SpoolingCommand : DWORD {
  Start = 4,
  Stop = 5,
  Progress = 6,
};

// The part every message shares; integers little-endian, text UTF-16LE.
struct SpoolingMessage {
  DWORD messageSizeBytes;  // size of the whole block
  DWORD command;           // a SpoolingCommand
  DWORD reserved;
  WCHAR commandName[32];  // zero-padded
  LONG jobId;
};

struct SpoolingStartMessage {
  SpoolingMessage header;
  WCHAR outputPath[MAX_PATH];  // zero-padded; no terminator when it fills the field
  BYTE reserved[128];
  DWORD libraryTail;  // left as the library hands the block over
};

struct SpoolingProgressMessage {
  SpoolingMessage header;
  DWORD bytesSoFar;
  DWORD libraryTail;
};

struct SpoolingStopMessage {
  SpoolingMessage header;
  DWORD libraryTail;
};

static_assert(offsetof(SpoolingMessage, commandName) == 12, "message layout");
static_assert(offsetof(SpoolingMessage, jobId) == 76, "message layout");
static_assert(sizeof(SpoolingMessage) == 80, "message layout");
static_assert(offsetof(SpoolingStartMessage, outputPath) == 80, "message layout");
static_assert(offsetof(SpoolingStartMessage, reserved) == 600, "message layout");
static_assert(sizeof(SpoolingStartMessage) == 732, "message layout");
static_assert(offsetof(SpoolingProgressMessage, bytesSoFar) == 80, "message layout");
static_assert(sizeof(SpoolingProgressMessage) == 88, "message layout");
static_assert(sizeof(SpoolingStopMessage) == 84, "message layout");

// Each sends one message on a queue handle of its own and releases the
// handle and the block before it returns. TRUE when the message was sent.
// After a send failed, progress messages are skipped (FALSE) until a start
// or stop message goes through again: a stalled listener costs a job its
// start and stop waits, not one wait per 512 KiB.
BOOL NotifyStartSpooling(LONG jobId, const WCHAR* outputPath);
BOOL NotifyProgressSpooling(LONG jobId, DWORD bytesSoFar);
BOOL NotifyStopSpooling(LONG jobId);
