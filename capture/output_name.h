// Choosing an output's name: from the first block of what the output will
// hold and the job's document name to a safe base name, an extension and the
// paths the output would take in the folder. Nothing here creates a file, so
// an operator can ask why a job was (or would be) named as it is.
#pragma once

#include "format/format.h"
#include "naming/naming.h"
#include "platform/win.h"

constexpr DWORD kNameChars = 270;
constexpr DWORD kExtensionChars = 32;

// The job's document name after both Japanese passes, split once per job.
struct DocumentNameParts {
  WCHAR base[kNameChars];
  WCHAR extension[kExtensionChars];
};

// What the name step decided; zero-filled before a job's first block.
struct NameChoice {
  JobFormat format;
  // TRUE once a producer decoder supplied a title; stays so for the job.
  BOOL knownFormat;
  WCHAR validName[kNameChars];
  WCHAR extension[kExtensionChars];
  WCHAR dataPath[kNameChars];
  // As large as the data path: one capacity serves both when they are named.
  WCHAR ticketPath[kNameChars];
};

// How the decision came about, for whoever explains it. The texts that name
// a rule are static; null where nothing applied.
struct NameReport {
  WCHAR title[kNameChars];  // from the block, before the Japanese passes
  const WCHAR* producer;    // the decoder that supplied the title
  WCHAR titleAfterLibraryPass[kNameChars];
  WCHAR titleAfterHexPass[kNameChars];
  WCHAR titleBase[kNameChars];
  WCHAR titleExtension[kExtensionChars];
  WCHAR chosenBase[kNameChars];  // title, document name or the fixed fallback
  const WCHAR* baseRule;
  const WCHAR* extensionRule;
  PrefixRuleMatch prefixRule;
  DWORD interpretTitle;  // the setting as read
  DWORD ticketCount;     // tickets at the job's front
};

void SplitDocumentName(const WCHAR* documentName, DocumentNameParts* parts);

// Format, title, valid base name and extension of an output that begins with
// block. behindTicket: the output is data behind a ticket of the same job,
// which never takes the ticket's extension. report may be null.
void NameFromBlock(const BYTE* block, DWORD blockBytes, const DocumentNameParts& document,
                   bool behindTicket, NameChoice* choice, NameReport* report);

// The whole choice for a job's output: the document name split, the name
// from the block, and the free paths the folder offers now (probed, not
// taken). Tickets at the block's front are passed over as the capture does:
// the data behind them is named from what of it the block holds, and the
// ticket path is filled only when there is a ticket. FALSE when no path fits
// the folder. report may be null.
BOOL ChooseOutputName(const BYTE* block, DWORD blockBytes, const WCHAR* documentName, LONG jobId,
                      const WCHAR* outputFolder, NameChoice* choice, NameReport* report);
