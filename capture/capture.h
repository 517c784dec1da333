// Capture of RAW and TEXT jobs into files in the port's output folder.
#pragma once

#include "spooler/context.h"

enum class CaptureState : DWORD { Start = 0, InTicket = 2, TicketDone = 3, InData = 4 };

constexpr DWORD kReadBufferBytes = 32768;

// Splits piece 0 after the job ticket's end tag "</xpif>" (any letter case)
// when at least one byte follows the tag: piece 1 then holds the rest without
// its leading white space. Piece 1 is emptied first in every case.
BOOL TrySplitBuffer(BYTE** pieceStarts, DWORD* pieceLengthsBytes);

// Creates the data file at outputPath and never opens a file that exists: a
// name taken after it was probed is probed again, rewriting both paths with
// the next free name. INVALID_HANDLE_VALUE with the last error on failure.
HANDLE CreateOutputDataFile(LONG jobId, const WCHAR* outputFolder, const WCHAR* validName,
                            const WCHAR* extension, WCHAR* outputPath, WCHAR* ticketPath,
                            DWORD pathCapacityChars);

// The output file writes, kept apart so that a test can stand in for a full
// disk. Both return FALSE with the Win32 error as the last error.
BOOL WriteOutputBytes(HANDLE file, const BYTE* data, DWORD sizeBytes);
BOOL FlushOutput(HANDLE file);

// Progress is reported once per 512 KiB boundary of job bytes read.
ULONGLONG ProgressStep(ULONGLONG totalReadBytes);
// The 32-bit "bytes so far" of a progress message: jobs past 4 GiB report
// 0xFFFFFFFF rather than a count that wrapped back to small numbers.
DWORD ProgressBytesField(ULONGLONG totalReadBytes);
