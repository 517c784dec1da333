// Signature check and producer detection: format codes, the plain title copy,
// the bounded search, the producer tests, the dispatcher and buffer bounds.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/format/format_test_support.h"
#include "tests/support/guarded_block.h"

namespace {

const std::string kCopyright =
    "%%Copyright: Copyright(C)2000-2003 Adobe Systems, Inc. All Rights Reserved.\n";
const std::string kAcrobat9 = "%%Creator: Adobe Acrobat 9.0\n";
const std::string kMacRoman = "%ADO_DSC_Encoding: MacOS Roman\n";
const std::string kOffice = "%%Creator: PScript5.dll Version 5.2.2\n";

// A signature needs one byte more than itself.
TEST(CheckSignatures, FormatFromTheBlocksStart) {
  const std::pair<std::string, JobFormat> cases[] = {
      {"%pdf-1.4\n", JobFormat::Pdf},
      {"%PDF", JobFormat::None},
      {"%!ps-adobe-3.0\n", JobFormat::PostScript},
      {"%!VPS-Adobe-3.0\n", JobFormat::Vps},
      {"<?xml version=\"1.0\"?><xpif version=\"1.0\">x", JobFormat::Xpif},
      {"<?xml version=\"1.0\"?><PPML><XPIF>x", JobFormat::Xpif},
      {"<?xml version=\"1.0\"?><PPML>x", JobFormat::Ppml},
      {"<?xml version=\"1.0\"?><job>x", JobFormat::None},
      {" %PDF-1.4\n", JobFormat::None},
      {"", JobFormat::None}};
  for (const auto& c : cases) EXPECT_EQ(Check(c.first).format, c.second) << c.first;
}

// Copied byte by byte up to a line end, a zero byte or the block's end; an
// embedded EPS header after the start skips the title.
TEST(CheckSignatures, PlainTitleCopyAndEmbeddedEps) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"%!PS\n%%Title: Report\r\n%%EndComments\n", L" Report"},
      {"%!PS\n%%Title: R", L" R"},
      {"%!PS\n%%Title:", L""},
      {"%!PS\n%%Title: A\200B\351\n", L" A\u20acB\u00e9"},
      {std::string("%!PS\n%%Title: A\0B\n", 18), L" A"},
      {"%!PS\n%%Title: first\n%%Title: second\n", L" first"},
      {"%!PS\n%%Title:" + std::string(400, 'L') + "\n", std::wstring(269, L'L')},
      {"%!PS-Adobe-3.0\n%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", L""},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", L" logo"},
      {"%!PS-Adobe-3.0\n%%Title: doc\n%!PS-Adobe-3.0 EPSF-3.0\n", L" doc"},
      {"%!PS\n%!ps-adobe-3.0 epsf\n%%Title: x\n", L""}};
  for (const auto& c : cases) {
    const CheckResult result = Check(c.first);
    EXPECT_EQ(result.title, c.second) << c.first;
    EXPECT_FALSE(result.known) << c.first;
  }
  TraceCapture traces;  // the traced block start is cut to 260 units
  Check(std::string(1000, 'Q'));
  EXPECT_TRUE(traces.Contains(std::wstring(260, L'Q')));
}

TEST(CheckSignatures, KnownFlagIsOnlyEverSet) {
  const std::pair<std::string, const wchar_t*> calls[] = {
      {"%!PS\n%%Title: Brief\n", L" Brief"},
      {"%!PS\n%%Creator: PScript5.dll\n%%Title: (Brief)\n", L"Brief"},
      {"%!PS\n%%Title: Brief\n", L" Brief"},
      {"nothing", L""}};
  WCHAR title[270];
  JobFormat format = JobFormat::Pdf;
  BOOL known = FALSE;
  for (const auto& c : calls) {
    CheckSignatures(Bytes(c.first), Length(c.first), title, sizeof(title), &format, &known);
    EXPECT_STREQ(title, c.second);
    EXPECT_EQ(known != FALSE, &c != &calls[0]) << c.first;
  }
  EXPECT_EQ(format, JobFormat::None);
}

