// Signature check and producer detection: format codes, the plain title copy,
// the dispatcher and buffer bounds.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "tests/format/format_test_support.h"

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

}  // namespace
