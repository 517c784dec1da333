// Built twice: the Western program (code page 1252) and, with HALVEK_CP932,
// the Japanese one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "platform/ostralib.h"

namespace {

struct Result {
  int status;        // DecoderStatus after a failure, else -1
  std::string utf8;  // the output up to its terminator
  bool ok;           // init and process succeeded, terminated, nothing written past OutputSize
};

Result Decode(const std::wstring& input, DWORD sizeBytes = 270) {
  std::vector<BYTE> output(sizeBytes + 16, 0xCC);
  std::fill(output.begin(), output.begin() + sizeBytes, 0);
  DecoderRecord record = {input.c_str(), output.data(), sizeBytes};
  const bool ok = DecoderInit(&record) == 0 && DecoderProcess(&record) == 0;
  Result result = {ok ? -1 : DecoderStatus(&record), "", ok};
  DecoderFinalize(&record);
  const auto end = output.begin() + sizeBytes, zero = std::find(output.begin(), end, 0);
  result.utf8.assign(output.begin(), zero);
  result.ok = ok && zero != end && std::all_of(end, output.end(), [](BYTE b) { return b == 0xCC; });
  return result;
}

std::wstring Widen(UINT codePage, const std::string& bytes) {
  std::wstring text(bytes.size(), L'\0');
  text.resize(MultiByteToWideChar(codePage, 0, bytes.data(), static_cast<int>(bytes.size()),
                                  &text[0], static_cast<int>(text.size())));
  return text;
}
// Title bytes as the pipeline holds them: widened whole in the ANSI code page.
std::wstring Ansi(const std::string& bytes) {
  return Widen(CP_ACP, bytes);
}

const std::string kNihongo = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語 in UTF-8
const std::string kNihongoSjis = "\x93\xFA\x96\x7B\x8C\xEA";
const std::string kNihongoEuc = "\xC6\xFC\xCB\xDC\xB8\xEC";
const std::string kNihongoIso = "\x1B$BF|K\\8l\x1B(B";

#ifdef HALVEK_CP932
// Shift_JIS titles read in code page 932 are already right: left alone.
TEST(DecoderOnJapaneseSystem, AnsiReadShiftJisIsLeftAloneIsoStillDecodes) {
  ASSERT_EQ(932u, GetACP());
  for (const char* title :
       {"\x93\xFA\x96\x7B\x8C\xEA", "\x95\xF1\x8D\x90\x8F\x91.pdf", "\xB1\xDD\xB9"}) {
    EXPECT_FALSE(Decode(Ansi(title)).ok) << title;
  }
  EXPECT_EQ(kNihongo, Decode(Ansi(kNihongoIso)).utf8);
}
#else
TEST(DecoderRecordContract, UnusableRecordsAndCallsOutOfOrder) {
  EXPECT_NE(0, DecoderInit(nullptr));
  EXPECT_EQ(1, DecoderStatus(nullptr));
  EXPECT_NE(0, DecoderFinalize(nullptr));
  BYTE out[16] = {};
  const std::wstring in = Ansi(kNihongoSjis);
  DecoderRecord bad[] = {{nullptr, out, 16}, {in.c_str(), nullptr, 8}, {in.c_str(), out, 1}};
  for (DecoderRecord& record : bad) {
    EXPECT_NE(0, DecoderInit(&record));
    EXPECT_EQ(1, DecoderStatus(&record));
    EXPECT_EQ(5, DecoderProcess(&record));
    EXPECT_EQ(0, DecoderFinalize(&record));  // a failed init still finalizes, once
    EXPECT_NE(0, DecoderFinalize(&record));
  }
  DecoderRecord record = {in.c_str(), out, sizeof(out)};
  EXPECT_EQ(5, DecoderProcess(&record));  // before init
  ASSERT_EQ(0, DecoderInit(&record));
  DecoderFinalize(&record);
  EXPECT_EQ(5, DecoderProcess(&record));  // after finalize
  EXPECT_EQ(0, out[0]);
}

TEST(DecoderJapanese, EachEncodingDecodesAndFailuresLeaveNoOutput) {
  std::string overlong;
  for (int i = 0; i < 1000; ++i) overlong += kNihongoSjis;
  const std::string fifty = overlong.substr(0, 300);
  const struct {
    std::wstring text;
    int status;  // -1: decodes to utf8; 0: fails, any cause
    std::string utf8 = "";
    DWORD sizeBytes = 270;
  } cases[] = {
      {Ansi(kNihongoSjis), -1, kNihongo},
      {Ansi(kNihongoEuc), -1, kNihongo},
      {Ansi(kNihongoIso), -1, kNihongo},
      {Ansi("Excel" + kNihongoSjis + "2024.pdf"), -1, "Excel" + kNihongo + "2024.pdf"},
      {Ansi("\x8E\xB1\xC6\xFC"), -1, "\xEF\xBD\xB1\xE6\x97\xA5"},  // EUC-JP half-width kana
      // JIS Roman and kana escapes, no return to ASCII at the end
      {Ansi("A\x1B$@F|\x1B(JB\x1B(I1"), -1,
       "A\xE6\x97\xA5"
       "B\xEF\xBD\xB1"},
      // Long output is cut after the most whole characters that fit.
      {Ansi(fifty), -1, "", 3},
      {Ansi(fifty), -1, "\xE6\x97\xA5", 6},
      {Ansi(fifty), -1, kNihongo, 11},
      {L"Quarterly report.pdf", 3},
      {L"", 3},
      {L"\x5831\x544A\x66F8.pdf", 2},  // already Unicode
      {Widen(CP_UTF8, "R\xC3\xA9sum\xC3\xA9 \xE2\x82\xAC"), 0},
      {L"a\xD800"
       L"b",
       2},
      {Ansi("\x93\xFA\x96"), 4},        // truncated lead byte
      {Ansi("\x1B$ZF|K\\"), 4},         // broken escape
      {Ansi("\x1B$BF|K\x1B(B"), 4},     // odd byte count inside JIS
      {Ansi("\x1B$BF|\x1B(B\xE9"), 4},  // high byte in ISO-2022-JP
      {Ansi("Stra\xDF"
            "e"),
       4},                            // one katakana in Latin
      {Ansi("Mary\x92s Report"), 4},  // a single kanji
      {Ansi("\xF0\x40\xF0\x41"), 4},  // user-defined area
      {Ansi(overlong), 7},
  };
  for (const auto& c : cases) {
    const Result result = Decode(c.text, c.sizeBytes);
    const int row = static_cast<int>(&c - cases);
    EXPECT_EQ(c.status < 0, result.ok) << row;
    if (c.status) {
      EXPECT_EQ(c.status, result.status) << row;
    }
    EXPECT_EQ(c.utf8, result.utf8) << row;
  }
}

// Non-empty lines of a corpus file; a .hex file gives back the bytes its lines spell.
std::vector<std::string> Corpus(const std::string& name) {
  std::string path = std::string("Z:") + HALVEK_FIXTURES_DIR + "/japanese/" + name;
  std::replace(path.begin(), path.end(), '/', '\\');
  std::ifstream file(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(file, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::string bytes;
    for (size_t i = 0; name.back() == 'x' && i + 1 < line.size(); i += 2) {
      bytes += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
    }
    if (!line.empty()) lines.push_back(name.back() == 'x' ? bytes : line);
  }
  return lines;
}

TEST(DecoderCorpus, WesternTitlesStayAndJapaneseTitlesDecode) {
  ASSERT_EQ(1252u, GetACP());
  const auto western = Corpus("western-titles.txt"), japanese = Corpus("japanese-titles.txt");
  const auto westernBytes = Corpus("western-titles.cp1252.hex");
  ASSERT_GE(western.size(), 200u);
  ASSERT_EQ(western.size(), westernBytes.size());
  ASSERT_GE(japanese.size(), 100u);
  int changed = 0, total = 0, exact = 0;
  for (size_t i = 0; i < western.size(); ++i) {
    ASSERT_EQ(Widen(CP_UTF8, western[i]), Ansi(westernBytes[i])) << "fixture: " << western[i];
    const Result result = Decode(Ansi(westernBytes[i]));
    changed += result.ok;
    EXPECT_FALSE(result.ok) << western[i] << " -> " << result.utf8;
  }
  for (const char* encoding : {"sjis", "eucjp", "iso2022jp"}) {
    const auto encoded = Corpus(std::string("japanese-titles.") + encoding + ".hex");
    ASSERT_EQ(japanese.size(), encoded.size()) << encoding;
    for (size_t i = 0; i < japanese.size(); ++i, ++total) {
      const Result result = Decode(Ansi(encoded[i]));
      if (result.ok && result.utf8 == japanese[i]) {
        ++exact;
      } else {
        std::printf("  %s not decoded: %s (status %d)\n", encoding, japanese[i].c_str(),
                    result.status);
      }
    }
  }
  const double percent = 100.0 * exact / total;
  std::printf(
      "Decoder corpus: Japanese %d of %d decoded exactly (%.1f%%); Western %d of %zu changed\n",
      exact, total, percent, changed, western.size());
  EXPECT_GE(percent, 98.0);
}
#endif

}  // namespace