// Every title buffer size, against a guard page: nothing written beyond it,
// the title terminated inside it.
TEST(CheckSignatures, SmallTitleBuffersStayBoundedAndTerminated) {
  std::string hex16 = "FEFF";
  for (int i = 0; i < 300; ++i) hex16 += "0048";
  const std::string blocks[] = {"%!PS\n%%Title:" + std::string(400, 'P') + "\n",
                                kAcrobat9 + kMacRoman + "%%Title: <" + hex16 + ">\n",
                                kOffice + "%%Title: (" + std::string(300, 'O') + ")\n"};
  GuardedBlock guard(4096);
  ASSERT_TRUE(guard.valid());
  for (const std::string& block : blocks) {
    for (DWORD sizeBytes : {0u, 1u, 2u, 3u, 4u, 11u, 100u, 520u, 521u, 522u, 524u, 540u}) {
      BYTE* title = guard.Reserve(sizeBytes);
      JobFormat format = JobFormat::Pdf;
      BOOL known = FALSE;
      CheckSignatures(Bytes(block), Length(block),
                      sizeBytes ? reinterpret_cast<WCHAR*>(title) : nullptr, sizeBytes, &format,
                      &known);
      bool terminated = sizeBytes < 2;  // the end is aligned, not the start: read bytewise
      for (DWORD i = 0; i + 1 < sizeBytes && !terminated; i += 2)
        terminated = title[i] == 0 && title[i + 1] == 0;
      EXPECT_TRUE(terminated) << sizeBytes;
    }
  }
}

// A match needs one byte behind it inside the block; zero bytes are data. A
// title line without a line feed runs to the block's end, less a line end
// there; the byte behind the keyword is skipped.
TEST(ProducerDetection, BoundedSearchAndTitleLine) {
  const std::pair<std::string, long> found[] = {{"abc%%title: x", 3},
                                                {"ab%%Title:", -1},
                                                {"ab%%TITLE:x", 2},
                                                {std::string("a\0%%Title: x", 12), 2}};
  for (const auto& c : found) {
    const BYTE* at = FindSubstringA(Bytes(c.first), Length(c.first), "%%Title:");
    EXPECT_EQ(at ? at - Bytes(c.first) : -1, c.second) << c.first;
    EXPECT_EQ(ContainsSubstringA(Bytes(c.first), Length(c.first), "%%Title:"), c.second >= 0);
  }
  const std::string ab = "ab";
  EXPECT_EQ(FindSubstringA(Bytes(ab), 2, ""), Bytes(ab));
  EXPECT_EQ(FindSubstringA(nullptr, 10, "a"), nullptr);
  EXPECT_EQ(FindSubstringA(Bytes("abc"), 3, nullptr), nullptr);
  const std::pair<std::string, std::string> lines[] = {
      {"%%Title: Report\r\n%%", "Report"}, {"%%Title: Report \n%%", "Report "},
      {"%%Title:Report\n%%", "eport"},     {"%%Title: a\rb\n%%", "a\rb"},
      {"%%Title: Report\r\n", "Report"},   {"%%Title:", ""}};
  for (const auto& c : lines) {
    const BYTE *start = nullptr, *end = nullptr;
    GetTitle(Bytes(c.first), Length(c.first), &start, &end);
    ASSERT_TRUE(start >= Bytes(c.first) && start <= end && end <= Bytes(c.first) + c.first.size());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(start), end - start), c.second) << c.first;
  }
}

// Case-insensitive; one byte behind the colon is skipped, whatever it is.
TEST(ProducerDetection, CommentValues) {
  const struct {
    BOOL (*test)(const BYTE*, DWORD);
    std::string block;
    BOOL expected;
  } cases[] = {
      {IsMacOS, "%ado_dsc_encoding: macos japanese\n", TRUE},
      {IsMacOS, "%ADO_DSC_Encoding:  MacOS\n", FALSE},
      {IsMacOS, "%ADO_DSC_Encoding:\tMacOS\n", TRUE},
      {IsMacOS, "%ADO_DSC_Encoding: MacO", FALSE},
      {IsMacOSJapanese, "%ADO_DSC_Encoding: macos japanese\n", TRUE},
      {IsMacOS_UTF8, "%APL_DSC_Encoding: utf8\n", TRUE},
      {IsMSOffice, "%%Creator: Word\n%%Title: PScript5.dll\n", TRUE},
      {IsMSOffice, "%%Creator: PScript5.dll", FALSE},
      {IsAcrobat8, "%%copyright: copyright(c)2000-2003 adobe systems, inc. all rights reserved.\n",
       TRUE},
      {IsAcrobat8, kCopyright.substr(0, kCopyright.size() - 2), FALSE},
      {IsAcrobat9, "ADOBE ACROBAT 9", TRUE},
      {IsTitleHexEncodedPrefix, " <", TRUE},
      {IsTitleHexEncodedPrefix, " ", FALSE},
      {IsTitleHexEncodedPrefix, "<41>", FALSE}};
  for (const auto& c : cases) EXPECT_EQ(c.test(Bytes(c.block), Length(c.block)), c.expected);
  EXPECT_FALSE(IsAcrobat9(Bytes("Adobe Acrobat 9.0"), 14));  // by the length, not a terminator
}

