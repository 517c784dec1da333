// Title decoders: hex, octal, stripping and the two conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/format/format_test_support.h"

namespace {

using format_test::Bytes;
using format_test::Length;
using format_test::TraceCapture;

const std::wstring kMalformed = L"Malformed octal sequence skipped";

TEST(ASCIIHexToBinary, DigitsOfEitherCaseAndNonDigitsAsZero) {
  const struct {
    const char* pair;
    BYTE value;
  } cases[] = {{"4F", 0x4F}, {"4f", 0x4F}, {"4g", 0x40}, {"  ", 0x00}, {"ff", 0xFF},
               {"A9", 0xA9}, {"9a", 0x9A}, {">4", 0x04}, {"G0", 0x00}, {"\r\n", 0x00}};
  for (const auto& c : cases) EXPECT_EQ(ASCIIHexToBinary(Bytes(c.pair)), c.value) << c.pair;
}

// The block's end stands for a terminator in both hex decoders: a cut group
// is completed with 0 digits and nothing behind the block is read.
TEST(DecodeUnicodeFromASCIIHex, MarkGroupsEndAndCapacity) {
  std::string longHex = "FEFF";
  for (int i = 0; i < 300; ++i) longHex += "0058";
  const struct {
    std::string hex;
    std::wstring title;
  } cases[] = {
      {"FEFF00410042>\n%", L"AB"},
      {"feff00410042>\n%", L""},  // the mark is compared exactly
      {"FEFF00410042>\r\nX", L"AB"},
      {"FEFF00E965E5672C>\n", L"\u00e9\u65e5\u672c"},
      {"FEFF", L""},
      {"FEF", L""},
      {"", L""},
      {"FEFF00410042", L"AB"},
      {"FEFF0041004", L"A@"},
      {"FEFF004100", L"A"},
      {longHex, std::wstring(260, L'X')},  // the rest left untouched
  };
  for (const auto& c : cases) {
    WCHAR title[300] = {};
    DecodeUnicodeFromASCIIHex(Bytes(c.hex), Length(c.hex), title);
    EXPECT_EQ(std::wstring(title), c.title) << c.hex.substr(0, 20);
  }
}

TEST(DecodeASCIIFromASCIHex, PairsOddDigitsEndAndCapacity) {
  const struct {
    std::string hex;
    std::string bytes;
  } cases[] = {
      {"41424>\r\n", "AB\x40"},
      {"4d6963726f736f6674>\n", "Microsoft"},
      {"E4F6FC>\n", "\xE4\xF6\xFC"},
      {">\n", ""},
      {"", ""},
      {"4142", "AB"},
      {"414", "A\x40"},
      {std::string(800, '5'), std::string(259, 'U')},  // cut at 259 bytes
  };
  for (const auto& c : cases) {
    BYTE work[kTitleWorkBytes + 1];
    std::memset(work, 0xAA, sizeof(work));
    DecodeASCIIFromASCIHex(Bytes(c.hex), Length(c.hex), work);
    EXPECT_EQ(work[kTitleWorkBytes], 0xAA) << "wrote past the work buffer";
    EXPECT_NE(std::memchr(work, 0, kTitleWorkBytes), nullptr) << "not terminated";
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(work),
                          strnlen(reinterpret_cast<const char*>(work), kTitleWorkBytes)),
              c.bytes)
        << c.hex.substr(0, 20);
  }
}

TEST(StripWhitespace, FrontBlanksOnlyBackBlanksAndLineEnds) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"  ab  \r\n", "ab"}, {"\r\nab", "\r\nab"}, {"\tab\t", "\tab\t"}, {"    ", ""}, {"", ""},
      {"a \n \r", "a"}};
  for (const auto& c : cases) {
    const BYTE* start = Bytes(c.in);
    DWORD count = Length(c.in);
    StripWhitespace(&start, &count);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(start), count), c.out) << c.in;
  }
}

