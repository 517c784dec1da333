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

// The bytes of one character in the ANSI code page, when it converts back
// to exactly that character; 0 otherwise.
int AnsiBytesOf(WCHAR character, char* bytes, int capacityBytes) {
  BOOL usedDefault = FALSE;
  int convertedBytes = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, &character, 1, bytes,
                                           capacityBytes, nullptr, &usedDefault);
  if (convertedBytes <= 0 || usedDefault) return 0;
  WCHAR back = 0;
  if (MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes, convertedBytes, &back, 1) != 1 ||
      back != character) {
    return 0;
  }
  return convertedBytes;
}

// The bytes the text carries: each character's bytes in the ANSI code page
// (one or two of them), escaped bytes as themselves. False when some
// character has no such bytes: the text is real Unicode.
bool RecoverAnsiBytes(const WCHAR* text, size_t lengthChars, std::vector<BYTE>* bytes) {
  bytes->clear();
  bytes->reserve(lengthChars * 2);
  for (size_t i = 0; i < lengthChars; ++i) {
    WCHAR character = text[i];
    if (character < 0x80) {
      bytes->push_back(static_cast<BYTE>(character));
      continue;
    }
    if (character >= kEscapedByteBase + 0x80 && character <= kEscapedByteBase + 0xFF) {
      bytes->push_back(static_cast<BYTE>(character - kEscapedByteBase));
      continue;
    }
    if (character >= 0xD800 && character <= 0xDFFF) return false;
    char converted[4] = {};
    int convertedBytes = AnsiBytesOf(character, converted, sizeof(converted));
    if (convertedBytes == 0) return false;
    bytes->insert(bytes->end(), converted, converted + convertedBytes);
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

// EUC-JP and ISO-2022-JP are read by turning them into Shift_JIS: the JIS
// row and cell of a character give its Shift_JIS bytes by arithmetic. This
// keeps the NEC row 13 and the NEC-selected IBM rows 89 to 92 that Windows
// writes in EUC-JP, and it yields the forms code page 932 holds (U+FF5E for
// the wave dash, U+FF0D for the minus sign) where code page 20932 gives
// U+301C and U+2212, which file names on a Japanese system cannot hold.
void AppendJisAsShiftJis(BYTE row, BYTE cell, std::vector<BYTE>* sjis) {
  sjis->push_back(static_cast<BYTE>(((row + 1) >> 1) + (row <= 0x5E ? 0x70 : 0xB0)));
  BYTE trail = (row & 1) ? static_cast<BYTE>(cell + (cell >= 0x60 ? 0x20 : 0x1F))
                         : static_cast<BYTE>(cell + 0x7E);
  sjis->push_back(trail);
}

bool IsJisByte(BYTE byte) {
  return byte >= 0x21 && byte <= 0x7E;
}

// EUC-JP: JIS X 0208 as two bytes A1-FE, half-width katakana as 8E and
// A1-DF. JIS X 0212 (8F) is not read.
bool EucJpToShiftJis(const std::vector<BYTE>& bytes, std::vector<BYTE>* sjis) {
  sjis->clear();
  for (size_t i = 0; i < bytes.size(); ++i) {
    BYTE byte = bytes[i];
    if (byte < 0x80) {
      sjis->push_back(byte);
      continue;
    }
    if (i + 1 >= bytes.size()) return false;
    BYTE next = bytes[++i];
    if (byte == 0x8E && next >= 0xA1 && next <= 0xDF) {
      sjis->push_back(next);
    } else if (byte >= 0xA1 && byte <= 0xFE && next >= 0xA1 && next <= 0xFE) {
      AppendJisAsShiftJis(byte & 0x7F, next & 0x7F, sjis);
    } else {
      return false;
    }
  }
  return true;
}

// ISO-2022-JP with the escapes Windows writes: JIS X 0208 (ESC $ B, ESC $ @),
// ASCII or JIS Roman (ESC ( B, ESC ( J) and half-width katakana (ESC ( I).
bool Iso2022JpToShiftJis(const std::vector<BYTE>& bytes, std::vector<BYTE>* sjis) {
  enum class Mode { Ascii, TwoByte, Kana } mode = Mode::Ascii;
  sjis->clear();
  size_t japaneseChars = 0;
  for (size_t i = 0; i < bytes.size();) {
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
    if (mode == Mode::Ascii) {
      sjis->push_back(byte);
      ++i;
      continue;
    }
    if (mode == Mode::Kana) {
      if (byte < 0x21 || byte > 0x5F) return false;
      sjis->push_back(static_cast<BYTE>(byte | 0x80));
      ++i;
    } else {
      if (bytes.size() - i < 2 || !IsJisByte(byte) || !IsJisByte(bytes[i + 1])) return false;
      AppendJisAsShiftJis(byte, bytes[i + 1], sjis);
      i += 2;
    }
    ++japaneseChars;
  }
  return japaneseChars > 0;
}

enum class CharClass { Ascii, Kana, Kanji, HalfwidthKana, Symbol, Foreign };

CharClass ClassOf(WCHAR c) {
  if (c < 0x80) return CharClass::Ascii;
  if (c >= 0x3041 && c <= 0x30FF) return CharClass::Kana;
  if ((c >= 0x4E00 && c <= 0x9FFF) || (c >= 0x3400 && c <= 0x4DBF) ||
      (c >= 0xF900 && c <= 0xFAFF) || c == 0x3005 || c == 0x3006) {
    return CharClass::Kanji;
  }
  // Katakana only: the half-width stops and brackets (FF61-FF65) are what
  // EUC-JP kana rows look like read as Shift_JIS.
  if (c >= 0xFF66 && c <= 0xFF9F) return CharClass::HalfwidthKana;
  // Punctuation and symbols that Japanese titles use, with the NEC specials
  // (circled numbers, Roman numerals, ㈱, ㍻, units).
  if ((c >= 0x3000 && c <= 0x303F) || (c >= 0xFF01 && c <= 0xFF60) ||
      (c >= 0xFFE0 && c <= 0xFFE5) || (c >= 0x2010 && c <= 0x2026) || c == 0x2030 || c == 0x2032 ||
      c == 0x2033 || c == 0x203B || (c >= 0x2100 && c <= 0x214F) || (c >= 0x2160 && c <= 0x217F) ||
      (c >= 0x2190 && c <= 0x22FF) || (c >= 0x2460 && c <= 0x24FF) ||
      (c >= 0x25A0 && c <= 0x26FF) || (c >= 0x3200 && c <= 0x33FF) || c == 0x00A7 || c == 0x00A8 ||
      c == 0x00B0 || c == 0x00B1 || c == 0x00B4 || c == 0x00B6 || c == 0x00D7 || c == 0x00F7) {
    return CharClass::Symbol;
  }
  return CharClass::Foreign;
}

// The two Shift_JIS bytes of a character of code page 932; false for any
// other character.
bool ShiftJisPairOf(WCHAR c, BYTE* lead, BYTE* trail) {
  char sjis[4] = {};
  BOOL usedDefault = FALSE;
  if (WideCharToMultiByte(kCodePageShiftJis, WC_NO_BEST_FIT_CHARS, &c, 1, sjis, sizeof(sjis),
                          nullptr, &usedDefault) != 2 ||
      usedDefault) {
    return false;
  }
  *lead = static_cast<BYTE>(sjis[0]);
  *trail = static_cast<BYTE>(sjis[1]);
  return true;
}

// A kanji of JIS level 1 (rows 16 to 46, row 47 up to cell 51), the ones
// ordinary text is made of; judged by its row and cell, both. Accented
// Latin letters read as Shift_JIS or EUC-JP land in level 2 or outside.
bool IsCommonKanji(BYTE leadByte, BYTE trailByte) {
  const int lead = leadByte;
  const int trail = trailByte;
  if (lead < 0x88 || lead > 0x9F) return false;  // level 1 lies in leads 88-98
  const int row = (lead - 0x81) * 2 + (trail >= 0x9F ? 2 : 1);
  const int cell = trail >= 0x9F ? trail - 0x9E : trail - (trail >= 0x80 ? 0x40 : 0x3F);
  return (row >= 16 && row <= 46) || (row == 47 && cell <= 51);
}

bool IsAsciiLetter(WCHAR c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

// Code page 1252 letters among the Shift_JIS lead bytes of kanji: Š Œ Ž š
// œ ž Ÿ. Followed by an ASCII letter they form a level-1 kanji.
bool IsLatinLeadByte(BYTE byte) {
  return byte == 0x8A || byte == 0x8C || byte == 0x8E || byte == 0x9A || byte == 0x9C ||
         byte == 0x9E || byte == 0x9F;
}

// A level-1 kanji whose Shift_JIS bytes are not both Latin letters in code
// page 1252, as in "Žižek": what a Western word misread looks like.
bool IsCommonNotLatinLookingKanji(WCHAR c) {
  BYTE lead = 0;
  BYTE trail = 0;
  return ShiftJisPairOf(c, &lead, &trail) && IsCommonKanji(lead, trail) &&
         !(IsLatinLeadByte(lead) && IsAsciiLetter(trail));
}

bool IsOneOf(WCHAR c, const wchar_t* set) {
  for (; *set; ++set) {
    if (c == *set) return true;
  }
  return false;
}

// Whether a run of half-width katakana is spelled as katakana words are:
// voicing marks only after kana that take them, small kana only after the
// kana they combine with, a small tsu before a consonant, no long-vowel mark
// or ン at the start. Accented capitals and EUC-JP kanji read as Shift_JIS
// give half-width runs that break these rules.
bool IsKatakanaSpelling(const WCHAR* run, size_t runChars) {
  for (size_t i = 0; i < runChars; ++i) {
    const WCHAR c = run[i];
    WCHAR base = 0;  // the kana before c, past one voicing mark
    if (i > 0) base = run[i - 1];
    if ((base == 0xFF9E || base == 0xFF9F) && i > 1) base = run[i - 2];
    if (c == 0xFF9E && !(i > 0 && IsOneOf(run[i - 1], L"ｳｶｷｸｹｺｻｼｽｾｿﾀﾁﾂﾃﾄﾊﾋﾌﾍﾎ"))) return false;
    if (c == 0xFF9F && !(i > 0 && IsOneOf(run[i - 1], L"ﾊﾋﾌﾍﾎ"))) return false;
    if (c == 0xFF70 && (i == 0 || IsOneOf(run[i - 1], L"ｰｯ"))) return false;
    if (c >= 0xFF67 && c <= 0xFF6B && !IsOneOf(base, L"ｲｳｸｼｽﾁﾂﾃﾄﾌ")) return false;
    if (c >= 0xFF6C && c <= 0xFF6E && !IsOneOf(base, L"ｷｼﾁﾆﾋﾐﾘﾃﾌ")) return false;
    if (c == 0xFF6F && (i + 1 == runChars || run[i + 1] < 0xFF76 || run[i + 1] > 0xFF9D))
      return false;
    if (i == 0 && (c == 0xFF9D || c == 0xFF66)) return false;
  }
  return true;
}

// How an encoding writes half-width katakana. Readings of the same bytes
// compete: in Shift_JIS a half-width katakana is one byte where a kanji is
// two, so it earns less than half a kanji, and a lone one is more likely an
// accented capital. In EUC-JP it is two bytes led by 8E, which announces
// katakana, so it beats the Shift_JIS kanji that the same two bytes spell.
struct Reading {
  int halfwidthPoints;
  size_t minHalfwidthChars;
};
const Reading kShiftJisReading = {3, 2};
const Reading kEucJpReading = {10, 1};

// Points of a reading, per character: kana and common kanji 8, rare kanji
// 2, symbols 4, half-width katakana as the reading says. Negative when the text does not look like
// a Japanese title. Western accented letters read as Shift_JIS come out as lone kanji or half-width
// katakana wedged into Latin words, so those patterns count against a text however valid its bytes
// were.
int JapaneseScore(const std::wstring& text, const Reading& reading) {
  int score = 0;
  size_t japaneseChars = 0;
  size_t kanaChars = 0;
  size_t commonKanjiChars = 0;
  size_t rareKanjiChars = 0;
  size_t asciiSpaceChars = 0;
  size_t halfwidthChars = 0;
  const size_t length = text.size();
  size_t i = 0;
  while (i < length) {
    if (ClassOf(text[i]) == CharClass::Ascii) {
      if (text[i] == L' ') ++asciiSpaceChars;
      ++i;
      continue;
    }
    const size_t runStart = i;
    bool onlyKana = true;
    bool onlyRare = true;  // rare or Latin-looking kanji only
    while (i < length && ClassOf(text[i]) != CharClass::Ascii) {
      const CharClass kind = ClassOf(text[i]);
      if (kind == CharClass::Foreign) return -1;
      if (kind == CharClass::HalfwidthKana) {
        const size_t halfStart = i;
        while (i < length && ClassOf(text[i]) == CharClass::HalfwidthKana) ++i;
        const bool letterBefore = halfStart > 0 && IsAsciiLetter(text[halfStart - 1]);
        const bool letterAfter = i < length && IsAsciiLetter(text[i]);
        if (letterBefore || letterAfter || i - halfStart < reading.minHalfwidthChars ||
            !IsKatakanaSpelling(&text[halfStart], i - halfStart)) {
          return -1;
        }
        score += reading.halfwidthPoints * static_cast<int>(i - halfStart);
        kanaChars += i - halfStart;
        halfwidthChars += i - halfStart;
        onlyKana = false;
        onlyRare = false;
        continue;
      }
      if (kind != CharClass::Kana) onlyKana = false;
      if (kind == CharClass::Kana) {
        ++kanaChars;
        score += 8;
        onlyRare = false;
      } else if (kind == CharClass::Kanji) {
        const bool common = IsCommonNotLatinLookingKanji(text[i]);
        ++(common ? commonKanjiChars : rareKanjiChars);
        score += common ? 8 : 2;
        if (common) onlyRare = false;
      } else {
        score += 4;
        onlyRare = false;
      }
      ++i;
    }
    japaneseChars += i - runStart;
    const bool letterBefore = runStart > 0 && IsAsciiLetter(text[runStart - 1]);
    const bool letterAfter = i < length && IsAsciiLetter(text[i]);
    // A lone non-kana character inside a Latin word is an accented letter.
    if (i - runStart == 1 && !onlyKana && letterBefore && letterAfter) return -1;
    // So is a run of rare kanji touching a Latin word.
    if (onlyRare && (letterBefore || letterAfter)) return -1;
  }
  if (japaneseChars == 0) return -1;
  // One character makes a title only on its own, and only a plain
  // full-width one.
  if (japaneseChars == 1 && (length - asciiSpaceChars != 1 || score < 4 || halfwidthChars > 0)) {
    return -1;
  }
  if (japaneseChars > 1 && kanaChars + commonKanjiChars + rareKanjiChars == 0) return -1;
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
    std::vector<BYTE> sjis;
    if (!Iso2022JpToShiftJis(bytes, &sjis) || !DecodeStrict(kCodePageShiftJis, sjis, &decoded)) {
      return kStatusNotJapanese;
    }
  } else {
    std::wstring shiftJis;
    std::wstring eucJp;
    std::vector<BYTE> eucAsSjis;
    int shiftJisScore = DecodeStrict(kCodePageShiftJis, bytes, &shiftJis)
                            ? JapaneseScore(shiftJis, kShiftJisReading)
                            : -1;
    int eucJpScore =
        EucJpToShiftJis(bytes, &eucAsSjis) && DecodeStrict(kCodePageShiftJis, eucAsSjis, &eucJp)
            ? JapaneseScore(eucJp, kEucJpReading)
            : -1;
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
