#include "format/japanese.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr WCHAR kGuard = 0xABCD;

// Runs a pass into a destination of capacityChars with guard units behind
// it; fails the test if the pass writes past the capacity or leaves the
// destination unterminated.
std::wstring RunPass(void (*pass)(const WCHAR*, WCHAR*, DWORD), const std::wstring& source,
                     DWORD capacityChars) {
  std::vector<WCHAR> destination(capacityChars + 8, kGuard);
  pass(source.c_str(), destination.data(), capacityChars);
  for (size_t i = capacityChars; i < destination.size(); ++i) {
    EXPECT_EQ(kGuard, destination[i]) << "written past the capacity at " << i;
  }
  size_t length = 0;
  while (length < capacityChars && destination[length]) ++length;
  EXPECT_LT(length, capacityChars) << "destination not terminated";
  return std::wstring(destination.data(), length);
}

std::wstring FromAnsi(const std::string& bytes) {
  std::wstring text(bytes.size() * 2 + 1, L'\0');
  int chars = MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()), &text[0],
                                  static_cast<int>(text.size()));
  text.resize(static_cast<size_t>(chars));
  return text;
}

TEST(Wcshextob, MapsHexDigitsAndNothingElse) {
  const struct {
    WCHAR character;
    BYTE value;
  } cases[] = {{L'0', 0},   {L'9', 9},   {L'a', 10},    {L'f', 15},   {L'A', 10},  {L'F', 15},
               {L'g', 255}, {L'G', 255}, {L'/', 255},   {L':', 255},  {L'@', 255}, {L'`', 255},
               {L' ', 255}, {0, 255},    {0xFF10, 255}, {0xFF21, 255}};
  for (const auto& c : cases) EXPECT_EQ(c.value, wcshextob(c.character)) << int(c.character);
}

struct HexCase {
  const wchar_t* source;
  const wchar_t* expected;
};

TEST(CheckForJapaneseEncoding1, HexStringsAndTheTextsLeftAlone) {
  const HexCase cases[] = {
      {L"<E697A5E69CAC>", L"\x65E5\x672C"},
      {L"<e697a5e69cac>", L"\x65E5\x672C"},
      {L"   <4142>", L"AB"},
      {L"Report", L"Report"},
      {L"   Report", L"Report"},
      {L"<>", L""},
      {L"<41 42>", L"<41 42>"},
      {L"<41G2>", L"<41G2>"},
      {L"<414>", L"A"},
      {L"<4142>rest>", L"AB"},
      {L"<4142", L"<4142"},
      {L"", L""},
      {L"   ", L""},
      {L"<", L"<"},
      {L">", L">"},
      {L"\t<4142>", L"\t<4142>"},
      // Full-width digits are in the platform's digit class but have no value.
      {L"<\xFF14\xFF11>", L"<\xFF14\xFF11>"},
      // Invalid UTF-8 converts the platform's lenient way.
      {L"<FF41>",
       L"\xFFFD"
       L"A"},
      // A zero byte ends the text.
      {L"<410042>", L"A"},
  };
  for (const HexCase& c : cases) {
    EXPECT_EQ(std::wstring(c.expected), RunPass(CheckForJapaneseEncoding1, c.source, 260))
        << "source: " << std::string(c.source, c.source + wcslen(c.source));
  }
}

TEST(CheckForJapaneseEncoding1, LongTextsAreCutAndTerminated) {
  std::wstring longText(300, L'x');
  EXPECT_EQ(std::wstring(259, L'x'), RunPass(CheckForJapaneseEncoding1, longText, 260));
  // 269 units of a hex string: 133 bytes fit a 260-byte buffer.
  std::wstring hex = L"<";
  for (int i = 0; i < 133; ++i) hex += L"41";
  hex += L">";
  EXPECT_EQ(std::wstring(133, L'A'), RunPass(CheckForJapaneseEncoding1, hex, 260));
  // More bytes than the buffer holds: the text stays as it was, cut.
  EXPECT_EQ(hex.substr(0, 9), RunPass(CheckForJapaneseEncoding1, hex, 10));
  // Bytes beyond a small destination's buffer: the copy stays.
  EXPECT_EQ(L"<41414", RunPass(CheckForJapaneseEncoding1, L"<41414141414141>", 7));
  // No half surrogate pair at the cut.
  EXPECT_EQ(L"ab", RunPass(CheckForJapaneseEncoding1, L"ab\xD83D\xDE00z", 4));
}

TEST(CheckForJapaneseEncoding1, CapacityZeroTouchesNothing) {
  WCHAR destination[2] = {kGuard, kGuard};
  CheckForJapaneseEncoding1(L"<4142>", destination, 0);
  EXPECT_EQ(kGuard, destination[0]);
}

TEST(CheckForJapaneseEncoding, DecodesJapaneseBytesAndKeepsEverythingElse) {
  ASSERT_EQ(1252u, GetACP());
  const struct {
    const char* name;
    std::wstring source;
    std::wstring expected;
  } cases[] = {
      {"shift_jis", FromAnsi("\x93\xFA\x96\x7B\x8C\xEA.pdf"), L"\x65E5\x672C\x8A9E.pdf"},
      {"euc-jp", FromAnsi("\xC6\xFC\xCB\xDC\xB8\xEC"), L"\x65E5\x672C\x8A9E"},
      {"iso-2022-jp", FromAnsi("\x1B$BF|K\\8l\x1B(B"), L"\x65E5\x672C\x8A9E"},
      {"western", L"R\xE9sum\xE9", L"R\xE9sum\xE9"},
      {"western sharp s",
       L"Stra\xDF"
       L"e",
       L"Stra\xDF"
       L"e"},
      {"unicode japanese", L"\x5831\x544A\x66F8.pdf", L"\x5831\x544A\x66F8.pdf"},
      {"ascii", L"Printer, Job 12", L"Printer, Job 12"},
      {"empty", L"", L""},
      {"leading spaces kept", L"  x", L"  x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.expected, RunPass(CheckForJapaneseEncoding, c.source, 270)) << c.name;
  }
}

TEST(CheckForJapaneseEncoding, LongTextsAreCutAndTerminated) {
  std::wstring documentName(300, L'd');
  EXPECT_EQ(std::wstring(269, L'd'), RunPass(CheckForJapaneseEncoding, documentName, 270));
  EXPECT_EQ(std::wstring(), RunPass(CheckForJapaneseEncoding, documentName, 1));
  // A decoded title that is longer than the destination is cut by the
  // library to whole characters.
  std::string bytes;
  for (int i = 0; i < 100; ++i) bytes += "\x93\xFA\x96\x7B";
  std::wstring decoded = RunPass(CheckForJapaneseEncoding, FromAnsi(bytes), 270);
  ASSERT_EQ(89u, decoded.size());  // 269 bytes of UTF-8 hold 89 characters
  EXPECT_EQ(std::wstring(L"\x65E5\x672C"), decoded.substr(0, 2));
}

TEST(JapanesePasses, BothInOrderAsThePipelineRunsThem) {
  WCHAR first[270];
  WCHAR second[260];
  CheckForJapaneseEncoding(L"  <E5A0B1E5918A>", first, 270);
  CheckForJapaneseEncoding1(first, second, 260);
  EXPECT_EQ(std::wstring(L"\x5831\x544A"), second);
}

}  // namespace
