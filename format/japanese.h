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

// The value of one hexadecimal digit, 255 for any other character.
BYTE wcshextob(WCHAR character);
