// Platform helpers: the stream block, aligned buffers and the calendar year.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ctime>

#include "dsp/platform.h"

namespace aacs::dsp {
namespace {

TEST(Platform, ZeroedBlockIsZeroAndCacheLineAligned) {
  constexpr std::size_t kBytes = 4103376;  // the size of a whole stream
  auto* block = static_cast<unsigned char*>(AllocZeroedBlock(kBytes));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % kBlockAlignment, 0u);
  std::size_t nonzero = 0;
  for (std::size_t i = 0; i < kBytes; ++i) nonzero += block[i] != 0;
  EXPECT_EQ(nonzero, 0u);
  FreeBlock(block);
  EXPECT_EQ(AllocZeroedBlock(0), nullptr);
  EXPECT_EQ(AllocZeroedBlock(SIZE_MAX), nullptr);
}

TEST(Platform, AlignedBuffersAre32ByteAligned) {
  for (std::size_t bytes : {1u, 31u, 32u, 33u, 4096u}) {
    void* p = AllocAlignedBuffer(bytes);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u);
    std::memset(p, 0xAB, bytes);  // the whole size is usable
    FreeAlignedBuffer(p);
  }
  EXPECT_EQ(AllocAlignedBuffer(0), nullptr);
  FreeAlignedBuffer(nullptr);
}

TEST(Platform, CurrentYearIsTheUtcYear) {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  const int year = CurrentUtcYear();
  EXPECT_GE(year, 2024);
  EXPECT_LE(year - (utc.tm_year + 1900), 1);  // allow a New Year's Eve rollover between calls
}

TEST(Platform, FailureMessageShowsCaptionAndText) {
  ::testing::internal::CaptureStderr();
  ShowFailureMessage(" text with a leading blank", "Caption");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Caption:  text with a leading blank\n");
}

}  // namespace
}  // namespace aacs::dsp
