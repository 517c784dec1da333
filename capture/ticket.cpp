// Job tickets in front of the data, and the progress arithmetic.
#include <cstring>

#include "capture/capture.h"

namespace {
const char kTicketEndTag[] = "</xpif>";
constexpr DWORD kTicketEndTagBytes = 7;
static_assert(sizeof(TicketTagCarry::bytes) == kTicketEndTagBytes - 1,
              "carry holds a tag less one");

bool MatchesTag(const BYTE* bytes, DWORD tagOffsetBytes, DWORD countBytes) {
  return _strnicmp(reinterpret_cast<const char*>(bytes), kTicketEndTag + tagOffsetBytes,
                   countBytes) == 0;
}

// Offset in data just past an end tag that began in the carried bytes; 0
// when there is none. The tag that begins earliest wins.
DWORD EndOfCarriedTag(const TicketTagCarry& carry, const BYTE* data, DWORD lengthBytes) {
  for (DWORD carriedBytes = carry.lengthBytes; carriedBytes > 0; --carriedBytes) {
    const DWORD restBytes = kTicketEndTagBytes - carriedBytes;
    if (restBytes <= lengthBytes &&
        MatchesTag(carry.bytes + carry.lengthBytes - carriedBytes, 0, carriedBytes) &&
        MatchesTag(data, carriedBytes, restBytes)) {
      return restBytes;
    }
  }
  return 0;
}

// Keeps the last bytes of carry + data that could still begin a tag.
void KeepCarry(TicketTagCarry* carry, const BYTE* data, DWORD lengthBytes) {
  const DWORD capacityBytes = sizeof(carry->bytes);
  if (lengthBytes >= capacityBytes) {
    std::memcpy(carry->bytes, data + lengthBytes - capacityBytes, capacityBytes);
    carry->lengthBytes = capacityBytes;
    return;
  }
  DWORD keptBytes = capacityBytes - lengthBytes;
  if (keptBytes > carry->lengthBytes) keptBytes = carry->lengthBytes;
  std::memmove(carry->bytes, carry->bytes + carry->lengthBytes - keptBytes, keptBytes);
  if (lengthBytes > 0) std::memcpy(carry->bytes + keptBytes, data, lengthBytes);
  carry->lengthBytes = keptBytes + lengthBytes;
}
}  // namespace

BOOL TrySplitBuffer(BYTE** pieceStarts, DWORD* pieceLengthsBytes, TicketTagCarry* carry) {
  pieceStarts[1] = nullptr;
  pieceLengthsBytes[1] = 0;
  BYTE* data = pieceStarts[0];
  const DWORD lengthBytes = data ? pieceLengthsBytes[0] : 0;
  DWORD tagEnd = EndOfCarriedTag(*carry, data, lengthBytes);
  for (DWORD position = 0; tagEnd == 0 && position + kTicketEndTagBytes <= lengthBytes;
       ++position) {
    if (MatchesTag(data + position, 0, kTicketEndTagBytes)) tagEnd = position + kTicketEndTagBytes;
  }
  if (tagEnd == 0) {
    KeepCarry(carry, data, lengthBytes);
    return FALSE;
  }
  carry->lengthBytes = 0;
  DWORD restStart = tagEnd;
  while (restStart < lengthBytes && IsTicketSpaceByte(data[restStart])) ++restStart;
  if (restStart < lengthBytes) {
    pieceStarts[1] = data + restStart;
    pieceLengthsBytes[1] = lengthBytes - restStart;
  }
  pieceLengthsBytes[0] = tagEnd;
  return TRUE;
}

bool IsTicketSpaceByte(BYTE byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\v' || byte == '\f' ||
         byte == '\r';
}

ULONGLONG ProgressStep(ULONGLONG totalReadBytes) {
  return totalReadBytes >> 19;
}

DWORD ProgressBytesField(ULONGLONG totalReadBytes) {
  return totalReadBytes > MAXDWORD ? MAXDWORD : static_cast<DWORD>(totalReadBytes);
}
