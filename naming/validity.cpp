// Name validity rules: from a chosen name text to a file-name-safe base name.
#include <cwchar>
#include <cwctype>

#include "naming/naming_internal.h"
#include "platform/registry_key.h"
#include "platform/registry_names.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace {

// Longest base name ApplyValidityRules produces, in characters.
constexpr DWORD kMaxBaseNameChars = 70;
// Size of the working copies, in characters (terminator included).
constexpr DWORD kNameWorkCapacityChars = 260;

// The same fixed name the capture uses for a job without any name.
const WCHAR kEmptyNameReplacement[] = L"spoold_file";

bool IsReplacedCharacter(WCHAR c) {
  if (IsControlCharacter(c)) return true;
  switch (c) {
    case L'<':
    case L'>':
    case L':':
    case L'/':
    case L'\\':
    case L'|':
    case L'*':
    case L'?':
    case L'@':
    case L'(':
    case L')':
      return true;
    default:
      return false;
  }
}

// Each unit alone, so both halves of a surrogate pair fail.
bool IsInAnsiCodePage(WCHAR c) {
  char scratch[10];
  BOOL usedDefault = FALSE;
  int writtenBytes = WideCharToMultiByte(CP_ACP, WC_COMPOSITECHECK | WC_DEFAULTCHAR, &c, 1, scratch,
                                         static_cast<int>(sizeof scratch), "_", &usedDefault);
  return writtenBytes > 0 && !usedDefault;
}

bool IsSpace(WCHAR c) {
  return iswspace(static_cast<wint_t>(c)) != 0;
}

// Length of the first prefix rule (in enumeration order) that begins the
// text; 0 when there is none. An empty rule matches and removes nothing.
size_t MatchPrefixRule(const WCHAR* text, size_t textChars, PrefixRuleMatch* match) {
  const UniqueKey prefixes = OpenMachineKey(kPrefixKey, KEY_QUERY_VALUE);
  if (!prefixes.get()) return 0;
  TraceText(L"1.ApplyValidityRules:");
  for (DWORD index = 0;; ++index) {
    WCHAR ruleName[kPrefixLabelReadLimitChars];
    DWORD ruleNameChars = kPrefixLabelReadLimitChars;
    WCHAR prefix[kPrefixTextCapacityChars];
    DWORD prefixBytes = kPrefixReadLimitBytes;
    DWORD type = REG_NONE;
    // A value too large for either buffer ends the search like the last one.
    if (RegEnumValueW(prefixes.get(), index, ruleName, &ruleNameChars, nullptr, &type,
                      reinterpret_cast<BYTE*>(prefix), &prefixBytes) != ERROR_SUCCESS) {
      break;
    }
    if (type != REG_SZ) continue;
    // Stored strings need not carry their terminator.
    prefix[prefixBytes / sizeof(WCHAR)] = L'\0';
    size_t prefixChars = wcslen(prefix);
    if (prefixChars > textChars || _wcsnicmp(text, prefix, prefixChars) != 0) continue;
    TraceText(prefix);
    if (match) {
      match->matched = true;
      CopyBounded(match->label, kPrefixLabelReadLimitChars, ruleName);
      CopyBounded(match->prefix, kPrefixTextCapacityChars, prefix);
    }
    return prefixChars;
  }
  return 0;
}

bool IsOnlyDotsAndSpaces(const WCHAR* name) {
  if (!*name) return false;
  for (; *name; ++name) {
    if (*name != L'.' && *name != L' ') return false;
  }
  return true;
}

