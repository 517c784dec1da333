// Job headers as real producers write them, read under code page 1252.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/format/format_test_support.h"

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

// Then all again on four threads at once: the checks share no state.
TEST(ProducerFixtures, FormatKnownFlagAndTitleAlsoConcurrently) {
  std::vector<std::string> blocks;
  for (const auto& c : kCases) blocks.push_back(ReadFixture(c.file));
  std::vector<int> mismatches(5, 0);
  const auto run = [&](size_t slot, int rounds) {
    for (int round = 0; round < rounds; ++round) {
      for (size_t i = 0; i < blocks.size(); ++i) {
        const CheckResult r = Check(blocks[i]);
        const bool same = r.format == kCases[i].format && r.known == kCases[i].known &&
                          r.title == kCases[i].title;
        EXPECT_TRUE(same || slot > 0) << kCases[i].file;
        mismatches[slot] += !same;
      }
    }
  };
  run(0, 1);
  std::vector<std::thread> threads;
  for (size_t t = 1; t < mismatches.size(); ++t) threads.emplace_back(run, t, 50);
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(mismatches, std::vector<int>(5, 0));
}

}  // namespace
