// Producer detection: recognises the producers that encode "%%Title:" in
// their own way from the job's DSC comments and picks the matching decoder.
#include <cstring>

#include "format/ascii_match.h"
#include "format/format_internal.h"
#include "platform/trace.h"

namespace {

const char* const pchTitle = "%%Title:";
const char* const pchCopyrightTitle = "%%Copyright:";
const char* const pchCreator = "%%Creator:";
const char* const pchWinCreatorName = "PScript5.dll";

const char* const kAdobeEncoding = "%ADO_DSC_Encoding:";
const char* const kAppleEncoding = "%APL_DSC_Encoding:";
const char* const kAcrobat9 = "Adobe Acrobat 9";
const char* const kAcrobatCopyright =
    "Copyright(C)2000-2003 Adobe Systems, Inc. All Rights Reserved.";

// Longest piece of the copyright comment that goes to the debugger.
constexpr DWORD kCopyrightTraceBytes = 512;

DWORD RemainingBytes(const BYTE* data, DWORD lengthBytes, const BYTE* position) {
  return lengthBytes - static_cast<DWORD>(position - data);
}

// True when value begins at the given position and fits in the block.
bool BeginsWith(const BYTE* position, DWORD remainingBytes, const char* value) {
  const size_t valueBytes = std::strlen(value);
  return valueBytes <= remainingBytes && MatchesIgnoreCaseA(position, value, valueBytes);
}

// The comment's value starts one byte past its keyword, whatever that byte is.
bool CommentValueBeginsWith(const BYTE* data, DWORD lengthBytes, const char* keyword,
                            const char* value) {
  const BYTE* found = FindSubstringA(data, lengthBytes, keyword);
  if (!found) return false;
  const DWORD skipBytes = static_cast<DWORD>(std::strlen(keyword)) + 1;
  const DWORD remaining = RemainingBytes(data, lengthBytes, found);
  if (remaining < skipBytes) return false;
  return BeginsWith(found + skipBytes, remaining - skipBytes, value);
}

// Cuts the title line behind the "%%Title:" at keyword. remainingBytes counts
// the bytes from keyword to the block's end. Without a line feed the line
// runs to the block's end (less a line end that is the block's last bytes).
void GetTitle(const BYTE* keyword, DWORD remainingBytes, const BYTE** titleStart,
              const BYTE** titleEnd) {
  const DWORD skipBytes = static_cast<DWORD>(std::strlen(pchTitle)) + 1;
  const BYTE* blockEnd = keyword + remainingBytes;
  const BYTE* start = remainingBytes > skipBytes ? keyword + skipBytes : blockEnd;
  const BYTE* end = FindSubstringA(keyword, remainingBytes, "\n");
  if (!end) {
    // The block ends inside the title line; a line end that is its last
    // bytes still ends the line.
    end = blockEnd;
    if (end > start && end[-1] == '\n') --end;
  }
  if (end > keyword && end[-1] == '\r') --end;
  if (end < start) end = start;
  *titleStart = start;
  *titleEnd = end;
}

// The bytes of line converted whole from the ANSI code page.
void DecodeTitleLine(const BYTE* keyword, DWORD remainingBytes, WCHAR* title) {
  const BYTE* start = nullptr;
  const BYTE* end = nullptr;
  GetTitle(keyword, remainingBytes, &start, &end);
  DecodeANSIToUnicode(start, static_cast<int>(end - start), title);
}

BOOL IsAcrobat9(const BYTE* creatorValue, DWORD remainingBytes) {
  return creatorValue && BeginsWith(creatorValue, remainingBytes, kAcrobat9);
}

BOOL IsAcrobat8(const BYTE* data, DWORD lengthBytes) {
  const BYTE* found = FindSubstringA(data, lengthBytes, pchCopyrightTitle);
  if (!found) return FALSE;
  const DWORD remaining = RemainingBytes(data, lengthBytes, found);
  // The block has no terminator: trace a bounded, terminated copy.
  char trace[kCopyrightTraceBytes + 1] = {};
  const DWORD traceBytes = remaining < kCopyrightTraceBytes ? remaining : kCopyrightTraceBytes;
  std::memcpy(trace, found, traceBytes);
  TraceTextA(trace);
  const DWORD skipBytes = static_cast<DWORD>(std::strlen(pchCopyrightTitle)) + 1;
  if (remaining < skipBytes) return FALSE;
  return BeginsWith(found + skipBytes, remaining - skipBytes, kAcrobatCopyright);
}

BOOL IsMacOS(const BYTE* data, DWORD lengthBytes) {
  return CommentValueBeginsWith(data, lengthBytes, kAdobeEncoding, "MacOS");
}

BOOL IsMacOSJapanese(const BYTE* data, DWORD lengthBytes) {
  return CommentValueBeginsWith(data, lengthBytes, kAdobeEncoding, "MacOS Japanese");
}

BOOL IsMacOS_UTF8(const BYTE* data, DWORD lengthBytes) {
  return CommentValueBeginsWith(data, lengthBytes, kAppleEncoding, "UTF8");
}

BOOL IsMSOffice(const BYTE* data, DWORD lengthBytes) {
  return FindSubstringA(data, lengthBytes, pchCreator) &&
         FindSubstringA(data, lengthBytes, pchWinCreatorName);
}

// afterKeyword: the byte right after "%%Title:"; remainingBytes from there.
BOOL IsTitleHexEncodedPrefix(const BYTE* afterKeyword, DWORD remainingBytes) {
  return afterKeyword && remainingBytes >= 2 && afterKeyword[0] == ' ' && afterKeyword[1] == '<';
}

BOOL IsASCIIEncodedUnicode(const BYTE* data, DWORD lengthBytes) {
  const BYTE* creator = FindSubstringA(data, lengthBytes, pchCreator);
  const BYTE* title = FindSubstringA(data, lengthBytes, pchTitle);
  if (!creator || !title) return FALSE;
  const DWORD creatorSkipBytes = static_cast<DWORD>(std::strlen(pchCreator)) + 1;
  const DWORD creatorRemaining = RemainingBytes(data, lengthBytes, creator);
  if (creatorRemaining < creatorSkipBytes) return FALSE;
  const DWORD titleKeywordBytes = static_cast<DWORD>(std::strlen(pchTitle));
  return IsAcrobat9(creator + creatorSkipBytes, creatorRemaining - creatorSkipBytes) &&
         IsMacOS(data, lengthBytes) &&
         IsTitleHexEncodedPrefix(title + titleKeywordBytes,
                                 RemainingBytes(data, lengthBytes, title) - titleKeywordBytes);
}

BOOL Decoded(const WCHAR** producer, const WCHAR* name) {
  if (producer) *producer = name;
  return TRUE;
}

}  // namespace

