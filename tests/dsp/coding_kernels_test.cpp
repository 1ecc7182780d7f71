// The quantisation and distortion kernels: the generic code against the arithmetic it states,
// and every column against the generic code to the bit (the rate loops' decisions depend on it).
#include <gtest/gtest.h>

#include <algorithm>
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

TEST(QuantiseBands, RoundsToNearestAfterTheOffsetAndFlagsBandsThatChanged) {
  std::vector<float> y(24, 0.0f);
  y[0] = 1.0946f;   // 1.0946 - 0.0946 = 1 exactly
  y[1] = 0.5f;      // 0.4054: 0
  y[2] = 1.6f;      // 1.5054: 2
  y[4] = 100.0f;
  y[20] = 0.5f;
  std::vector<int32_t> q(24, 0);
  q[4] = 100;       // band 1 keeps its values
  q[23] = 5;        // past the last band: not touched
  const int offsets[] = {0, 4, 12, 20, 24};
  uint8_t changed[4] = {0, 0, 0, 1};
  int32_t peak[4] = {-1, -1, -1, -1};
  ASSERT_EQ(generic::QuantiseBands(y.data(), q.data(), offsets, 3, 1.0, changed, peak), 0);
  EXPECT_EQ(q[0], 1);
  EXPECT_EQ(q[1], 0);
  EXPECT_EQ(q[2], 2);
  EXPECT_EQ(q[4], 100);
  EXPECT_EQ(q[23], 5);
  EXPECT_EQ(changed[0], 1);
  EXPECT_EQ(changed[1], 0);
  EXPECT_EQ(changed[2], 0);
  EXPECT_EQ(changed[3], 1) << "flags are only ever set";
  EXPECT_EQ(peak[0], 2);
  EXPECT_EQ(peak[1], 100);
  EXPECT_EQ(peak[2], 0);
  EXPECT_EQ(peak[3], -1);
}

TEST(QuantiseBands, StopsAfterTheFirstBandAboveTheLargestMagnitude) {
  std::vector<float> y(24, 1.0f);
  y[9] = 8191.6f;  // rounds to 8192 in band 1
  std::vector<int32_t> q(24, -7);
  const int offsets[] = {0, 8, 16, 24};
  uint8_t changed[3] = {0, 0, 0};
  int32_t peak[3] = {-1, -1, -1};
  EXPECT_EQ(generic::QuantiseBands(y.data(), q.data(), offsets, 3, 1.0, changed, peak), 1);
  EXPECT_EQ(peak[1], 8192);
  EXPECT_EQ(peak[2], -1);
  EXPECT_EQ(q[9], 8192);
  EXPECT_EQ(q[16], -7) << "the band after the overflow must stay untouched";
  EXPECT_EQ(changed[1], 1);
  EXPECT_EQ(changed[2], 0);
  y[9] = 8191.4f;
  EXPECT_EQ(generic::QuantiseBands(y.data(), q.data(), offsets, 3, 1.0, changed, peak), 0);
}

TEST(QuantiseBands, EveryColumnGivesTheGenericBits) {
  // Long-block widths and eight-short grouped widths, and one width that is no multiple of 4.
  std::vector<int> offsets = {0};
  for (int w : {4, 4, 4, 8, 8, 12, 16, 20, 28, 32, 32, 64, 96, 128, 4, 36, 40, 24, 6, 2, 120, 288, 48})
    offsets.push_back(offsets.back() + w);
  const int bands = static_cast<int>(offsets.size()) - 1;
  ASSERT_LE(offsets.back(), kBlocks * 32);
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(ColumnName(column));
    const auto quantise = Impl<QuantiseBandsFn>(kSlotQuantiseBands, column);
    for (unsigned seed = 1; seed <= 6; ++seed) {
      const auto y = Magnitudes(seed, seed % 2 ? 2000.0f : 4.0e5f);
      for (const double step : {1.0, 0.0123, 0.7071, 3.1}) {
        std::vector<int32_t> qa(y.size()), qb(y.size());
        for (size_t i = 0; i < y.size(); ++i) qa[i] = qb[i] = Reference(step * (i % 3 ? 1.0 : 1.1387), y[i]);
        std::vector<uint8_t> fa(bands, 0), fb(bands, 0);
        std::vector<int32_t> pa(bands, -1), pb(bands, -1);
        const int ra = generic::QuantiseBands(y.data(), qa.data(), offsets.data(), bands, step, fa.data(), pa.data());
        const int rb = quantise(y.data(), qb.data(), offsets.data(), bands, step, fb.data(), pb.data());
        EXPECT_EQ(ra, rb) << seed << " " << step;
        EXPECT_EQ(qa, qb) << seed << " " << step;
        EXPECT_EQ(fa, fb) << seed << " " << step;
        EXPECT_EQ(pa, pb) << seed << " " << step;
        if (ra == 0) {
          for (int i = 0; i < offsets.back(); ++i) ASSERT_EQ(qa[i], Reference(step, y[i])) << i;
        }
      }
    }
  }
}

