// Every entry point over short and truncated blocks that end flush against
// an inaccessible page: a read past a block's end faults the program.
#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/format/format_test_support.h"
#include "tests/support/guarded_block.h"

namespace {

using format_test::ReadFixture;

const char* const kFixtures[] = {
    "acrobat9_mac_hex_utf16.ps",
    "acrobat8_macos_roman.ps",
    "macos_japanese.ps",
    "mac_utf8_octal.ps",
    "msoffice_german.ps",
    "msoffice_french.ps",
    "xp_word_hex.ps",
    "plain_title_crlf.ps",
    "plain_title_lf.ps",
    "embedded_eps.ps",
    "document.pdf",
    "mailing.vps",
    "xpif_ticket.xpf",
    "ppml_job.ppml",
    "no_title.ps",
};

// Short blocks that stop right inside each construct the code reads.
std::vector<std::string> Seeds() {
  std::vector<std::string> seeds = {
      "%!PS-Adobe-3.0 EPSF-3.0\n%%Title: x\n",
      "%!PS\n%!PS-Adobe-3.0 EPSF-3.0\n",
      "%%Creator: Adobe Acrobat 9.0\n%ADO_DSC_Encoding: MacOS\n%%Title: <FEFF00410042",
      "%%Creator: Adobe Acrobat 9.0\n%ADO_DSC_Encoding: MacOS\n%%Title: <FEF",
      "%%Copyright: Copyright(C)2000-2003 Adobe Systems, Inc. All Rights Reserved.\n"
      "%ADO_DSC_Encoding: MacOS\n%%Title: (Doc)",
      "%ADO_DSC_Encoding: MacOS Japanese\n%%Title: (Doc)\r",
      "%%Creator: PScript5.dll\n%%Title: <4142434",
      "%%Creator: PScript5.dll\n%%Title: (A\\000\\001\\377\\10",
      "%APL_DSC_Encoding: UTF8\n%%Title: (\\303\\274\\303\\2",
      "%APL_DSC_Encoding: UTF8\n%%Title: <414",
      "<?xml version=\"1.0\"?>\n<xpif><ppml",
      "%PDF-1.7\n%%Title: x",
      "%!VPS\n%%Title:",
  };
  for (const char* file : kFixtures) seeds.push_back(ReadFixture(file));
  return seeds;
}

void RunEveryEntryPoint(const BYTE* data, DWORD lengthBytes) {
  WCHAR title[270] = {};
  JobFormat format = JobFormat::None;
  BOOL known = FALSE;
  CheckSignatures(data, lengthBytes, title, sizeof(title), &format, &known);
  ASSERT_LT(std::wcslen(title), 270u);

  static const char* const patterns[] = {"%%Title:", "<XPIF", "\n", "PScript5.dll"};
  for (const char* pattern : patterns) {
    FindSubstringA(data, lengthBytes, pattern);
    ContainsSubstringA(data, lengthBytes, pattern);
  }
  WCHAR knownTitle[270] = {};
  IsKnownFormat(data, lengthBytes, knownTitle);
  IsAcrobat8(data, lengthBytes);
  IsMacOS(data, lengthBytes);
  IsMacOSJapanese(data, lengthBytes);
  IsMacOS_UTF8(data, lengthBytes);
  IsMSOffice(data, lengthBytes);
  IsASCIIEncodedUnicode(data, lengthBytes);
  IsAcrobat9(data, lengthBytes);
  IsTitleHexEncodedPrefix(data, lengthBytes);
  if (const BYTE* keyword = FindSubstringA(data, lengthBytes, "%%Title:")) {
    const BYTE* start = nullptr;
    const BYTE* end = nullptr;
    GetTitle(keyword, lengthBytes - static_cast<DWORD>(keyword - data), &start, &end);
    ASSERT_TRUE(start <= end && end <= data + lengthBytes);
  }

  WCHAR decoded[kMaxTitleChars + 1] = {};
  DecodeUnicodeFromASCIIHex(data, lengthBytes, decoded);
  BYTE work[kTitleWorkBytes] = {};
  DecodeASCIIFromASCIHex(data, lengthBytes, work);
  const int count = lengthBytes > 400 ? 400 : static_cast<int>(lengthBytes);
  DecodeANSIToUnicode(data, count, decoded);
  DecodeUTF8ToUnicode(data, count, decoded);
  const BYTE* stripped = data;
  DWORD strippedBytes = lengthBytes;
  StripWhitespace(&stripped, &strippedBytes);
  std::vector<BYTE> octal(lengthBytes + 1);
  DecodeOctalSequences(data, octal.data(), lengthBytes);
  WCHAR line[kMaxTitleChars + 1] = {};
  DecodeMSOfiiceTitle(data, lengthBytes, line);
  DecodeMacUTF8(data, lengthBytes, line);
}

TEST(GuardPage, EveryPrefixAndSuffixOfEverySeed) {
  GuardedBlock guard(8192);
  ASSERT_TRUE(guard.valid());
  int blocks = 0;
  for (const std::string& seed : Seeds()) {
    ASSERT_FALSE(seed.empty());
    ASSERT_LE(seed.size(), guard.capacityBytes());
    for (size_t length = 0; length <= seed.size(); ++length) {
      // The job's first bytes, cut at every length.
      const BYTE* prefix = guard.Place(seed.data(), static_cast<DWORD>(length));
      RunEveryEntryPoint(prefix, static_cast<DWORD>(length));
      // A block that starts anywhere inside the job and runs to its end.
      const size_t from = seed.size() - length;
      const BYTE* suffix = guard.Place(seed.data() + from, static_cast<DWORD>(length));
      RunEveryEntryPoint(suffix, static_cast<DWORD>(length));
      blocks += 2;
    }
  }
  EXPECT_GT(blocks, 4000);
}

TEST(GuardPage, ASCIIHexToBinaryReadsExactlyTwoBytes) {
  GuardedBlock guard;
  ASSERT_TRUE(guard.valid());
  EXPECT_EQ(ASCIIHexToBinary(guard.Place("7e", 2)), 0x7E);
}

// The guard itself: the byte behind a placed block is inaccessible, the
// block's last byte is not.
TEST(GuardPage, TheGuardPageIsReallyInaccessible) {
  GuardedBlock guard;
  ASSERT_TRUE(guard.valid());
  BYTE* block = guard.Place("ab", 2);
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(VirtualQuery(block + 2, &info, sizeof(info)), 0u);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
  ASSERT_NE(VirtualQuery(block + 1, &info, sizeof(info)), 0u);
  EXPECT_EQ(info.Protect, static_cast<DWORD>(PAGE_READWRITE));
}

}  // namespace