TEST(DecodeOctalSequences, EscapesControlBytesAndMalformedTails) {
  const struct {
    std::string in;
    std::string out;
    bool malformed;
  } cases[] = {
      {"(\\101\\102)", "(AB)", false},
      {"abc\\10", "abc", true},
      {"abc\\", "abc", true},
      {"\\374b",
       "\xFC"
       "b",
       false},
      {"\\001x", "\x01x", false},
      {"a\\000b", std::string("a\0b", 3), false},
      {"\\777", "\xFF", false},  // kept to its low 8 bits
      {"\\(ab",
       std::string(1, static_cast<char>((('(' - 48) * 64 + ('a' - 48) * 8 + 'b' - 48) & 0xFF)),
       false},
      {"", "", false},
  };
  for (const auto& c : cases) {
    TraceCapture traces;
    BYTE out[64];
    std::memset(out, 0xAA, sizeof(out));
    const DWORD stored = DecodeOctalSequences(Bytes(c.in), out, Length(c.in));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), stored), c.out) << c.in;
    EXPECT_EQ(out[stored], 0) << c.in;
    EXPECT_EQ(traces.Contains(kMalformed), c.malformed) << c.in;
  }
}

std::wstring Office(const std::string& line, int* result = nullptr) {
  WCHAR title[kMaxTitleChars + 10] = {};
  const int converted = DecodeMSOfiiceTitle(Bytes(line), Length(line), title);
  if (result) *result = converted;
  return title;
}

std::wstring MacUtf8(const std::string& line) {
  WCHAR title[kMaxTitleChars + 10] = {};
  DecodeMacUTF8(Bytes(line), Length(line), title);
  return title;
}

// The same line through the ANSI (1252) and the UTF-8 path.
TEST(EscapedTitleLines, AnsiAndUtf8Paths) {
  const std::string cut = std::string(257, 'y') + "\\101\\102";
  const struct {
    std::string line;
    std::wstring office;
    const wchar_t* mac;  // null: as office; empty: not checked
  } cases[] = {
      {"(\\101\\102)", L"AB", nullptr},
      {"abc\\10", L"abc", nullptr},
      {"  ( Report )  \r", L" Report ", nullptr},
      {"<414243>", L"414243", nullptr},  // angle brackets are not hex-decoded
      {"(Report", L"(Report", nullptr},
      {"Report)", L"Report)", nullptr},
      {"()", L"", nullptr},
      {"(", L"(", nullptr},
      // A decoded zero ends the title; control bytes stay.
      {"(A\\000B)", L"A", nullptr},
      {"(A\\001B)",
       L"A\x01"
       L"B",
       nullptr},
      {"(Pr\\374fung)", L"Pr\u00fcfung", L""},
      {"(Gr\\303\\274\\303\\237e)", L"Gr\u00c3\u00bc\u00c3\u0178e", L"Gr\u00fc\u00dfe"},
      // \377 is no UTF-8: the platform's lenient conversion gives U+FFFD.
      {"(\\377)", L"\u00ff", L"\ufffd"},
      {std::string(300, 'x'), std::wstring(259, L'x'), nullptr},
      {cut, std::wstring(257, L'y'), L""},  // the cut falls inside an escape
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Office(c.line), c.office) << c.line;
    if (!c.mac || *c.mac) {
      EXPECT_EQ(MacUtf8(c.line), c.mac ? c.mac : c.office) << c.line;
    }
  }
  TraceCapture traces;
  Office(cut);
  EXPECT_TRUE(traces.Contains(kMalformed));
}

TEST(EscapedTitleLines, ResultsAndSuccessTrace) {
  int result = -1;
  EXPECT_EQ(Office("(Brief)", &result), L"Brief");
  EXPECT_EQ(result, 5);
  EXPECT_EQ(Office("()", &result), L"");
  EXPECT_EQ(result, 0);  // an empty input does not convert
  TraceCapture traces;
  EXPECT_EQ(MacUtf8("(\\000abc)"), L"");
  EXPECT_FALSE(traces.Contains(L"Successfull"));
  EXPECT_EQ(MacUtf8("(Brief)"), L"Brief");
  EXPECT_TRUE(traces.Contains(L"Successfull"));
}

TEST(Conversions, CapacityIs260UnitsAndNoTerminatorIsAdded) {
  const std::string fits(260, 'a'), tooLong(261, 'a');
  for (auto convert : {DecodeANSIToUnicode, DecodeUTF8ToUnicode}) {
    WCHAR title[300];
    for (WCHAR& unit : title) unit = 0x1234;
    EXPECT_EQ(convert(Bytes(fits), 260, title), 260);
    EXPECT_EQ(title[259], L'a');
    EXPECT_EQ(title[260], 0x1234);
    for (WCHAR& unit : title) unit = 0x1234;
    EXPECT_EQ(convert(Bytes(tooLong), 261, title), 0);
    EXPECT_EQ(title[260], 0x1234) << "wrote past 260 units";
    EXPECT_EQ(convert(Bytes(fits), 0, title), 0);
  }
}

}  // namespace
