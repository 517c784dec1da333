// Job headers as real producers write them, read under code page 1252, and
// the signature check over every prefix and suffix of them and of short
// seeds, each ending flush against an inaccessible page: a read past the
// block's end faults the program.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/format/format_test_support.h"
#include "tests/format/title_corpus.h"
#include "tests/support/guarded_block.h"

namespace {

const struct {
  const char* file;
  JobFormat format;
  BOOL known;
  std::wstring title;
} kCases[] = {
    {"acrobat9_mac_hex_utf16.ps", JobFormat::PostScript, TRUE, L"Caf\u00e9 \u65e5\u672c"},
    {"acrobat8_macos_roman.ps", JobFormat::PostScript, TRUE, L"(Quarterly Report.pdf)"},
    // Shift-JIS bytes read in code page 1252.
    {"macos_japanese.ps", JobFormat::PostScript, TRUE, L"(\u201c\u00fa\u2013{\u0152\u00ea.pdf)"},
    {"mac_utf8_octal.ps", JobFormat::PostScript, TRUE, L"Gr\u00fc\u00dfe an \u00e9quipe"},
    {"msoffice_german.ps", JobFormat::PostScript, TRUE,
     L"Microsoft Word - Pr\u00fcfbericht \u00dcbersicht.docx"},
    {"msoffice_french.ps", JobFormat::PostScript, TRUE,
     L"Microsoft PowerPoint - Pr\u00e9sentation \u00e0 l\u2019\u00e9quipe.pptx"},
    {"xp_word_hex.ps", JobFormat::PostScript, TRUE, L"Microsoft Word - Antr\u00e4ge.doc"},
    {"plain_title_crlf.ps", JobFormat::PostScript, FALSE, L" Report Q3"},
    {"plain_title_lf.ps", JobFormat::PostScript, FALSE, L" Report Q3"},
    {"embedded_eps.ps", JobFormat::PostScript, FALSE, L""},
    {"document.pdf", JobFormat::Pdf, FALSE, L""},
    {"mailing.vps", JobFormat::Vps, FALSE, L" Mailing Spring 2024"},
    {"xpif_ticket.xpf", JobFormat::Xpif, FALSE, L" (Invoice 42)"},
    {"ppml_job.ppml", JobFormat::Ppml, FALSE, L""},
    {"no_title.ps", JobFormat::PostScript, FALSE, L""},
};

TEST(ProducerFixtures, FormatKnownFlagAndTitle) {
  for (const auto& c : kCases) {
    const CheckResult r = Check(ReadFixture(c.file));
    EXPECT_EQ(r.format, c.format) << c.file;
    EXPECT_EQ(r.known, c.known) << c.file;
    EXPECT_EQ(r.title, c.title) << c.file;
  }
}

// Constructs the fixtures lack; their prefixes stop inside each.
const char* const kSeeds[] = {
    "%!PS\n%!PS-Adobe-3.0 EPSF-3.0\n",
    "%%Creator: Adobe Acrobat 9.0\n%ADO_DSC_Encoding: MacOS\n%%Title: <FEFF00410042",
    "%%Creator: PScript5.dll\n%%Title: <4142434",
    "%%Creator: PScript5.dll\n%%Title: (A\\000\\001\\377\\10",
    "%APL_DSC_Encoding: UTF8\n%%Title: (\\303\\274\\303\\2",
    "%APL_DSC_Encoding: UTF8\n%%Title: <414",
    "<?xml version=\"1.0\"?>\n<xpif><ppml"};

// The capture's one way into the format code: the title is terminated and
// no byte past the block is read.
void RunEveryEntryPoint(const BYTE* data, DWORD lengthBytes) {
  ASSERT_LT(Check(data, lengthBytes).title.size(), 270u);
}

TEST(GuardPage, EveryPrefixAndSuffixOfEverySeed) {
  GuardedBlock guard(8192);
  ASSERT_TRUE(guard.valid());
  std::vector<std::string> seeds(std::begin(kSeeds), std::end(kSeeds));
  for (const auto& c : kCases) seeds.push_back(ReadFixture(c.file));
  for (const std::string& seed : seeds) {
    ASSERT_FALSE(seed.empty());
    ASSERT_NE(guard.Place(seed.data(), Length(seed)), nullptr);  // it fits
    for (DWORD cut = 0; cut <= seed.size(); ++cut) {
      RunEveryEntryPoint(guard.Place(seed.data(), cut), cut);
      RunEveryEntryPoint(guard.Place(seed.data() + seed.size() - cut, cut), cut);
    }
  }
}

// Japanese titles come out as written; Western titles whose bytes also read
// as Shift_JIS or EUC-JP stay as they are: at most one in 250 changes.
TEST(TitleCorpus, JapaneseTitlesDecodeWesternTitlesStay) {
  ASSERT_EQ(GetACP(), 1252u);
  const CorpusTally japanese = RunJapaneseCorpora();
  const CorpusTally western = RunWesternCorpora();
  std::printf("Code page 1252: Japanese %d of %d exact, Western %d of %d changed\n",
              japanese.matched, japanese.total, western.total - western.matched, western.total);
  ASSERT_GE(western.total, 500);
  EXPECT_LE((western.total - western.matched) * 250, western.total);
  EXPECT_GE(japanese.matched * 100, japanese.total * 95);
}

}  // namespace
