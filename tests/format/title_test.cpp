// Producer detection: the bounded search, the title line, the producer tests
// and the dispatcher's order.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/format/format_test_support.h"

namespace {

using format_test::Bytes;
using format_test::Length;
using format_test::TraceCapture;

const std::string kCopyright =
    "%%Copyright: Copyright(C)2000-2003 Adobe Systems, Inc. All Rights Reserved.\n";

// A match needs one byte behind it inside the block.
TEST(FindSubstringA, BoundedSearchRule) {
  const struct {
    std::string block;
    const char* pattern;
    long position;  // -1: not found
  } cases[] = {
      {"abc%%title: x", "%%Title:", 3},
      {"%%Title:", "%%Title:", -1},
      {"ab%%Title:", "%%Title:", -1},
      {"ab%%Title:x", "%%Title:", 2},
      {"%%TITLE:%%Title: ", "%%title:", 0},
      {"line\n", "\n", -1},
      {"", "a", -1},
      {"ab", "", 0},
      {std::string("a\0%%Title: x", 12), "%%Title:", 2},  // zero bytes are data
  };
  for (const auto& c : cases) {
    const BYTE* found = FindSubstringA(Bytes(c.block), Length(c.block), c.pattern);
    EXPECT_EQ(found ? static_cast<long>(found - Bytes(c.block)) : -1, c.position) << c.block;
    EXPECT_EQ(ContainsSubstringA(Bytes(c.block), Length(c.block), c.pattern),
              c.position >= 0 ? TRUE : FALSE)
        << c.block;
  }
  EXPECT_EQ(FindSubstringA(nullptr, 10, "a"), nullptr);
  EXPECT_EQ(FindSubstringA(Bytes("abc"), 3, nullptr), nullptr);
}

// Without a line feed within the bounded search the title runs to the
// block's end, less a line end there.
TEST(GetTitle, LineEndsAndBlockEnd) {
  const struct {
    std::string block;
    std::string title;
  } cases[] = {
      {"%%Title: Report\r\n%%", "Report"},
      {"%%Title: Report \n%%", "Report "},
      {"%%Title:Report\n%%", "eport"},  // the byte behind the keyword is skipped
      {"%%Title: \r\n%%", ""},
      {"%%Title:\n%%", ""},
      {"%%Title: a\rb\n%%", "a\rb"},  // a lone CR is no line end
      {"%%Title: Report", "Report"},
      {"%%Title: Report\n", "Report"},
      {"%%Title: Report\r\n", "Report"},
      {"%%Title: ", ""},
      {"%%Title:", ""},
  };
  for (const auto& c : cases) {
    const BYTE* start = nullptr;
    const BYTE* end = nullptr;
    GetTitle(Bytes(c.block), Length(c.block), &start, &end);
    ASSERT_TRUE(start >= Bytes(c.block) && start <= end && end <= Bytes(c.block) + c.block.size())
        << c.block;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(start), end - start), c.title) << c.block;
  }
}

