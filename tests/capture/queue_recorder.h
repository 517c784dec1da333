// Records the messages the capture sends to the request queue.
#pragma once

#include <string>
#include <vector>

#include "platform/win.h"

struct RecordedMessage {
  DWORD sizeBytes;
  DWORD command;
  LONG jobId;
  std::wstring path;  // start only
  DWORD bytesSoFar;   // progress only
};

void ResetQueueRecorder();
std::vector<RecordedMessage> RecordedMessages();