TEST(ProducerDetection, AcrobatCopyrightTraceIsBoundedAndTerminated) {
  const std::string buffer = kCopyright + "SENTINEL";  // must not show in the trace
  TraceCapture traces;
  EXPECT_TRUE(IsAcrobat8(Bytes(buffer), Length(kCopyright)));
  EXPECT_EQ(traces.texts,
            std::vector<std::wstring>{std::wstring(kCopyright.begin(), kCopyright.end())});
  const std::string huge = "%%Copyright: x" + std::string(5000, 'y');
  TraceCapture more;
  EXPECT_FALSE(IsAcrobat8(Bytes(huge), Length(huge)));
  ASSERT_EQ(more.texts.size(), 1u);
  EXPECT_GT(more.texts[0].size(), 100u);
  EXPECT_LT(more.texts[0].size(), huge.size());
}

// Which decoder wins; without the blank after "Creator:" Acrobat 9 is missed
// and the hex bytes decoder takes the title.
TEST(ProducerDetection, DispatchOrder) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"%%Creator:Adobe Acrobat 9.0\n" + kMacRoman + "%%Title: <FEFF00410042>\n", L"\u00fe\u00ff"},
      {kCopyright + kMacRoman + "%%Title: (Doc)  \n", L"(Doc)  "},
      {kOffice + "%%Title: <41424>\r\n", L"AB@"},
      {kOffice + "%%Title:<4142>\n", L"4142>"},
      {"%%Creator: Word\n%%Title: PScript5.dll test\n", L"PScript5.dll test"},
      {kCopyright + "%%Title: (Doc)\n", L"!"},
      {"%%Creator: Word\n%%Title: Report\n", L"!"},
      {kOffice + kMacRoman + kAcrobat9, L"!"}};  // "!": not known, title untouched
  for (const auto& c : cases) {
    const std::string block = c.first + "%%EndComments\n";
    WCHAR title[270] = {};
    const bool known = c.second != L"!";
    EXPECT_EQ(IsKnownFormat(Bytes(block), Length(block), title), known) << block;
    std::wstring expected = known ? c.second : L"";
    expected.resize(270);  // zeros behind the title, all zeros when not known
    EXPECT_EQ(std::wstring(title, 270), expected) << block;
  }
}

TEST(ProducerDetection, LongTitlesStayWithin260Units) {
  std::string hex16 = "FEFF", hexBytes;
  for (int i = 0; i < 400; ++i) hex16 += "0051", hexBytes += "52";
  const std::pair<std::string, size_t> cases[] = {
      {kAcrobat9 + kMacRoman + "%%Title: <" + hex16 + ">\n", 260},
      {"%%Title: <" + hexBytes + ">\n", 259},
      {kCopyright + kMacRoman + "%%Title: " + std::string(400, 'S') + "\n", 0},
      {kOffice + "%%Title: " + std::string(400, 'T') + "\n", 259}};  // 0: length not checked
  for (const auto& c : cases) {
    WCHAR title[300] = {};
    title[261] = 0x7777;
    EXPECT_TRUE(IsKnownFormat(Bytes(c.first), Length(c.first), title)) << c.second;
    EXPECT_EQ(title[261], 0x7777) << c.second << ": wrote past 261 units";
    EXPECT_EQ(title[260], 0) << c.second;
    EXPECT_TRUE(!c.second || std::wstring(title).size() == c.second) << c.second;
  }
}

}  // namespace
