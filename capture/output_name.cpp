// The name step of a capture: signature, Japanese passes, base and
// extension, validity rules, and the probe for a free path.
#include "capture/output_name.h"

#include <cwchar>

#include "capture/capture.h"
#include "capture/settings.h"
#include "format/japanese.h"
#include "naming/naming.h"
#include "platform/text.h"
#include "platform/trace.h"

namespace {

constexpr DWORD kPass2Chars = 260;

const WCHAR kFallbackBaseName[] = L"spoold_file";
const WCHAR kTicketExtension[] = L"XPF";
const WCHAR* const kExtensionVocabulary[] = {L"PDF",  L"PS",  L"VPS", L"DBF",
                                             L"PPML", L"PPM", L"XPF"};

bool BeginsWithWord(const WCHAR* text, const WCHAR* word) {
  return _wcsnicmp(text, word, std::wcslen(word)) == 0;
}

bool InVocabulary(const WCHAR* extension) {
  for (const WCHAR* word : kExtensionVocabulary) {
    if (BeginsWithWord(extension, word)) return true;
  }
  return false;
}

// Both Japanese passes, then the split at the last dot. The passes' results
// go to report when it is not null.
void DecodeName(const WCHAR* source, WCHAR* base, WCHAR* extension, NameReport* report) {
  WCHAR pass1[kNameChars] = {};
  WCHAR pass2[kPass2Chars] = {};
  CheckForJapaneseEncoding(source, pass1, kNameChars);
  CheckForJapaneseEncoding1(pass1, pass2, kPass2Chars);
  ExtractBaseNameAndExtension(pass2, base, kNameChars * sizeof(WCHAR), extension,
                              kExtensionChars * sizeof(WCHAR));
  if (!report) return;
  CopyBounded(report->titleAfterLibraryPass, kNameChars, pass1);
  CopyBounded(report->titleAfterHexPass, kNameChars, pass2);
}

const WCHAR* ChooseBase(const WCHAR* titleBase, const DocumentNameParts& document, BOOL knownFormat,
                        DWORD interpretTitle, const WCHAR** rule) {
  if (titleBase[0] && (knownFormat || interpretTitle != 0)) {
    *rule = knownFormat ? L"title (decoded for its producer)" : L"title";
    return titleBase;
  }
  if (document.base[0]) {
    *rule = L"document name";
    return document.base;
  }
  *rule = L"fallback";
  return kFallbackBaseName;
}

const WCHAR* ChooseExtension(JobFormat format, const WCHAR* titleExtension,
                             const DocumentNameParts& document, bool behindTicket,
                             const WCHAR** rule) {
  const WCHAR* extension = L"";
  *rule = L"none";
  if (BeginsWithWord(document.extension, L"DBF")) {
    extension = L"DBF";
    *rule = L"document name begins with DBF";
  } else if (format == JobFormat::Pdf) {
    extension = L"PDF";
    *rule = L"format";
  } else if (format == JobFormat::PostScript) {
    extension = L"PS";
    *rule = L"format";
  } else if (format == JobFormat::Vps) {
    extension = L"VPS";
    *rule = L"format";
  } else if (format == JobFormat::Xpif) {
    extension = kTicketExtension;
    *rule = L"format";
  } else if (titleExtension[0] && InVocabulary(titleExtension)) {
    extension = titleExtension;
    *rule = L"title's extension (known)";
  } else if (document.extension[0]) {
    extension = document.extension;
    *rule = L"document name's extension";
  } else if (titleExtension[0]) {
    extension = titleExtension;
    *rule = L"title's extension";
  }
  // Data behind a ticket never takes the ticket's path: it goes without one.
  if (behindTicket && _wcsicmp(extension, kTicketExtension) == 0) {
    extension = L"";
    *rule = L"none (behind a ticket)";
  }
  return extension;
}

// Where the next block starts behind the ticket at the block's front, white
// space dropped as the capture drops it; null when the ticket does not end
// in the block or nothing follows it.
const BYTE* BehindTicket(const BYTE* block, DWORD blockBytes, DWORD* restBytes) {
  TicketTagCarry carry = {};
  // The split only reads the bytes; it moves the piece pointers.
  BYTE* pieceStarts[2] = {const_cast<BYTE*>(block), nullptr};
  DWORD pieceLengthsBytes[2] = {blockBytes, 0};
  *restBytes = 0;
  if (!TrySplitBuffer(pieceStarts, pieceLengthsBytes, &carry) || !pieceStarts[1]) return nullptr;
  const BYTE* rest = pieceStarts[1];
  DWORD bytes = pieceLengthsBytes[1];
  while (bytes > 0 && IsTicketSpaceByte(*rest)) {
    ++rest;
    --bytes;
  }
  *restBytes = bytes;
  return bytes > 0 ? rest : nullptr;
}

}  // namespace

