#include "format/japanese.h"

#include <cstring>

#include "platform/ostralib.h"
#include "platform/text.h"
#include "platform/trace.h"
#include "spooler/memory.h"

namespace {

constexpr UINT kCodePageUtf8 = 65001;

// Copies what fits and always terminates: a text of capacityChars units or
// more keeps its first capacityChars - 1, never ending on half a surrogate
// pair.
void CopyWholeUnits(WCHAR* destination, DWORD capacityChars, const WCHAR* source) {
  const size_t copied = CopyBounded(destination, capacityChars, source);
  if (source[copied] && copied > 0 && IS_HIGH_SURROGATE(destination[copied - 1])) {
    destination[copied - 1] = 0;
  }
}

}  // namespace

void CheckForJapaneseEncoding(const WCHAR* source, WCHAR* destination, DWORD capacityChars) {
  if (!source || !destination || capacityChars == 0) return;
  CopyWholeUnits(destination, capacityChars, source);
  if (!source[0]) return;
  const UniqueGlobal outputBlock(AllocSplMem(capacityChars));
  BYTE* output = static_cast<BYTE*>(outputBlock.get());
  if (!output) return;
  DecoderRecord record = {source, output, capacityChars};
  TraceLabelled(L"CheckForJapaneseEncoding input for decoder - ", source);
  // The record is finalized before its buffer goes, however the decoding ends.
  const ScopeGuard finalize([&record] { DecoderFinalize(&record); });
  int result = DecoderInit(&record);
  if (result == 0) result = DecoderProcess(&record);
  if (result != 0) {
    const WCHAR statusText[2] = {static_cast<WCHAR>(48 + DecoderStatus(&record)), 0};
    TraceLabelled(L"CheckForJapaneseEncoding after DecoderProcess failed", statusText);
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
    TraceText(L"CheckForJapaneseEncoding after MultiByteToWideChar failed");
    CopyWholeUnits(destination, capacityChars, source);
    return;
  }
  destination[convertedChars] = 0;
  TraceLabelled(L"CheckForJapaneseEncoding after MultiByteToWideChar succeeded", destination);
}

void CheckForJapaneseEncoding1(const WCHAR* source, WCHAR* destination, DWORD capacityChars) {
  if (!source || !destination || capacityChars == 0) return;
  while (*source == L' ') ++source;
  CopyWholeUnits(destination, capacityChars, source);
  const size_t lengthChars = wcslen(source);
  if (lengthChars == 0 || source[0] != L'<' || source[lengthChars - 1] != L'>') return;
  const UniqueGlobal bytesBlock(AllocSplMem(capacityChars));
  BYTE* bytes = static_cast<BYTE*>(bytesBlock.get());
  if (!bytes) return;
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
    TraceText(L"CheckForJapaneseEncoding1 after MultiByteToWideChar failed");
    CopyWholeUnits(destination, capacityChars, source);
    return;
  }
  TraceLabelled(L"CheckForJapaneseEncoding1 after MultiByteToWideChar succeeded", destination);
}
