// The name step of a capture: signature, Japanese passes, base and
// extension, validity rules, and the probe for a free path.
#include "capture/output_name.h"

#include <cwchar>

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

// Both Japanese passes, then the split at the last dot.
void DecodeName(const WCHAR* source, WCHAR* base, WCHAR* extension) {
  WCHAR pass1[kNameChars] = {};
  WCHAR pass2[kPass2Chars] = {};
  CheckForJapaneseEncoding(source, pass1, kNameChars);
  CheckForJapaneseEncoding1(pass1, pass2, kPass2Chars);
  ExtractBaseNameAndExtension(pass2, base, kNameChars * sizeof(WCHAR), extension,
                              kExtensionChars * sizeof(WCHAR));
}

const WCHAR* ChooseBase(const WCHAR* titleBase, const DocumentNameParts& document, BOOL knownFormat,
                        DWORD interpretTitle) {
  if (titleBase[0] && (knownFormat || interpretTitle != 0)) return titleBase;
  if (document.base[0]) return document.base;
  return kFallbackBaseName;
}

const WCHAR* ChooseExtension(JobFormat format, const WCHAR* titleExtension,
                             const DocumentNameParts& document, bool behindTicket) {
  const WCHAR* extension = L"";
  if (BeginsWithWord(document.extension, L"DBF")) {
    extension = L"DBF";
  } else if (format == JobFormat::Pdf) {
    extension = L"PDF";
  } else if (format == JobFormat::PostScript) {
    extension = L"PS";
  } else if (format == JobFormat::Vps) {
    extension = L"VPS";
  } else if (format == JobFormat::Xpif) {
    extension = kTicketExtension;
  } else if (titleExtension[0] && InVocabulary(titleExtension)) {
    extension = titleExtension;
  } else if (document.extension[0]) {
    extension = document.extension;
  } else if (titleExtension[0]) {
    extension = titleExtension;
  }
  // Data behind a ticket never takes the ticket's path: it goes without one.
  if (behindTicket && _wcsicmp(extension, kTicketExtension) == 0) extension = L"";
  return extension;
}

}  // namespace

void SplitDocumentName(const WCHAR* documentName, DocumentNameParts* parts) {
  DecodeName(documentName, parts->base, parts->extension);
}

void NameFromBlock(const BYTE* block, DWORD blockBytes, const DocumentNameParts& document,
                   bool behindTicket, NameChoice* choice, NameReport* report) {
  WCHAR title[kNameChars] = {};
  WCHAR titleBase[kNameChars] = {};
  WCHAR titleExtension[kExtensionChars] = {};
  WCHAR chosenBase[kNameChars] = {};

  choice->format = JobFormat::None;
  TraceLabelled(L"Known format before checking...", choice->knownFormat ? L"TRUE" : L"FALSE");
  CheckSignatures(block, blockBytes, title, sizeof(title), &choice->format, &choice->knownFormat);
  TraceLabelled(L"Known format after checking...", choice->knownFormat ? L"TRUE" : L"FALSE");
  DecodeName(title, titleBase, titleExtension);
  const DWORD interpretTitle = ReadInterpretTitle();

  CopyBounded(chosenBase, kNameChars,
              ChooseBase(titleBase, document, choice->knownFormat, interpretTitle));
  CopyBounded(choice->extension, kExtensionChars,
              ChooseExtension(choice->format, titleExtension, document, behindTicket));
  ZeroMemory(choice->validName, sizeof(choice->validName));
  ApplyValidityRules(chosenBase, choice->validName, sizeof(choice->validName));

  if (!report) return;
  CopyBounded(report->title, kNameChars, title);
  CopyBounded(report->titleBase, kNameChars, titleBase);
  CopyBounded(report->titleExtension, kExtensionChars, titleExtension);
  CopyBounded(report->chosenBase, kNameChars, chosenBase);
  report->interpretTitle = interpretTitle;
}

BOOL ChooseOutputName(const BYTE* block, DWORD blockBytes, const WCHAR* documentName, LONG jobId,
                      const WCHAR* outputFolder, NameChoice* choice, NameReport* report) {
  DocumentNameParts document = {};
  if (documentName) SplitDocumentName(documentName, &document);
  NameFromBlock(block, blockBytes, document, false, choice, report);
  return FindUniqueNameForOutputFile(jobId, outputFolder, choice->validName, choice->extension,
                                     choice->dataPath, choice->ticketPath, kNameChars, FALSE);
}
