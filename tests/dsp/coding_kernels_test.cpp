// The quantisation and distortion kernels: the generic code against the arithmetic it states,
// and every column against the generic code to the bit (the rate loops' decisions depend on it).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <random>
#include <tuple>
#include <vector>

#include "dsp/column_util.h"
#include "dsp/generic_primitives.h"

namespace aacs::dsp {
namespace {

using test::ColumnName;
using test::Impl;

// The quantiser's arithmetic in double precision: step * y + 0.4054, rounded by the 2^23 trick.
int32_t Reference(double step, float y) {
  const float sum = static_cast<float>(step * y + 8388607.9054);
  return static_cast<int32_t>(std::bit_cast<uint32_t>(sum) - 0x4B000000u);
}

TEST(QuantiseBands, FlagsChangedBandsReportsPeaksAndStopsAfterTheFirstBandAbove8191) {
  // 1.0946 + 0.4054 rounds to 1, 0.5 to 0, 1.6 to 2; 8191.6 to 8192, which stops the walk after band 2.
  std::vector<float> y(32, 0.0f);
  y[0] = 1.0946f, y[1] = 0.5f, y[2] = 1.6f, y[4] = 100.0f, y[20] = 8191.6f;
  std::vector<int32_t> q(32, 0);
  q[4] = 100, q[24] = -7;  // band 1 keeps its values; band 3 comes after the overflow
  const int offsets[] = {0, 4, 12, 24, 32};
  uint8_t changed[4] = {0, 0, 0, 0};
  int32_t peak[4] = {-1, -1, -1, -1};
  ASSERT_EQ(generic::QuantiseBands(y.data(), q.data(), offsets, 4, 1.0, changed, peak), 1);
  EXPECT_EQ((std::vector<int32_t>(q.begin(), q.begin() + 5)), (std::vector<int32_t>{1, 0, 2, 0, 100}));
  EXPECT_EQ(q[20], 8192);
  EXPECT_EQ(q[24], -7) << "the band after the overflow must stay untouched";
  EXPECT_EQ((std::vector<uint8_t>(changed, changed + 4)), (std::vector<uint8_t>{1, 0, 1, 0}));
  EXPECT_EQ((std::vector<int32_t>(peak, peak + 4)), (std::vector<int32_t>{2, 100, 8192, -1}));
  y[20] = 8191.4f, changed[0] = 1, changed[1] = 0;
  EXPECT_EQ(generic::QuantiseBands(y.data(), q.data(), offsets, 4, 1.0, changed, peak), 0);
  EXPECT_EQ(changed[0], 1) << "flags are only ever set";
}

// Runs every column on (y, bands, step) from the same starting q and compares all outputs with
// the generic kernel, and the generic kernel with the reference arithmetic.
void ExpectEveryColumnQuantisesLikeTheGeneric(const std::vector<float>& y, const std::vector<int>& offsets,
                                              double step) {
  const int bands = static_cast<int>(offsets.size()) - 1;
  std::vector<int32_t> start(y.size());
  for (size_t i = 0; i < y.size(); ++i) start[i] = Reference(step * (i % 3 ? 1.0 : 1.1387), y[i]);
  std::vector<int32_t> qa = start, pa(bands, -1);
  std::vector<uint8_t> fa(bands, 0);
  const int ra = generic::QuantiseBands(y.data(), qa.data(), offsets.data(), bands, step, fa.data(), pa.data());
  if (ra == 0) {
    for (int i = 0; i < offsets.back(); ++i) ASSERT_EQ(qa[i], Reference(step, y[i])) << i;
  }
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    std::vector<int32_t> qb = start, pb(bands, -1);
    std::vector<uint8_t> fb(bands, 0);
    const int rb = Impl<QuantiseBandsFn>(kSlotQuantiseBands, column)(y.data(), qb.data(), offsets.data(), bands, step,
                                                                      fb.data(), pb.data());
    EXPECT_TRUE(std::tie(ra, qa, fa, pa) == std::tie(rb, qb, fb, pb)) << ColumnName(column) << " step " << step;
  }
}

TEST(QuantiseBands, EveryColumnGivesTheGenericBits) {
  // Long-block widths and eight-short grouped widths, and widths that are no multiple of 4.
  std::vector<int> offsets = {0};
  for (int w : {4, 4, 4, 8, 8, 12, 16, 20, 28, 32, 32, 64, 96, 128, 4, 36, 40, 24, 6, 2, 120, 288, 48})
    offsets.push_back(offsets.back() + w);
  // Magnitudes as the rate loops see them: 3/4 powers of a wide spread of levels, many zeros.
  for (unsigned seed = 1; seed <= 6; ++seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<float> level(0.0f, 1.0f);
    std::vector<float> y(1024);
    for (float& v : y) {
      const float u = level(rng);
      v = u < 0.3f ? 0.0f : (seed % 2 ? 2000.0f : 4.0e5f) * u * u * u;
    }
    for (const double step : {1.0, 0.0123, 0.7071, 3.1}) ExpectEveryColumnQuantisesLikeTheGeneric(y, offsets, step);
  }
  // Values within a hair of rounding up or down, where a float shortcut would go wrong.
  std::vector<float> y;
  for (int k = 0; k < 8200; k += 7)
    for (const float off : {-2e-3f, -1e-3f, -2e-4f, -3e-5f, 0.0f, 3e-5f, 2e-4f, 1e-3f, 2e-3f})
      y.push_back(static_cast<float>(k) + 0.5946f + off * static_cast<float>(k > 100 ? k / 100 : 1));
  while (y.size() % 8 != 0) y.push_back(1.0f);
  for (const double step : {1.0, 0.5, 0.25})
    ExpectEveryColumnQuantisesLikeTheGeneric(y, {0, static_cast<int>(y.size())}, step);
}

TEST(BandError, SumsSquaredErrorsOfTheClampedPowerTableAndEveryColumnGivesItsBits) {
  std::vector<float> power(16384);
  for (int i = 0; i < 16384; ++i) power[i] = static_cast<float>(i);
  const int32_t q0[6] = {2, -3, 0, 40000, 1, 1};
  const float a0[6] = {1.0f, 3.0f, 0.5f, 16380.0f, 0.0f, 2.0f};
  // scale 2: errors 3, 3, -0.5, 2 * 16383 - 16380 (the index clamps), then 2 and 0 into the
  // first partial sum
  const float want0 = ((9.0f + 4.0f + 0.0f) + 9.0f) + (0.25f + 16386.0f * 16386.0f);
  EXPECT_FLOAT_EQ(generic::BandError(power.data(), 2.0f, q0, a0, 6), want0);

  for (int i = 0; i < 16384; ++i) power[i] = std::pow(static_cast<float>(i), 4.0f / 3.0f);
  std::mt19937 rng(5);
  std::uniform_int_distribution<int> value(-40, 40);
  std::uniform_real_distribution<float> level(0.0f, 150.0f);
  for (int n : {4, 8, 12, 16, 20, 28, 32, 36, 44, 96, 288, 1024, 3, 7, 13}) {
    std::vector<int32_t> q(n);
    std::vector<float> a(n);
    for (int i = 0; i < n; ++i) q[i] = i % 9 == 0 ? 20000 : value(rng), a[i] = level(rng);
    const float want = generic::BandError(power.data(), 0.37f, q.data(), a.data(), n);
    for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
      const float got = Impl<BandErrorFn>(kSlotBandError, column)(power.data(), 0.37f, q.data(), a.data(), n);
      EXPECT_EQ(std::bit_cast<uint32_t>(got), std::bit_cast<uint32_t>(want)) << ColumnName(column) << " " << n;
    }
  }
}