void SplitDocumentName(const WCHAR* documentName, DocumentNameParts* parts) {
  DecodeName(documentName, parts->base, parts->extension, nullptr);
}

void NameFromBlock(const BYTE* block, DWORD blockBytes, const DocumentNameParts& document,
                   bool behindTicket, NameChoice* choice, NameReport* report) {
  WCHAR title[kNameChars] = {};
  WCHAR titleBase[kNameChars] = {};
  WCHAR titleExtension[kExtensionChars] = {};
  WCHAR chosenBase[kNameChars] = {};

  const WCHAR* producer = nullptr;
  const WCHAR* baseRule = nullptr;
  const WCHAR* extensionRule = nullptr;
  PrefixRuleMatch* prefixRule = report ? &report->prefixRule : nullptr;
  if (prefixRule) *prefixRule = PrefixRuleMatch();

  choice->format = JobFormat::None;
  TraceLabelled(L"Known format before checking...", choice->knownFormat ? L"TRUE" : L"FALSE");
  CheckSignatures(block, blockBytes, title, sizeof(title), &choice->format, &choice->knownFormat,
                  &producer);
  TraceLabelled(L"Known format after checking...", choice->knownFormat ? L"TRUE" : L"FALSE");
  DecodeName(title, titleBase, titleExtension, report);
  const DWORD interpretTitle = ReadInterpretTitle();

  CopyBounded(chosenBase, kNameChars,
              ChooseBase(titleBase, document, choice->knownFormat, interpretTitle, &baseRule));
  CopyBounded(
      choice->extension, kExtensionChars,
      ChooseExtension(choice->format, titleExtension, document, behindTicket, &extensionRule));
  ZeroMemory(choice->validName, sizeof(choice->validName));
  ApplyValidityRules(chosenBase, choice->validName, sizeof(choice->validName), prefixRule);

  if (!report) return;
  CopyBounded(report->title, kNameChars, title);
  report->producer = producer;
  report->baseRule = baseRule;
  report->extensionRule = extensionRule;
  CopyBounded(report->titleBase, kNameChars, titleBase);
  CopyBounded(report->titleExtension, kExtensionChars, titleExtension);
  CopyBounded(report->chosenBase, kNameChars, chosenBase);
  report->interpretTitle = interpretTitle;
}

BOOL ChooseOutputName(const BYTE* block, DWORD blockBytes, const WCHAR* documentName, LONG jobId,
                      const WCHAR* outputFolder, NameChoice* choice, NameReport* report) {
  DocumentNameParts document = {};
  if (documentName) SplitDocumentName(documentName, &document);
  DWORD ticketCount = 0;
  bool dataBehindTicket = false;
  for (;;) {
    NameFromBlock(block, blockBytes, document, ticketCount > 0, choice, report);
    if (choice->format != JobFormat::Xpif) {
      dataBehindTicket = ticketCount > 0;
      break;
    }
    ++ticketCount;
    block = BehindTicket(block, blockBytes, &blockBytes);
    if (!block) break;
  }
  // A job that is all ticket is published as the ticket alone.
  if (ticketCount > 0 && !dataBehindTicket) {
    CopyBounded(choice->extension, kExtensionChars, kTicketExtension);
  }
  if (report) report->ticketCount = ticketCount;
  const BOOL found = FindUniqueNameForOutputFile(
      jobId, outputFolder, choice->validName, choice->extension, choice->dataPath,
      choice->ticketPath, kNameChars, dataBehindTicket ? TRUE : FALSE);
  if (!dataBehindTicket) choice->ticketPath[0] = L'\0';
  return found;
}
