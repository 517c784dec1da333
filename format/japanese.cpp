#include "format/japanese.h"

#include <cstring>

#include "platform/ostralib.h"
#include "spooler/memory.h"

namespace {

constexpr UINT kCodePageUtf8 = 65001;

// Copies what fits and always terminates: a text of capacityChars units or
// more keeps its first capacityChars - 1, never ending on half a surrogate
// pair.
void CopyBounded(WCHAR* destination, DWORD capacityChars, const WCHAR* source) {
  if (capacityChars == 0) return;
  DWORD i = 0;
  for (; i + 1 < capacityChars && source[i]; ++i) destination[i] = source[i];
  if (source[i] && i > 0 && destination[i - 1] >= 0xD800 && destination[i - 1] <= 0xDBFF) --i;
  destination[i] = 0;
}

// Finalizes the record and releases its buffer, in that order, however the
// decoding ends.
struct DecoderHold {
  DecoderRecord* record;
  void* buffer;
  DecoderHold(const DecoderHold&) = delete;
  DecoderHold& operator=(const DecoderHold&) = delete;
  ~DecoderHold() {
    DecoderFinalize(record);
    GlobalFree(buffer);
  }
};

}  // namespace

BYTE wcshextob(WCHAR character) {
  if (character >= L'0' && character <= L'9') return static_cast<BYTE>(character - L'0');
  if (character >= L'a' && character <= L'f') return static_cast<BYTE>(character - L'a' + 10);
  if (character >= L'A' && character <= L'F') return static_cast<BYTE>(character - L'A' + 10);
  return 255;
}

void CheckForJapaneseEncoding(const WCHAR* source, WCHAR* destination, DWORD capacityChars) {
  if (!source || !destination || capacityChars == 0) return;
  CopyBounded(destination, capacityChars, source);
  if (!source[0]) return;
  BYTE* output = static_cast<BYTE*>(AllocSplMem(capacityChars));
  if (!output) return;
  DecoderRecord record = {source, output, capacityChars};
  OutputDebugStringW(L"CheckForJapaneseEncoding input for decoder - ");
  OutputDebugStringW(source);
  DecoderHold hold = {&record, output};
  int result = DecoderInit(&record);
  if (result == 0) result = DecoderProcess(&record);
  if (result != 0) {
    const WCHAR statusText[2] = {static_cast<WCHAR>(48 + DecoderStatus(&record)), 0};
    OutputDebugStringW(L"CheckForJapaneseEncoding after DecoderProcess failed");
    OutputDebugStringW(statusText);
    return;
  }
  // The library promises a terminator within the buffer; do not rely on it.
  int outputBytes = 0;
  while (static_cast<DWORD>(outputBytes) < capacityChars && output[outputBytes]) ++outputBytes;
  int convertedChars = outputBytes == 0
                           ? 0
                           : MultiByteToWideChar(kCodePageUtf8, 0, reinterpret_cast<char*>(output),
                                                 outputBytes, destination, capacityChars - 1);
  if (convertedChars == 0) {
    OutputDebugStringW(L"CheckForJapaneseEncoding after MultiByteToWideChar failed");
    CopyBounded(destination, capacityChars, source);
    return;
  }
  destination[convertedChars] = 0;
  OutputDebugStringW(L"CheckForJapaneseEncoding after MultiByteToWideChar succeeded");
  OutputDebugStringW(destination);
}

void CheckForJapaneseEncoding1(const WCHAR* source, WCHAR* destination, DWORD capacityChars) {
  if (!source || !destination || capacityChars == 0) return;
  while (*source == L' ') ++source;
  CopyBounded(destination, capacityChars, source);
  const size_t lengthChars = wcslen(source);
  if (lengthChars == 0 || source[0] != L'<' || source[lengthChars - 1] != L'>') return;
  BYTE* bytes = static_cast<BYTE*>(AllocSplMem(capacityChars));
  if (!bytes) return;
  GlobalBlock hold(bytes);
  DWORD countBytes = 0;
  BYTE highDigit = 0;
  bool highPending = false;
  for (const WCHAR* scan = source + 1; *scan != L'>'; ++scan) {
    // Only ASCII digits: the platform's digit class also admits full-width
    // ones, which have no byte value.
    BYTE digit = wcshextob(*scan);
    if (digit == 255) return;
    if (!highPending) {
      highDigit = digit;
      highPending = true;
      continue;
    }
    // The buffer keeps a terminator; a longer hex string is no title.
    if (countBytes + 1 >= capacityChars) return;
    bytes[countBytes++] = static_cast<BYTE>(highDigit * 16 + digit);
    highPending = false;
  }
  int convertedChars = MultiByteToWideChar(kCodePageUtf8, 0, reinterpret_cast<char*>(bytes), -1,
                                           destination, capacityChars);
  if (convertedChars == 0) {
    OutputDebugStringW(L"CheckForJapaneseEncoding1 after MultiByteToWideChar failed");
    CopyBounded(destination, capacityChars, source);
    return;
  }
  OutputDebugStringW(L"CheckForJapaneseEncoding1 after MultiByteToWideChar succeeded");
  OutputDebugStringW(destination);
}
