#include "spooler/parameters.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/spooler_double.h"

namespace sd = spooler_double;

namespace {

const WCHAR kPrinter[] = L"Capture Printer";

class CopyCountTest : public ::testing::Test {
 protected:
  void SetUp() override { sd::Reset(); }
  void TearDown() override { sd::Reset(); }

  HANDLE OpenTestPrinter(DWORD attributes) {
    sd::AddPrinter(kPrinter, attributes);
    HANDLE printer = nullptr;
    EXPECT_TRUE(OpenPrinterW(const_cast<WCHAR*>(kPrinter), &printer, nullptr));
    return printer;
  }
};

struct CopiesCase {
  const WCHAR* parameters;
  DWORD copies;
  bool printerQueried;
};

TEST_F(CopyCountTest, FromParameterStringOnAnOrdinaryPrinter) {
  const CopiesCase cases[] = {
      {L"COPIES=3;", 3, true},
      {L"copies=3;", 3, true},
      {L"A=1;COPIES=4;", 4, true},
      {L"COPIES=x;COPIES=2;", 2, true},
      {L"COPIES=2x;", 2, true},
      {L"COPIESX=5;", 5, true},
      {L" COPIES= 3;", 3, true},
      {L"\tCOPIES=\t3;", 3, true},
      {L"COPIES=3", 1, false},
      {L"COPIES=3 ;", 1, false},
      {L"COPIES =3;", 1, false},
      {L"COPIES=0;", 0, false},
      {L"COPIES=1;", 1, false},
      {L"COPY=3;", 1, false},
      {L"=3;COPIES=6;", 6, true},
      {L"COPIES==3;COPIES=7;", 7, true},
      {L"X=1 2;COPIES=8;", 8, true},
      {L"COPIES=99999999999;", MAXDWORD, true},
      {L"", 1, false},
      {nullptr, 1, false},
  };
  for (const CopiesCase& c : cases) {
    sd::Reset();
    HANDLE printer = OpenTestPrinter(0);
    EXPECT_EQ(SettleCopyCount(c.parameters, printer), c.copies)
        << (c.parameters ? c.parameters : L"(null)");
    EXPECT_EQ(sd::CallCount(sd::SpoolerCall::GetPrinter), c.printerQueried ? 1u : 0u)
        << (c.parameters ? c.parameters : L"(null)");
    ClosePrinter(printer);
  }
}

TEST_F(CopyCountTest, DirectPrinterAlwaysGetsOneCopy) {
  HANDLE printer = OpenTestPrinter(PRINTER_ATTRIBUTE_DIRECT | PRINTER_ATTRIBUTE_SHARED);
  EXPECT_EQ(SettleCopyCount(L"COPIES=12;", printer), 1u);
  ClosePrinter(printer);
}

TEST_F(CopyCountTest, NoPrinterHandleGivesOneCopyWithoutQuery) {
  EXPECT_EQ(SettleCopyCount(L"COPIES=5;", nullptr), 1u);
  EXPECT_EQ(SettleCopyCount(L"COPIES=5;", INVALID_HANDLE_VALUE), 1u);
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::GetPrinter), 0u);
}

TEST_F(CopyCountTest, FailedPrinterQueryFallsBackToOne) {
  HANDLE printer = OpenTestPrinter(0);
  sd::FailCall(sd::SpoolerCall::GetPrinter, ERROR_ACCESS_DENIED);
  EXPECT_EQ(SettleCopyCount(L"COPIES=5;", printer), 1u);
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::GetPrinter), 1u);
  ClosePrinter(printer);
}

TEST_F(CopyCountTest, LargePrinterInfoIsFetchedBySecondAttemptWithSlack) {
  HANDLE printer = OpenTestPrinter(0);
  sd::SetPrinterInfoNeededBytes(kPrinter, 5000);
  EXPECT_EQ(SettleCopyCount(L"COPIES=4;", printer), 4u);
  const std::vector<DWORD> sizes = sd::GetPrinterBufferSizes();
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[0], 2048u);
  EXPECT_EQ(sizes[1], 5010u);
  ClosePrinter(printer);
}

TEST_F(CopyCountTest, GetPrinterInfoGivesUpAfterTwoShortBuffers) {
  HANDLE printer = OpenTestPrinter(0);
  sd::SetPrinterInfoNeededBytes(kPrinter, 5000);
  sd::FailCall(sd::SpoolerCall::GetPrinter, ERROR_INSUFFICIENT_BUFFER, 2);
  DWORD error = 0;
  EXPECT_EQ(GetPrinterInfo(printer, 2, &error), nullptr);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_NOT_ENOUGH_MEMORY));
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::GetPrinter), 2u);
  ClosePrinter(printer);
}