const BYTE* FindSubstringA(const BYTE* data, DWORD lengthBytes, const char* pattern) {
  if (!data || !pattern) return nullptr;
  const size_t patternBytes = std::strlen(pattern);
  if (lengthBytes <= patternBytes) return nullptr;
  const size_t lastStart = lengthBytes - patternBytes - 1;
  for (size_t start = 0; start <= lastStart; ++start) {
    if (MatchesIgnoreCaseA(data + start, pattern, patternBytes)) return data + start;
  }
  return nullptr;
}

BOOL IsKnownFormat(const BYTE* data, DWORD lengthBytes, WCHAR* title, const WCHAR** producer) {
  const BYTE* keyword = FindSubstringA(data, lengthBytes, pchTitle);
  if (!keyword) return FALSE;
  const DWORD remaining = RemainingBytes(data, lengthBytes, keyword);
  const DWORD keywordBytes = static_cast<DWORD>(std::strlen(pchTitle));
  // Past the keyword, the blank and the "<" (the hex tests guarantee them).
  const DWORD hexSkipBytes = keywordBytes + 2;

  if (IsASCIIEncodedUnicode(data, lengthBytes)) {
    DecodeUnicodeFromASCIIHex(keyword + hexSkipBytes, remaining - hexSkipBytes, title);
    return Decoded(producer, L"Acrobat 9 (Mac OS, hex UTF-16)");
  }
  if (IsAcrobat8(data, lengthBytes) && IsMacOS(data, lengthBytes)) {
    TraceText(L"Acrobat8 is detected");
    DecodeTitleLine(keyword, remaining, title);
    return Decoded(producer, L"Acrobat 8 (Mac OS)");
  }
  if (IsMacOSJapanese(data, lengthBytes)) {
    TraceText(L"MacOSJapanese is detected");
    DecodeTitleLine(keyword, remaining, title);
    return Decoded(producer, L"Mac OS Japanese");
  }
  if (IsTitleHexEncodedPrefix(keyword + keywordBytes, remaining - keywordBytes)) {
    TraceText(L"xp + word");
    BYTE work[kTitleWorkBytes] = {};
    DecodeASCIIFromASCIHex(keyword + hexSkipBytes, remaining - hexSkipBytes, work);
    const void* zero = std::memchr(work, 0, kTitleWorkBytes);
    DecodeANSIToUnicode(work, static_cast<int>(static_cast<const BYTE*>(zero) - work), title);
    return Decoded(producer, L"Windows PostScript driver (hex title)");
  }
  const BYTE* start = nullptr;
  const BYTE* end = nullptr;
  if (IsMSOffice(data, lengthBytes)) {
    TraceText(L"MS Office");
    GetTitle(keyword, remaining, &start, &end);
    if (end > start) DecodeMSOfiiceTitle(start, static_cast<DWORD>(end - start), title);
    return Decoded(producer, L"Microsoft Office");
  }
  if (IsMacOS_UTF8(data, lengthBytes)) {
    TraceText(L"Mac UTF-8");
    GetTitle(keyword, remaining, &start, &end);
    DecodeMacUTF8(start, static_cast<DWORD>(end - start), title);
    return Decoded(producer, L"Mac OS UTF-8");
  }
  return FALSE;
}
