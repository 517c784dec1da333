// Title decoders: hex, octal, stripping and the two conversions.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "tests/format/format_test_support.h"

namespace {

TEST(ASCIIHexToBinary, DigitsOfEitherCaseAndNonDigitsAsZero) {
  const std::pair<const char*, BYTE> cases[] = {
      {"4F", 0x4F}, {"4f", 0x4F}, {"4g", 0x40}, {"G0", 0x00}, {"9a", 0x9A}};
  for (const auto& c : cases) EXPECT_EQ(ASCIIHexToBinary(Bytes(c.first)), c.second) << c.first;
}

// A hex title ends at its ">", its line's end or the block's end, whichever
// comes first: a cut group is completed with 0 digits and nothing behind the
// title is read. The mark is compared exactly.
TEST(HexDecoders, MarkGroupsEndAndCapacity) {
  std::string longHex = "FEFF";
  for (int i = 0; i < 300; ++i) longHex += "0058";
  const std::pair<std::string, std::wstring> unicode[] = {
      {"FEFF00410042>\n%", L"AB"},
      {"feff00410042>\n%", L""},
      {"FEFF00E965E5672C>\n", L"\u00e9\u65e5\u672c"},
      {"FEF", L""},
      {"FEFF00410042", L"AB"},
      {"FEFF0041004", L"A@"},
      {"FEFF00520065007>\n%%EndComments\n", L"Rep"},
      {longHex, std::wstring(260, L'X')}};
  for (const auto& c : unicode) {
    WCHAR title[300] = {};
    DecodeUnicodeFromASCIIHex(Bytes(c.first), Length(c.first), title);
    EXPECT_EQ(std::wstring(title), c.second) << c.first.substr(0, 20);
  }
  const std::pair<std::string, std::string> ascii[] = {
      {"41424>\r\n", "AB\x40"},
      {"E4F6FC>\n", "\xE4\xF6\xFC"},
      {"4142", "AB"},
      {"414", "A\x40"},
      {"41424>\n4344", "AB\x40"},
      {"4142\r4344>", "AB"},
      {std::string(800, '5'), std::string(259, 'U')}};
  for (const auto& c : ascii) {
    BYTE work[kTitleWorkBytes + 1];
    std::memset(work, 0xAA, sizeof(work));
    DecodeASCIIFromASCIHex(Bytes(c.first), Length(c.first), work);
    EXPECT_EQ(work[kTitleWorkBytes], 0xAA) << "wrote past the work buffer";
    const char* text = reinterpret_cast<const char*>(work);
    EXPECT_LT(strnlen(text, kTitleWorkBytes), kTitleWorkBytes) << "not terminated";
    EXPECT_EQ(std::string(text, strnlen(text, kTitleWorkBytes)), c.second) << c.first.substr(0, 9);
  }
}

TEST(StripWhitespace, FrontBlanksOnlyBackBlanksAndLineEnds) {
  const std::pair<std::string, std::string> cases[] = {{"  ab  \r\n", "ab"},
                                                       {"\r\nab", "\r\nab"},
                                                       {"\tab\t", "\tab\t"},
                                                       {"    ", ""},
                                                       {"a \n \r", "a"}};
  for (const auto& c : cases) {
    const BYTE* start = Bytes(c.first);
    DWORD count = Length(c.first);
    StripWhitespace(&start, &count);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(start), count), c.second) << c.first;
  }
}

TEST(DecodeOctalSequences, EscapesControlBytesAndMalformedTails) {
  const std::pair<std::string, std::string> cases[] = {
      {"(\\101\\102)", "(AB)"},
      {"abc\\10", "abc!"},
      {"abc\\", "abc!"},
      {"\\001x", "\x01x"},
      {"a\\000b", std::string("a\0b", 3)},
      {"\\777", "\xFF"},  // kept to its low 8 bits
      {"\\(ab", std::string(1, static_cast<char>(-8 * 64 + 49 * 8 + 50))},
      {"", ""}};
  for (const auto& c : cases) {
    TraceCapture traces;
    BYTE out[64];
    std::memset(out, 0xAA, sizeof(out));
    const DWORD stored = DecodeOctalSequences(Bytes(c.first), out, Length(c.first));
    EXPECT_EQ(out[stored], 0) << c.first;
    // "!" marks a malformed tail, reported by a trace.
    const std::string expected = c.second.substr(0, c.second.find('!'));
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out), stored), expected) << c.first;
    EXPECT_EQ(traces.Contains(L"Malformed octal sequence skipped"), expected != c.second);
  }
}

// The same line through the ANSI (1252) and the UTF-8 path.
TEST(EscapedTitleLines, AnsiAndUtf8Paths) {
  const std::string cut = std::string(257, 'y') + "\\101\\102";
  const struct {
    std::string line;
    std::wstring office;
    const wchar_t* mac;  // null: as office; empty: not checked
  } cases[] = {{"(\\101\\102)", L"AB", nullptr},
               {"abc\\10", L"abc", nullptr},
               {"  ( Report )  \r", L" Report ", nullptr},
               {"<414243>", L"414243", nullptr},  // angle brackets are not hex-decoded
               {"(Report", L"(Report", nullptr},
               {"()", L"", nullptr},
               {"(", L"(", nullptr},
               {"(A\\000B)", L"A", nullptr},  // a decoded zero ends the title
               {"(A\\001B)", L"A\u0001B", nullptr},
               {"(Gr\\303\\274\\303\\237e)", L"Gr\u00c3\u00bc\u00c3\u0178e", L"Gr\u00fc\u00dfe"},
               {"(\\377)", L"\u00ff", L"\ufffd"},  // no UTF-8: converted leniently
               {std::string(300, 'x'), std::wstring(259, L'x'), nullptr},
               {cut, std::wstring(257, L'y'), L""}};  // the cut falls inside an escape
  for (const auto& c : cases) {
    WCHAR office[kMaxTitleChars + 10] = {}, mac[kMaxTitleChars + 10] = {};
    const int converted = DecodeMSOfiiceTitle(Bytes(c.line), Length(c.line), office);
    EXPECT_EQ(std::wstring(office), c.office) << c.line;
    EXPECT_EQ(converted, static_cast<int>(c.office.size())) << c.line;
    if (c.mac && !*c.mac) continue;
    DecodeMacUTF8(Bytes(c.line), Length(c.line), mac);
    EXPECT_EQ(std::wstring(mac), c.mac ? c.mac : c.office) << c.line;
  }
}

TEST(Conversions, CapacityIs260UnitsAndNoTerminatorIsAdded) {
  const std::string tooLong(261, 'a');
  for (auto convert : {DecodeANSIToUnicode, DecodeUTF8ToUnicode}) {
    WCHAR title[300];
    std::fill(title, title + 300, WCHAR(0x1234));
    EXPECT_EQ(convert(Bytes(tooLong), 261, title), 0);
    EXPECT_EQ(convert(Bytes(tooLong), 0, title), 0);
    EXPECT_EQ(convert(Bytes(tooLong), 260, title), 260);
    EXPECT_EQ(title[259], L'a');
    EXPECT_EQ(title[260], 0x1234) << "wrote past 260 units";
  }
}

}  // namespace
