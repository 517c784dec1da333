// Japanese text decoder. The input is UTF-16 that may carry a title's bytes
// one byte per character in the system ANSI code page. The decoder recovers
// those bytes, decides whether they are Japanese (ISO-2022-JP, Shift_JIS or
// EUC-JP) and, if so, writes the text as UTF-8. Western text in code page
// 1252 is often valid Shift_JIS too, so the decision rests on what the
// decoded text looks like, not on validity alone; anything doubtful fails,
// and the caller then keeps its text unchanged.
#include <string>
#include <vector>

#include "platform/ostralib.h"

namespace {

enum DecoderStatusCode {
  kStatusOk = 0,
  kStatusBadRecord = 1,
  kStatusNotBytes = 2,     // characters that are no single ANSI byte: real Unicode text
  kStatusNoMarks = 3,      // plain ASCII, nothing to decode
  kStatusNotJapanese = 4,  // invalid or implausible in every Japanese encoding
  kStatusNotReady = 5,     // DecoderProcess without a successful DecoderInit
  kStatusNoResources = 6,
  kStatusTooLong = 7,
};

constexpr UINT kCodePageShiftJis = 932;
constexpr UINT kCodePageEucJp = 20932;
constexpr size_t kMaxInputChars = 4096;
constexpr int kMaxRecords = 256;

// Records between DecoderInit and DecoderFinalize, with their status.
struct RecordSlot {
  const DecoderRecord* record;
  int status;
  bool ready;
};

SRWLOCK g_slotsLock = SRWLOCK_INIT;
RecordSlot g_slots[kMaxRecords];
thread_local int t_lastStatus = kStatusOk;

// Runs fn on the record's slot under the lock; false when it has none.
template <typename Fn>
bool WithSlot(const DecoderRecord* record, Fn fn) {
  AcquireSRWLockExclusive(&g_slotsLock);
  bool found = false;
  for (RecordSlot& slot : g_slots) {
    if (slot.record == record) {
      fn(slot);
      found = true;
      break;
    }
  }
  ReleaseSRWLockExclusive(&g_slotsLock);
  return found;
}

// The bytes the text carries, one per character; false when some character
// is not exactly one byte of the ANSI code page.
bool RecoverAnsiBytes(const WCHAR* text, size_t lengthChars, std::vector<BYTE>* bytes) {
  bytes->clear();
  bytes->reserve(lengthChars);
  for (size_t i = 0; i < lengthChars; ++i) {
    WCHAR character = text[i];
    if (character < 0x80) {
      bytes->push_back(static_cast<BYTE>(character));
      continue;
    }
    if (character >= 0xD800 && character <= 0xDFFF) return false;
    char converted[4] = {};
    BOOL usedDefault = FALSE;
    int convertedBytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &character, 1, converted,
                                             sizeof(converted), nullptr, &usedDefault);
    if (convertedBytes != 1 || usedDefault) return false;
    WCHAR back = 0;
    if (MultiByteToWideChar(CP_ACP, 0, converted, 1, &back, 1) != 1 || back != character) {
      return false;
    }
    bytes->push_back(static_cast<BYTE>(converted[0]));
  }
  return true;
}

bool DecodeStrict(UINT codePage, const std::vector<BYTE>& bytes, std::wstring* text) {
  text->clear();
  if (bytes.empty()) return true;
  const char* source = reinterpret_cast<const char*>(bytes.data());
  int sourceBytes = static_cast<int>(bytes.size());
  int chars = MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, source, sourceBytes, nullptr, 0);
  if (chars <= 0) return false;
  text->resize(static_cast<size_t>(chars));
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, source, sourceBytes, &(*text)[0],
                             chars) == chars;
}

