// Inside the capture of RAW and TEXT jobs (its entry, PrintRawJob, is in
// spooler/job_routines.h): the pieces its tests reach one by one.
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

// The output file writes, kept apart so that a test can stand in for a full
// disk. Both return FALSE with the Win32 error as the last error.
BOOL WriteOutputBytes(HANDLE file, const BYTE* data, DWORD sizeBytes);
BOOL FlushOutput(HANDLE file);

// Progress is reported once per 512 KiB boundary of job bytes read.
ULONGLONG ProgressStep(ULONGLONG totalReadBytes);
// The 32-bit "bytes so far" of a progress message: jobs past 4 GiB report
// 0xFFFFFFFF rather than a count that wrapped back to small numbers.
DWORD ProgressBytesField(ULONGLONG totalReadBytes);
