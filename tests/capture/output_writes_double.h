// Stands in for the capture's output writes: real WriteFile and
// FlushFileBuffers unless a test arms a failure like a full disk.
#pragma once

#include "platform/win.h"

// The nth write (1-based, counted from the last reset) and every later one
// fail with `error`; 0 disarms.
void FailOutputWritesFrom(unsigned nth, DWORD error);
void FailOutputFlush(DWORD error);
void ResetOutputWrites();
unsigned OutputWriteCount();
