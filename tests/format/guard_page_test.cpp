// Every entry point over every prefix and suffix of short seeds and of every
// fixture, each ending flush against an inaccessible page: a read past the
// block's end faults the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/format/format_test_support.h"
#include "tests/support/guarded_block.h"

namespace {

// Constructs the fixtures lack; their prefixes stop inside each.
const char* const kSeeds[] = {
    "%!PS\n%!PS-Adobe-3.0 EPSF-3.0\n",
    "%%Creator: Adobe Acrobat 9.0\n%ADO_DSC_Encoding: MacOS\n%%Title: <FEFF00410042",
    "%%Creator: PScript5.dll\n%%Title: <4142434",
    "%%Creator: PScript5.dll\n%%Title: (A\\000\\001\\377\\10",
    "%APL_DSC_Encoding: UTF8\n%%Title: (\\303\\274\\303\\2",
    "%APL_DSC_Encoding: UTF8\n%%Title: <414",
    "<?xml version=\"1.0\"?>\n<xpif><ppml"};

void RunEveryEntryPoint(const BYTE* data, DWORD lengthBytes) {
  ASSERT_LT(Check(data, lengthBytes).title.size(), 270u);
  for (const char* pattern : {"%%Title:", "<XPIF", "\n", "PScript5.dll"}) {
    FindSubstringA(data, lengthBytes, pattern);
    ContainsSubstringA(data, lengthBytes, pattern);
  }
  WCHAR decoded[kMaxTitleChars + 1] = {};
  IsKnownFormat(data, lengthBytes, decoded);
  for (auto test : {IsAcrobat8, IsMacOS, IsMacOSJapanese, IsMacOS_UTF8, IsMSOffice,
                    IsASCIIEncodedUnicode, IsAcrobat9, IsTitleHexEncodedPrefix}) {
    test(data, lengthBytes);
  }
  if (const BYTE* keyword = FindSubstringA(data, lengthBytes, "%%Title:")) {
    const BYTE *start = nullptr, *end = nullptr;
    GetTitle(keyword, lengthBytes - static_cast<DWORD>(keyword - data), &start, &end);
    ASSERT_TRUE(start <= end && end <= data + lengthBytes);
  }
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
  EXPECT_EQ(ASCIIHexToBinary(guard.Place("7e", 2)), 0x7E);
  std::vector<std::string> seeds(std::begin(kSeeds), std::end(kSeeds));
  WIN32_FIND_DATAA found;
  const std::string folder = std::string("Z:") + HALVEK_FIXTURES_DIR + "/format/";
  HANDLE search = FindFirstFileA((folder + "*.*").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE);
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      seeds.push_back(ReadFixture(found.cFileName));
  } while (FindNextFileA(search, &found));
  FindClose(search);
  ASSERT_GT(seeds.size(), std::size(kSeeds) + 10);  // the fixtures were found
  for (const std::string& seed : seeds) {
    ASSERT_FALSE(seed.empty());
    ASSERT_NE(guard.Place(seed.data(), Length(seed)), nullptr);  // it fits
    for (DWORD cut = 0; cut <= seed.size(); ++cut) {
      RunEveryEntryPoint(guard.Place(seed.data(), cut), cut);
      RunEveryEntryPoint(guard.Place(seed.data() + seed.size() - cut, cut), cut);
    }
  }
}

}  // namespace
