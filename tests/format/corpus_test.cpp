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
#include "tools/tool_support.h"

namespace {

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

// Japanese titles come out as written in every encoding; Western titles
// whose bytes also read as Shift_JIS or EUC-JP stay: at most one in 250
// changes. Each miss is printed.
TEST(TitleCorpus, JapaneseTitlesDecodeWesternTitlesStay) {
  const bool japaneseSystem = GetACP() == 932;
  int matched[2] = {}, total[2] = {};  // Japanese, Western
  const auto run = [&](int kind, const std::string& list, const std::string& encoding) {
    const std::vector<std::string> titles = CorpusLines(list + ".txt"),
                                   bytes = CorpusLines(list + encoding);
    for (size_t i = 0; i < titles.size() && i < bytes.size(); ++i) {
      if (bytes[i] == "-" || titles[i].empty()) continue;
      ++total[kind];
      if (tools::Utf8(CapturedTitle(bytes[i])) == titles[i]) {
        ++matched[kind];
      } else {
        std::printf("  %s%s:%zu %s\n", list.c_str(), encoding.c_str(), i + 1, titles[i].c_str());
      }
    }
  };
  for (const char* list : {"japanese-titles", "office-titles"}) {
    for (const char* encoding : {".sjis.hex", ".eucjp.hex", ".iso2022jp.hex"})
      run(0, list, encoding);
  }
  if (!japaneseSystem) {
    for (const char* list : {"western-titles", "western-accented"}) run(1, list, ".cp1252.hex");
  }
  std::printf("Code page %u: Japanese %d of %d exact, Western %d of %d changed\n", GetACP(),
              matched[0], total[0], total[1] - matched[1], total[1]);
  ASSERT_GE(total[0], 1000);
  EXPECT_GE(matched[0] * 100, total[0] * (japaneseSystem ? 97 : 95));
  if (japaneseSystem) return;
  ASSERT_GE(total[1], 500);
  EXPECT_LE((total[1] - matched[1]) * 250, total[1]);
}

}  // namespace
