// Memory helpers that fail on request, linked in place of the system's.
#pragma once

#include "platform/win.h"

// Allocations number from 1 after each call; the nth one (0: none) and,
// when `andLater` is set, every later one fail.
void FailAllocation(unsigned nth, bool andLater = false);
