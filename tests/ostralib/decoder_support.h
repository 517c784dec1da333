// Helpers for the decoder tests: run the four calls on one record and turn
// title bytes into the text the pipeline would hold for them.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/ostralib.h"

namespace decoder_test {

struct DecodeResult {
  int initResult;
  int processResult;  // -1 when DecoderProcess was not called
  int status;         // DecoderStatus after a failure, else -1
  std::string utf8;   // the output buffer up to its terminator
  bool terminated;    // a zero within OutputSize and nothing written past it
  bool succeeded() const { return initResult == 0 && processResult == 0; }
};

inline DecodeResult Decode(const std::wstring& input, DWORD outputSizeBytes = 270) {
  std::vector<BYTE> output(outputSizeBytes + 16, 0xCC);
  std::fill(output.begin(), output.begin() + outputSizeBytes, 0);
  DecoderRecord record = {input.c_str(), output.data(), outputSizeBytes};
  DecodeResult result = {DecoderInit(&record), -1, -1, std::string(), false};
  if (result.initResult == 0) result.processResult = DecoderProcess(&record);
  if (!result.succeeded()) result.status = DecoderStatus(&record);
  DecoderFinalize(&record);
  const auto zero = std::find(output.begin(), output.begin() + outputSizeBytes, 0);
  result.utf8.assign(output.begin(), zero);
  result.terminated =
      zero != output.begin() + outputSizeBytes &&
      std::all_of(output.begin() + outputSizeBytes, output.end(), [](BYTE b) { return b == 0xCC; });
  return result;
}

inline std::wstring Widen(UINT codePage, const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  &text[0], static_cast<int>(text.size())));
  return text;
}
// Title bytes as the pipeline holds them: converted whole in the ANSI code page.
inline std::wstring AnsiText(const std::string& bytes) {
  return Widen(CP_ACP, bytes);
}
inline std::wstring FromUtf8(const std::string& utf8) {
  return Widen(CP_UTF8, utf8);
}

}  // namespace decoder_test
