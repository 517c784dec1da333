// What Wine's spooler does with halvek-print's jobs before the capture runs:
// where it loads the processor, what it hands it, which datatypes it lets in.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_support.h"

namespace e2e {
namespace {

class Spooler : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallDefault();
    EmptyFolder(SpoolFolder());
    job_ = TempFolder() + L"\\spooler-job.pdf";
    ASSERT_TRUE(
        WriteFileBytes(job_, "%PDF-1.4\n%%Title: Spooler probe\n1 0 obj\n<<>>\nendobj\n%%EOF\n"));
  }
  void TearDown() override { EmptyFolder(SpoolFolder()); }

  RunResult PrintJob(const std::wstring& options) {
    return PrintTraced(Quote(kPrinter) + L" " + Quote(job_) + L" " + options);
  }

  std::wstring job_;
};

TEST_F(Spooler, RawJobIsHandedToThePrintProcessorInTheClientProcess) {
  const RunResult result = PrintJob(L"--datatype RAW");
  // The spooler loads our DLL from its print-processor folder...
  EXPECT_TRUE(Contains(result.output, "prtprocs\\\\x64\\\\halvekprint.dll\" at")) << result.output;
  // ...spools job 1 of this process to the per-number spool file...
  EXPECT_TRUE(Contains(result.output,
                       "need to schedule job 1 filename "
                       "L\"C:\\\\windows\\\\system32\\\\spool\\\\PRINTERS\\\\00001.SPL\" "
                       "to port L\"C:\\\\halvek.prn\""))
      << result.output;
  // ...and our OpenPrintProcessor opens the port by the name the spooler
  // gives it (a file port becomes "FILE:").
  EXPECT_TRUE(Contains(result.output, "OpenPrinter2W (L\"FILE:, Port\"")) << result.output;
  // The processor's own debugger output shows it ran the job.
  EXPECT_TRUE(Contains(result.output, "OutputDebugStringA \"")) << result.output;
  EXPECT_FALSE(Contains(result.output, "datatype not supported")) << result.output;
  // The DLL is unloaded after the job.
  EXPECT_TRUE(Contains(result.output,
                       "Unloaded module L\"C:\\\\windows\\\\system32\\\\spool\\\\"
                       "prtprocs\\\\x64\\\\halvekprint.dll\""))
      << result.output;
}

TEST_F(Spooler, TextJobReachesThePrintProcessorToo) {
  const RunResult result = PrintJob(L"--datatype TEXT");
  EXPECT_TRUE(Contains(result.output, "halvekprint.dll\" at")) << result.output;
  EXPECT_FALSE(Contains(result.output, "datatype not supported")) << result.output;
}

TEST_F(Spooler, OtherDatatypeIsRejectedBeforeThePrintProcessor) {
  const RunResult result = PrintJob(L"--datatype OTHER");
  EXPECT_EQ(result.exitCode, 1u) << result.output;
  EXPECT_TRUE(Contains(result.output, "job 1: EndDocPrinter failed")) << result.output;
  EXPECT_TRUE(Contains(result.output, "L\"OTHER\" datatype not supported by L\"HalvekPrint\""))
      << result.output;
  // The spooler loads the processor only to ask for its datatypes.
  EXPECT_TRUE(Contains(result.output, "halvekprint.dll\" at")) << result.output;
  EXPECT_FALSE(Contains(result.output, "OpenPrinter2W (L\"FILE:, Port\"")) << result.output;
  // The rejected job's spool file stays behind.
  EXPECT_TRUE(FileExists(SpoolFolder() + L"\\00001.SPL"));
}

TEST_F(Spooler, SpoolFileLeftByARejectedJobIsReplacedByTheNextJob) {
  ASSERT_EQ(PrintJob(L"--datatype OTHER").exitCode, 1u);
  ASSERT_TRUE(FileExists(SpoolFolder() + L"\\00001.SPL"));
  // Same job number, same spool file name: Wine 8 overwrites it.
  const RunResult next = Print(Quote(kPrinter) + L" " + Quote(job_) + L" --document-name next.pdf");
  EXPECT_EQ(next.exitCode, 0u) << next.output;
  const auto files = ListFolder(kOutputFolder);
  ASSERT_EQ(files.size(), 1u);
  std::string captured, sent;
  ASSERT_TRUE(ReadFileBytes(std::wstring(kOutputFolder) + L"\\" + files[0], &captured));
  ASSERT_TRUE(ReadFileBytes(job_, &sent));
  EXPECT_TRUE(captured == sent);
}

TEST_F(Spooler, JobNumbersCountPerClientProcess) {
  const RunResult first = Print(Quote(kPrinter) + L" " + Quote(job_) + L" --repeat 3");
  EXPECT_TRUE(Contains(first.output, "job 1:")) << first.output;
  EXPECT_TRUE(Contains(first.output, "job 2:")) << first.output;
  EXPECT_TRUE(Contains(first.output, "job 3:")) << first.output;
  const RunResult second = Print(Quote(kPrinter) + L" " + Quote(job_));
  EXPECT_TRUE(Contains(second.output, "job 1:")) << second.output;
}

TEST_F(Spooler, ClientReportsWhatCannotBePrinted) {
  const RunResult noPrinter = Print(L"\"No Such Printer\" " + Quote(job_));
  EXPECT_EQ(noPrinter.exitCode, 1u);
  EXPECT_TRUE(Contains(noPrinter.output, "opening the printer \"No Such Printer\" failed"))
      << noPrinter.output;
  const RunResult noFile = Print(Quote(kPrinter) + L" C:\\no-such-job.pdf");
  EXPECT_EQ(noFile.exitCode, 1u);
  EXPECT_TRUE(Contains(noFile.output, "(error 2)")) << noFile.output;
  EXPECT_EQ(Print(Quote(kPrinter)).exitCode, 2u);
  EXPECT_EQ(Print(Quote(kPrinter) + L" " + Quote(job_) + L" --repeat 0").exitCode, 2u);
}

}  // namespace
}  // namespace e2e