// Values within a hair of rounding up or down, where a float shortcut would go wrong unless it
// notices; every column must still give the double-precision result.
TEST(QuantiseBands, ValuesNextToHalfIntegersRoundLikeTheGenericKernel) {
  std::vector<float> y;
  for (int k = 0; k < 8200; k += 7)
    for (const float off : {-2e-3f, -1e-3f, -2e-4f, -3e-5f, 0.0f, 3e-5f, 2e-4f, 1e-3f, 2e-3f})
      y.push_back(static_cast<float>(k) + 0.5946f + off * static_cast<float>(k > 100 ? k / 100 : 1));
  while (y.size() % 8 != 0) y.push_back(1.0f);
  const int offsets[2] = {0, static_cast<int>(y.size())};
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(ColumnName(column));
    for (const double step : {1.0, 0.5, 0.25}) {
      std::vector<int32_t> qa(y.size(), 0), qb(y.size(), 0);
      uint8_t fa = 0, fb = 0;
      int32_t pa = 0, pb = 0;
      const int ra = generic::QuantiseBands(y.data(), qa.data(), offsets, 1, step, &fa, &pa);
      const int rb = Impl<QuantiseBandsFn>(kSlotQuantiseBands, column)(y.data(), qb.data(), offsets, 1, step, &fb, &pb);
      EXPECT_EQ(ra, rb);
      EXPECT_EQ(qa, qb) << step;
      EXPECT_EQ(pa, pb);
      for (size_t i = 0; i < y.size(); ++i) ASSERT_EQ(qa[i], Reference(step, y[i])) << i;
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

// The model's band sums: the generic kernel is VecSum / VecDotProduct of the generic column per
// band, and every column gives its bits.
TEST(BandSums, EveryColumnGivesTheGenericVectorSums) {
  const auto x = test::RandomSignal(1024, 31, 100.0f), u = test::RandomSignal(1024, 32);
  std::vector<int> start, width;
  for (int pos = 0, w = 1; pos + w <= 1024; pos += w, w = w % 37 + 3) {
    start.push_back(pos);
    width.push_back(w);
  }
  const int n = static_cast<int>(start.size());
  std::vector<float> sums(n), dots(n), peaks(n);
  generic::BandSums(x.data(), u.data(), start.data(), width.data(), n, sums.data(), dots.data(), peaks.data());
  for (int b = 0; b < n; ++b) {
    float sum = 0.0f, dot = 0.0f, peak = 0.0f;
    generic::VecSum(x.data() + start[b], width[b], &sum);
    generic::VecDotProduct(x.data() + start[b], u.data() + start[b], width[b], &dot);
    for (int k = 0; k < width[b]; ++k) peak = std::max(peak, x[start[b] + k]);
    ASSERT_EQ(std::bit_cast<uint32_t>(sums[b]), std::bit_cast<uint32_t>(sum)) << b;
    ASSERT_EQ(std::bit_cast<uint32_t>(dots[b]), std::bit_cast<uint32_t>(dot)) << b;
    ASSERT_EQ(peaks[b], peak) << b;
  }
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(ColumnName(column));
    std::vector<float> s2(n), d2(n), p2(n, -1.0f);
    Impl<BandSumsFn>(kSlotBandSums, column)(x.data(), u.data(), start.data(), width.data(), n, s2.data(), d2.data(),
                                            p2.data());
    EXPECT_EQ(std::memcmp(s2.data(), sums.data(), n * sizeof(float)), 0);
    EXPECT_EQ(std::memcmp(d2.data(), dots.data(), n * sizeof(float)), 0);
    EXPECT_EQ(p2, peaks);
    std::vector<float> s3(n), untouched(n, 7.0f);
    Impl<BandSumsFn>(kSlotBandSums, column)(x.data(), nullptr, start.data(), width.data(), n, s3.data(),
                                            untouched.data(), nullptr);
    EXPECT_EQ(std::memcmp(s3.data(), sums.data(), n * sizeof(float)), 0);
    EXPECT_EQ(untouched, std::vector<float>(n, 7.0f));
  }
}

TEST(RowDots, EveryColumnGivesTheGenericDotProducts) {
  constexpr int kStride = 64, kRows = 49;
  const auto rows = test::RandomSignal(kStride * kRows, 33), a = test::RandomSignal(kStride, 34, 1000.0f),
             c = test::RandomSignal(kStride, 35);
  std::vector<int> first(kRows), count(kRows);
  for (int b = 0; b < kRows; ++b) {
    first[b] = std::max(0, b - 1 - b % 5);
    count[b] = std::min(kStride - first[b], 1 + (b * 7) % 23);
  }
  std::vector<float> want1(kRows), want2(kRows);
  for (int b = 0; b < kRows; ++b) {
    generic::VecDotProduct(rows.data() + b * kStride + first[b], a.data() + first[b], count[b], &want1[b]);
    generic::VecDotProduct(rows.data() + b * kStride + first[b], c.data() + first[b], count[b], &want2[b]);
  }
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(ColumnName(column));
    std::vector<float> out1(kRows), out2(kRows);
    Impl<RowDotsFn>(kSlotRowDots, column)(rows.data(), kStride, first.data(), count.data(), kRows, a.data(), c.data(),
                                          out1.data(), out2.data());
    EXPECT_EQ(std::memcmp(out1.data(), want1.data(), sizeof(float) * kRows), 0);
    EXPECT_EQ(std::memcmp(out2.data(), want2.data(), sizeof(float) * kRows), 0);
  }
}

}  // namespace
}  // namespace aacs::dsp
