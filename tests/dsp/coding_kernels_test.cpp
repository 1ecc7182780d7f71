// The quantisation and distortion kernels: the generic code against the arithmetic it states,
// and every column against the generic code to the bit (the rate loops' decisions depend on it).
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "dsp/column_util.h"
#include "dsp/generic_primitives.h"

namespace aacs::dsp {
namespace {

using test::ColumnName;
using test::Impl;

constexpr int kBlocks = 32;

// Magnitudes as the rate loops see them: 3/4 powers of a wide spread of levels, many zeros.
std::vector<float> Magnitudes(unsigned seed, float largest) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> level(0.0f, 1.0f);
  std::vector<float> y(kBlocks * 32);
  for (float& v : y) {
    const float u = level(rng);
    v = u < 0.3f ? 0.0f : largest * u * u * u;
  }
  return y;
}

int32_t Reference(double step, float y) {
  const float sum = static_cast<float>(step * y + 8388607.9054);
  return static_cast<int32_t>(std::bit_cast<uint32_t>(sum) - 0x4B000000u);
}

TEST(QuantiseMark, RoundsToNearestAfterTheOffsetAndMarksChangedLines) {
  std::vector<float> y(64, 0.0f);
  y[0] = 1.0946f;   // 1.0946 - 0.0946 = 1 exactly
  y[1] = 0.5f;      // 0.4054: 0
  y[2] = 1.6f;      // 1.5054: 2
  y[3] = 100.0f;
  y[40] = 0.5f;
  std::vector<int32_t> q(64, 0);
  q[3] = 100;       // unchanged value: no mark
  uint32_t changed[2] = {0xDEAD, 0xBEEF};
  ASSERT_EQ(generic::QuantiseMark(y.data(), q.data(), 2, 1.0, changed), 0);
  EXPECT_EQ(q[0], 1);
  EXPECT_EQ(q[1], 0);
  EXPECT_EQ(q[2], 2);
  EXPECT_EQ(q[3], 100);
  EXPECT_EQ(q[40], 0);
  EXPECT_EQ(changed[0], 0b101u);  // lines 0 and 2 changed; 1 stayed 0, 3 stayed 100
  EXPECT_EQ(changed[1], 0u);
}

TEST(QuantiseMark, StopsAfterTheFirstBlockAboveTheLargestMagnitude) {
  std::vector<float> y(3 * 32, 1.0f);
  y[32 + 5] = 8191.6f;  // rounds to 8192 in the second block
  std::vector<int32_t> q(3 * 32, -7);
  uint32_t changed[3] = {0, 0, 12345};
  EXPECT_EQ(generic::QuantiseMark(y.data(), q.data(), 3, 1.0, changed), 1);
  EXPECT_EQ(q[32 + 5], 8192);
  EXPECT_EQ(q[64], -7) << "the block after the overflow must stay untouched";
  EXPECT_EQ(changed[1], 0xFFFFFFFFu);
  EXPECT_EQ(changed[2], 12345u);
  y[32 + 5] = 8191.4f;
  EXPECT_EQ(generic::QuantiseMark(y.data(), q.data(), 3, 1.0, changed), 0);
}

TEST(QuantiseMark, EveryColumnGivesTheGenericBits) {
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(ColumnName(column));
    const auto quantise = Impl<QuantiseMarkFn>(kSlotQuantiseMark, column);
    for (unsigned seed = 1; seed <= 6; ++seed) {
      const auto y = Magnitudes(seed, seed % 2 ? 2000.0f : 4.0e5f);
      for (const double step : {1.0, 0.0123, 0.7071, 3.1}) {
        std::vector<int32_t> qa(y.size()), qb(y.size());
        for (size_t i = 0; i < y.size(); ++i) qa[i] = qb[i] = Reference(step * 1.1387, y[i]);  // half-stale
        uint32_t ma[kBlocks] = {}, mb[kBlocks] = {};
        const int ra = generic::QuantiseMark(y.data(), qa.data(), kBlocks, step, ma);
        const int rb = quantise(y.data(), qb.data(), kBlocks, step, mb);
        EXPECT_EQ(ra, rb) << seed << " " << step;
        EXPECT_EQ(qa, qb) << seed << " " << step;
        EXPECT_EQ(std::memcmp(ma, mb, sizeof ma), 0) << seed << " " << step;
        if (ra == 0) {
          for (size_t i = 0; i < y.size(); ++i) ASSERT_EQ(qa[i], Reference(step, y[i])) << i;
        }
      }
    }
  }
}

TEST(BandError, SumsSquaredErrorsOfTheClampedPowerTable) {
  std::vector<float> power(16384);
  for (int i = 0; i < 16384; ++i) power[i] = static_cast<float>(i);
  const int32_t q[6] = {2, -3, 0, 40000, 1, 1};
  const float a[6] = {1.0f, 3.0f, 0.5f, 16380.0f, 0.0f, 2.0f};
  // scale 2: errors 3, 3, -0.5, 2 * 16383 - 16380 (the index clamps), then 2 and 0 into the
  // first partial sum
  const float want = ((9.0f + 4.0f + 0.0f) + 9.0f) + (0.25f + 16386.0f * 16386.0f);
  EXPECT_FLOAT_EQ(generic::BandError(power.data(), 2.0f, q, a, 6), want);
}

TEST(BandError, EveryColumnGivesTheGenericFloat) {
  std::vector<float> power(16384);
  for (int i = 0; i < 16384; ++i) power[i] = std::pow(static_cast<float>(i), 4.0f / 3.0f);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> value(-40, 40);
  std::uniform_real_distribution<float> level(0.0f, 150.0f);
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(ColumnName(column));
    const auto error = Impl<BandErrorFn>(kSlotBandError, column);
    for (int n : {4, 8, 12, 16, 20, 28, 32, 36, 44, 96, 288, 1024, 3, 7, 13}) {
      std::vector<int32_t> q(n);
      std::vector<float> a(n);
      for (int i = 0; i < n; ++i) {
        q[i] = i % 9 == 0 ? 20000 : value(rng);
        a[i] = level(rng);
      }
      const float want = generic::BandError(power.data(), 0.37f, q.data(), a.data(), n);
      EXPECT_EQ(std::bit_cast<uint32_t>(error(power.data(), 0.37f, q.data(), a.data(), n)),
                std::bit_cast<uint32_t>(want))
          << n;
    }
  }
}

}  // namespace
}  // namespace aacs::dsp