// Trims white space, replaces characters unfit for a file name or missing from
// the ANSI code page by "_" and drops leading "_" unless nothing else is left.
// Returns 1 when a name was written (zero-terminated, at most
// destinationCapacityChars including the terminator), 0 for an empty or null
// source or a zero capacity, in which case nothing is written.
DWORD ValidName(const WCHAR* source, WCHAR* destination, DWORD destinationCapacityChars) {
  if (!source || source[0] == L'\0' || !destination || destinationCapacityChars == 0) return 0;

  while (*source && IsSpace(*source)) ++source;
  WCHAR name[kNameWorkCapacityChars];
  size_t nameChars = 0;
  while (nameChars < kNameWorkCapacityChars - 1 && source[nameChars]) {
    name[nameChars] = source[nameChars];
    ++nameChars;
  }
  while (nameChars > 0 && IsSpace(name[nameChars - 1])) --nameChars;

  for (size_t i = 0; i < nameChars; ++i) {
    if (IsReplacedCharacter(name[i])) name[i] = L'_';
    if (!IsInAnsiCodePage(name[i])) name[i] = L'_';
  }

  size_t leadingChars = 0;
  while (leadingChars < nameChars && name[leadingChars] == L'_') ++leadingChars;
  size_t start = leadingChars;
  if (nameChars == 0) {
    name[0] = L'_';
    nameChars = 1;
    start = 0;
  } else if (leadingChars == nameChars) {
    start = nameChars - 1;  // all "_": keep one
  }
  CopyBounded(destination, destinationCapacityChars, name + start, nameChars - start);
  return 1;
}

}  // namespace

void ApplyValidityRules(const WCHAR* name, WCHAR* validName, DWORD validNameSizeBytes,
                        PrefixRuleMatch* match) {
  if (!name) return;
  const size_t resultCapacityChars = validNameSizeBytes / sizeof(WCHAR);
  if (!validName || resultCapacityChars == 0) return;

  // Work on a view of the caller's text, so that the prefix rule sees the
  // whole text whatever the size of the result buffer.
  const WCHAR* text = name;
  while (*text == L' ') ++text;
  size_t textChars = wcslen(text);
  if (textChars > 2 && text[0] == L'(' && text[textChars - 1] == L')') {
    ++text;
    textChars -= 2;
  }

  size_t prefixChars = MatchPrefixRule(text, textChars, match);
  text += prefixChars;
  textChars -= prefixChars;

  // Only the end of a long name survives the length limit, so a text that
  // does not fit the working copy keeps its end; trailing white space, which
  // would be trimmed anyway, must not push the name out.
  if (textChars > kNameWorkCapacityChars - 1) {
    size_t trimmedChars = textChars;
    while (trimmedChars > 0 && IsSpace(text[trimmedChars - 1])) --trimmedChars;
    textChars = trimmedChars > 0 ? trimmedChars : 1;
  }
  if (textChars > kNameWorkCapacityChars - 1) {
    text += textChars - (kNameWorkCapacityChars - 1);
    textChars = kNameWorkCapacityChars - 1;
  }
  WCHAR working[kNameWorkCapacityChars];
  CopyBounded(working, kNameWorkCapacityChars, text, textChars);

  WCHAR valid[kNameWorkCapacityChars];
  if (!ValidName(working, valid, kNameWorkCapacityChars)) {
    CopyBounded(valid, kNameWorkCapacityChars, kEmptyNameReplacement,
                wcslen(kEmptyNameReplacement));
  }

  size_t validChars = wcslen(valid);
  size_t limitChars = kMaxBaseNameChars;
  if (limitChars > resultCapacityChars - 1) limitChars = resultCapacityChars - 1;
  size_t skipChars = validChars > limitChars ? validChars - limitChars : 0;
  WCHAR finished[kMaxBaseNameChars + 1];
  CopyBounded(finished, limitChars + 1, valid + skipChars, validChars - skipChars);

  // "." and ".." would name a folder, and dots alone vanish from a file name.
  if (IsOnlyDotsAndSpaces(finished)) CopyBounded(finished, limitChars + 1, L"_", 1);
  AvoidReservedDeviceName(finished, static_cast<DWORD>(limitChars + 1));

  CopyBounded(validName, resultCapacityChars, finished, wcslen(finished));
  TraceLabelled(L"ApplyValidityRules:", validName);
}
