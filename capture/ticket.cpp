// Job tickets in front of the data, and the progress arithmetic.
#include <cstring>

#include "capture/capture.h"

namespace {
const char kTicketEndTag[] = "</xpif>";
constexpr DWORD kTicketEndTagBytes = 7;

bool IsSpaceByte(BYTE byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}
}  // namespace

BOOL TrySplitBuffer(BYTE** pieceStarts, DWORD* pieceLengthsBytes) {
  pieceStarts[1] = nullptr;
  pieceLengthsBytes[1] = 0;
  const DWORD lengthBytes = pieceLengthsBytes[0];
  if (lengthBytes <= kTicketEndTagBytes || !pieceStarts[0]) return FALSE;
  BYTE* data = pieceStarts[0];
  // The tag must be followed by at least one byte of the same piece.
  for (DWORD position = 0; position + kTicketEndTagBytes < lengthBytes; ++position) {
    if (_strnicmp(reinterpret_cast<const char*>(data + position), kTicketEndTag,
                  kTicketEndTagBytes) != 0) {
      continue;
    }
    DWORD restStart = position + kTicketEndTagBytes;
    while (restStart < lengthBytes && IsSpaceByte(data[restStart])) ++restStart;
    if (restStart < lengthBytes) {
      pieceStarts[1] = data + restStart;
      pieceLengthsBytes[1] = lengthBytes - restStart;
    }
    pieceLengthsBytes[0] = position + kTicketEndTagBytes;
    return TRUE;
  }
  return FALSE;
}

ULONGLONG ProgressStep(ULONGLONG totalReadBytes) {
  return totalReadBytes >> 19;
}

DWORD ProgressBytesField(ULONGLONG totalReadBytes) {
  return totalReadBytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(totalReadBytes);
}
