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
  } cases[] = {
      {"4F", 0x4F}, {"4f", 0x4F}, {"4g", 0x40}, {"  ", 0x00}, {"00", 0x00}, {"ff", 0xFF},
      {"FF", 0xFF}, {"A9", 0xA9}, {"9a", 0x9A}, {">4", 0x04}, {"G0", 0x00}, {"\r\n", 0x00},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(ASCIIHexToBinary(reinterpret_cast<const BYTE*>(c.pair)), c.value) << c.pair;
  }
}

std::wstring DecodeHex16(const std::string& hex) {
  WCHAR title[kMaxTitleChars + 10] = {};
  DecodeUnicodeFromASCIIHex(Bytes(hex), Length(hex), title);
  return title;
}

TEST(DecodeUnicodeFromASCIIHex, MarkGroupsAndEnd) {
  const struct {
    std::string hex;
    std::wstring title;
  } cases[] = {
      {"FEFF00410042>\n%", L"AB"},
      {"feff00410042>\n%", L""},  // the mark is compared exactly
      {"FEfF00410042>\n%", L""},
      {"FEFF00410042>\r\nX", L"AB"},  // ">\r" gives 0 high, "\nX" 0 low
      {"FEFF00E965E5672C>\n", L"\u00e9\u65e5\u672c"},
      {"FEFF", L""},
      {"FEF", L""},
      {"", L""},
      // The block's end stands for a terminator: no read beyond it.
      {"FEFF00410042", L"AB"},
      {"FEFF0041004", L"A@"},  // a cut group is completed with 0 digits
      {"FEFF004100", L"A"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeHex16(c.hex), c.title) << c.hex;
}

TEST(DecodeUnicodeFromASCIIHex, StopsAfter260UnitsLeavingTheRestUntouched) {
  std::string hex = "FEFF";
  for (int i = 0; i < 300; ++i) hex += "0058";
  WCHAR title[300] = {};
  DecodeUnicodeFromASCIIHex(Bytes(hex), Length(hex), title);
  EXPECT_EQ(std::wstring(title), std::wstring(260, L'X'));
  EXPECT_EQ(title[260], 0);
}

std::string DecodeHexBytes(const std::string& hex, size_t* storedBytes = nullptr) {
  BYTE work[kTitleWorkBytes + 1];
  std::memset(work, 0xAA, sizeof(work));
  DecodeASCIIFromASCIHex(Bytes(hex), Length(hex), work);
  EXPECT_EQ(work[kTitleWorkBytes], 0xAA) << "wrote past the work buffer";
  const void* zero = std::memchr(work, 0, kTitleWorkBytes);
  EXPECT_NE(zero, nullptr) << "not terminated";
  const size_t count = zero ? static_cast<const BYTE*>(zero) - work : kTitleWorkBytes;
  if (storedBytes) *storedBytes = count;
  return std::string(reinterpret_cast<const char*>(work), count);
}

TEST(DecodeASCIIFromASCIHex, PairsOddDigitsAndEnd) {
  const struct {
    std::string hex;
    std::string bytes;
  } cases[] = {
      {"41424>\r\n", "AB\x40"},
      {"4142>\n", "AB"},
      {"4d6963726f736f6674>\n", "Microsoft"},
      {"E4F6FC>\n", "\xE4\xF6\xFC"},
      {">\n", ""},
      {"", ""},
      {"4142", "AB"},  // the block ends right behind the digits
      {"414", "A\x40"},
  };
  for (const auto& c : cases) EXPECT_EQ(DecodeHexBytes(c.hex), c.bytes) << c.hex;
}

TEST(DecodeASCIIFromASCIHex, CutsAt259BytesAndTerminates) {
  std::string hex;
  for (int i = 0; i < 400; ++i) hex += "5A";
  size_t stored = 0;
  EXPECT_EQ(DecodeHexBytes(hex, &stored), std::string(259, 'Z'));
  EXPECT_EQ(stored, 259u);
}

TEST(StripWhitespace, FrontBlanksOnlyBackBlanksAndLineEnds) {
  const struct {
    std::string in;
    std::string out;
  } cases[] = {
      {"  ab  \r\n", "ab"}, {"\r\nab", "\r\nab"}, {"\tab\t", "\tab\t"}, {"    ", ""}, {"", ""},
      {" (x) ", "(x)"},     {"a \n \r", "a"},     {"\n", ""},
  };
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
      {"\\001x", std::string("\x01x"), false},
      {"a\\000b", std::string("a\0b", 3), false},
      {"\\377", "\xFF", false},
      {"\\777", "\xFF", false},  // kept to its low 8 bits
      {"\\(ab",
       std::string(1, static_cast<char>(((('(' - 48) * 64) + ('a' - 48) * 8 + ('b' - 48)) & 0xFF)),
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

// Cases whose result is the same through the ANSI (1252) and UTF-8 paths.
TEST(EscapedTitleLines, SharedStepsInBothPaths) {
  const struct {
    std::string line;
    std::wstring title;
  } cases[] = {
      {"(\\101\\102)", L"AB"},
      {"abc\\10", L"abc"},
      {"( Report )", L" Report "},
      {"  (Report)  \r", L"Report"},
      {"<414243>", L"414243"},  // angle brackets are not hex-decoded
      {"(Report", L"(Report"},
      {"Report)", L"Report)"},
      {"()", L""},
      {"     ", L""},
      {"(", L"("},
      // A decoded zero ends the title; control bytes stay.
      {"(A\\000B)", L"A"},
      {"(\\000)", L""},
      {"(A\\001B)",
       L"A\x01"
       L"B"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Office(c.line), c.title) << c.line;
    EXPECT_EQ(MacUtf8(c.line), c.title) << c.line;
  }
}

TEST(EscapedTitleLines, AnsiAndUtf8ReadTheSameEscapesDifferently) {
  EXPECT_EQ(Office("(Pr\\374fung)"), L"Pr\u00fcfung");
  EXPECT_EQ(MacUtf8("(Gr\\303\\274\\303\\237e)"), L"Gr\u00fc\u00dfe");
  EXPECT_EQ(Office("(Gr\\303\\274\\303\\237e)"), L"Gr\u00c3\u00bc\u00c3\u0178e");
  EXPECT_EQ(Office("(\\377)"), L"\u00ff");
  // \377 is no UTF-8: the platform's lenient conversion gives U+FFFD.
  EXPECT_EQ(MacUtf8("(\\377)"), L"\ufffd");
}

TEST(EscapedTitleLines, LongLinesAreCutAt259Bytes) {
  const std::string plain(300, 'x');
  EXPECT_EQ(Office(plain), std::wstring(259, L'x'));
  EXPECT_EQ(MacUtf8(plain), std::wstring(259, L'x'));

  // The cut falls inside an escape: decoding stops before it.
  std::string cut(257, 'y');
  cut += "\\101\\102";
  TraceCapture traces;
  EXPECT_EQ(Office(cut), std::wstring(257, L'y'));
  EXPECT_TRUE(traces.Contains(kMalformed));
}

TEST(EscapedTitleLines, ResultsAndSuccessTrace) {
  int result = -1;
  EXPECT_EQ(Office("(Brief)", &result), L"Brief");
  EXPECT_EQ(result, 5);
  EXPECT_EQ(Office("()", &result), L"");
  EXPECT_EQ(result, 0);  // an empty input does not convert

  {
    TraceCapture traces;
    EXPECT_EQ(MacUtf8("(Brief)"), L"Brief");
    EXPECT_TRUE(traces.Contains(L"Successfull"));
  }
  {
    TraceCapture traces;
    EXPECT_EQ(MacUtf8("(\\000abc)"), L"");
    EXPECT_FALSE(traces.Contains(L"Successfull"));
  }
}

TEST(Conversions, CapacityIs260UnitsAndNoTerminatorIsAdded) {
  WCHAR title[300];
  for (WCHAR& unit : title) unit = 0x1234;
  const std::string fits(260, 'a');
  EXPECT_EQ(DecodeANSIToUnicode(Bytes(fits), 260, title), 260);
  EXPECT_EQ(title[259], L'a');
  EXPECT_EQ(title[260], 0x1234);

  for (WCHAR& unit : title) unit = 0x1234;
  EXPECT_EQ(DecodeUTF8ToUnicode(Bytes(fits), 260, title), 260);
  EXPECT_EQ(title[260], 0x1234);

  const std::string tooLong(261, 'a');
  EXPECT_EQ(DecodeANSIToUnicode(Bytes(tooLong), 261, title), 0);
  EXPECT_EQ(DecodeUTF8ToUnicode(Bytes(tooLong), 261, title), 0);
  EXPECT_EQ(title[260], 0x1234) << "wrote past 260 units";
  EXPECT_EQ(DecodeANSIToUnicode(Bytes(fits), 0, title), 0);
}

}  // namespace