// ISO-2022-JP: JIS X 0208 pairs become EUC-JP by setting both high bits, and
// the platform's EUC-JP converter does the rest.
bool DecodeIso2022Jp(const std::vector<BYTE>& bytes, std::wstring* text) {
  enum class Mode { Ascii, TwoByte, Kana } mode = Mode::Ascii;
  std::vector<BYTE> euc;
  euc.reserve(bytes.size());
  size_t japaneseChars = 0;
  size_t i = 0;
  while (i < bytes.size()) {
    BYTE byte = bytes[i];
    if (byte == 0x1B) {
      if (bytes.size() - i < 3) return false;
      BYTE first = bytes[i + 1];
      BYTE second = bytes[i + 2];
      if (first == '$' && (second == 'B' || second == '@')) {
        mode = Mode::TwoByte;
      } else if (first == '(' && (second == 'B' || second == 'J')) {
        mode = Mode::Ascii;
      } else if (first == '(' && second == 'I') {
        mode = Mode::Kana;
      } else {
        return false;
      }
      i += 3;
      continue;
    }
    if (byte >= 0x80 || byte == 0x0E || byte == 0x0F) return false;
    switch (mode) {
      case Mode::Ascii:
        euc.push_back(byte);
        ++i;
        break;
      case Mode::TwoByte: {
        if (bytes.size() - i < 2) return false;
        BYTE trail = bytes[i + 1];
        if (byte < 0x21 || byte > 0x7E || trail < 0x21 || trail > 0x7E) return false;
        euc.push_back(static_cast<BYTE>(byte | 0x80));
        euc.push_back(static_cast<BYTE>(trail | 0x80));
        ++japaneseChars;
        i += 2;
        break;
      }
      case Mode::Kana:
        if (byte < 0x21 || byte > 0x5F) return false;
        euc.push_back(0x8E);
        euc.push_back(static_cast<BYTE>(byte | 0x80));
        ++japaneseChars;
        ++i;
        break;
    }
  }
  return japaneseChars > 0 && DecodeStrict(kCodePageEucJp, euc, text);
}

enum class CharClass { Ascii, Kana, Kanji, HalfwidthKana, Symbol, Foreign };

CharClass ClassOf(WCHAR c) {
  if (c < 0x80) return CharClass::Ascii;
  if ((c >= 0x3041 && c <= 0x309F) || (c >= 0x30A0 && c <= 0x30FF)) return CharClass::Kana;
  if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
      (c >= 0xF900 && c <= 0xFAFF) || c == 0x3005 || c == 0x3006) {
    return CharClass::Kanji;
  }
  if (c >= 0xFF61 && c <= 0xFF9F) return CharClass::HalfwidthKana;
  // Punctuation and symbols that Japanese titles use.
  if ((c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF60) ||
      (c >= 0xFFE0 && c <= 0xFFE5) || (c >= 0x2010 && c <= 0x2026) || c == 0x2030 || c == 0x2032 ||
      c == 0x2033 || c == 0x203B || (c >= 0x2100 && c <= 0x214F) || (c >= 0x2160 && c <= 0x217F) ||
      (c >= 0x2190 && c <= 0x21FF) || (c >= 0x2200 && c <= 0x22FF) ||
      (c >= 0x2460 && c <= 0x24FF) || (c >= 0x25A0 && c <= 0x25FF) ||
      (c >= 0x2600 && c <= 0x26FF) || c == 0x00A7 || c == 0x00A8 || c == 0x00B0 || c == 0x00B1 ||
      c == 0x00B4 || c == 0x00B6 || c == 0x00D7 || c == 0x00F7) {
    return CharClass::Symbol;
  }
  return CharClass::Foreign;
}

// A kanji of JIS level 1 (rows 16 to 47), the ones ordinary text is made of.
// Accented Latin letters read as Shift_JIS or EUC-JP land in level 2.
bool IsCommonKanji(WCHAR c) {
  char encoded[4] = {};
  BOOL usedDefault = FALSE;
  int encodedBytes = WideCharToMultiByte(kCodePageEucJp, 0, &c, 1, encoded, sizeof(encoded),
                                         nullptr, &usedDefault);
  if (encodedBytes != 2 || usedDefault) return false;
  int row = static_cast<BYTE>(encoded[0]) - 0xA0;
  return row >= 16 && row <= 47;
}

