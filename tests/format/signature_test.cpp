// Signature check: format codes, the plain "%%Title:" copy and the title
// buffer's bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "tests/format/format_test_support.h"
#include "tests/support/guarded_block.h"

namespace {

using format_test::Bytes;
using format_test::Check;
using format_test::Length;
using format_test::TraceCapture;

// Each signature needs one byte more than itself.
TEST(CheckSignatures, FormatFromTheBlocksStart) {
  const struct {
    std::string block;
    JobFormat format;
  } cases[] = {
      {"%pdf-1.4\n", JobFormat::Pdf},
      {"%PDF", JobFormat::None},
      {"%PDF-", JobFormat::Pdf},
      {"%!ps-adobe-3.0\n", JobFormat::PostScript},
      {"%!PS", JobFormat::None},
      {"%!VPS-Adobe-3.0\n", JobFormat::Vps},
      {"%!VPS", JobFormat::None},
      {"<?xml version=\"1.0\"?><xpif version=\"1.0\">x", JobFormat::Xpif},
      {"<?xml version=\"1.0\"?><ppml>x", JobFormat::Ppml},
      {"<?xml version=\"1.0\"?><PPML><XPIF>x", JobFormat::Xpif},
      {"<?xml version=\"1.0\"?><job>x", JobFormat::None},
      {"<?xml version=\"1.0\"?><xpif", JobFormat::None},
      {" %PDF-1.4\n", JobFormat::None},
      {"\xEF\xBB\xBF<?xml?><xpif>", JobFormat::None},
      {"", JobFormat::None},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.block).format, c.format) << c.block;
}

TEST(CheckSignatures, PlainTitleCopyAndEmbeddedEps) {
  const std::wstring skipped = L"CheckSignatures: EPS embedded, title skipped";
  const struct {
    std::string block;
    std::wstring title;
    bool epsTrace;
  } cases[] = {
      {"%!PS\n%%Title: Report\r\n%%EndComments\n", L" Report", false},
      {"%!PS\n%%Title:(A)\n%%EndComments\n", L"(A)", false},
      {"%!PS\n%%title: Report\n", L" Report", false},
      {"%!PS\n%%Title: R", L" R", false},  // the block's end ends the copy
      {"%!PS\n%%Title:", L"", false},      // the keyword ends at the last byte
      {"%%Title:x", L"x", false},
      {"%%Title", L"", false},
      {"%!PS\n%%Title: a\tb\n", L" a\tb", false},
      {"%!PS\n%%Title: A\x80"
       "B\xE9\n",
       L" A\u20acB\u00e9", false},
      {std::string("%!PS\n%%Title: A\0B\n", 18), L" A", false},  // a zero byte ends it for readers
      {"%!PS\n%%Title: first\n%%Title: second\n", L" first", false},
      {"%!PS\n%%EndComments\n", L"", false},
      {"%!PS\n%%Title:" + std::string(400, 'L') + "\n", std::wstring(269, L'L'), false},
      {"%!PS-Adobe-3.0\n%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", L"", true},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", L" logo", false},  // the document itself
      {"%!PS-Adobe-3.0\n%%Title: doc\n%!PS-Adobe-3.0 EPSF-3.0\n", L" doc", false},
      {"%!PS\n%!ps-adobe-3.0 epsf\n%%Title: x\n", L"", true},
      {"%!PS\n%!PS-Adobe-3.0 EPSF", L"", true},  // header flush with the end
      {"%!PS\n%!PS-Adobe-3.0 EPS", L"", false},
  };
  for (const auto& c : cases) {
    TraceCapture traces;
    const format_test::CheckResult result = Check(c.block);
    EXPECT_EQ(result.title, c.title) << c.block;
    EXPECT_FALSE(result.known) << c.block;
    EXPECT_EQ(traces.After(skipped) == L"", c.epsTrace) << c.block;
  }
}

TEST(CheckSignatures, TracesBlockStartAndTitle) {
  TraceCapture traces;
  const std::string block = "%!PS\n%%Title: Report\n";
  Check(block);
  EXPECT_EQ(traces.Texts(), (std::vector<std::wstring>{L"CheckSignatures:",
                                                       std::wstring(block.begin(), block.end()),
                                                       L"CheckSignatures:", L" Report"}));
  TraceCapture longStart;
  Check(std::string(1000, 'Q'));
  EXPECT_EQ(longStart.After(L"CheckSignatures:"), std::wstring(260, L'Q'));
}

TEST(CheckSignatures, KnownFlagIsOnlyEverSet) {
  const struct {
    std::string block;
    const wchar_t* title;
  } calls[] = {
      {"%!PS\n%%Title: Brief\n", L" Brief"},
      {"%!PS\n%%Creator: PScript5.dll\n%%Title: (Brief)\n", L"Brief"},
      {"%!PS\n%%Title: Brief\n", L" Brief"},
      {"nothing", L""},
  };
  WCHAR title[270];
  JobFormat format = JobFormat::Pdf;
  BOOL known = FALSE;
  for (const auto& c : calls) {
    CheckSignatures(Bytes(c.block), Length(c.block), title, sizeof(title), &format, &known);
    EXPECT_STREQ(title, c.title);
    EXPECT_EQ(known != FALSE, &c != &calls[0]) << c.block;
  }
  EXPECT_EQ(format, JobFormat::None);
}

// Every title buffer size, placed against a guard page: nothing is written
// beyond it and the title stays terminated inside it.
TEST(CheckSignatures, SmallTitleBuffersStayBoundedAndTerminated) {
  std::string hex16 = "FEFF";
  for (int i = 0; i < 300; ++i) hex16 += "0048";
  const std::string blocks[] = {
      "%!PS\n%%Title:" + std::string(400, 'P') + "\n",
      "%%Creator: Adobe Acrobat 9.0\n%ADO_DSC_Encoding: MacOS\n%%Title: <" + hex16 + ">\n",
      "%%Creator: PScript5.dll\n%%Title: (" + std::string(300, 'O') + ")\n",
  };
  GuardedBlock guard(4096);
  ASSERT_TRUE(guard.valid());
  for (const std::string& block : blocks) {
    for (DWORD sizeBytes : {0u, 1u, 2u, 3u, 4u, 11u, 100u, 520u, 521u, 522u, 524u, 540u}) {
      BYTE* title = guard.Reserve(sizeBytes);
      ASSERT_NE(title, nullptr);
      JobFormat format = JobFormat::Pdf;
      BOOL known = FALSE;
      CheckSignatures(Bytes(block), Length(block),
                      sizeBytes ? reinterpret_cast<WCHAR*>(title) : nullptr, sizeBytes, &format,
                      &known);
      // Reserve() aligns the end, not the start: read units bytewise.
      bool terminated = sizeBytes < 2;
      for (DWORD i = 0; i + 1 < sizeBytes && !terminated; i += 2) {
        terminated = title[i] == 0 && title[i + 1] == 0;
      }
      EXPECT_TRUE(terminated) << sizeBytes;
    }
  }
}

}  // namespace
