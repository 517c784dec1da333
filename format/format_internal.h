// Inside the format detection: what the signature check, the producer
// detection and the title decoders share.
#pragma once

#include "format/format.h"

// Longest title a producer decoder writes, in UTF-16 units. A title buffer
// handed to IsKnownFormat or a decoder holds at least this plus a terminator,
// zero-filled beforehand.
constexpr DWORD kMaxTitleChars = 260;
// Byte work buffer of the octal and hex-byte decoders: 259 bytes and a zero.
constexpr DWORD kTitleWorkBytes = 260;

// Producer detection

// First case-insensitive occurrence of pattern that ends before the block's
// last byte, or null.
const BYTE* FindSubstringA(const BYTE* data, DWORD lengthBytes, const char* pattern);
// TRUE when a producer-specific decoder ran and wrote the title (maybe empty).
// title: zero-filled, at least kMaxTitleChars + 1 units. producer, when not
// null, names the decoder that ran (unchanged when none did).
BOOL IsKnownFormat(const BYTE* data, DWORD lengthBytes, WCHAR* title,
                   const WCHAR** producer = nullptr);

// Title decoders

// Hex UTF-16 behind an exact "FEFF" mark into title (at most kMaxTitleChars
// units). The title ends at its ">", its line's end or the block's end.
void DecodeUnicodeFromASCIIHex(const BYTE* hex, DWORD lengthBytes, WCHAR* title);
// Hex bytes into bytes (kTitleWorkBytes), always zero-terminated. The title
// ends at its ">", its line's end or the block's end.
void DecodeASCIIFromASCIHex(const BYTE* hex, DWORD lengthBytes, BYTE* bytes);
// Conversions into at most kMaxTitleChars units; no terminator added.
int DecodeANSIToUnicode(const BYTE* bytes, int countBytes, WCHAR* title);
int DecodeMSOfiiceTitle(const BYTE* line, DWORD countBytes, WCHAR* title);
void DecodeMacUTF8(const BYTE* line, DWORD countBytes, WCHAR* title);
