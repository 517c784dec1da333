#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/ostralib/decoder_support.h"

using decoder_test::AnsiText;
using decoder_test::Decode;
using decoder_test::DecodeResult;

namespace {

const std::string kNihongoUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
const std::string kNihongoSjis = "\x93\xFA\x96\x7B\x8C\xEA";
const std::string kNihongoEuc = "\xC6\xFC\xCB\xDC\xB8\xEC";

TEST(DecoderRecordContract, UnusableRecordsAndCallsOutOfOrder) {
  EXPECT_NE(0, DecoderInit(nullptr));
  EXPECT_EQ(1, DecoderStatus(nullptr));
  EXPECT_NE(0, DecoderFinalize(nullptr));
  BYTE output[16] = {};
  const std::wstring input = AnsiText(kNihongoSjis);
  DecoderRecord noInput = {nullptr, output, sizeof(output)};
  DecoderRecord noOutput = {input.c_str(), nullptr, 8};
  DecoderRecord tooSmall = {input.c_str(), output, 1};
  for (DecoderRecord* record : {&noInput, &noOutput, &tooSmall}) {
    EXPECT_NE(0, DecoderInit(record));
    EXPECT_EQ(1, DecoderStatus(record));
    EXPECT_EQ(5, DecoderProcess(record));
    // A failed init still finalizes, once.
    EXPECT_EQ(0, DecoderFinalize(record));
    EXPECT_NE(0, DecoderFinalize(record));
  }
  // Process needs an init, again after each finalize.
  DecoderRecord record = {input.c_str(), output, sizeof(output)};
  EXPECT_EQ(5, DecoderProcess(&record));
  EXPECT_EQ(5, DecoderStatus(&record));
  EXPECT_EQ(0, output[0]);
  ASSERT_EQ(0, DecoderInit(&record));
  DecoderFinalize(&record);
  EXPECT_EQ(5, DecoderProcess(&record));
}

TEST(DecoderJapanese, EachEncodingDecodes) {
  const struct {
    std::string bytes;  // the title's bytes as the job carries them
    std::string utf8;
  } cases[] = {
      {kNihongoSjis, kNihongoUtf8},
      {kNihongoEuc, kNihongoUtf8},
      {"\x1B$BF|K\\8l\x1B(B", kNihongoUtf8},
      {"Excel" + kNihongoSjis + "2024.pdf", "Excel" + kNihongoUtf8 + "2024.pdf"},
      // EUC-JP half-width katakana
      {"\x8E\xB1\x8E\xB2\x8E\xB3\xC6\xFC\xCB\xDC",
       "\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3\xE6\x97\xA5\xE6\x9C\xAC"},
      // ISO-2022-JP: JIS Roman and kana escapes, no return to ASCII
      {"A\x1B$@F|\x1B(JB\x1B(I123\x1B(B",
       "A\xE6\x97\xA5"
       "B\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3"},
      {"\x1B$BF|K\\", "\xE6\x97\xA5\xE6\x9C\xAC"},
  };
  for (const auto& c : cases) {
    const DecodeResult result = Decode(AnsiText(c.bytes));
    EXPECT_TRUE(result.succeeded()) << c.utf8 << " status " << result.status;
    EXPECT_TRUE(result.terminated) << c.utf8;
    EXPECT_EQ(c.utf8, result.utf8);
  }
}

// Failures leave the output alone and name a cause.
TEST(DecoderJapanese, RejectsWhatIsNotJapanese) {
  std::string overlong;
  for (int i = 0; i < 1000; ++i) overlong += kNihongoSjis;
  const struct {
    const char* name;
    std::wstring text;
    int status;
  } cases[] = {
      {"plain ascii", L"Quarterly report.pdf", 3},
      {"empty", L"", 3},
      {"unicode japanese", L"\x5831\x544A\x66F8.pdf", 2},
      // Text already Unicode is never decoded, whatever the cause given.
      {"unicode latin", decoder_test::FromUtf8("R\xC3\xA9sum\xC3\xA9"), 0},
      {"unicode euro", decoder_test::FromUtf8("\xE2\x82\xAC 100"), 0},
      {"greek", L"\x0391\x03B2\x03B3", 2},
      {"lone surrogate",
       L"a\xD800"
       L"b",
       2},
      {"truncated shift_jis lead", AnsiText("\x93\xFA\x96"), 4},
      {"broken iso-2022-jp escape", AnsiText("\x1B$ZF|K\\"), 4},
      {"iso-2022-jp odd pair", AnsiText("\x1B$BF|K\x1B(B"), 4},
      {"iso-2022-jp high byte", AnsiText("\x1B$BF|\x1B(B\xE9"), 4},
      {"escape alone", AnsiText("\x1B(Babc"), 4},
      {"one katakana in latin",
       AnsiText("Stra\xDF"
                "e"),
       4},
      {"accent as kanji inside a word", AnsiText("B\xE9richte"), 4},
      {"single kanji", AnsiText("Mary\x92s Report"), 4},
      {"user-defined area", AnsiText("\xF0\x40\xF0\x41"), 4},
      {"overlong input", AnsiText(overlong), 7},
  };
  for (const auto& c : cases) {
    const DecodeResult result = Decode(c.text);
    EXPECT_FALSE(result.succeeded()) << c.name << " gave " << result.utf8;
    if (c.status) {
      EXPECT_EQ(c.status, result.status) << c.name;
    }
    EXPECT_EQ("", result.utf8) << c.name;
  }
}

TEST(DecoderJapanese, LongOutputIsCutAtACharacterBoundary) {
  std::string bytes, expected;
  for (int i = 0; i < 50; ++i) {
    bytes += kNihongoSjis;  // 150 characters, 450 UTF-8 bytes
    expected += kNihongoUtf8;
  }
  for (DWORD sizeBytes : {2, 3, 4, 5, 10, 270}) {
    const DecodeResult result = Decode(AnsiText(bytes), sizeBytes);
    ASSERT_TRUE(result.succeeded()) << sizeBytes;
    EXPECT_TRUE(result.terminated) << sizeBytes;
    // Three bytes per character: the most whole characters that fit.
    EXPECT_EQ(expected.substr(0, (sizeBytes - 1) / 3 * 3), result.utf8) << sizeBytes;
  }
}

TEST(DecoderConcurrency, RecordsOnManyThreadsKeepTheirOwnStatus) {
  std::vector<int> wrong(6, 0);
  std::vector<std::thread> threads;
  for (size_t t = 0; t < wrong.size(); ++t) {
    threads.emplace_back([&, t] {
      for (size_t i = 0; i < 200; ++i) {
        const bool japanese = (i + t) % 2 == 0;
        const DecodeResult result =
            Decode(japanese ? AnsiText(kNihongoEuc) : std::wstring(L"Caf\xE9 M\xFCller"));
        wrong[t] += japanese ? !(result.succeeded() && result.utf8 == kNihongoUtf8)
                             : result.succeeded() || result.status != 4;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(std::vector<int>(6, 0), wrong);
}

}  // namespace
