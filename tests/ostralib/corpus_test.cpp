// The decoder against the title corpora in tests/fixtures/japanese (encoded
// with iconv by scripts/make-japanese-fixtures.sh): every Western title must
// stay as it is, and at least 98% of the Japanese ones must decode exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "tests/ostralib/decoder_support.h"

using decoder_test::AnsiText;
using decoder_test::Decode;
using decoder_test::DecodeResult;

namespace {

// Non-empty lines of a corpus file; hex files come back as their bytes.
std::vector<std::string> ReadLines(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/japanese/" + name;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  const bool hex = name.size() > 4 && name.compare(name.size() - 4, 4, ".hex") == 0;
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty()) continue;
    if (hex) {
      std::string bytes;
      for (size_t i = 0; i + 1 < line.size(); i += 2) {
        bytes.push_back(static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16)));
      }
      line = bytes;
    }
    lines.push_back(line);
  }
  return lines;
}

TEST(DecoderCorpus, WesternTitlesStayAndJapaneseTitlesDecode) {
  ASSERT_EQ(1252u, GetACP()) << "the corpus test expects the Western ANSI code page";
  const std::vector<std::string> western = ReadLines("western-titles.txt");
  const std::vector<std::string> westernBytes = ReadLines("western-titles.cp1252.hex");
  const std::vector<std::string> japanese = ReadLines("japanese-titles.txt");
  ASSERT_GE(western.size(), 200u);
  ASSERT_EQ(western.size(), westernBytes.size());
  ASSERT_GE(japanese.size(), 100u);

  // A Western title reaches the decoder both as its ANSI bytes widened and
  // as Unicode text (a spooler document name); neither may be decoded.
  int westernChanged = 0;
  for (size_t i = 0; i < western.size(); ++i) {
    const std::wstring text = AnsiText(westernBytes[i]);
    EXPECT_EQ(decoder_test::FromUtf8(western[i]), text) << "fixture mismatch: " << western[i];
    const DecodeResult result = Decode(text);
    if (result.succeeded()) {
      ++westernChanged;
      ADD_FAILURE() << "Western title decoded: " << western[i] << " -> " << result.utf8;
    }
  }

  int japaneseTotal = 0;
  int japaneseExact = 0;
  for (const char* encoding : {"sjis", "eucjp", "iso2022jp"}) {
    const std::vector<std::string> encoded =
        ReadLines(std::string("japanese-titles.") + encoding + ".hex");
    ASSERT_EQ(japanese.size(), encoded.size()) << encoding;
    int exact = 0;
    for (size_t i = 0; i < japanese.size(); ++i) {
      const DecodeResult result = Decode(AnsiText(encoded[i]));
      if (result.succeeded() && result.utf8 == japanese[i]) {
        ++exact;
      } else {
        std::printf("  %s not decoded: %s (status %d)\n", encoding, japanese[i].c_str(),
                    result.status);
      }
    }
    std::printf("Japanese %s: %d of %zu decoded exactly\n", encoding, exact, japanese.size());
    japaneseTotal += static_cast<int>(japanese.size());
    japaneseExact += exact;
  }
  const double exactPercent = 100.0 * japaneseExact / japaneseTotal;
  std::printf(
      "Decoder corpus: Japanese %d of %d decoded exactly (%.1f%%); Western %d of %zu "
      "changed\n",
      japaneseExact, japaneseTotal, exactPercent, westernChanged, western.size());
  EXPECT_EQ(0, westernChanged);
  EXPECT_GE(exactPercent, 98.0);
}

}  // namespace
