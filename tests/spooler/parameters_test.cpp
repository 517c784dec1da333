#include "spooler/parameters.h"

#include <gtest/gtest.h>

#include <string>

#include "spooler/memory.h"
#include "tests/support/spooler_double.h"

namespace sd = spooler_double;

namespace {

const WCHAR kPrinter[] = L"Capture Printer";

class CopyCountTest : public ::testing::Test {
 protected:
  void SetUp() override { sd::Reset(); }
  void TearDown() override { sd::Reset(); }
  HANDLE Printer(DWORD attributes = 0) {
    sd::Reset();
    sd::AddPrinter(kPrinter, attributes);
    HANDLE printer = nullptr;
    EXPECT_TRUE(OpenPrinterW(const_cast<WCHAR*>(kPrinter), &printer, nullptr));
    return printer;
  }
  unsigned Queries() const { return sd::CallCount(sd::SpoolerCall::GetPrinter); }
};

TEST_F(CopyCountTest, FromParameterStringOnAnOrdinaryPrinter) {
  // The printer is queried only when more than one copy is asked for.
  const std::pair<const WCHAR*, DWORD> cases[] = {
      {L"COPIES=3;", 3},
      {L"copies=3;", 3},
      {L"A=1;COPIES=4;", 4},
      {L"COPIES=x;COPIES=2;", 2},
      {L"COPIES=2x;", 2},
      {L"COPIESX=5;", 5},
      {L" COPIES=\t3;", 3},
      {L"=3;COPIES=6;", 6},
      {L"COPIES=3", 1},
      {L"COPIES=3 ;", 1},
      {L"COPIES =3;", 1},
      {L"X=1 2;COPIES=8;", 8},
      {L"COPIES=0;", 0},
      {L"COPIES=1;", 1},
      {L"COPY=3;", 1},
      {nullptr, 1},
      {L"COPIES=99999999999;", MAXDWORD},
  };
  HANDLE printer = Printer();
  for (const auto& c : cases) {
    const unsigned before = Queries();
    const std::wstring shown = c.first ? c.first : L"(null)";
    EXPECT_EQ(SettleCopyCount(c.first, printer), c.second) << shown;
    EXPECT_EQ(Queries() - before, c.second > 1 ? 1u : 0u) << shown;
  }
}

TEST_F(CopyCountTest, DirectPrinterOrNoPrinterGetsOneCopy) {
  EXPECT_EQ(SettleCopyCount(L"COPIES=5;", nullptr), 1u);
  EXPECT_EQ(SettleCopyCount(L"COPIES=5;", INVALID_HANDLE_VALUE), 1u);
  EXPECT_EQ(Queries(), 0u);
  EXPECT_EQ(SettleCopyCount(L"COPIES=12;", Printer(PRINTER_ATTRIBUTE_DIRECT)), 1u);
}

TEST_F(CopyCountTest, LargePrinterInfoTakesASecondQueryAndFailuresFallBackToOne) {
  const struct {
    DWORD injected;
    unsigned nth;
    DWORD error;  // from GetPrinterInfo
    unsigned queries;
  } cases[] = {{0, 0, 0, 2},
               {ERROR_INSUFFICIENT_BUFFER, 2, ERROR_NOT_ENOUGH_MEMORY, 2},
               {ERROR_ACCESS_DENIED, 1, ERROR_ACCESS_DENIED, 1}};
  for (const auto& c : cases) {
    for (bool settle : {false, true}) {
      HANDLE printer = Printer();
      sd::SetPrinterInfoNeededBytes(kPrinter, 5000);
      if (c.injected) sd::FailCall(sd::SpoolerCall::GetPrinter, c.injected, c.nth);
      DWORD error = 99;
      if (settle) {
        EXPECT_EQ(SettleCopyCount(L"COPIES=4;", printer), c.error ? 1u : 4u) << c.injected;
      } else {
        UniqueGlobal info(GetPrinterInfo(printer, 2, &error));
        EXPECT_EQ(info.get() == nullptr, c.error != 0) << c.injected;
        EXPECT_EQ(error, c.error);
      }
      EXPECT_EQ(Queries(), c.queries) << c.injected;
    }
  }
}

TEST(GetKeyValue, ResultsSizesAndValues) {
  WCHAR parameters[] = L"N=1;COPIES=42;";
  const KeyValueType number = KeyValueType::Number, text = KeyValueType::String;
  const struct {
    const WCHAR* parameters;
    const WCHAR* key;
    KeyValueType type;
    USHORT size;
    USHORT result;
    USHORT sizeAfter;
  } cases[] = {
      {nullptr, L"COPIES", number, 4, ERROR_INVALID_PARAMETER, 0},
      {L"COPIES=1;", nullptr, number, 4, ERROR_INVALID_PARAMETER, 0},
      {L"COPIES=1;", L"COPIES", static_cast<KeyValueType>(9), 4, ERROR_INVALID_PARAMETER, 0},
      {parameters, L"COPIES", number, 8, 0, 8},
      {L"COPIES=1;", L"COPIES", number, 3, ERROR_INSUFFICIENT_BUFFER, 3},
      {L"COPIES=;", L"COPIES", number, 4, ERROR_NO_DATA, 0},
      {L"A=1;TRAY=Upper 2x;", L"TRAY", text, 32, ERROR_NO_DATA, 0},        // a blank ends the value
      {L"TRAY=Upper;", L"TRAY", text, 10, ERROR_INSUFFICIENT_BUFFER, 10},  // no room for the 0
      {L"A=1;tray=Upper;", L"TRAY", text, 12, 0, 5},
  };
  for (const auto& c : cases) {
    WCHAR value[16] = {};
    USHORT size = c.size;
    const std::wstring shown = c.parameters ? c.parameters : L"(null)";
    EXPECT_EQ(GetKeyValue(c.parameters, c.key, c.type, &size, value), c.result) << shown;
    EXPECT_EQ(size, c.sizeAfter) << shown;
    // A number lands as a DWORD: 42 reads as the characters 42, 0.
    if (c.result == 0) {
      EXPECT_EQ(std::wstring(value), c.type == text ? L"Upper" : L"\x2a") << shown;
    }
  }
  EXPECT_STREQ(parameters, L"N=1;COPIES=42;");
  USHORT size = 4;
  EXPECT_EQ(GetKeyValue(L"COPIES=1;", L"COPIES", number, &size, nullptr), ERROR_INVALID_PARAMETER);
  EXPECT_EQ(GetKeyValue(L"COPIES=1;", L"COPIES", number, nullptr, &size), ERROR_INVALID_PARAMETER);
}

}  // namespace