bool IsAsciiLetter(WCHAR c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}
bool IsAsciiAlnum(WCHAR c) {
  return IsAsciiLetter(c) || (c >= L'0' && c <= L'9');
}

// How much a decoded text looks like a Japanese title; negative when it does
// not. Western accented letters decoded as Shift_JIS come out as lone kanji
// or half-width katakana wedged into Latin words, so those patterns count
// against a text however valid its bytes were.
int JapaneseScore(const std::wstring& text) {
  int score = 0;
  size_t japaneseChars = 0;
  size_t letterChars = 0;  // kana and kanji
  size_t kanaChars = 0;
  size_t commonKanjiChars = 0;
  size_t rareKanjiChars = 0;
  const size_t length = text.size();
  size_t i = 0;
  while (i < length) {
    if (ClassOf(text[i]) == CharClass::Ascii) {
      ++i;
      continue;
    }
    size_t runStart = i;
    size_t halfwidthChars = 0;
    bool onlyKana = true;
    bool onlyRare = true;  // rare kanji and half-width katakana only
    while (i < length && ClassOf(text[i]) != CharClass::Ascii) {
      CharClass kind = ClassOf(text[i]);
      if (kind == CharClass::Foreign) return -1;
      if (kind == CharClass::HalfwidthKana) ++halfwidthChars;
      if (kind != CharClass::Kana) onlyKana = false;
      if (kind == CharClass::Kana || kind == CharClass::Kanji) ++letterChars;
      if (kind == CharClass::Kana) ++kanaChars;
      bool rare = kind == CharClass::HalfwidthKana;
      if (kind == CharClass::Kanji) {
        rare = !IsCommonKanji(text[i]);
        ++(rare ? rareKanjiChars : commonKanjiChars);
      }
      if (!rare) onlyRare = false;
      score += kind == CharClass::Kana ? 3 : kind == CharClass::Kanji ? 2 : 1;
      ++i;
    }
    size_t runChars = i - runStart;
    japaneseChars += runChars;
    bool letterBefore = runStart > 0 && IsAsciiLetter(text[runStart - 1]);
    bool letterAfter = i < length && IsAsciiLetter(text[i]);
    bool alnumBefore = runStart > 0 && IsAsciiAlnum(text[runStart - 1]);
    bool alnumAfter = i < length && IsAsciiAlnum(text[i]);
    if (halfwidthChars > 0) {
      if (runChars < 2 || alnumBefore || alnumAfter) return -1;
      score -= static_cast<int>(2 * halfwidthChars);
    }
    // A lone non-kana character inside a Latin word is an accented letter.
    if (runChars == 1 && !onlyKana && letterBefore && letterAfter) return -1;
    // So is a run of rare kanji touching a Latin word.
    if (onlyRare && (letterBefore || letterAfter)) return -1;
  }
  if (japaneseChars < 2 || letterChars == 0) return -1;
  // Text with no kana that is mostly rare kanji is Latin text misread.
  if (kanaChars == 0 && rareKanjiChars > commonKanjiChars) return -1;
  return score;
}

bool EncodeUtf8Bounded(const std::wstring& text, BYTE* output, DWORD outputSizeBytes) {
  if (outputSizeBytes < 2) return false;
  // Whole characters only: a cut never splits a UTF-8 sequence.
  DWORD usedBytes = 0;
  for (size_t i = 0; i < text.size();) {
    size_t unitChars = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
    char encoded[8];
    int encodedBytes = WideCharToMultiByte(CP_UTF8, 0, &text[i], static_cast<int>(unitChars),
                                           encoded, sizeof(encoded), nullptr, nullptr);
    if (encodedBytes <= 0) return false;
    if (usedBytes + static_cast<DWORD>(encodedBytes) > outputSizeBytes - 1) break;
    for (int b = 0; b < encodedBytes; ++b) output[usedBytes++] = static_cast<BYTE>(encoded[b]);
    i += unitChars;
  }
  output[usedBytes] = 0;
  return true;
}

