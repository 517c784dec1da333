// Format codes and titles as the capture asks for them, under code page 1252;
// every block is also read cut to each prefix and suffix against an
// inaccessible page, where a read past the block's end faults.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "format/format_internal.h"
#include "tests/support/guarded_block.h"
#include "tests/support/test_files.h"

namespace {

using Checked = std::tuple<JobFormat, BOOL, std::wstring>;

// As the capture calls it: a 540-byte title buffer, flag cleared; a title
// left unterminated shows as 270 units or more.
Checked Check(const void* data, size_t lengthBytes) {
  WCHAR title[271] = {};
  std::fill_n(title, 270, WCHAR(0xCCCC));
  JobFormat format = static_cast<JobFormat>(0xDEAD);
  BOOL known = FALSE;
  CheckSignatures(static_cast<const BYTE*>(data), static_cast<DWORD>(lengthBytes), title, 540,
                  &format, &known);
  return Checked(format, known, title);
}

const std::string kCopyright =
    "%%Copyright: Copyright(C)2000-2003 Adobe Systems, Inc. All Rights Reserved.\n";
const std::string kMacRoman = "%ADO_DSC_Encoding: MacOS Roman\n";
const std::string kOffice = "%%Creator: PScript5.dll Version 5.2.2\n";
const std::string kAcrobat9Hex =
    "%%Creator: Adobe Acrobat 9.0\n%ADO_DSC_Encoding: MacOS\n%%Title: <";
const JobFormat kNone = JobFormat::None, kPs = JobFormat::PostScript;

struct TitleCase {
  std::string block;  // a fixture's name when it holds no "%" or "<"
  JobFormat format;
  BOOL known;
  std::wstring title;
};

// clang-format off
const TitleCase kCases[] = {
    // A signature needs one byte more than itself.
    {"%pdf-1.4\n", JobFormat::Pdf, FALSE, L""},
    {"%PDF", kNone, FALSE, L""},
    {"<?xml version=\"1.0\"?><PPML><XPIF>x\n", JobFormat::Xpif, FALSE, L""},
    {"<?xml version=\"1.0\"?><PPML>x\n", JobFormat::Ppml, FALSE, L""},
    // The plain title: up to a line end, a zero byte or the block's end; an
    // EPS header after the block's start drops it.
    {"%!PS\n%%Title: Report\r\n%%EndComments\n", kPs, FALSE, L" Report"},
    {"%!PS\n%%Title: A\200B\351\n", kPs, FALSE, L" A\u20acB\u00e9"},
    {std::string("%!PS\n%%Title: A\0B\n", 18), kPs, FALSE, L" A"},
    {"%!PS\n%%Title:" + std::string(400, 'L') + "\n", kPs, FALSE, std::wstring(269, L'L')},
    {"%!PS-Adobe-3.0\n%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", kPs, FALSE, L""},
    {"%!PS-Adobe-3.0 EPSF-3.0\n%%Title: logo\n", kPs, FALSE, L" logo"},
    // Which producer decoder wins; without the blank after "Creator:" Acrobat
    // 9 is missed and the hex bytes decoder takes the title.
    {"%%Creator:Adobe Acrobat 9.0\n" + kMacRoman + "%%Title: <FEFF00410042>\n", kNone, TRUE, L"\u00fe\u00ff"},
    {kCopyright + kMacRoman + "%%Title: (Doc)  \n", kNone, TRUE, L"(Doc)  "},
    {kCopyright + "%%Title: (Doc)\n", kNone, FALSE, L" (Doc)"},
    // A hex title ends at its ">", its line's end or the block's end; a cut
    // group is completed with 0 digits.
    {kAcrobat9Hex + "FEFF0041004", kNone, TRUE, L"A@"},
    {kAcrobat9Hex + "FEFF00520065007>\n%%EndComments\n", kNone, TRUE, L"Rep"},
    {kAcrobat9Hex + "FEFF" + std::string(300 * 4, '1'), kNone, TRUE, std::wstring(260, L'\u1111')},
    {kOffice + "%%Title: <41424>\n4344\n", kNone, TRUE, L"AB@"},
    {kOffice + "%%Title: <4142\r4344>", kNone, TRUE, L"AB"},
    // Job headers as real producers write them.
    {"acrobat9_mac_hex_utf16.ps", kPs, TRUE, L"Caf\u00e9 \u65e5\u672c"},
    {"acrobat8_macos_roman.ps", kPs, TRUE, L"(Quarterly Report.pdf)"},
    {"macos_japanese.ps", kPs, TRUE, L"(\u201c\u00fa\u2013{\u0152\u00ea.pdf)"},  // Shift_JIS as 1252
    {"mac_utf8_octal.ps", kPs, TRUE, L"Gr\u00fc\u00dfe an \u00e9quipe"},
    {"msoffice_german.ps", kPs, TRUE, L"Microsoft Word - Pr\u00fcfbericht \u00dcbersicht.docx"},
    {"xp_word_hex.ps", kPs, TRUE, L"Microsoft Word - Antr\u00e4ge.doc"},
    {"mailing.vps", JobFormat::Vps, FALSE, L" Mailing Spring 2024"},
    {"xpif_ticket.xpf", JobFormat::Xpif, FALSE, L" (Invoice 42)"},
};
// Constructs the cases lack; their prefixes stop inside each.
const char* const kSeeds[] = {
    "%%Creator: PScript5.dll\n%%Title: (A\\000\\001\\377\\10",
    "%APL_DSC_Encoding: UTF8\n%%Title: (\\303\\274\\303\\2",
    "%APL_DSC_Encoding: UTF8\n%%Title: <414",
};
// clang-format on

std::string BlockOf(const TitleCase& c) {
  if (c.block.find_first_of("%<") != std::string::npos) return c.block;
  std::string path = "Z:" HALVEK_FIXTURES_DIR "/format/" + c.block;
  std::replace(path.begin(), path.end(), '/', '\\');
  return ReadWholeFile(std::wstring(path.begin(), path.end()));
}

TEST(CheckSignatures, FormatKnownFlagAndTitle) {
  for (const TitleCase& c : kCases) {
    const std::string block = BlockOf(c);
    EXPECT_EQ(Check(block.data(), block.size()), Checked(c.format, c.known, c.title)) << c.block;
  }
}

TEST(CheckSignatures, NoReadPastTheBlock) {
  GuardedBlock guard(8192);
  std::vector<std::string> seeds(std::begin(kSeeds), std::end(kSeeds));
  for (const TitleCase& c : kCases) seeds.push_back(BlockOf(c));
  for (const std::string& seed : seeds) {
    ASSERT_NE(guard.Place(seed.data(), static_cast<DWORD>(seed.size())), nullptr);  // it fits
    for (DWORD cut = 0; cut <= seed.size(); ++cut) {
      ASSERT_LT(std::get<2>(Check(guard.Place(seed.data(), cut), cut)).size(), 270u);
      ASSERT_LT(std::get<2>(Check(guard.Place(seed.data() + seed.size() - cut, cut), cut)).size(),
                270u);
    }
  }
}

// The bytes decoder stays inside its work buffer however long the hex.
TEST(HexDecoders, BytesStayInTheWorkBuffer) {
  const std::string hex(800, '5');
  std::vector<BYTE> work(kTitleWorkBytes + 1, 0xAA);
  DecodeASCIIFromASCIHex(reinterpret_cast<const BYTE*>(hex.data()), 800, work.data());
  EXPECT_EQ(work[kTitleWorkBytes], 0xAA) << "wrote past the work buffer";
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(work.data())), std::string(259, 'U'));
}

}  // namespace
