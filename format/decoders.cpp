// Title decoders: hex UTF-16, hex bytes, PostScript octal escapes and the
// code-page conversions behind them.
#include <cstring>

#include "format/format_internal.h"
#include "format/japanese.h"
#include "platform/trace.h"

namespace {

// A byte that is no hex digit counts as a 0 digit.
BYTE HexDigitValue(BYTE character) {
  const BYTE value = wcshextob(character);
  return value == 255 ? 0 : value;
}

// Value of the two hex characters at hex; a non-hex character is a 0 digit.
BYTE ASCIIHexToBinary(const BYTE* hex) {
  BYTE value = 0;
  for (int i = 0; i < 2; ++i) value = static_cast<BYTE>((value << 4) + HexDigitValue(hex[i]));
  return value;
}

// Two characters from position, a zero byte standing in for each one at or
// past the end: the end of the block reads like a terminator.
BYTE HexPairAt(const BYTE* hex, DWORD lengthBytes, DWORD position) {
  BYTE pair[2] = {0, 0};
  if (position < lengthBytes) pair[0] = hex[position];
  if (position + 1 < lengthBytes) pair[1] = hex[position + 1];
  return ASCIIHexToBinary(pair);
}

// A hex title ends at its closing ">" or at the end of its line, whichever
// comes first: a cut group never pulls in the bytes of the next line.
DWORD HexTitleBytes(const BYTE* hex, DWORD lengthBytes) {
  DWORD count = 0;
  while (count < lengthBytes && hex[count] != '>' && hex[count] != '\r' && hex[count] != '\n') {
    ++count;
  }
  return count;
}

// Converts up to the first zero byte: a decoded \000 ends the title.
DWORD CountBeforeZero(const BYTE* bytes, DWORD countBytes) {
  const void* zero = std::memchr(bytes, 0, countBytes);
  return zero ? static_cast<DWORD>(static_cast<const BYTE*>(zero) - bytes) : countBytes;
}

// Drops leading blanks and trailing blanks, CRs and LFs.
void StripWhitespace(const BYTE** start, DWORD* countBytes) {
  while (*countBytes > 0 && (*start)[0] == ' ') {
    ++*start;
    --*countBytes;
  }
  while (*countBytes > 0) {
    const BYTE last = (*start)[*countBytes - 1];
    if (last != ' ' && last != '\r' && last != '\n') break;
    --*countBytes;
  }
}

// destination holds sourceCountBytes + 1 bytes. Returns the bytes stored
// before the terminating zero.
DWORD DecodeOctalSequences(const BYTE* source, BYTE* destination, DWORD sourceCountBytes) {
  DWORD stored = 0;
  DWORD position = 0;
  while (position < sourceCountBytes) {
    if (source[position] != '\\') {
      destination[stored++] = source[position++];
      continue;
    }
    if (sourceCountBytes - position < 4) {
      TraceText(L"Malformed octal sequence skipped");
      break;
    }
    // Digits are not checked: "\(" and "\\" take in the two bytes behind them.
    const int value = (source[position + 1] - '0') * 64 + (source[position + 2] - '0') * 8 +
                      (source[position + 3] - '0');
    destination[stored++] = static_cast<BYTE>(value & 0xFF);
    position += 4;
  }
  destination[stored] = 0;
  return stored;
}

// Steps shared by the MS Office and Mac UTF-8 paths; returns the number of
// decoded bytes in work (kTitleWorkBytes) up to the first zero.
DWORD DecodeEscapedLine(const BYTE* line, DWORD countBytes, BYTE* work) {
  const BYTE* start = line;
  DWORD count = countBytes;
  if (!start) count = 0;
  StripWhitespace(&start, &count);
  if (count >= 2 && ((start[0] == '(' && start[count - 1] == ')') ||
                     (start[0] == '<' && start[count - 1] == '>'))) {
    ++start;
    count -= 2;
  }
  if (count >= kTitleWorkBytes) count = kTitleWorkBytes - 1;
  const DWORD decoded = DecodeOctalSequences(start, work, count);
  return CountBeforeZero(work, decoded);
}

int DecodeUTF8ToUnicode(const BYTE* bytes, int countBytes, WCHAR* title) {
  return MultiByteToWideChar(CP_UTF8, 0, reinterpret_cast<LPCCH>(bytes), countBytes, title,
                             static_cast<int>(kMaxTitleChars));
}

}  // namespace

void DecodeUnicodeFromASCIIHex(const BYTE* hex, DWORD lengthBytes, WCHAR* title) {
  if (!hex) return;
  lengthBytes = HexTitleBytes(hex, lengthBytes);
  if (lengthBytes < 4 || std::memcmp(hex, "FEFF", 4) != 0) return;
  DWORD position = 4;
  for (DWORD units = 0; units < kMaxTitleChars && position < lengthBytes; ++units) {
    const BYTE high = HexPairAt(hex, lengthBytes, position);
    const BYTE low = HexPairAt(hex, lengthBytes, position + 2);
    position += 4;
    const WCHAR unit = static_cast<WCHAR>((high << 8) | low);
    title[units] = unit;
    if (unit == 0) break;
  }
}

void DecodeASCIIFromASCIHex(const BYTE* hex, DWORD lengthBytes, BYTE* bytes) {
  DWORD stored = 0;
  DWORD position = 0;
  lengthBytes = hex ? HexTitleBytes(hex, lengthBytes) : 0;
  while (stored < kTitleWorkBytes - 1 && position < lengthBytes) {
    const BYTE value = HexPairAt(hex, lengthBytes, position);
    position += 2;
    bytes[stored++] = value;
    if (value == 0) return;
  }
  bytes[stored] = 0;
}

int DecodeANSIToUnicode(const BYTE* bytes, int countBytes, WCHAR* title) {
  return MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCCH>(bytes), countBytes, title,
                             static_cast<int>(kMaxTitleChars));
}

int DecodeMSOfiiceTitle(const BYTE* line, DWORD countBytes, WCHAR* title) {
  BYTE work[kTitleWorkBytes] = {};
  const DWORD decoded = DecodeEscapedLine(line, countBytes, work);
  return DecodeANSIToUnicode(work, static_cast<int>(decoded), title);
}

void DecodeMacUTF8(const BYTE* line, DWORD countBytes, WCHAR* title) {
  BYTE work[kTitleWorkBytes] = {};
  const DWORD decoded = DecodeEscapedLine(line, countBytes, work);
  if (DecodeUTF8ToUnicode(work, static_cast<int>(decoded), title) != 0) {
    TraceText(L"Successfull");
  }
}