int Decode(const DecoderRecord* record) {
  size_t lengthChars = 0;
  while (lengthChars <= kMaxInputChars && record->Input[lengthChars]) ++lengthChars;
  if (lengthChars > kMaxInputChars) return kStatusTooLong;
  std::vector<BYTE> bytes;
  if (!RecoverAnsiBytes(record->Input, lengthChars, &bytes)) return kStatusNotBytes;
  bool highBytes = false;
  bool escapes = false;
  for (BYTE byte : bytes) {
    highBytes = highBytes || byte >= 0x80;
    escapes = escapes || byte == 0x1B;
  }
  std::wstring decoded;
  if (!highBytes) {
    if (!escapes) return kStatusNoMarks;
    if (!DecodeIso2022Jp(bytes, &decoded)) return kStatusNotJapanese;
  } else {
    std::wstring shiftJis;
    std::wstring eucJp;
    int shiftJisScore =
        DecodeStrict(kCodePageShiftJis, bytes, &shiftJis) ? JapaneseScore(shiftJis) : -1;
    int eucJpScore = DecodeStrict(kCodePageEucJp, bytes, &eucJp) ? JapaneseScore(eucJp) : -1;
    if (shiftJisScore < 0 && eucJpScore < 0) return kStatusNotJapanese;
    decoded = eucJpScore > shiftJisScore ? eucJp : shiftJis;
  }
  // Nothing changes: leave the text to the caller as it is.
  if (decoded.size() == lengthChars && decoded.compare(0, lengthChars, record->Input) == 0) {
    return kStatusNoMarks;
  }
  if (!EncodeUtf8Bounded(decoded, record->Output, record->OutputSize)) return kStatusBadRecord;
  return kStatusOk;
}

}  // namespace

extern "C" int WINAPI DecoderInit(DecoderRecord* record) {
  int status = kStatusOk;
  if (!record) {
    t_lastStatus = kStatusBadRecord;
    return kStatusBadRecord;
  }
  if (!record->Input || !record->Output || record->OutputSize < 2) status = kStatusBadRecord;
  bool stored = WithSlot(record, [&](RecordSlot& slot) {
    slot.status = status;
    slot.ready = status == kStatusOk;
  });
  if (!stored) {
    stored = WithSlot(nullptr, [&](RecordSlot& slot) {
      slot.record = record;
      slot.status = status;
      slot.ready = status == kStatusOk;
    });
  }
  if (!stored) status = kStatusNoResources;
  t_lastStatus = status;
  return status;
}

extern "C" int WINAPI DecoderProcess(DecoderRecord* record) {
  bool ready = false;
  if (!record || !WithSlot(record, [&](RecordSlot& slot) { ready = slot.ready; }) || !ready) {
    t_lastStatus = kStatusNotReady;
    return kStatusNotReady;
  }
  int status;
  try {
    status = Decode(record);
  } catch (...) {  // nothing may leave the library as an exception
    status = kStatusNoResources;
  }
  WithSlot(record, [&](RecordSlot& slot) { slot.status = status; });
  t_lastStatus = status;
  return status;
}

extern "C" int WINAPI DecoderStatus(DecoderRecord* record) {
  int status = t_lastStatus;
  if (record) WithSlot(record, [&](RecordSlot& slot) { status = slot.status; });
  return status;
}

extern "C" int WINAPI DecoderFinalize(DecoderRecord* record) {
  if (!record) return kStatusBadRecord;
  bool found = WithSlot(record, [](RecordSlot& slot) { slot = RecordSlot{}; });
  return found ? kStatusOk : kStatusNotReady;
}
