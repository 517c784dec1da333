// Every entry point over short and truncated blocks that end flush against
// an inaccessible page: a read past a block's end faults the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/format/format_test_support.h"
#include "tests/support/guarded_block.h"

namespace {

const char* const kFixtures[] = {"acrobat9_mac_hex_utf16.ps",
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
                                 "no_title.ps"};

// Short blocks that stop right inside each construct the code reads.
const char* const kSeeds[] = {
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
    "%!VPS\n%%Title:"};

void RunEveryEntryPoint(const BYTE* data, DWORD lengthBytes) {
  // Cut anywhere, the title stays terminated within its buffer.
  ASSERT_LT(format_test::Check(data, lengthBytes).title.size(), 270u);
  for (const char* pattern : {"%%Title:", "<XPIF", "\n", "PScript5.dll"}) {
    FindSubstringA(data, lengthBytes, pattern);
    ContainsSubstringA(data, lengthBytes, pattern);
  }
  WCHAR knownTitle[270] = {};
  IsKnownFormat(data, lengthBytes, knownTitle);
  for (auto test : {IsAcrobat8, IsMacOS, IsMacOSJapanese, IsMacOS_UTF8, IsMSOffice,
                    IsASCIIEncodedUnicode, IsAcrobat9, IsTitleHexEncodedPrefix}) {
    test(data, lengthBytes);
  }
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
  DecodeMSOfiiceTitle(data, lengthBytes, decoded);
  DecodeMacUTF8(data, lengthBytes, decoded);
}

TEST(GuardPage, EveryPrefixAndSuffixOfEverySeed) {
  GuardedBlock guard(8192);
  ASSERT_TRUE(guard.valid());
  // The guard itself: the byte behind a placed block is inaccessible.
  BYTE* two = guard.Place("7e", 2);
  MEMORY_BASIC_INFORMATION info = {};
  ASSERT_NE(VirtualQuery(two + 2, &info, sizeof(info)), 0u);
  ASSERT_EQ(info.Protect, static_cast<DWORD>(PAGE_NOACCESS));
  EXPECT_EQ(ASCIIHexToBinary(two), 0x7E);

  std::vector<std::string> seeds(std::begin(kSeeds), std::end(kSeeds));
  for (const char* file : kFixtures) seeds.push_back(format_test::ReadFixture(file));
  int blocks = 0;
  for (const std::string& seed : seeds) {
    ASSERT_FALSE(seed.empty());
    ASSERT_LE(seed.size(), guard.capacityBytes());
    for (size_t length = 0; length <= seed.size(); ++length) {
      // The job's first bytes cut at every length, and every tail of it.
      const DWORD cut = static_cast<DWORD>(length);
      RunEveryEntryPoint(guard.Place(seed.data(), cut), cut);
      RunEveryEntryPoint(guard.Place(seed.data() + seed.size() - length, cut), cut);
      blocks += 2;
    }
  }
  EXPECT_GT(blocks, 4000);
}

}  // namespace
