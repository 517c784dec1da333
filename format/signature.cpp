// Signature check: the format of the block that starts an output file and
// the plain "%%Title:" copy for producers without a decoder of their own.
#include <cstring>
#include <cwchar>

#include "format/ascii_match.h"
#include "format/format_internal.h"
#include "platform/ostralib.h"
#include "platform/trace.h"

namespace {

const char* const kTitleKeyword = "%%Title:";
const char* const kEpsHeader = "%!PS-Adobe-3.0 EPSF";
const WCHAR* const kTraceLabel = L"CheckSignatures:";

// Units of the block's start shown in the first trace.
constexpr DWORD kTraceStartChars = 260;

bool HasPrefix(const BYTE* data, DWORD lengthBytes, const char* signature) {
  const size_t signatureBytes = std::strlen(signature);
  return lengthBytes > signatureBytes && MatchesIgnoreCaseA(data, signature, signatureBytes);
}

void TraceBlockStart(const BYTE* data, DWORD lengthBytes) {
  WCHAR text[kTraceStartChars + 1] = {};
  const DWORD countBytes = lengthBytes < kTraceStartChars ? lengthBytes : kTraceStartChars;
  if (countBytes > 0) {
    MultiByteToWideChar(CP_ACP, 0, reinterpret_cast<LPCCH>(data), static_cast<int>(countBytes),
                        text, static_cast<int>(kTraceStartChars));
  }
  TraceLabelled(kTraceLabel, text);
}

JobFormat DetectFormat(const BYTE* data, DWORD lengthBytes) {
  if (HasPrefix(data, lengthBytes, "%PDF")) return JobFormat::Pdf;
  if (HasPrefix(data, lengthBytes, "%!PS")) return JobFormat::PostScript;
  if (HasPrefix(data, lengthBytes, "%!VPS")) return JobFormat::Vps;
  if (HasPrefix(data, lengthBytes, "<?XML")) {
    if (FindSubstringA(data, lengthBytes, "<XPIF")) return JobFormat::Xpif;
    if (FindSubstringA(data, lengthBytes, "<PPML")) return JobFormat::Ppml;
  }
  return JobFormat::None;
}

bool IsLineEnd(BYTE byte) {
  return byte == '\r' || byte == '\n';
}

// Each byte of the line becomes one unit on its own; a byte that does not
// convert leaves a zero unit and the copy goes on. Sound only where every
// character is one byte.
void CopyTitleByBytes(const BYTE* start, const BYTE* blockEnd, WCHAR* title, DWORD capacityChars) {
  DWORD unit = 0;
  for (const BYTE* byte = start; byte < blockEnd && unit + 1 < capacityChars; ++byte, ++unit) {
    if (IsLineEnd(*byte)) break;
    if (MultiByteToWideChar(CP_ACP, MB_PRECOMPOSED, reinterpret_cast<LPCCH>(byte), 1, &title[unit],
                            1) != 1) {
      title[unit] = 0;
      TraceLabelled(kTraceLabel, L"MultiByteToWideChar failed!");
    }
  }
}

// The character that starts at byte: its length in bytes (at most
// maxCharBytes, never past the line) when it converts to one unit and back
// to the same bytes, else 0.
int ConvertCharacter(const BYTE* byte, const BYTE* blockEnd, int maxCharBytes, WCHAR* unit) {
  char back[8];
  for (int charBytes = 1; charBytes <= maxCharBytes && byte + charBytes <= blockEnd; ++charBytes) {
    if (charBytes > 1 && IsLineEnd(byte[charBytes - 1])) return 0;
    const LPCCH bytes = reinterpret_cast<LPCCH>(byte);
    if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, charBytes, unit, 1) != 1) continue;
    BOOL usedDefault = FALSE;
    if (WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, unit, 1, back, sizeof(back), nullptr,
                            &usedDefault) == charBytes &&
        !usedDefault && std::memcmp(back, bytes, charBytes) == 0) {
      return charBytes;
    }
    return 0;
  }
  return 0;
}

