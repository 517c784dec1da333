// The title corpora of tests/fixtures/japanese run the way a capture runs
// them: each title's bytes on the plain "%%Title:" line of a PostScript
// block, through CheckSignatures and both Japanese passes.
#pragma once

#include <cstdio>

#include "format/japanese.h"
#include "tests/format/format_test_support.h"
#include "tests/support/test_files.h"

inline std::wstring Widen(UINT codePage, const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  &text[0], static_cast<int>(text.size())));
  return text;
}

inline std::string Utf8(const std::wstring& text) {
  std::string bytes(text.size() * 3, '\0');
  bytes.resize(WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                   &bytes[0], static_cast<int>(bytes.size()), nullptr, nullptr));
  return bytes;
}

struct CorpusTally {
  int matched = 0;
  int total = 0;
};

inline std::vector<std::string> CorpusLines(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/japanese/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return ReadCorpusLines(std::wstring(path.begin(), path.end()));
}

// The name text the capture goes on with for a plain title line.
inline std::wstring CapturedTitle(const std::string& titleBytes) {
  const CheckResult checked =
      Check("%!PS-Adobe-3.0\n%%Creator: Office\n%%Title: " + titleBytes + "\r\n%%EndComments\n");
  WCHAR pass1[270];
  WCHAR pass2[260];
  CheckForJapaneseEncoding(checked.title.c_str(), pass1, 270);
  CheckForJapaneseEncoding1(pass1, pass2, 260);
  return pass2;
}

// How many titles of one encoded corpus come out as their list says; each
// miss is printed with its line number.
inline CorpusTally RunCorpus(const std::string& list, const std::string& encoded) {
  const std::vector<std::string> titles = CorpusLines(list);
  const std::vector<std::string> bytes = CorpusLines(encoded);
  CorpusTally tally;
  EXPECT_EQ(titles.size(), bytes.size()) << encoded;
  for (size_t i = 0; i < titles.size() && i < bytes.size(); ++i) {
    if (bytes[i] == "-" || titles[i].empty()) continue;
    ++tally.total;
    const std::wstring expected = Widen(CP_UTF8, titles[i]);
    const std::wstring captured = CapturedTitle(bytes[i]);
    if (captured == expected) {
      ++tally.matched;
    } else {
      std::printf("  %s:%zu %s -> %s\n", encoded.c_str(), i + 1, titles[i].c_str(),
                  Utf8(captured).c_str());
    }
  }
  std::printf("%s: %d of %d as listed\n", encoded.c_str(), tally.matched, tally.total);
  return tally;
}

inline CorpusTally operator+(CorpusTally a, CorpusTally b) {
  return {a.matched + b.matched, a.total + b.total};
}

// Every Japanese list in Shift_JIS, EUC-JP and ISO-2022-JP.
inline CorpusTally RunJapaneseCorpora() {
  CorpusTally tally;
  for (const char* list : {"japanese-titles", "office-titles"}) {
    for (const char* encoding : {".sjis.hex", ".eucjp.hex", ".iso2022jp.hex"}) {
      tally = tally + RunCorpus(std::string(list) + ".txt", list + std::string(encoding));
    }
  }
  return tally;
}

inline CorpusTally RunWesternCorpora() {
  return RunCorpus("western-titles.txt", "western-titles.cp1252.hex") +
         RunCorpus("western-accented.txt", "western-accented.cp1252.hex");
}
