// Signature check: format codes, the plain "%%Title:" copy and the title
// buffer's bounds.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

#include "tests/format/format_test_support.h"
#include "tests/support/guarded_block.h"

namespace {

using format_test::Bytes;
using format_test::Check;
using format_test::Length;
using format_test::TraceCapture;

TEST(CheckSignatures, FormatFromTheBlocksStart) {
  const struct {
    std::string block;
    JobFormat format;
  } cases[] = {
      {"%PDF-1.4\n", JobFormat::Pdf},
      {"%pdf-1.4\n", JobFormat::Pdf},
      {"%PDF", JobFormat::None},  // needs one byte more than the signature
      {"%PDF-", JobFormat::Pdf},
      {"%!ps-adobe-3.0\n", JobFormat::PostScript},
      {"%!PS-Adobe-3.0 EPSF-3.0\n", JobFormat::PostScript},
      {"%!PS", JobFormat::None},
      {"%!VPS-Adobe-3.0\n", JobFormat::Vps},
      {"%!VPS", JobFormat::None},
      {"<?xml version=\"1.0\"?><xpif version=\"1.0\">x", JobFormat::Xpif},
      {"<?xml version=\"1.0\"?><ppml>x", JobFormat::Ppml},
      {"<?xml version=\"1.0\"?><PPML><XPIF>x", JobFormat::Xpif},
      {"<?xml version=\"1.0\"?><job>x", JobFormat::None},
      {"<?xml version=\"1.0\"?><xpif", JobFormat::None},  // ends at the last byte
      {"<?XML", JobFormat::None},
      {" %PDF-1.4\n", JobFormat::None},
      {"\xEF\xBB\xBF<?xml?><xpif>", JobFormat::None},
      {"", JobFormat::None},
      {"PK\x03\x04", JobFormat::None},
  };
  for (const auto& c : cases) EXPECT_EQ(Check(c.block).format, c.format) << c.block;
}

TEST(CheckSignatures, PlainTitleCopy) {
  const struct {
    std::string block;
    std::wstring title;
  } cases[] = {
      {"%!PS\n%%Title: Report\r\n%%EndComments\n", L" Report"},
      {"%!PS\n%%Title: Report\n%%EndComments\n", L" Report"},
      {"%!PS\n%%Title:(A)\n%%EndComments\n", L"(A)"},
      {"%!PS\n%%title: Report\n", L" Report"},
      {"%!PS\n%%Title: Report", L" Report"},  // the block's end ends the copy
      {"%!PS\n%%Title: R", L" R"},
      {"%!PS\n%%Title:", L""},  // the keyword ends at the last byte
      {"%%Title:x", L"x"},
      {"%%Title:", L""},
      {"%%Title", L""},
      {"%!PS\n%%Title: a\tb\n", L" a\tb"},
      {"%!PS\n%%Title: Caf\xE9\n", L" Caf\u00e9"},
      {"%!PS\n%%Title: A\x80"
       "B\n",
       L" A\u20acB"},
      {std::string("%!PS\n%%Title: A\0B\n", 18), L" A"},  // a zero byte ends it for readers
      {"%!PS\n%%Title: first\n%%Title: second\n", L" first"},
      {"%!PS\n%%EndComments\n", L""},
  };
  for (const auto& c : cases) {
    const format_test::CheckResult result = Check(c.block);
    EXPECT_EQ(result.title, c.title) << c.block;
    EXPECT_FALSE(result.known) << c.block;
  }
}

TEST(CheckSignatures, EmbeddedEpsBeforeTheTitle) {
  const struct {
    std::string block;
    std::wstring title;
    bool epsTrace;
  } cases[] = {
      {"%!PS-Adobe-3.0\n%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", L"", true},
      {"%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", L" logo", false},  // the document itself
      {"%!PS-Adobe-3.0\n%%Title: doc\n%!PS-Adobe-3.0 EPSF-3.0\n", L" doc", false},
      {"%!PS\n%!ps-adobe-3.0 epsf\n%%Title: x\n", L"", true},
      {"%!PS\n%!PS-Adobe-3.0 EPSF", L"", true},  // header flush with the end
      {"%!PS\n%!PS-Adobe-3.0 EPS", L"", false},
  };
  for (const auto& c : cases) {
    TraceCapture traces;
    EXPECT_EQ(Check(c.block).title, c.title) << c.block;
    EXPECT_EQ(traces.After(L"CheckSignatures: EPS embedded, title skipped") == L"", c.epsTrace)
        << c.block;
  }
}

TEST(CheckSignatures, TracesBlockStartAndTitle) {
  TraceCapture traces;
  const std::string block = "%!PS\n%%Title: Report\n";
  Check(block);
  const std::vector<std::wstring> texts = traces.Texts();
  ASSERT_EQ(texts.size(), 4u);
  EXPECT_EQ(texts[0], L"CheckSignatures:");
  EXPECT_EQ(texts[1], std::wstring(block.begin(), block.end()));
  EXPECT_EQ(texts[2], L"CheckSignatures:");
  EXPECT_EQ(texts[3], L" Report");

  TraceCapture longStart;
  Check(std::string(1000, 'Q'));
  EXPECT_EQ(longStart.After(L"CheckSignatures:"), std::wstring(260, L'Q'));
}

TEST(CheckSignatures, KnownFlagIsOnlyEverSet) {
  const std::string office = "%!PS\n%%Creator: PScript5.dll\n%%Title: (Brief)\n";
  const std::string plain = "%!PS\n%%Title: Brief\n";
  WCHAR title[270];
  JobFormat format = JobFormat::None;
  BOOL known = FALSE;
  CheckSignatures(Bytes(plain), Length(plain), title, sizeof(title), &format, &known);
  EXPECT_FALSE(known);
  CheckSignatures(Bytes(office), Length(office), title, sizeof(title), &format, &known);
  EXPECT_TRUE(known);
  EXPECT_STREQ(title, L"Brief");
  CheckSignatures(Bytes(plain), Length(plain), title, sizeof(title), &format, &known);
  EXPECT_TRUE(known);
  EXPECT_STREQ(title, L" Brief");
  const std::string none = "nothing";
  CheckSignatures(Bytes(none), Length(none), title, sizeof(title), &format, &known);
  EXPECT_TRUE(known);
  EXPECT_STREQ(title, L"");
  EXPECT_EQ(format, JobFormat::None);
}

TEST(CheckSignatures, LongPlainTitleIsCutAt269Units) {
  const std::string block = "%!PS\n%%Title:" + std::string(400, 'L') + "\n";
  EXPECT_EQ(Check(block).title, std::wstring(269, L'L'));
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
      WCHAR* title = reinterpret_cast<WCHAR*>(guard.Reserve(sizeBytes));
      ASSERT_NE(title, nullptr);
      JobFormat format = JobFormat::Pdf;
      BOOL known = FALSE;
      CheckSignatures(Bytes(block), Length(block), sizeBytes ? title : nullptr, sizeBytes, &format,
                      &known);
      // Reserve() aligns the end, not the start: read units bytewise.
      const DWORD units = sizeBytes / 2;
      if (units == 0) continue;
      bool terminated = false;
      for (DWORD i = 0; i < units && !terminated; ++i) {
        WCHAR unit;
        std::memcpy(&unit, reinterpret_cast<BYTE*>(title) + i * 2, 2);
        terminated = unit == 0;
      }
      EXPECT_TRUE(terminated) << sizeBytes;
    }
  }
}

}  // namespace
