// Absolute threshold of hearing: the two curves, the threshold rules, the band tables and the
// entropy target solver.
#include <gtest/gtest.h>

#include <cmath>

#include "enc/band_tables.h"
#include "psych/ath.h"
#include "support/zeroed_stream.h"

namespace aacs::psych {
namespace {

TEST(Ath, CurveValuesAtOneAndSixteenKilohertz) {
  auto ctx = test::MakeZeroedStream(44100, 1, 128000);
  EXPECT_NEAR(AthCurveA(1.0f, *ctx), 3.369f, 0.001f);
  EXPECT_FLOAT_EQ(AbsoluteThreshold(1.0f, *ctx), 25.0f);
  EXPECT_NEAR(AthCurveA(16.0f, *ctx), 65.93f, 0.01f);
  EXPECT_NEAR(AthCurveB(16.0f, *ctx), 42.44f, 0.01f);
  EXPECT_NEAR(AbsoluteThreshold(16.0f, *ctx), 65.93f, 0.01f);
  ctx->athFlagA = 1;
  EXPECT_NEAR(AbsoluteThreshold(16.0f, *ctx), 42.44f, 0.01f);
}

TEST(Ath, CurvesClampFrequencyAndLevel) {
  auto ctx = test::MakeZeroedStream(44100, 1, 128000);
  EXPECT_NEAR(AthCurveA(0.1f, *ctx), 22.95f, 0.01f);
  EXPECT_NEAR(AthCurveA(18.0f, *ctx), 105.34f, 0.01f);
  EXPECT_FLOAT_EQ(AthCurveA(22.0f, *ctx), AthCurveA(18.0f, *ctx));
  EXPECT_FLOAT_EQ(AthCurveA(0.0f, *ctx), AthCurveA(0.01f, *ctx));
  ctx->athOption = 200.0f;  // an offset below every value: the curves never go negative
  EXPECT_EQ(AthCurveA(3.3f, *ctx), 0.0f);
  EXPECT_EQ(AthCurveB(3.3f, *ctx), 0.0f);
}

TEST(Ath, BandTablesTakeTheSmallestLineOfEachBand) {
  auto ctx = test::MakeZeroedStream(44100, 1, 128000);
  BuildAthTables(*ctx);  // no model results yet: the rate's band layout
  const enc::CbAdaptRow* row = enc::FindCbAdaptRow(44100);
  ASSERT_NE(row, nullptr);
  // Band 0 starts at 0 Hz, evaluated at 100 Hz, where the 25 dB floor holds.
  const float floorEnergy = std::pow(10.0f, 2.5f) * std::sqrt(2048.0f);
  EXPECT_NEAR(ctx->athLongBand[0], row->longWidth[0] * floorEnergy, 1e-3f * row->longWidth[0] * floorEnergy);
  EXPECT_NEAR(ctx->athShortBand[0], row->shortWidth[0] * std::pow(10.0f, 2.5f) * 16.0f, 1.0f);
  // The top long band (about 20 kHz) takes the 18 kHz value of curve A at its lowest line.
  const int last = row->numLong - 1;
  int start = 0;
  for (int b = 0; b < last; ++b) start += row->longWidth[b];
  const float fLow = std::min(start * 44100.0f / 2048.0f / 1000.0f, 18.0f);
  const float expected = row->longWidth[last] * std::pow(10.0f, AthCurveA(fLow, *ctx) / 10.0f) * std::sqrt(2048.0f);
  EXPECT_NEAR(ctx->athLongBand[last] / expected, 1.0f, 1e-4f);
  EXPECT_GT(ctx->athLongBand[last], 1e9f);
}

TEST(Ath, FlagBGivesEveryLineTheSameSmallThreshold) {
  auto ctx = test::MakeZeroedStream(48000, 1, 128000);
  ctx->athFlagB = 1;
  BuildAthTables(*ctx);
  const enc::CbAdaptRow* row = enc::FindCbAdaptRow(48000);
  for (int b = 0; b < row->numLong; ++b)
    EXPECT_NEAR(ctx->athLongBand[b], row->longWidth[b] * 45.36f, 0.01f * row->longWidth[b]) << b;
}

TEST(Ath, PeTargetIsTheSmallerRoot) {
  const float p = SolvePeTarget(1000.0f, 0.6f, 24.0f);
  EXPECT_NEAR(p, 648.24f, 0.05f);
  EXPECT_NEAR(0.6f * p + 24.0f * std::sqrt(p), 1000.0f, 0.05f);
  for (float v : {50.0f, 300.0f, 6000.0f, 20000.0f}) {
    const float q = SolvePeTarget(v, 0.6f, 24.0f);
    EXPECT_NEAR((0.6f * q + 24.0f * std::sqrt(q)) / v, 1.0f, 1e-3f) << v;
  }
  EXPECT_EQ(SolvePeTarget(0.0f, 0.6f, 24.0f), 0.0f);
  EXPECT_EQ(SolvePeTarget(-500.0f, 0.6f, 24.0f), 0.0f);  // no bits left: no entropy
}

}  // namespace
}  // namespace aacs::psych
