// Inside the format detection: the producer tests and title decoders behind
// CheckSignatures, reached one by one by their tests.
#pragma once

#include "format/format.h"

// Longest title a producer decoder writes, in UTF-16 units. A title buffer
// handed to IsKnownFormat or a decoder holds at least this plus a terminator,
// zero-filled beforehand.
constexpr DWORD kMaxTitleChars = 260;
// Byte work buffer of the octal and hex-byte decoders: 259 bytes and a zero.
constexpr DWORD kTitleWorkBytes = 260;

// TRUE when pattern occurs in the block and ends before its last byte.
BOOL ContainsSubstringA(const BYTE* data, DWORD lengthBytes, const char* pattern);

// Producer detection

// First case-insensitive occurrence of pattern that ends before the block's
// last byte, or null.
const BYTE* FindSubstringA(const BYTE* data, DWORD lengthBytes, const char* pattern);
// TRUE when a producer-specific decoder ran and wrote the title (maybe empty).
// title: zero-filled, at least kMaxTitleChars + 1 units. producer, when not
// null, names the decoder that ran (unchanged when none did).
BOOL IsKnownFormat(const BYTE* data, DWORD lengthBytes, WCHAR* title,
                   const WCHAR** producer = nullptr);
// Cuts the title line behind the "%%Title:" at keyword. remainingBytes counts
// the bytes from keyword to the block's end. Without a line feed the line
// runs to the block's end (less a line end that is the block's last bytes).
void GetTitle(const BYTE* keyword, DWORD remainingBytes, const BYTE** titleStart,
              const BYTE** titleEnd);

BOOL IsAcrobat9(const BYTE* creatorValue, DWORD remainingBytes);
BOOL IsAcrobat8(const BYTE* data, DWORD lengthBytes);
BOOL IsMacOS(const BYTE* data, DWORD lengthBytes);
BOOL IsMacOSJapanese(const BYTE* data, DWORD lengthBytes);
BOOL IsMacOS_UTF8(const BYTE* data, DWORD lengthBytes);
BOOL IsMSOffice(const BYTE* data, DWORD lengthBytes);
// afterKeyword: the byte right after "%%Title:"; remainingBytes from there.
BOOL IsTitleHexEncodedPrefix(const BYTE* afterKeyword, DWORD remainingBytes);
BOOL IsASCIIEncodedUnicode(const BYTE* data, DWORD lengthBytes);

// Title decoders

// Value of the two hex characters at hex; a non-hex character is a 0 digit.
BYTE ASCIIHexToBinary(const BYTE* hex);
// Hex UTF-16 behind an exact "FEFF" mark into title (at most kMaxTitleChars
// units). The title ends at its ">", its line's end or the block's end.
void DecodeUnicodeFromASCIIHex(const BYTE* hex, DWORD lengthBytes, WCHAR* title);
// Hex bytes into bytes (kTitleWorkBytes), always zero-terminated. The title
// ends at its ">", its line's end or the block's end.
void DecodeASCIIFromASCIHex(const BYTE* hex, DWORD lengthBytes, BYTE* bytes);
// Conversions into at most kMaxTitleChars units; no terminator added.
int DecodeANSIToUnicode(const BYTE* bytes, int countBytes, WCHAR* title);
int DecodeUTF8ToUnicode(const BYTE* bytes, int countBytes, WCHAR* title);
// Drops leading blanks and trailing blanks, CRs and LFs.
void StripWhitespace(const BYTE** start, DWORD* countBytes);
// destination holds sourceCountBytes + 1 bytes. Returns the bytes stored
// before the terminating zero.
DWORD DecodeOctalSequences(const BYTE* source, BYTE* destination, DWORD sourceCountBytes);
int DecodeMSOfiiceTitle(const BYTE* line, DWORD countBytes, WCHAR* title);
void DecodeMacUTF8(const BYTE* line, DWORD countBytes, WCHAR* title);
