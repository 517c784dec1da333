#include "spooler/memory.h"

#include <gtest/gtest.h>

namespace {

bool AllZero(const void* block, size_t bytes) {
  const BYTE* p = static_cast<const BYTE*>(block);
  for (size_t i = 0; i < bytes; ++i) {
    if (p[i]) return false;
  }
  return true;
}

TEST(SplMemory, AllocationsAreZeroFilledAndStringsCopiedWithTerminator) {
  for (DWORD bytes : {1u, 65537u}) {
    UniqueGlobal block(AllocSplMem(bytes));
    ASSERT_NE(block.get(), nullptr);
    EXPECT_TRUE(AllZero(block.get(), bytes)) << bytes;
  }
  EXPECT_EQ(AllocSplStr(nullptr), nullptr);
  for (const WCHAR* text : {L"", L"Gr\u00f6\u00dfe \u5831\u544a"}) {
    WCHAR* copy = AllocSplStr(text);
    ASSERT_NE(copy, nullptr);
    EXPECT_STREQ(copy, text);
    EXPECT_EQ(GlobalSize(copy), (wcslen(text) + 1) * sizeof(WCHAR));
    GlobalFree(copy);
  }
}

TEST(ReallocSplMem, CopiesTheSmallerSizeAndZeroFillsTheRest) {
  const struct {
    DWORD oldBytes, newBytes, copiedBytes;
  } cases[] = {{8, 16, 8}, {16, 8, 8}, {0, 12, 0}};
  for (const auto& c : cases) {
    BYTE* old = static_cast<BYTE*>(AllocSplMem(c.oldBytes ? c.oldBytes : 1));
    ASSERT_NE(old, nullptr);
    for (DWORD i = 0; i < c.oldBytes; ++i) old[i] = static_cast<BYTE>(0xA0 + i);
    BYTE* grown = static_cast<BYTE*>(ReallocSplMem(old, c.oldBytes, c.newBytes));
    ASSERT_NE(grown, nullptr);
    for (DWORD i = 0; i < c.copiedBytes; ++i) EXPECT_EQ(grown[i], 0xA0 + i);
    EXPECT_TRUE(AllZero(grown + c.copiedBytes, c.newBytes - c.copiedBytes));
    GlobalFree(grown);
  }
  UniqueGlobal fresh(ReallocSplMem(nullptr, 100, 32));
  ASSERT_NE(fresh.get(), nullptr);
  EXPECT_TRUE(AllZero(fresh.get(), 32));
}

}  // namespace
