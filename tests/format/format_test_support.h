// Shared by the format tests: fixtures and the capture's CheckSignatures call.
#pragma once

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "format/format_internal.h"

// The bytes of tests/fixtures/format/<name>; empty when unreadable.
inline std::string ReadFixture(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/format/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline const BYTE* Bytes(const std::string& text) {
  return reinterpret_cast<const BYTE*>(text.data());
}
inline DWORD Length(const std::string& text) {
  return static_cast<DWORD>(text.size());
}

struct CheckResult {
  JobFormat format;
  BOOL known;
  std::wstring title;
};

// As the capture calls it: a 540-byte title buffer, flag cleared; a title
// left unterminated shows as 270 units or more.
inline CheckResult Check(const BYTE* data, DWORD lengthBytes) {
  WCHAR title[271];
  std::fill(title, title + 270, WCHAR(0xCCCC));
  title[270] = 0;
  CheckResult result{static_cast<JobFormat>(0xDEAD), FALSE, L""};
  CheckSignatures(data, lengthBytes, title, 540, &result.format, &result.known);
  result.title = title;
  return result;
}
inline CheckResult Check(const std::string& block) {
  return Check(Bytes(block), Length(block));
}