// On a multi-byte code page a lead byte converted alone is lost to the
// default character, so the line is read a character at a time. A byte
// that starts no character of the code page, or whose character gives other
// bytes back, travels as an escaped unit, from which the Japanese passes
// recover it.
void CopyTitleByCharacters(const BYTE* start, const BYTE* blockEnd, WCHAR* title,
                           DWORD capacityChars, int maxCharBytes) {
  DWORD unit = 0;
  for (const BYTE* byte = start; byte < blockEnd && unit + 1 < capacityChars; ++unit) {
    if (IsLineEnd(*byte)) break;
    const int charBytes = ConvertCharacter(byte, blockEnd, maxCharBytes, &title[unit]);
    if (charBytes == 0) title[unit] = static_cast<WCHAR>(kEscapedByteBase + *byte);
    byte += charBytes == 0 ? 1 : charBytes;
  }
}

void CopyPlainTitle(const BYTE* start, const BYTE* blockEnd, WCHAR* title, DWORD capacityChars) {
  CPINFO codePage = {};
  if (GetCPInfo(CP_ACP, &codePage) && codePage.MaxCharSize > 1) {
    CopyTitleByCharacters(start, blockEnd, title, capacityChars,
                          static_cast<int>(codePage.MaxCharSize));
  } else {
    CopyTitleByBytes(start, blockEnd, title, capacityChars);
  }
  TraceLabelled(kTraceLabel, capacityChars > 0 ? title : L"");
}

// The plain scan for "%%Title:" that gives up at an embedded EPS file.
void ScanPlainTitle(const BYTE* data, DWORD lengthBytes, WCHAR* title, DWORD capacityChars) {
  const size_t keywordBytes = std::strlen(kTitleKeyword);
  const size_t epsBytes = std::strlen(kEpsHeader);
  if (lengthBytes <= keywordBytes) return;
  for (size_t pos = 0; pos < lengthBytes - keywordBytes; ++pos) {
    // An EPS header at the start is the document itself.
    if (pos != 0 && pos + epsBytes <= lengthBytes &&
        MatchesIgnoreCaseA(data + pos, kEpsHeader, epsBytes)) {
      TraceLabelled(L"CheckSignatures: EPS embedded, title skipped",
                    capacityChars > 0 ? title : L"");
      return;
    }
    if (MatchesIgnoreCaseA(data + pos, kTitleKeyword, keywordBytes)) {
      CopyPlainTitle(data + pos + keywordBytes, data + lengthBytes, title, capacityChars);
      return;
    }
  }
}

}  // namespace

void CheckSignatures(const BYTE* data, DWORD lengthBytes, WCHAR* title, DWORD titleSizeBytes,
                     JobFormat* format, BOOL* knownFormat, const WCHAR** producer) {
  if (!data) lengthBytes = 0;
  if (producer) *producer = nullptr;
  const DWORD capacityChars = title ? titleSizeBytes / sizeof(WCHAR) : 0;
  if (format) *format = JobFormat::None;
  if (capacityChars > 0) std::memset(title, 0, capacityChars * sizeof(WCHAR));

  TraceBlockStart(data, lengthBytes);
  if (format) *format = DetectFormat(data, lengthBytes);

  // The decoders write up to kMaxTitleChars units whatever the caller's
  // buffer holds: decode here, then hand over what fits.
  WCHAR decoded[kMaxTitleChars + 1] = {};
  if (IsKnownFormat(data, lengthBytes, decoded, producer)) {
    if (knownFormat) *knownFormat = TRUE;
    if (capacityChars > 0) {
      size_t copyChars = wcslen(decoded);
      if (copyChars > capacityChars - 1) copyChars = capacityChars - 1;
      std::memcpy(title, decoded, copyChars * sizeof(WCHAR));
    }
    return;
  }
  ScanPlainTitle(data, lengthBytes, title, capacityChars);
}