TEST(ProducerTests, CommentValues) {
  using Test = BOOL (*)(const BYTE*, DWORD);
  const struct {
    Test test;
    std::string block;
    BOOL expected;
  } cases[] = {
      {IsMacOS, "%ado_dsc_encoding: macos japanese\n", TRUE},
      {IsMacOS, "%ADO_DSC_Encoding: MacOSX\n", TRUE},
      {IsMacOS, "%ADO_DSC_Encoding:  MacOS\n", FALSE},  // one byte skipped only
      {IsMacOS, "%ADO_DSC_Encoding:\tMacOS\n", TRUE},   // whatever it is
      {IsMacOS, "%ADO_DSC_Encoding: MacO", FALSE},      // cut by the end
      {IsMacOS, "%ADO_DSC_Encoding: MacOS", TRUE},
      {IsMacOS, "%ADO_DSC_Encoding:", FALSE},
      {IsMacOS, "%APL_DSC_Encoding: MacOS\n", FALSE},
      {IsMacOSJapanese, "%ADO_DSC_Encoding: macos japanese\n", TRUE},
      {IsMacOSJapanese, "%ADO_DSC_Encoding: MacOS Roman\n", FALSE},
      {IsMacOSJapanese, "%ADO_DSC_Encoding: MacOS Japanes", FALSE},
      {IsMacOS_UTF8, "%APL_DSC_Encoding: utf8\n", TRUE},
      {IsMacOS_UTF8, "%APL_DSC_Encoding: UTF-8\n", FALSE},
      {IsMacOS_UTF8, "%ADO_DSC_Encoding: UTF8\n", FALSE},
      {IsMSOffice, "%%Creator: PScript5.dll Version 5.2\n", TRUE},
      {IsMSOffice, "%%Creator: Word\n%%Title: PScript5.dll\n", TRUE},
      {IsMSOffice, "%%For: PScript5.dll\n", FALSE},
      {IsMSOffice, "%%Creator: PScript5.dll", FALSE},  // ends at the last byte
      {IsAcrobat8, "%%copyright: copyright(c)2000-2003 adobe systems, inc. all rights reserved.\n",
       TRUE},
      {IsAcrobat8, kCopyright.substr(0, kCopyright.size() - 2), FALSE},
      {IsAcrobat8, "%%Copyright: Copyright(C)2000-2004 Adobe\n", FALSE},
      {IsAcrobat8, "%%Copyright:", FALSE},
      {IsAcrobat9, "ADOBE ACROBAT 9", TRUE},
      {IsAcrobat9, "Adobe Acrobat 9.0", TRUE},
      {IsAcrobat9, "Adobe Acrobat 8.0", FALSE},
      {IsTitleHexEncodedPrefix, " <41>", TRUE},
      {IsTitleHexEncodedPrefix, " <", TRUE},
      {IsTitleHexEncodedPrefix, " ", FALSE},
      {IsTitleHexEncodedPrefix, "", FALSE},
      {IsTitleHexEncodedPrefix, "<41>", FALSE},
      {IsTitleHexEncodedPrefix, "\t<41>", FALSE},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.test(Bytes(c.block), Length(c.block)), c.expected) << c.block;
  }
  // Bounded by the length given, not by a terminator.
  EXPECT_FALSE(IsAcrobat9(Bytes("Adobe Acrobat 9.0"), 14));
}

TEST(ProducerTests, AcrobatCopyrightTraceIsBoundedAndTerminated) {
  // The bytes after the block must not show in the trace.
  const std::string buffer = kCopyright + "SENTINEL";
  TraceCapture traces;
  EXPECT_TRUE(IsAcrobat8(Bytes(buffer), Length(kCopyright)));
  EXPECT_EQ(traces.Texts(),
            std::vector<std::wstring>{std::wstring(kCopyright.begin(), kCopyright.end())});

  const std::string huge = "%%Copyright: x" + std::string(5000, 'y');
  TraceCapture more;
  EXPECT_FALSE(IsAcrobat8(Bytes(huge), Length(huge)));
  ASSERT_EQ(more.Texts().size(), 1u);
  EXPECT_GT(more.Texts()[0].size(), 100u);
  EXPECT_LT(more.Texts()[0].size(), huge.size());
}

const std::string kAcrobat9 = "%%Creator: Adobe Acrobat 9.0\n";
const std::string kMacRoman = "%ADO_DSC_Encoding: MacOS Roman\n";
const std::string kMacJapanese = "%ADO_DSC_Encoding: MacOS Japanese\n";
const std::string kOffice = "%%Creator: PScript5.dll Version 5.2.2\n";
const std::string kMacUtf8 = "%APL_DSC_Encoding: UTF8\n";
const std::string kEnd = "%%EndComments\n";

