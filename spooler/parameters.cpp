#include "spooler/parameters.h"

#include <cwchar>
#include <cwctype>

#include "platform/holders.h"
#include "platform/trace.h"
#include "spooler/memory.h"

const WCHAR pCopiesKey[] = L"COPIES";

namespace {

enum class ScanState { Between, InKey, KeyThenBlank, AfterEquals, InValue, ValueThenBlank };

bool IsBlank(WCHAR ch) {
  return ch == L' ' || ch == L'\t';
}

// Accepts the value [valueStart, semicolon) for the requested type. True when
// the lookup is done (the result code is in *result).
bool AcceptValue(const WCHAR* valueStart, const WCHAR* semicolon, KeyValueType type,
                 USHORT* sizeBytes, void* value, USHORT* result) {
  if (type == KeyValueType::Number) {
    if (*valueStart < L'0' || *valueStart > L'9') return false;
    // Reads like wcstoul in base 10; a count beyond 32 bits saturates.
    unsigned long long number = 0;
    for (const WCHAR* p = valueStart; p < semicolon && *p >= L'0' && *p <= L'9'; ++p) {
      number = number * 10 + static_cast<unsigned>(*p - L'0');
      if (number > MAXDWORD) number = MAXDWORD;
    }
    *static_cast<DWORD*>(value) = static_cast<DWORD>(number);
    *result = 0;
    return true;
  }
  // String: the text and its terminator must fit the caller's bytes.
  const size_t lengthChars = static_cast<size_t>(semicolon - valueStart);
  if ((lengthChars + 1) * sizeof(WCHAR) > *sizeBytes) {
    *result = ERROR_INSUFFICIENT_BUFFER;
    return true;
  }
  WCHAR* out = static_cast<WCHAR*>(value);
  std::wmemcpy(out, valueStart, lengthChars);
  out[lengthChars] = L'\0';
  *sizeBytes = static_cast<USHORT>(lengthChars);
  *result = 0;
  return true;
}

}  // namespace

USHORT GetKeyValue(const WCHAR* parameters, const WCHAR* key, KeyValueType type, USHORT* sizeBytes,
                   void* value) {
  if (!parameters || !key || !sizeBytes || !value) {
    if (sizeBytes) *sizeBytes = 0;
    return ERROR_INVALID_PARAMETER;
  }
  if (type != KeyValueType::Number && type != KeyValueType::String) {
    *sizeBytes = 0;
    return ERROR_INVALID_PARAMETER;
  }
  if (type == KeyValueType::Number && *sizeBytes < sizeof(DWORD)) {
    *static_cast<DWORD*>(value) = 0;
    return ERROR_INSUFFICIENT_BUFFER;
  }
  if (type == KeyValueType::String && *sizeBytes < sizeof(WCHAR)) {
    return ERROR_INSUFFICIENT_BUFFER;
  }

  const size_t keyLengthChars = std::wcslen(key);
  ScanState state = ScanState::Between;
  const WCHAR* keyStart = nullptr;
  const WCHAR* valueStart = nullptr;
  const WCHAR* p = parameters;

  auto keyMatches = [&](const WCHAR* keyEnd) {
    return static_cast<size_t>(keyEnd - keyStart) >= keyLengthChars &&
           _wcsnicmp(keyStart, key, keyLengthChars) == 0;
  };
  // Moves p just past the next ';' (or to the end when there is none).
  auto skipEntry = [&]() {
    const WCHAR* semicolon = std::wcschr(p, L';');
    p = semicolon ? semicolon + 1 : p + std::wcslen(p);
    state = ScanState::Between;
  };

  while (*p) {
    const WCHAR ch = *p;
    switch (state) {
      case ScanState::Between:
        if (ch == L'=') {
          skipEntry();
          continue;
        }
        if (!IsBlank(ch) && ch != L';') {
          keyStart = p;
          state = ScanState::InKey;
        }
        break;
      case ScanState::InKey:
        if (IsBlank(ch) || ch == L'=') {
          if (!keyMatches(p)) {
            skipEntry();
            continue;
          }
          state = ch == L'=' ? ScanState::AfterEquals : ScanState::KeyThenBlank;
        } else if (ch == L';') {
          state = ScanState::Between;
        }
        break;
      case ScanState::KeyThenBlank:
      case ScanState::ValueThenBlank:
        if (ch == L';') {
          state = ScanState::Between;
        } else if (!IsBlank(ch)) {
          skipEntry();
          continue;
        }
        break;
      case ScanState::AfterEquals:
        if (ch == L';') {
          state = ScanState::Between;
        } else if (ch == L'=') {
          skipEntry();
          continue;
        } else if (!IsBlank(ch)) {
          valueStart = p;
          state = ScanState::InValue;
        }
        break;
      case ScanState::InValue:
        if (IsBlank(ch)) {
          state = ScanState::ValueThenBlank;
        } else if (ch == L'=') {
          skipEntry();
          continue;
        } else if (ch == L';') {
          USHORT result = 0;
          if (AcceptValue(valueStart, p, type, sizeBytes, value, &result)) return result;
          skipEntry();
          continue;
        }
        break;
    }
    ++p;
  }
  *sizeBytes = 0;
  return ERROR_NO_DATA;
}

void* GetPrinterInfo(HANDLE printer, DWORD level, DWORD* error) {
  DWORD bufferBytes = 2048;
  UniqueGlobal buffer(AllocSplMem(bufferBytes));
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (!buffer.valid()) {
      *error = ERROR_NOT_ENOUGH_MEMORY;
      return nullptr;
    }
    DWORD neededBytes = 0;
    if (GetPrinterW(printer, level, static_cast<BYTE*>(buffer.get()), bufferBytes, &neededBytes)) {
      *error = 0;
      return buffer.release();
    }
    *error = GetLastError();
    buffer.reset();
    if (*error != ERROR_INSUFFICIENT_BUFFER) return nullptr;
    if (attempt == 1) break;
    // Room the spooler asked for, plus the slack the query has always added.
    if (neededBytes > MAXDWORD - 10) {
      *error = ERROR_NOT_ENOUGH_MEMORY;
      return nullptr;
    }
    bufferBytes = neededBytes + 10;
    buffer.reset(AllocSplMem(bufferBytes));
  }
  *error = ERROR_NOT_ENOUGH_MEMORY;
  return nullptr;
}

DWORD SettleCopyCount(const WCHAR* parameters, HANDLE printer) {
  DWORD copies = 1;
  if (parameters) {
    DWORD found = 0;
    USHORT sizeBytes = sizeof(found);
    if (GetKeyValue(parameters, pCopiesKey, KeyValueType::Number, &sizeBytes, &found) == 0) {
      copies = found;
    }
  }
  if (copies <= 1) return copies;
  if (!printer || printer == INVALID_HANDLE_VALUE) return 1;

  DWORD error = 0;
  const UniqueGlobal info(GetPrinterInfo(printer, 2, &error));
  if (!info.valid()) {
    TraceText(L"GetPrinter failed - falling back to 1 copy\n");
    return 1;
  }
  if (static_cast<PRINTER_INFO_2W*>(info.get())->Attributes & PRINTER_ATTRIBUTE_DIRECT) copies = 1;
  return copies;
}
