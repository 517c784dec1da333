#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/ostralib/decoder_support.h"

using decoder_test::AnsiText;
using decoder_test::Decode;
using decoder_test::DecodeResult;
using decoder_test::Encode;
using decoder_test::FromUtf8;
using decoder_test::Succeeded;

namespace {

const std::string kNihongoUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";  // 日本語
const std::string kNihongoSjis = "\x93\xFA\x96\x7B\x8C\xEA";
const std::string kNihongoEuc = "\xC6\xFC\xCB\xDC\xB8\xEC";
const std::string kNihongoJis = "\x1B$BF|K\\8l\x1B(B";

TEST(DecoderRecordContract, InitRefusesUnusableRecords) {
  EXPECT_NE(0, DecoderInit(nullptr));
  EXPECT_EQ(1, DecoderStatus(nullptr));
  EXPECT_NE(0, DecoderFinalize(nullptr));

  BYTE output[8] = {};
  const WCHAR* input = L"x";
  DecoderRecord noInput = {nullptr, output, sizeof(output)};
  DecoderRecord noOutput = {input, nullptr, 8};
  DecoderRecord tooSmall = {input, output, 1};
  for (DecoderRecord* record : {&noInput, &noOutput, &tooSmall}) {
    EXPECT_NE(0, DecoderInit(record));
    EXPECT_EQ(1, DecoderStatus(record));
    // A record whose init failed still finalizes, and then is unknown.
    EXPECT_EQ(0, DecoderFinalize(record));
    EXPECT_NE(0, DecoderFinalize(record));
  }
}

TEST(DecoderRecordContract, ProcessNeedsASuccessfulInit) {
  BYTE output[16] = {};
  std::wstring input = AnsiText(kNihongoSjis);
  DecoderRecord record = {input.c_str(), output, sizeof(output)};
  EXPECT_EQ(5, DecoderProcess(&record));
  EXPECT_EQ(5, DecoderStatus(&record));
  EXPECT_EQ(0, output[0]);
  DecoderRecord failed = {input.c_str(), output, 1};
  EXPECT_NE(0, DecoderInit(&failed));
  EXPECT_EQ(5, DecoderProcess(&failed));
  DecoderFinalize(&failed);
  // After finalize the record must be initialised again.
  ASSERT_EQ(0, DecoderInit(&record));
  DecoderFinalize(&record);
  EXPECT_EQ(5, DecoderProcess(&record));
}

struct DecodeCase {
  const char* name;
  std::string bytes;  // the title's bytes as the job carries them
  std::string expectedUtf8;
};

TEST(DecoderJapanese, EachEncodingDecodes) {
  const DecodeCase cases[] = {
      {"shift_jis", kNihongoSjis, kNihongoUtf8},
      {"euc-jp", kNihongoEuc, kNihongoUtf8},
      {"iso-2022-jp", kNihongoJis, kNihongoUtf8},
      {"shift_jis with ascii", "Excel" + kNihongoSjis + "2024.pdf",
       "Excel" + kNihongoUtf8 + "2024.pdf"},
      {"euc-jp half-width katakana", "\x8E\xB1\x8E\xB2\x8E\xB3\xC6\xFC\xCB\xDC",
       "\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3\xE6\x97\xA5\xE6\x9C\xAC"},
      {"iso-2022-jp jis-roman and kana escapes", "A\x1B$@F|\x1B(JB\x1B(I123\x1B(B",
       "A\xE6\x97\xA5"
       "B\xEF\xBD\xB1\xEF\xBD\xB2\xEF\xBD\xB3"},
      {"iso-2022-jp without return to ascii", "\x1B$BF|K\\", "\xE6\x97\xA5\xE6\x9C\xAC"},
  };
  for (const DecodeCase& c : cases) {
    DecodeResult result = Decode(AnsiText(c.bytes));
    EXPECT_TRUE(Succeeded(result)) << c.name << " status " << result.status;
    EXPECT_TRUE(result.terminated) << c.name;
    EXPECT_EQ(c.expectedUtf8, result.utf8) << c.name;
  }
}

// Failures must leave the output alone and name a cause.
TEST(DecoderJapanese, RejectsWhatIsNotJapanese) {
  struct RejectCase {
    const char* name;
    std::wstring text;
    int status;
  };
  const RejectCase cases[] = {
      {"plain ascii", L"Quarterly report.pdf", 3},
      {"empty", L"", 3},
      {"unicode japanese", L"\x5831\x544A\x66F8.pdf", 2},
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
  };
  for (const RejectCase& c : cases) {
    DecodeResult result = Decode(c.text);
    EXPECT_FALSE(Succeeded(result)) << c.name << " gave " << result.utf8;
    EXPECT_EQ(c.status, result.status) << c.name;
    EXPECT_EQ("", result.utf8) << c.name;
  }
}

TEST(DecoderJapanese, LongOutputIsCutAtACharacterBoundary) {
  std::string bytes;
  for (int i = 0; i < 50; ++i) bytes += kNihongoSjis;  // 150 characters, 450 UTF-8 bytes
  const DWORD sizes[] = {2, 3, 4, 5, 10, 270};
  for (DWORD sizeBytes : sizes) {
    DecodeResult result = Decode(AnsiText(bytes), sizeBytes);
    ASSERT_TRUE(Succeeded(result)) << sizeBytes;
    EXPECT_TRUE(result.terminated) << sizeBytes;
    // Three bytes per character: the most whole characters that fit.
    EXPECT_EQ((sizeBytes - 1) / 3 * 3, result.utf8.size()) << sizeBytes;
    std::string expected;
    for (int i = 0; i < 50; ++i) expected += kNihongoUtf8;
    EXPECT_EQ(expected.substr(0, result.utf8.size()), result.utf8) << sizeBytes;
  }
}

TEST(DecoderJapanese, OverlongInputIsRefused) {
  std::string bytes;
  for (int i = 0; i < 1000; ++i) bytes += kNihongoSjis;
  DecodeResult result = Decode(AnsiText(bytes));
  EXPECT_FALSE(Succeeded(result));
  EXPECT_EQ(7, result.status);
}

struct ThreadArgs {
  int index;
  int wrong;
};

DWORD WINAPI DecodeRepeatedly(void* parameter) {
  ThreadArgs* args = static_cast<ThreadArgs*>(parameter);
  for (int i = 0; i < 200; ++i) {
    bool japanese = (i + args->index) % 2 == 0;
    DecodeResult result =
        Decode(japanese ? AnsiText(kNihongoEuc) : std::wstring(L"Caf\xE9 M\xFCller"));
    bool right = japanese ? Succeeded(result) && result.utf8 == kNihongoUtf8
                          : !Succeeded(result) && result.status == 4;
    if (!right) ++args->wrong;
  }
  return 0;
}

TEST(DecoderConcurrency, RecordsOnManyThreadsKeepTheirOwnStatus) {
  const int kThreads = 6;
  ThreadArgs args[kThreads];
  HANDLE threads[kThreads];
  for (int i = 0; i < kThreads; ++i) {
    args[i] = {i, 0};
    threads[i] = CreateThread(nullptr, 0, DecodeRepeatedly, &args[i], 0, nullptr);
    ASSERT_NE(nullptr, threads[i]);
  }
  WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
  for (int i = 0; i < kThreads; ++i) {
    CloseHandle(threads[i]);
    EXPECT_EQ(0, args[i].wrong) << "thread " << i;
  }
}

// Text that is already Unicode, or Western text, must never be decoded.
TEST(DecoderJapanese, RealUnicodeTitlesComeBackUnchanged) {
  const char* titles[] = {"\xE5\xA0\xB1\xE5\x91\x8A\xE6\x9B\xB8.pdf",  // 報告書.pdf
                          "R\xC3\xA9sum\xC3\xA9", "\xE2\x82\xAC 100"};
  for (const char* title : titles) {
    DecodeResult result = Decode(FromUtf8(title));
    EXPECT_FALSE(Succeeded(result)) << title;
  }
}

}  // namespace