bool SameBits(const std::vector<float>& a, const std::vector<float>& b) {
  return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

// The model's band sums are the generic VecSum / VecDotProduct per band (peaks from 0), in every
// column.
TEST(BandSums, EveryColumnGivesTheGenericVectorSums) {
  const auto x = test::RandomSignal(1024, 31, 100.0f), u = test::RandomSignal(1024, 32);
  std::vector<int> start, width;
  for (int pos = 0, w = 1; pos + w <= 1024; pos += w, w = w % 37 + 3) {
    start.push_back(pos);
    width.push_back(w);
  }
  const int n = static_cast<int>(start.size());
  std::vector<float> sums(n), dots(n), peaks(n);
  for (int b = 0; b < n; ++b) {
    generic::VecSum(x.data() + start[b], width[b], &sums[b]);
    generic::VecDotProduct(x.data() + start[b], u.data() + start[b], width[b], &dots[b]);
    peaks[b] = std::max(0.0f, *std::max_element(x.begin() + start[b], x.begin() + start[b] + width[b]));
  }
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(ColumnName(column));
    const auto bandSums = Impl<BandSumsFn>(kSlotBandSums, column);
    std::vector<float> s2(n), d2(n), p2(n, -1.0f), s3(n), untouched(n, 7.0f);
    bandSums(x.data(), u.data(), start.data(), width.data(), n, s2.data(), d2.data(), p2.data());
    EXPECT_TRUE(SameBits(s2, sums) && SameBits(d2, dots));
    EXPECT_EQ(p2, peaks);
    // Without weights only the sums are written.
    bandSums(x.data(), nullptr, start.data(), width.data(), n, s3.data(), untouched.data(), nullptr);
    EXPECT_TRUE(SameBits(s3, sums));
    EXPECT_EQ(untouched, std::vector<float>(n, 7.0f));
  }
}

TEST(RowDots, EveryColumnGivesTheGenericDotProducts) {
  constexpr int kStride = 64, kRows = 49;
  const auto rows = test::RandomSignal(kStride * kRows, 33), a = test::RandomSignal(kStride, 34, 1000.0f),
             c = test::RandomSignal(kStride, 35);
  std::vector<int> first(kRows), count(kRows);
  std::vector<float> want1(kRows), want2(kRows);
  for (int b = 0; b < kRows; ++b) {
    first[b] = std::max(0, b - 1 - b % 5);
    count[b] = std::min(kStride - first[b], 1 + (b * 7) % 23);
    generic::VecDotProduct(rows.data() + b * kStride + first[b], a.data() + first[b], count[b], &want1[b]);
    generic::VecDotProduct(rows.data() + b * kStride + first[b], c.data() + first[b], count[b], &want2[b]);
  }
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    std::vector<float> out1(kRows), out2(kRows);
    Impl<RowDotsFn>(kSlotRowDots, column)(rows.data(), kStride, first.data(), count.data(), kRows, a.data(), c.data(),
                                          out1.data(), out2.data());
    EXPECT_TRUE(SameBits(out1, want1) && SameBits(out2, want2)) << ColumnName(column);
  }
}

}  // namespace
}  // namespace aacs::dsp
