// Under the Japanese ANSI code page 932 the ANSI paths read Shift-JIS: the
// whole-line, octal and plain paths all give Japanese text.
#include <gtest/gtest.h>

#include <string>

#include "tests/format/format_test_support.h"
#include "tests/format/title_corpus.h"

namespace {

const std::wstring kNihongo = L"\u65e5\u672c\u8a9e";

TEST(CodePage932, ShiftJisTitlesThroughEachPath) {
  const std::string sjis = "\x93\xfa\x96\x7b\x8c\xea";
  const struct {
    const char* name;
    std::string block;
    BOOL known;
    std::wstring title;
  } cases[] = {
      {"office octal",
       "%!PS\n%%Creator: PScript5.dll\n%%Title: Microsoft Word - "
       "\\223\\372\\226\\173\\214\\352.docx\n",
       TRUE, L"Microsoft Word - " + kNihongo + L".docx"},
      {"xp + word", "%!PS\n%%Title: <93FA967B8CEA>\n", TRUE, kNihongo},
      {"japanese line", "%!PS\n%ADO_DSC_Encoding: MacOS Japanese\n%%Title: " + sjis + "\r\n", TRUE,
       kNihongo},
      // Read by characters; a byte that starts none is kept escaped.
      {"plain", "%!PS\n%%Title: " + sjis + "\n", FALSE, L" " + kNihongo},
      {"plain cut lead byte", "%!PS\n%%Title: A\x81", FALSE, L" A\xDC81"},
      {"plain lead byte before line end", "%!PS\n%%Title: \x93\r\n", FALSE, L" \xDC93"},
      {"plain byte no character starts", "%!PS\n%%Title: \xA0\xB1\xFDZ\n", FALSE,
       L" \xDCA0\uFF71\xDCFDZ"},
  };
  for (const auto& c : cases) {
    const CheckResult result = Check(c.block);
    EXPECT_EQ(result.known, c.known) << c.name;
    EXPECT_EQ(result.title, c.title) << c.name;
  }
}

// A Japanese server names files after Japanese titles in every encoding.
TEST(TitleCorpus, JapaneseTitlesKeepTheirNames) {
  ASSERT_EQ(GetACP(), 932u);
  const CorpusTally japanese = RunJapaneseCorpora();
  std::printf("Code page 932: Japanese %d of %d exact\n", japanese.matched, japanese.total);
  EXPECT_GE(japanese.matched * 100, japanese.total * 97);
}

}  // namespace
