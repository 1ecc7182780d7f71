// Quantiser: rounding against the plain formula, overflow check, magnitude preparation,
// distortion measure and its cache, the decoder's reconstruction, eight-short regrouping.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <tuple>
#include <vector>

#include "enc/band_tables.h"
#include "quant/quantiser.h"

namespace aacs::quant {
namespace {

constexpr int kSf44100 = 4;

// A record of `bands` bands of `width` lines each.
std::unique_ptr<ChannelCodingRecord> Record(int width, int bands = 1) {
  auto rec = std::make_unique<ChannelCodingRecord>();
  rec->totalBands = bands;
  for (int b = 0; b <= bands; ++b) rec->bandOffset[b] = width * b;
  rec->blocks32 = kMinQuantBlocks;
  return rec;
}

// q = floor(y 2^(-3 g / 16) + 0.4054), computed in double precision, at hand-picked rounding
// boundaries and on random input over a range of gains.
TEST(Quantiser, MatchesThePlainFormulaIncludingRoundingBoundaries) {
  auto rec = Record(1024);
  rec->blocks32 = 32;
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> dist(0.0f, 3000.0f);
  std::vector<float> y(kFrameLength);
  std::vector<int32_t> q(kFrameLength);
  for (float& v : y) v = dist(rng);
  const float edges[] = {0.59f, 0.60f, 2.55f, 2.60f, 0.0f, 1.5f, 7.5946f, 7.59f};
  const int32_t expected[] = {0, 1, 2, 3, 0, 1, 8, 7};
  for (int gain : {-20, -16, 0, 16, 37, 90}) {
    const double step = std::exp2(-3.0 * gain / 16.0);
    const bool exactStep = gain % 16 == 0;  // the boundaries stay exact when the step is a power of 2
    for (int i = 0; i < 8; ++i) y[i] = exactStep ? static_cast<float>(edges[i] / step) : 0.0f;
    rec->globalGain = gain;
    Quantise(*rec, y.data(), q.data());
    for (int i = 0; i < kFrameLength; ++i) {
      const double exact = step * y[i] + 0.4054;
      if (i >= 8 && std::abs(exact - std::round(exact)) < 1e-3) continue;  // too close to a tie
      ASSERT_EQ(q[i], i < 8 && exactStep ? expected[i] : static_cast<int32_t>(std::floor(exact))) << i << " gain " << gain;
    }
  }
}

TEST(Quantiser, CheckPasses8191AndRejects8192OrABrokenLine) {
  auto rec = Record(64);
  float y[kFrameLength] = {};
  int32_t q[kFrameLength];
  y[40] = 8191.0f;
  EXPECT_EQ(QuantiseChecked(*rec, y, q), 0);
  EXPECT_EQ(q[40], 8191);
  y[40] = 8192.0f;
  EXPECT_EQ(QuantiseChecked(*rec, y, q), 1);
  y[40] = INFINITY;  // a broken line never passes, whatever the gain
  rec->globalGain = kMaxGain;
  EXPECT_EQ(QuantiseChecked(*rec, y, q), 1);
}

TEST(Quantiser, FastLogIsCloseToLog) {
  for (float v : {1e-20f, 0.001f, 0.5f, 1.0f, 1.41421356f, 2.0f, 3.0f, 1000.0f, 5.3e7f, 1e30f})
    EXPECT_NEAR(QuantFastLog(v), std::log(v), 2e-6f * std::max(1.0f, std::abs(std::log(v)))) << v;
}

TEST(Quantiser, PreparationFloorsLinesKeepsSignsAndCoversCodedLinesRoundedUpTo32) {
  EXPECT_EQ(MagnitudeFloor(0, 128000), 50.0f);
  EXPECT_EQ(MagnitudeFloor(0, 128001), 1.0f);
  EXPECT_EQ(MagnitudeFloor(1, 64000), 1.0f);
  auto rec = Record(32);
  float x[kFrameLength] = {49.9f, -49.9f, 50.0f, -81.0f, std::nanf("")};
  int sign[kFrameLength];
  const float peak = PrepareMagnitudes(*rec, x, 50.0f, sign);
  EXPECT_EQ(rec->y[0], 0.0f);
  EXPECT_EQ(rec->magnitude[1], 0.0f);
  EXPECT_NEAR(rec->y[2], std::pow(50.0f, 0.75f), 1e-4f);
  EXPECT_NEAR(rec->y[3], 27.0f, 1e-4f);
  EXPECT_EQ(rec->magnitude[3], 81.0f);
  EXPECT_EQ(rec->y[4], 0.0f);  // NaN is cleared
  EXPECT_NEAR(peak, 27.0f, 1e-4f);
  EXPECT_EQ(std::tuple(sign[2], sign[3], sign[5]), std::tuple(1, -1, -1));  // zero lines count as negative
  int32_t q[kFrameLength];
  rec->globalGain = -kMaxGain;
  QuantiseChecked(*rec, rec->y, q);
  EXPECT_EQ(q[0], 0);
  EXPECT_EQ(q[1], 0);

  std::vector<float> hundred(kFrameLength, 100.0f);
  for (auto [lines, covered, blocks] : {std::tuple(292, 320, 10), std::tuple(40, 64, 8)}) {
    rec = Record(lines);
    PrepareMagnitudes(*rec, hundred.data(), 1.0f, sign);
    EXPECT_EQ(std::tuple(rec->codedLines32, rec->blocks32), std::tuple(covered, blocks));
    EXPECT_GT(rec->y[covered - 1], 0.0f);
    for (int i = covered; i < kFrameLength; ++i) ASSERT_EQ(rec->y[i], 0.0f) << i;
  }
  // The quantiser writes exactly its blocks: 256 lines for 40 coded lines.
  std::fill(q, q + kFrameLength, -5);
  rec->globalGain = 0;
  Quantise(*rec, rec->y, q);
  EXPECT_EQ(q[255], 0);
  EXPECT_EQ(q[256], -5);
}

TEST(Quantiser, DistortionIsWeightedSquaredErrorWithUnitFloorAndItsCacheFollowsTheGain) {
  auto rec = Record(4, 3);
  // q = 6 everywhere: 6^(4/3) = 10.9027 at d = 0.  Band 0: squared error 0.815 per line; band 1
  // with a raw error below 1.0 (4 x 0.16); band 2 with scalefactor 4 (reconstruction scale 1/2).
  const float p6 = QuantTables().power43[6];
  for (int i = 0; i < 12; ++i) {
    rec->q[i] = 6;
    rec->magnitude[i] = i / 4 == 1 ? p6 + 0.4f : 10.0f;
  }
  rec->scalefactor[2] = 4;
  const float weights[3] = {2.0f, 1.0e6f, 0.5f};
  std::copy(weights, weights + 3, rec->weight);
  InvalidateDistortionCache(*rec);
  const DistortionSums s = MeasureDistortion(*rec);
  const float d0 = 4 * (p6 - 10.0f) * (p6 - 10.0f) * 2.0f;
  const float d2 = 4 * (p6 / 2 - 10.0f) * (p6 / 2 - 10.0f) * 0.5f;
  EXPECT_NEAR(rec->distortion[0], d0, 1e-3f * d0);
  EXPECT_EQ(rec->distortion[1], 0.0f);
  EXPECT_NEAR(rec->distortion[2], d2, 1e-3f * d2);
  EXPECT_EQ(s.count, 2);
  EXPECT_NEAR(s.overSum, d0 + d2, 1e-3f * (d0 + d2));
  EXPECT_NEAR(s.totalSum, d0 + d2, 1e-3f * (d0 + d2));
  // The normalised sum divides by product / count (not a geometric mean).
  EXPECT_NEAR(s.normSum, (d0 + d2) / (d0 * d2 / 2), 1e-3f);

  for (int i = 0; i < 4; ++i) rec->q[i] = 9;  // same gain and scalefactors: the cached value stands
  EXPECT_EQ(MeasureDistortion(*rec).totalSum, s.totalSum);
  rec->globalGain = 1;  // a new difference: recomputed
  EXPECT_NE(MeasureDistortion(*rec).totalSum, s.totalSum);
}

TEST(Quantiser, ReconstructionAddsPulsesBackAndMarksIntensityBands) {
  auto rec = Record(4, 3);
  const int books[3] = {5, 15, 11}, q[12] = {1, -1, 0, 2, 0, 0, 0, 0, 0, -1, 20, 0};
  std::copy(books, books + 3, rec->codebook);
  std::copy(q, q + 12, rec->q);
  rec->scalefactor[0] = 104;  // bitstream scalefactors: scale 2^((sf - 100) / 4)
  rec->scalefactor[2] = 96;
  rec->pulseDataPresent = 1;
  rec->numPulse = 2;
  rec->pulseOffset[0] = 1;  // line 1: -1 - 3 = -4
  rec->pulseOffset[1] = 8;  // line 9: -1 - 15 = -16
  rec->pulseAmp[0] = 3;
  rec->pulseAmp[1] = 15;
  Reconstruct(*rec, 0);
  const float* p43 = QuantTables().power43;
  EXPECT_FLOAT_EQ(rec->recon[0], 2.0f);
  EXPECT_FLOAT_EQ(rec->recon[1], -p43[4] * 2.0f);
  EXPECT_FLOAT_EQ(rec->recon[3], p43[2] * 2.0f);
  EXPECT_EQ(rec->recon[4], 673.0f);
  EXPECT_FLOAT_EQ(rec->recon[9], -p43[16] * 0.5f);
  EXPECT_FLOAT_EQ(rec->recon[10], p43[20] * 0.5f);
  EXPECT_EQ(rec->recon[12], 0.0f);
  // The internal convention gives the same values: s - g = 100 - sf.
  rec->globalGain = 10;
  rec->scalefactor[0] = 6;
  rec->scalefactor[2] = 14;
  Reconstruct(*rec, 1);
  EXPECT_FLOAT_EQ(rec->recon[1], -p43[4] * 2.0f);
  EXPECT_FLOAT_EQ(rec->recon[9], -p43[16] * 0.5f);
}

TEST(Quantiser, EightShortRegroupingInterleavesWindowsPerBand) {
  auto rec = std::make_unique<ChannelCodingRecord>();
  rec->windowSequence = kEightShort;
  rec->numSwb = enc::kNumSwbShort[kSf44100];
  for (int b = 0; b <= rec->numSwb; ++b) rec->swbOffset[b] = enc::kSwbOffsetShort[kSf44100][b];
  rec->maxSfb = 12;
  rec->numWindowGroups = 3;
  for (int g = 0; g < 3; ++g) rec->groupLength[g] = g == 1 ? 2 : 3;
  std::vector<float> x(kFrameLength);
  for (int w = 0; w < 8; ++w)
    for (int i = 0; i < kShortLength; ++i) x[w * kShortLength + i] = static_cast<float>(w * 1000 + i);
  const int lines = BuildCodingOrder(*rec, x.data());
  const int* off = enc::kSwbOffsetShort[kSf44100];
  EXPECT_EQ(rec->totalBands, 36);
  EXPECT_EQ(lines, off[12] * 8);
  // Group 0, band 0: windows 0, 1, 2 of lines 0..3 in turn; group 1 (windows 3 and 4) starts
  // after group 0's twelve bands of three windows.
  EXPECT_EQ(rec->grouped[4], 1000.0f);
  EXPECT_EQ(rec->grouped[8], 2000.0f);
  EXPECT_EQ(rec->bandOffset[12], off[12] * 3);
  EXPECT_EQ(rec->grouped[rec->bandOffset[13]], 3000.0f + off[1]);

  std::vector<float> back(kFrameLength);
  ScatterCodingOrder(*rec, rec->grouped, back.data(), -1.0f);
  for (int w = 0; w < 8; ++w)
    for (int i = 0; i < kShortLength; ++i)
      ASSERT_EQ(back[w * kShortLength + i], i < off[12] ? x[w * kShortLength + i] : -1.0f) << w << " " << i;
}

}  // namespace
}  // namespace aacs::quant
