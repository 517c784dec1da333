// Format detection and title extraction for the first block of a job.
//
// Job blocks are 8-bit bytes with an explicit length and no terminator; they
// may end at the last byte of their buffer, so nothing here reads past
// data + lengthBytes. Titles are zero-terminated UTF-16.
#pragma once

#include "platform/win.h"

enum class JobFormat : DWORD { None = 0, PostScript = 1, Vps = 2, Pdf = 3, Xpif = 4, Ppml = 5 };

// Writes the format of the block, its title (always terminated within
// titleSizeBytes / 2 units) and sets *knownFormat to TRUE when a producer
// decoder supplied the title; never clears it. producer, when not null, gets
// the name of that decoder, or null when none ran on this block.
void CheckSignatures(const BYTE* data, DWORD lengthBytes, WCHAR* title, DWORD titleSizeBytes,
                     JobFormat* format, BOOL* knownFormat, const WCHAR** producer = nullptr);
