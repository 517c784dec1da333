#include "capture/output_name.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/capture/capture_fixture.h"

// The name step on its own names an output exactly as the capture then does,
// and leaves the folder as it found it.
TEST_F(CaptureTest, NameChoiceMatchesTheCaptureAndCreatesNothing) {
  struct Case {
    std::string bytes;
    std::wstring documentName;
    bool nameTaken;  // a file of the plain name is already there
    std::wstring expected;
  };
  // clang-format off
  const Case cases[] = {
      {PdfWithTitle("Quarterly", 600), L"", false, L"Quarterly.PDF"},
      {"%!PS-Adobe-3.0\n%%Creator: x\n", L"memo.txt", false, L"memo.PS"},
      {"plain bytes", L"", true, L"spoold_file42"},
  };
  // clang-format on
  for (const Case& c : cases) {
    if (c.nameTaken) {
      ASSERT_TRUE(WriteNewFile(outputFolder_ + L"spoold_file", "older"));
    }
    const std::vector<OutputFile> before = OutputFiles();
    NameChoice choice = {};
    NameReport report = {};
    ASSERT_TRUE(ChooseOutputName(reinterpret_cast<const BYTE*>(c.bytes.data()),
                                 static_cast<DWORD>(c.bytes.size()),
                                 c.documentName.empty() ? nullptr : c.documentName.c_str(),
                                 kCaptureJobId, outputFolder_.c_str(), &choice, &report))
        << c.expected;
    EXPECT_EQ(choice.dataPath, outputFolder_ + c.expected);
    ExpectUnchanged(before);
    EXPECT_EQ(OutputFiles().size(), before.size()) << c.expected;

    CaptureRequest request;
    request.bytes = c.bytes;
    request.documentName = c.documentName;
    ASSERT_TRUE(Capture(request)) << c.expected;
    EXPECT_EQ(Output(c.expected), c.bytes) << c.expected;
    EXPECT_EQ(PortPaths().back(), choice.dataPath);
    for (const OutputFile& file : OutputFiles()) DeleteFileW((outputFolder_ + file.name).c_str());
    ResetDoubles();
  }
}
