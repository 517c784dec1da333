// The title corpora of tests/fixtures/japanese as a capture reads them: each
// title's bytes on the plain "%%Title:" line of a PostScript block, through
// CheckSignatures and both Japanese passes. Built for code pages 1252 and 932.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "format/format.h"
#include "format/japanese.h"
#include "tests/support/test_files.h"

namespace {

std::wstring FromUtf8(const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  &text[0], static_cast<int>(text.size())));
  return text;
}

std::vector<std::string> CorpusLines(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/japanese/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  return ReadCorpusLines(std::wstring(path.begin(), path.end()));
}

// The name text a capture goes on with for a plain title line.
std::wstring CapturedTitle(const std::string& titleBytes) {
  const std::string block = "%!PS\n%%Title: " + titleBytes + "\r\n%%EndComments\n";
  WCHAR title[270], pass1[270], pass2[260];
  CheckSignatures(reinterpret_cast<const BYTE*>(block.data()), static_cast<DWORD>(block.size()),
                  title, sizeof title, nullptr, nullptr);
  CheckForJapaneseEncoding(title, pass1, 270);
  CheckForJapaneseEncoding1(pass1, pass2, 260);
  return pass2;
}

struct Tally {
  int matched = 0, total = 0;
};

// Adds the titles of list.txt, encoded as each of the encodings, that come
// out as listed; each miss is printed.
void RunCorpus(const std::string& list, std::initializer_list<const char*> encodings,
               Tally* tally) {
  const std::vector<std::string> titles = CorpusLines(list + ".txt");
  for (const char* encoding : encodings) {
    const std::vector<std::string> bytes = CorpusLines(list + encoding);
    for (size_t i = 0; i < titles.size() && i < bytes.size(); ++i) {
      if (bytes[i] == "-" || titles[i].empty()) continue;
      ++tally->total;
      if (CapturedTitle(bytes[i]) == FromUtf8(titles[i])) {
        ++tally->matched;
      } else {
        std::printf("  %s%s:%zu %s\n", list.c_str(), encoding, i + 1, titles[i].c_str());
      }
    }
  }
}

// Japanese titles come out as written in every encoding; Western titles
// whose bytes also read as Shift_JIS or EUC-JP stay: at most one in 250
// changes.
TEST(TitleCorpus, JapaneseTitlesDecodeWesternTitlesStay) {
  const bool japaneseSystem = GetACP() == 932;
  Tally japanese, western;
  for (const char* list : {"japanese-titles", "office-titles"}) {
    RunCorpus(list, {".sjis.hex", ".eucjp.hex", ".iso2022jp.hex"}, &japanese);
  }
  if (!japaneseSystem) {
    RunCorpus("western-titles", {".cp1252.hex"}, &western);
    RunCorpus("western-accented", {".cp1252.hex"}, &western);
  }
  std::printf("Code page %u: Japanese %d of %d exact, Western %d of %d changed\n", GetACP(),
              japanese.matched, japanese.total, western.total - western.matched, western.total);
  ASSERT_GE(japanese.total, 1000);
  EXPECT_GE(japanese.matched * 100, japanese.total * (japaneseSystem ? 97 : 95));
  if (japaneseSystem) return;
  ASSERT_GE(western.total, 500);
  EXPECT_LE((western.total - western.matched) * 250, western.total);
}

}  // namespace
