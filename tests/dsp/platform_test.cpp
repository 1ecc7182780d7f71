// Platform helpers: the stream block and aligned buffers.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "dsp/platform.h"
#include "dsp/primitives.h"

namespace aacs::dsp {
namespace {

TEST(Platform, BlocksAreZeroedAlignedAndZeroOrHugeSizesGiveNull) {
  constexpr std::size_t kBytes = 4103376;  // the size of a whole stream
  auto* block = static_cast<unsigned char*>(AllocZeroedBlock(kBytes));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kBlockAlignment, 0u);
  EXPECT_EQ(std::count(block, block + kBytes, 0), std::ptrdiff_t(kBytes));
  FreeBlock(block);
  EXPECT_EQ(AllocZeroedBlock(0), nullptr);
  EXPECT_EQ(AllocZeroedBlock(SIZE_MAX), nullptr);
  for (std::size_t bytes : {1u, 31u, 33u, 4096u}) {
    void* p = bytes % 2 ? AllocAlignedBuffer(bytes) : AlignedAlloc(bytes);  // the primitive and its wrapper
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u);
    std::memset(p, 0xAB, bytes);  // the whole size is usable
    if (bytes % 2) FreeAlignedBuffer(p); else AlignedFree(p);
  }
  EXPECT_EQ(AllocAlignedBuffer(0), nullptr);
  EXPECT_EQ(AlignedAlloc(0), nullptr);
  FreeAlignedBuffer(nullptr);
}

}  // namespace
}  // namespace aacs::dsp
