// Helpers for the decoder tests: run the four calls on one record and turn
// title bytes into the text the pipeline would hold for them.
#pragma once

#include <string>
#include <vector>

#include "platform/ostralib.h"

namespace decoder_test {

struct DecodeResult {
  int initResult;
  int processResult;  // -1 when DecoderProcess was not called
  int status;         // DecoderStatus after a failure, else -1
  std::string utf8;   // the output buffer up to its terminator
  bool terminated;    // a zero byte within OutputSize
};

inline DecodeResult Decode(const std::wstring& input, DWORD outputSizeBytes = 270) {
  std::vector<BYTE> output(outputSizeBytes + 16, 0xCC);
  for (DWORD i = 0; i < outputSizeBytes; ++i) output[i] = 0;
  DecoderRecord record = {input.c_str(), output.data(), outputSizeBytes};
  DecodeResult result = {DecoderInit(&record), -1, -1, std::string(), false};
  if (result.initResult == 0) result.processResult = DecoderProcess(&record);
  if (result.initResult != 0 || result.processResult != 0) result.status = DecoderStatus(&record);
  DecoderFinalize(&record);
  for (DWORD i = 0; i < outputSizeBytes; ++i) {
    if (output[i] == 0) {
      result.terminated = true;
      break;
    }
    result.utf8.push_back(static_cast<char>(output[i]));
  }
  // Nothing is written past OutputSize.
  for (DWORD i = outputSizeBytes; i < output.size(); ++i) {
    if (output[i] != 0xCC) result.terminated = false;
  }
  return result;
}

inline bool Succeeded(const DecodeResult& result) {
  return result.initResult == 0 && result.processResult == 0;
}

// Title bytes as the pipeline holds them: converted whole in the ANSI code page.
inline std::wstring AnsiText(const std::string& bytes) {
  if (bytes.empty()) return std::wstring();
  int chars =
      MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0], chars);
  return text;
}

inline std::wstring FromUtf8(const std::string& utf8) {
  if (utf8.empty()) return std::wstring();
  int chars =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring text(static_cast<size_t>(chars), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &text[0], chars);
  return text;
}

inline std::string Encode(UINT codePage, const std::wstring& text) {
  if (text.empty()) return std::string();
  int bytes = WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                  0, nullptr, nullptr);
  std::string encoded(static_cast<size_t>(bytes), '\0');
  WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), &encoded[0], bytes,
                      nullptr, nullptr);
  return encoded;
}

inline std::string HexToBytes(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

}  // namespace decoder_test
