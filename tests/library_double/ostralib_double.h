// A double of the companion library's nine calls: records every call in
// order and can fail or throw from any of them.
#pragma once

#include <string>
#include <vector>

#include "platform/ostralib.h"

namespace ostralib_double {

enum class Call {
  Create,
  Alloc,
  Send,
  Free,
  Delete,
  DecoderInit,
  DecoderProcess,
  DecoderStatus,
  DecoderFinalize
};

struct CallRecord {
  Call call;
  const void* pointer;  // queue handle, block or record the call received
  DWORD value;          // mode or size where there is one
};

// What the double throws when asked to.
struct LibraryFault {
  Call call;
};

struct Behaviour {
  bool createFails = false;
  bool createStoresHandleOnFailure = false;
  bool allocFails = false;
  bool sendFails = false;
  Call throwFrom = Call::Create;
  bool throwing = false;
  int initResult = 0;
  int processResult = 0;
  int status = 3;
  std::string decoderOutput;     // bytes written to Output on success
  bool fillWholeOutput = false;  // write Output's full size without a terminator
  BYTE blockTailFill = 0xA5;     // what a fresh block holds
};

// Forgets calls and sent messages and installs the behaviour.
void Reset(const Behaviour& behaviour = Behaviour());
std::vector<CallRecord> Calls();
std::vector<Call> CallSequence();
// The bytes of every block at the moment it was sent.
std::vector<std::vector<BYTE>> SentBlocks();
std::wstring LastQueueName();
// Blocks and handles handed out and not yet given back.
int OutstandingBlocks();
int OutstandingQueues();
// Decoder records initialised and not yet finalized.
int OpenRecords();

}  // namespace ostralib_double
