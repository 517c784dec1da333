// The two Japanese passes every name text goes through, in this order:
// the companion library's decoder, then the UTF-8 hex-string decoding.
// Each leaves the text as it came (the second without leading spaces) when
// it does not apply or fails; the destination is always zero-terminated.
#pragma once

#include "platform/win.h"

// Replaces the text by the decoder's result when the library recognises a
// Japanese encoding in it.
void CheckForJapaneseEncoding(const WCHAR* source, WCHAR* destination, DWORD capacityChars);

// Replaces a text of the form <hex digits> by the UTF-8 text the digits spell.
void CheckForJapaneseEncoding1(const WCHAR* source, WCHAR* destination, DWORD capacityChars);

// The value of one hexadecimal digit, 255 for any other character: the one
// digit map of the system, for text units and job bytes alike.
inline BYTE wcshextob(WCHAR character) {
  if (character >= L'0' && character <= L'9') return static_cast<BYTE>(character - L'0');
  if (character >= L'a' && character <= L'f') return static_cast<BYTE>(character - L'a' + 10);
  if (character >= L'A' && character <= L'F') return static_cast<BYTE>(character - L'A' + 10);
  return 255;
}
