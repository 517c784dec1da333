// Capture of RAW and TEXT jobs into files in the port's output folder.
#pragma once

#include "spooler/context.h"

enum class CaptureState : DWORD { Start = 0, InTicket = 2, TicketDone = 3, InData = 4 };

constexpr DWORD kReadBufferBytes = 32768;

// The last bytes of a ticket read so far that could begin its end tag.
struct TicketTagCarry {
  BYTE bytes[6];
  DWORD lengthBytes;
};

// Splits piece 0 after the job ticket's end tag "</xpif>" (any letter case),
// wherever the reads cut the ticket: a tag may close the piece, and one may
// have begun in the bytes carry holds from the pieces before. Piece 1 then
// holds the rest without its leading white space. Piece 1 is emptied first in
// every case; without a tag, carry takes the piece's last bytes.
BOOL TrySplitBuffer(BYTE** pieceStarts, DWORD* pieceLengthsBytes, TicketTagCarry* carry);
// White space between a ticket's end tag and what follows it.
bool IsTicketSpaceByte(BYTE byte);

// Makes an output under the name's path in dataPath. Fails with
// ERROR_FILE_EXISTS or ERROR_ALREADY_EXISTS when the path (or the ticket path
// it also takes) appeared since the probe, with another error otherwise.
typedef BOOL (*MakeOutputFunction)(void* context, const WCHAR* dataPath, const WCHAR* ticketPath);

// Finds a free name (FindUniqueNameForOutputFile; withTicket: the ticket path
// must be free too) and makes the output there. A name taken after the probe
// is probed again, so nothing that exists is ever opened or replaced. FALSE
// with the last error when no name is left or make fails otherwise.
BOOL ClaimOutputName(LONG jobId, const WCHAR* outputFolder, const WCHAR* validName,
                     const WCHAR* extension, BOOL withTicket, WCHAR* dataPath, WCHAR* ticketPath,
                     DWORD pathCapacityChars, MakeOutputFunction make, void* context);

// The output file writes, kept apart so that a test can stand in for a full
// disk. Both return FALSE with the Win32 error as the last error.
BOOL WriteOutputBytes(HANDLE file, const BYTE* data, DWORD sizeBytes);
BOOL FlushOutput(HANDLE file);

// Progress is reported once per 512 KiB boundary of job bytes read.
ULONGLONG ProgressStep(ULONGLONG totalReadBytes);
// The 32-bit "bytes so far" of a progress message: jobs past 4 GiB report
// 0xFFFFFFFF rather than a count that wrapped back to small numbers.
DWORD ProgressBytesField(ULONGLONG totalReadBytes);