TEST_F(CopyCountTest, GetPrinterInfoReportsOtherErrorsAtOnce) {
  HANDLE printer = OpenTestPrinter(0);
  sd::FailCall(sd::SpoolerCall::GetPrinter, ERROR_INVALID_HANDLE);
  DWORD error = 0;
  EXPECT_EQ(GetPrinterInfo(printer, 2, &error), nullptr);
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_INVALID_HANDLE));
  EXPECT_EQ(sd::CallCount(sd::SpoolerCall::GetPrinter), 1u);
  ClosePrinter(printer);
}

TEST_F(CopyCountTest, GetPrinterInfoReturnsTheAttributes) {
  HANDLE printer = OpenTestPrinter(PRINTER_ATTRIBUTE_DIRECT);
  DWORD error = 99;
  void* info = GetPrinterInfo(printer, 2, &error);
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(error, 0u);
  EXPECT_EQ(static_cast<PRINTER_INFO_2W*>(info)->Attributes,
            static_cast<DWORD>(PRINTER_ATTRIBUTE_DIRECT));
  GlobalFree(info);
  ClosePrinter(printer);
}

TEST(GetKeyValue, MissingArgumentsGive87AndClearTheSize) {
  DWORD value = 0;
  USHORT size = 4;
  EXPECT_EQ(GetKeyValue(nullptr, L"COPIES", KeyValueType::Number, &size, &value),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(size, 0);
  size = 4;
  EXPECT_EQ(GetKeyValue(L"COPIES=1;", nullptr, KeyValueType::Number, &size, &value),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(size, 0);
  size = 4;
  EXPECT_EQ(GetKeyValue(L"COPIES=1;", L"COPIES", KeyValueType::Number, &size, nullptr),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(GetKeyValue(L"COPIES=1;", L"COPIES", KeyValueType::Number, nullptr, &value),
            ERROR_INVALID_PARAMETER);
}

TEST(GetKeyValue, ShortNumberSizeGives122AndKeepsTheSize) {
  DWORD value = 77;
  USHORT size = 3;
  EXPECT_EQ(GetKeyValue(L"COPIES=1;", L"COPIES", KeyValueType::Number, &size, &value),
            ERROR_INSUFFICIENT_BUFFER);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(value, 0u);
}

TEST(GetKeyValue, NotFoundGives232AndClearsTheSize) {
  const WCHAR* misses[] = {L"",          L"COPIES=3", L"COPIES=3 ;", L"COPIES =3;",
                           L"COPIES=x;", L"COPIE=3;", L";;;",        L"COPIES=;"};
  for (const WCHAR* parameters : misses) {
    DWORD value = 0;
    USHORT size = 4;
    EXPECT_EQ(GetKeyValue(parameters, L"COPIES", KeyValueType::Number, &size, &value),
              ERROR_NO_DATA)
        << parameters;
    EXPECT_EQ(size, 0) << parameters;
  }
}

TEST(GetKeyValue, FoundNumberLeavesTheSizeAndTheStringUnchanged) {
  WCHAR parameters[] = L"N=1;COPIES=42;";
  const std::wstring before = parameters;
  DWORD value = 0;
  USHORT size = 8;
  EXPECT_EQ(GetKeyValue(parameters, L"COPIES", KeyValueType::Number, &size, &value), 0);
  EXPECT_EQ(value, 42u);
  EXPECT_EQ(size, 8);
  EXPECT_EQ(before, parameters);
}

TEST(GetKeyValue, StringFormCopiesTheValueAndReportsItsLength) {
  WCHAR value[16] = {};
  USHORT size = sizeof(value);
  EXPECT_EQ(GetKeyValue(L"A=1;TRAY=Upper 2x;", L"TRAY", KeyValueType::String, &size, value),
            ERROR_NO_DATA);  // a blank inside the value ends it
  size = sizeof(value);
  EXPECT_EQ(GetKeyValue(L"A=1;TRAY=Upper;", L"tray", KeyValueType::String, &size, value), 0);
  EXPECT_STREQ(value, L"Upper");
  EXPECT_EQ(size, 5);
  // The text and its terminator must fit the buffer's bytes.
  size = 10;
  EXPECT_EQ(GetKeyValue(L"TRAY=Upper;", L"TRAY", KeyValueType::String, &size, value),
            ERROR_INSUFFICIENT_BUFFER);
  size = 12;
  EXPECT_EQ(GetKeyValue(L"TRAY=Upper;", L"TRAY", KeyValueType::String, &size, value), 0);
}

TEST(GetKeyValue, UnknownValueTypeIsAnInvalidParameter) {
  DWORD value = 0;
  USHORT size = 4;
  EXPECT_EQ(GetKeyValue(L"COPIES=1;", L"COPIES", static_cast<KeyValueType>(9), &size, &value),
            ERROR_INVALID_PARAMETER);
  EXPECT_EQ(size, 0);
}

}  // namespace
