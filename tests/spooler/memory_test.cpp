#include "spooler/memory.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

bool AllZero(const void* block, size_t bytes) {
  const BYTE* p = static_cast<const BYTE*>(block);
  for (size_t i = 0; i < bytes; ++i) {
    if (p[i]) return false;
  }
  return true;
}

TEST(AllocSplMem, ReturnsZeroFilledFixedBlock) {
  for (DWORD bytes : {1u, 7u, 4096u, 65537u}) {
    void* block = AllocSplMem(bytes);
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(AllZero(block, bytes)) << bytes;
    EXPECT_GE(GlobalSize(block), bytes);
    EXPECT_EQ(GlobalFree(block), nullptr);
  }
}

TEST(AllocSplStr, CopiesWithTerminatorAndNullGivesNull) {
  EXPECT_EQ(AllocSplStr(nullptr), nullptr);

  WCHAR* empty = AllocSplStr(L"");
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(GlobalSize(empty), 2u);
  EXPECT_EQ(empty[0], L'\0');
  GlobalFree(empty);

  WCHAR* copy = AllocSplStr(L"Gr\u00f6\u00dfe \u5831\u544a");
  ASSERT_NE(copy, nullptr);
  EXPECT_STREQ(copy, L"Gr\u00f6\u00dfe \u5831\u544a");
  EXPECT_EQ(GlobalSize(copy), 18u);
  GlobalFree(copy);
}

TEST(ReallocSplMem, CopiesTheSmallerSizeAndReleasesTheOld) {
  struct Case {
    DWORD oldBytes, newBytes, copiedBytes;
  } cases[] = {{8, 16, 8}, {16, 8, 8}, {0, 12, 0}, {5, 5, 5}};
  for (const Case& c : cases) {
    BYTE* old = static_cast<BYTE*>(AllocSplMem(c.oldBytes ? c.oldBytes : 1));
    ASSERT_NE(old, nullptr);
    for (DWORD i = 0; i < c.oldBytes; ++i) old[i] = static_cast<BYTE>(0xA0 + i);
    BYTE* grown = static_cast<BYTE*>(ReallocSplMem(old, c.oldBytes, c.newBytes));
    ASSERT_NE(grown, nullptr);
    for (DWORD i = 0; i < c.copiedBytes; ++i) EXPECT_EQ(grown[i], 0xA0 + i);
    EXPECT_TRUE(AllZero(grown + c.copiedBytes, c.newBytes - c.copiedBytes));
    GlobalFree(grown);
  }
}

TEST(ReallocSplMem, NullOldBlockGivesFreshBlock) {
  BYTE* block = static_cast<BYTE*>(ReallocSplMem(nullptr, 100, 32));
  ASSERT_NE(block, nullptr);
  EXPECT_TRUE(AllZero(block, 32));
  GlobalFree(block);
}

TEST(GlobalBlock, ReleasesOnScopeExitUnlessReleased) {
  void* kept = nullptr;
  {
    GlobalBlock owner(AllocSplMem(64));
    kept = owner.release();
  }
  ASSERT_NE(kept, nullptr);
  EXPECT_EQ(GlobalSize(kept), 64u);
  GlobalFree(kept);
}

}  // namespace
