// ASCII case-insensitive comparison of job bytes, independent of the C
// runtime's locale (a Japanese locale must not fold lead or trail bytes).
#pragma once

#include <cstddef>

#include "platform/win.h"

inline BYTE FoldAsciiCase(BYTE value) {
  return (value >= 'a' && value <= 'z') ? static_cast<BYTE>(value - ('a' - 'A')) : value;
}

// The caller guarantees countBytes readable bytes at data.
inline bool MatchesIgnoreCaseA(const BYTE* data, const char* pattern, size_t countBytes) {
  for (size_t i = 0; i < countBytes; ++i) {
    if (FoldAsciiCase(data[i]) != FoldAsciiCase(static_cast<BYTE>(pattern[i]))) return false;
  }
  return true;
}