TEST(IsKnownFormat, DispatchOrder) {
  const struct {
    const char* name;
    std::string block;
    BOOL known;
    std::wstring title;
    const wchar_t* trace;  // the dispatcher's trace, or null for none
  } cases[] = {
      {"acrobat9", kAcrobat9 + kMacRoman + "%%Title: <FEFF00410042>\n" + kEnd, TRUE, L"AB",
       nullptr},
      {"acrobat9 no blank",
       "%%Creator:Adobe Acrobat 9.0\n" + kMacRoman + "%%Title: <FEFF00410042>\n" + kEnd, TRUE,
       L"\u00fe\u00ff", L"xp + word"},
      {"acrobat9 lower mark", kAcrobat9 + kMacRoman + "%%Title: <feff00410042>\n" + kEnd, TRUE, L"",
       nullptr},
      {"acrobat9 not mac", kAcrobat9 + "%%Title: <4142>\n" + kEnd, TRUE, L"AB", L"xp + word"},
      {"acrobat8", kCopyright + kMacRoman + "%%Title: (Doc)  \n" + kEnd, TRUE, L"(Doc)  ",
       L"Acrobat8 is detected"},
      {"acrobat8 japanese", kCopyright + kMacJapanese + "%%Title: (Doc)\n" + kEnd, TRUE, L"(Doc)",
       L"Acrobat8 is detected"},
      {"acrobat8 not mac", kCopyright + "%%Title: (Doc)\n" + kEnd, FALSE, L"", nullptr},
      {"japanese", kMacJapanese + "%%Title: (Doc)\r\n" + kEnd, TRUE, L"(Doc)",
       L"MacOSJapanese is detected"},
      {"japanese empty", kMacJapanese + "%%Title:\r\n" + kEnd, TRUE, L"",
       L"MacOSJapanese is detected"},
      {"hex over office", kOffice + "%%Title: <41424>\r\n" + kEnd, TRUE, L"AB@", L"xp + word"},
      {"hex over utf8", kMacUtf8 + "%%Title: <4142>\n" + kEnd, TRUE, L"AB", L"xp + word"},
      {"hex no producer", "%%Title: <E4>\n" + kEnd, TRUE, L"\u00e4", L"xp + word"},
      {"hex no blank", kOffice + "%%Title:<4142>\n" + kEnd, TRUE, L"4142>", L"MS Office"},
      {"office", kOffice + "%%Title: (Pr\\374fung)\n" + kEnd, TRUE, L"Pr\u00fcfung", L"MS Office"},
      {"office empty", kOffice + "%%Title:\r\n" + kEnd, TRUE, L"", L"MS Office"},
      {"office octal zero", kOffice + "%%Title: (A\\000B)\n" + kEnd, TRUE, L"A", L"MS Office"},
      {"office in title", "%%Creator: Word\n%%Title: PScript5.dll test\n" + kEnd, TRUE,
       L"PScript5.dll test", L"MS Office"},
      {"mac utf8", kMacUtf8 + "%%Title: (Gr\\303\\274\\303\\237e)\n" + kEnd, TRUE,
       L"Gr\u00fc\u00dfe", L"Mac UTF-8"},
      {"mac utf8 octal zero", kMacUtf8 + "%%Title: (\\000\\001)\n" + kEnd, TRUE, L"", L"Mac UTF-8"},
      {"no producer", "%%Creator: Word\n%%Title: Report\n" + kEnd, FALSE, L"", nullptr},
      {"no title", kOffice + kMacRoman + kAcrobat9 + kEnd, FALSE, L"", nullptr},
  };
  const wchar_t* const dispatcherTraces[] = {L"Acrobat8 is detected", L"MacOSJapanese is detected",
                                             L"xp + word", L"MS Office", L"Mac UTF-8"};
  for (const auto& c : cases) {
    WCHAR title[270] = {};
    TraceCapture traces;
    EXPECT_EQ(IsKnownFormat(Bytes(c.block), Length(c.block), title), c.known) << c.name;
    EXPECT_EQ(std::wstring(title), c.title) << c.name;
    for (const wchar_t* trace : dispatcherTraces) {
      EXPECT_EQ(traces.Contains(trace), c.trace && std::wstring(c.trace) == trace) << c.name;
    }
    if (!c.known) {
      for (WCHAR unit : title) ASSERT_EQ(unit, 0) << c.name << ": title buffer touched";
    }
  }
}

TEST(IsKnownFormat, LongTitlesStayWithin260Units) {
  std::string hex16 = "FEFF", hexBytes;
  for (int i = 0; i < 400; ++i) {
    hex16 += "0051";
    hexBytes += "52";
  }
  const struct {
    std::string block;
    size_t titleChars;  // 0: not checked
  } cases[] = {
      {kAcrobat9 + kMacRoman + "%%Title: <" + hex16 + ">\n", 260},
      {"%%Title: <" + hexBytes + ">\n", 259},
      {kCopyright + kMacRoman + "%%Title: " + std::string(400, 'S') + "\n", 0},
      {kOffice + "%%Title: " + std::string(400, 'T') + "\n", 259},
  };
  for (const auto& c : cases) {
    WCHAR title[300] = {};
    title[261] = 0x7777;
    EXPECT_TRUE(IsKnownFormat(Bytes(c.block), Length(c.block), title)) << c.titleChars;
    EXPECT_EQ(title[261], 0x7777) << c.titleChars << ": wrote past 261 units";
    EXPECT_EQ(title[260], 0) << c.titleChars;
    if (c.titleChars) {
      EXPECT_EQ(std::wstring(title).size(), c.titleChars);
    }
  }
}

}  // namespace
