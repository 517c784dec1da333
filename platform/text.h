// Bounded copies of UTF-16 text: every copy stays inside its destination and
// says how much it kept.
#pragma once

#include <cstddef>
#include <cwchar>

#include "platform/win.h"

// Copies at most sourceChars characters of source (fewer when it ends
// earlier), and never more than capacityChars - 1; always terminates.
// Returns the characters copied.
inline size_t CopyBounded(WCHAR* destination, size_t capacityChars, const WCHAR* source,
                          size_t sourceChars = static_cast<size_t>(-1)) {
  if (!destination || capacityChars == 0) return 0;
  size_t copied = 0;
  if (source) {
    for (; copied + 1 < capacityChars && copied < sourceChars && source[copied]; ++copied) {
      destination[copied] = source[copied];
    }
  }
  destination[copied] = L'\0';
  return copied;
}

// Appends what fits behind the text already in destination.
inline size_t AppendBounded(WCHAR* destination, size_t capacityChars, const WCHAR* source) {
  size_t used = 0;
  while (used < capacityChars && destination[used]) ++used;
  if (used + 1 >= capacityChars) return 0;
  return CopyBounded(destination + used, capacityChars - used, source);
}

// Fills a fixed-size field: the text, then zeros to the field's end; a text
// that fills the field gets no terminator.
inline void CopyPadded(WCHAR* field, size_t capacityChars, const WCHAR* text) {
  size_t i = 0;
  if (text) {
    for (; i < capacityChars && text[i]; ++i) field[i] = text[i];
  }
  for (; i < capacityChars; ++i) field[i] = 0;
}

// One number formatted into destination by a printf format whose only
// conversion takes an int ("%d", "%05.5d"), as wsprintfW formats it; the C
// runtime's formatter spares the DLLs an import of USER32 for this alone.
// Returns the characters written; a text that does not fit is cut.
inline size_t FormatOneNumber(WCHAR* destination, size_t capacityChars, const WCHAR* format,
                              LONG value) {
  if (!destination || capacityChars == 0) return 0;
  const int written = _snwprintf(destination, capacityChars - 1, format, static_cast<int>(value));
  destination[capacityChars - 1] = L'\0';
  if (written < 0) return CopyBounded(destination, capacityChars, destination);
  return static_cast<size_t>(written);
}
