#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "format/japanese.h"
#include "tests/library_double/ostralib_double.h"

using ostralib_double::Behaviour;
using ostralib_double::Call;

namespace {

std::wstring RunPass(const std::wstring& source, DWORD capacityChars = 270) {
  std::vector<WCHAR> destination(capacityChars + 1, 0xABCD);
  CheckForJapaneseEncoding(source.c_str(), destination.data(), capacityChars);
  EXPECT_EQ(0xABCD, destination[capacityChars]) << "written past the capacity";
  return std::wstring(destination.data());
}

TEST(JapaneseDecoderCalls, SuccessReplacesTheText) {
  Behaviour behaviour;
  behaviour.decoderOutput = "\xE6\x97\xA5\xE6\x9C\xAC";
  ostralib_double::Reset(behaviour);
  EXPECT_EQ(std::wstring(L"\x65E5\x672C"), RunPass(L"\x93\xFA\x96\x7B"));
  EXPECT_EQ((std::vector<Call>{Call::DecoderInit, Call::DecoderProcess, Call::DecoderFinalize}),
            ostralib_double::CallSequence());
  std::vector<ostralib_double::CallRecord> calls = ostralib_double::Calls();
  EXPECT_EQ(270u, calls[1].value) << "OutputSize is the capacity in bytes";
  EXPECT_EQ(0, ostralib_double::OpenRecords());
}

TEST(JapaneseDecoderCalls, EmptySourceNeverReachesTheDecoder) {
  ostralib_double::Reset();
  EXPECT_EQ(L"", RunPass(L""));
  EXPECT_TRUE(ostralib_double::CallSequence().empty());
}

TEST(JapaneseDecoderCalls, FailuresKeepTheTextAndFinalizeOnce) {
  const struct {
    const char* name;
    int initResult;
    int processResult;
    std::vector<Call> expected;
  } cases[] = {
      {"init fails", 1, 0, {Call::DecoderInit, Call::DecoderStatus, Call::DecoderFinalize}},
      {"process fails",
       0,
       4,
       {Call::DecoderInit, Call::DecoderProcess, Call::DecoderStatus, Call::DecoderFinalize}},
      {"negative result", -1, 0, {Call::DecoderInit, Call::DecoderStatus, Call::DecoderFinalize}},
  };
  for (const auto& c : cases) {
    Behaviour behaviour;
    behaviour.initResult = c.initResult;
    behaviour.processResult = c.processResult;
    behaviour.decoderOutput = "replaced";
    ostralib_double::Reset(behaviour);
    EXPECT_EQ(L"Titel \xE9t\xE9", RunPass(L"Titel \xE9t\xE9")) << c.name;
    EXPECT_EQ(c.expected, ostralib_double::CallSequence()) << c.name;
    EXPECT_EQ(0, ostralib_double::OpenRecords()) << c.name;
  }
}

TEST(JapaneseDecoderCalls, UnterminatedOutputIsNotReadPastItsEnd) {
  Behaviour behaviour;
  behaviour.fillWholeOutput = true;
  ostralib_double::Reset(behaviour);
  // 16 bytes of 'A' without a terminator need 17 units: the conversion
  // fails and the text stays.
  EXPECT_EQ(L"source", RunPass(L"source", 16));
}

TEST(JapaneseDecoderCalls, EmptyOrInvalidOutputKeepsTheText) {
  const std::string outputs[] = {"", "\xC3\x28"};
  for (const std::string& output : outputs) {
    Behaviour behaviour;
    behaviour.decoderOutput = output;
    ostralib_double::Reset(behaviour);
    std::wstring result = RunPass(L"text");
    if (output.empty()) {
      EXPECT_EQ(L"text", result);
    } else {
      // Without the strict flag the platform replaces the bad byte.
      EXPECT_EQ(2u, result.size());
      EXPECT_EQ(L'(', result[1]);
    }
  }
}

TEST(JapaneseDecoderCalls, LibraryExceptionsPassThroughAfterFinalize) {
  const struct {
    Call thrower;
    std::vector<Call> expected;
  } cases[] = {
      {Call::DecoderInit, {Call::DecoderInit, Call::DecoderFinalize}},
      {Call::DecoderProcess, {Call::DecoderInit, Call::DecoderProcess, Call::DecoderFinalize}},
  };
  for (const auto& c : cases) {
    Behaviour behaviour;
    behaviour.throwing = true;
    behaviour.throwFrom = c.thrower;
    ostralib_double::Reset(behaviour);
    std::vector<WCHAR> destination(270, 0);
    bool caught = false;
    try {
      CheckForJapaneseEncoding(L"\x93\xFA\x96\x7B", destination.data(), 270);
    } catch (const ostralib_double::LibraryFault& fault) {
      caught = fault.call == c.thrower;
    }
    EXPECT_TRUE(caught);
    EXPECT_EQ(c.expected, ostralib_double::CallSequence());
    // The copy of step 1 is in place when the exception leaves.
    EXPECT_EQ(std::wstring(L"\x93\xFA\x96\x7B"), std::wstring(destination.data()));
  }
}

}  // namespace
