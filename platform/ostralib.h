// The companion library Ostralib: request queue and Japanese text decoder.
// Declared without dllimport so that a test build can link a double of the
// library in place of its import library.
#pragma once

#include "platform/win.h"

extern "C" {

// Request queue. A queue handle is opaque; zero means none.
typedef void* MsgQueHandle;

// Opens the named queue for sending. Non-zero when *queue is usable.
BOOL WINAPI MsgQueCreate(const WCHAR* queueName, DWORD mode, MsgQueHandle* queue);
// A writable block of at least sizeBytes, owned by the caller until MsgQueFree.
void* WINAPI MsgQueAlloc(DWORD sizeBytes);
// Sends the block; its first DWORD is the block's size in bytes. Non-zero when sent.
BOOL WINAPI MsgQueSendMessage(MsgQueHandle queue, void* block);
BOOL WINAPI MsgQueFree(void* block);
BOOL WINAPI MsgQueDelete(MsgQueHandle queue);

// Japanese text decoder.
struct DecoderRecord {
  const WCHAR* Input;  // zero-terminated UTF-16 text to decode
  BYTE* Output;        // caller's zero-filled output buffer
  DWORD OutputSize;    // its size in bytes
};

int WINAPI DecoderInit(DecoderRecord* record);
int WINAPI DecoderProcess(DecoderRecord* record);
int WINAPI DecoderStatus(DecoderRecord* record);
int WINAPI DecoderFinalize(DecoderRecord* record);

}  // extern "C"

// A title byte that the ANSI code page reads as no character of its own (a
// lead byte without its trail byte, say) reaches the decoder as this unit
// plus the byte: a lone low surrogate, which no real text holds, so the
// decoder recovers the byte instead of a default character.
constexpr WCHAR kEscapedByteBase = 0xDC00;
