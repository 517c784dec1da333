#include "spooler/parameters.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/spooler_double.h"

namespace sd = spooler_double;

namespace {

const WCHAR kPrinter[] = L"Capture Printer";

// The copy count from the spooler's parameter string: a malformed string
// must neither crash the open nor ask for more copies than were given.
TEST(CopyCount, FromParameterStringAndPrinter) {
  const struct {
    const WCHAR* parameters;
    DWORD attributes;
    DWORD copies;
  } cases[] = {
      // clang-format off
      {L"COPIES=3;", 0, 3},
      {L"A=1;copies=4;", 0, 4},
      {L"COPIES=x;COPIES=2;", 0, 2},
      {L" COPIES=\t3;", 0, 3},
      {L"=3;COPIES=6;", 0, 6},
      {L"COPIES=3", 0, 1},
      {L"COPIES =3;", 0, 1},
      {L"X=1 2;COPIES=8;", 0, 8},
      {L"COPY=3;", 0, 1},
      {nullptr, 0, 1},
      {L"COPIES=99999999999;", 0, MAXDWORD},
      {L"COPIES=12;", PRINTER_ATTRIBUTE_DIRECT, 1},
      // clang-format on
  };
  for (const auto& c : cases) {
    sd::Reset();
    sd::AddPrinter(kPrinter, c.attributes);
    HANDLE printer = nullptr;
    ASSERT_TRUE(OpenPrinterW(const_cast<WCHAR*>(kPrinter), &printer, nullptr));
    const std::wstring shown = c.parameters ? c.parameters : L"(null)";
    EXPECT_EQ(SettleCopyCount(c.parameters, printer), c.copies) << shown;
  }
  sd::Reset();
}

}  // namespace
