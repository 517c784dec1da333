#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/japanese.h"
#include "tests/library_double/ostralib_double.h"

using ostralib_double::Behaviour;
using ostralib_double::Call;

namespace {

std::wstring RunPass(const Behaviour& behaviour, const std::wstring& source,
                     DWORD capacityChars = 270) {
  ostralib_double::Reset(behaviour);
  std::vector<WCHAR> destination(capacityChars + 1, 0xABCD);
  CheckForJapaneseEncoding(source.c_str(), destination.data(), capacityChars);
  EXPECT_EQ(0xABCD, destination[capacityChars]) << "written past the capacity";
  EXPECT_EQ(0, ostralib_double::OpenRecords());
  return std::wstring(destination.data());
}

TEST(JapaneseDecoderCalls, SuccessReplacesTheText) {
  Behaviour behaviour;
  behaviour.decoderOutput = "\xE6\x97\xA5\xE6\x9C\xAC";
  EXPECT_EQ(L"\x65E5\x672C", RunPass(behaviour, L"\x93\xFA\x96\x7B"));
  EXPECT_EQ((std::vector<Call>{Call::DecoderInit, Call::DecoderProcess, Call::DecoderFinalize}),
            ostralib_double::CallSequence());
  EXPECT_EQ(270u, ostralib_double::Calls()[1].value) << "OutputSize is the capacity in bytes";
  EXPECT_EQ(L"", RunPass(behaviour, L""));
  EXPECT_TRUE(ostralib_double::CallSequence().empty()) << "empty source reached the decoder";
}

TEST(JapaneseDecoderCalls, FailuresKeepTheTextAndFinalizeOnce) {
  const std::vector<Call> initFails = {Call::DecoderInit, Call::DecoderStatus,
                                       Call::DecoderFinalize};
  const struct {
    int initResult;
    int processResult;
    std::vector<Call> expected;
  } cases[] = {
      {1, 0, initFails},
      {-1, 0, initFails},
      {0, 4, {Call::DecoderInit, Call::DecoderProcess, Call::DecoderStatus, Call::DecoderFinalize}},
  };
  for (const auto& c : cases) {
    Behaviour behaviour;
    behaviour.initResult = c.initResult;
    behaviour.processResult = c.processResult;
    behaviour.decoderOutput = "replaced";
    EXPECT_EQ(L"Titel \xE9t\xE9", RunPass(behaviour, L"Titel \xE9t\xE9")) << c.initResult;
    EXPECT_EQ(c.expected, ostralib_double::CallSequence()) << c.initResult;
  }
}

TEST(JapaneseDecoderCalls, UnusableOutputKeepsTheText) {
  Behaviour unterminated;
  unterminated.fillWholeOutput = true;
  // 16 bytes without a terminator need 17 units: no read past the output.
  EXPECT_EQ(L"source", RunPass(unterminated, L"source", 16));
  EXPECT_EQ(L"text", RunPass(Behaviour(), L"text"));
  Behaviour invalid;
  invalid.decoderOutput = "\xC3\x28";
  // Without the strict flag the platform replaces the bad byte.
  const std::wstring replaced = RunPass(invalid, L"text");
  EXPECT_EQ(2u, replaced.size());
  EXPECT_EQ(L'(', replaced[1]);
}

TEST(JapaneseDecoderCalls, LibraryExceptionsPassThroughAfterFinalize) {
  for (Call thrower : {Call::DecoderInit, Call::DecoderProcess}) {
    Behaviour behaviour;
    behaviour.throwing = true;
    behaviour.throwFrom = thrower;
    ostralib_double::Reset(behaviour);
    std::vector<WCHAR> destination(270, 0);
    bool caught = false;
    try {
      CheckForJapaneseEncoding(L"\x93\xFA\x96\x7B", destination.data(), 270);
    } catch (const ostralib_double::LibraryFault& fault) {
      caught = fault.call == thrower;
    }
    EXPECT_TRUE(caught);
    std::vector<Call> expected = {Call::DecoderInit, Call::DecoderProcess, Call::DecoderFinalize};
    if (thrower == Call::DecoderInit) expected.erase(expected.begin() + 1);
    EXPECT_EQ(expected, ostralib_double::CallSequence());
    // The first step's copy is in place when the exception leaves.
    EXPECT_EQ(L"\x93\xFA\x96\x7B", std::wstring(destination.data()));
  }
}

}  // namespace
