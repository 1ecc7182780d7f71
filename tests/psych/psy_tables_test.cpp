// The model's tables against the defining formulas evaluated independently in double precision,
// the absolute-threshold curves and band tables, and the entropy target solver.
#include <gtest/gtest.h>

#include <cmath>

#include "enc/band_tables.h"
#include "psych/ath.h"
#include "psych/fast_log.h"
#include "psych/psy_tables.h"
#include "psy_test_util.h"
#include "support/zeroed_stream.h"

namespace aacs::psych {
namespace {

double BarkRef(double f) { return f <= 200.0 ? f * 0.009718173 : 26.81 / (1960.0 / f + 1.0) - 0.53; }

// Spreading weight before normalisation; the cut-off at -100 dB looks at the undipped value.
double SpreadRef(double dz, double up, double low) {
  const double t = dz * (dz >= 0 ? up : low);
  const double u = (t - 0.5) * (t - 0.5) - 2.0 * (t - 0.5);
  const double dip = u < 0 ? 8.0 * u : 0.0;
  const double v = t + 0.474;
  const double y = 15.811389 + 7.5 * v - 17.5 * std::sqrt(1.0 + v * v);
  return y < -100.0 ? 0.0 : std::pow(10.0, (dip + y) / 10.0);
}

double SnrRef(double tonality, double tmn, double nmt) {
  return std::pow(10.0, -(tmn * tonality + nmt * (1.0 - tonality)) / 10.0);
}

double AthDbRef(double fKhz) {
  const double f = std::clamp(fKhz, 0.1, 18.0);
  const double a = 3.64 * std::pow(f, -0.8) - 6.5 * std::exp(-0.6 * (f - 3.3) * (f - 3.3)) + 0.001 * std::pow(f, 4);
  return std::clamp(a, 0.0, 72.0);
}

// Builds the tables of a stream as the first analysed frame would.
const PsyTables& Build(test::Stream& s, int rate, int snrBarkLimit = 0) {
  test::SetModelDefaults(*s, rate, 1);
  s->snrBarkLimit = snrBarkLimit;
  BuildPsyTables(static_cast<float>(rate), *enc::FindCbAdaptRow(rate), *s);
  return s->psy.tables;
}

TEST(PsyTables, BarkOfEveryPartitionCentre) {
  for (int rate : {8000, 22050, 32000, 48000, 96000}) {
    test::Stream s;
    const PsyTables& t = Build(s, rate);
    for (bool isLong : {true, false}) {
      const PartitionTable& p = isLong ? t.longPart : t.shortPart;
      for (int b = 0; b < p.numPartitions; ++b) {
        const double f = ((p.width[b] - 1) * 0.5 + p.start[b]) * rate / (isLong ? 2048.0 : 256.0);
        const float bark = (isLong ? t.longSpread : t.shortSpread).bark[b];
        EXPECT_NEAR(bark, BarkRef(f), 1e-4) << rate << (isLong ? " long " : " short ") << b;
      }
    }
  }
  // Exactly 200 Hz still takes the linear branch, just above it the other one.
  EXPECT_FLOAT_EQ(BarkOfFrequency(200.0f), 200.0f * 0.009718173f);
  EXPECT_NEAR(BarkOfFrequency(200.01f), BarkRef(200.01), 1e-5);
}

TEST(PsyTables, SpreadingRowsAreNormalisedWithExactNonzeroRanges) {
  for (int rate : {16000, 44100}) {
    test::Stream s;
    const PsyTables& t = Build(s, rate);
    for (int block = 0; block < 2; ++block) {
      const PartitionTable& p = block == 0 ? t.longPart : t.shortPart;
      const SpreadingTable& sp = block == 0 ? t.longSpread : t.shortSpread;
      for (int i = 0; i < p.numPartitions; ++i) {
        double refSum = 0.0;
        std::vector<double> ref(p.numPartitions);
        for (int j = 0; j < p.numPartitions; ++j) {
          ref[j] = SpreadRef(static_cast<double>(sp.bark[i]) - sp.bark[j], 3.0, 1.5);
          refSum += ref[j];
        }
        double sum = 0.0;
        for (int j = 0; j < p.numPartitions; ++j) {
          sum += sp.weight[i][j];
          EXPECT_NEAR(sp.weight[i][j], ref[j] / refSum, 2e-4 * ref[j] / refSum + 1e-9) << i << "," << j;
          EXPECT_TRUE((j >= sp.first[i] && j <= sp.last[i]) || sp.weight[i][j] == 0.0f) << i << "," << j;
        }
        EXPECT_NEAR(sum, 1.0, 1e-5);
        EXPECT_GT(sp.weight[i][sp.first[i]], 0.0f);
        EXPECT_GT(sp.weight[i][sp.last[i]], 0.0f);
        EXPECT_EQ(sp.count[i], sp.last[i] - sp.first[i] + 1);
      }
    }
  }
  // The unnormalised diagonal is close to 0 dB.
  const double y0 = 15.811389 + 3.555 - 17.5 * std::sqrt(1.0 + 0.474 * 0.474);
  EXPECT_NEAR(SpreadingValue(0.0f, 3.0f, 1.5f), std::pow(10.0, y0 / 10.0), 1e-5);
}

TEST(PsyTables, ToneSnrEntriesFollowTheTonalityMapping) {
  for (int limit : {0, 1}) {
    test::Stream s;
    const PsyTables& t = Build(s, 48000, limit);
    for (int b : {0, 10, 30, 48}) {
      const double z = t.longSpread.bark[b];
      double tmn = 18.0, nmt = 6.0;
      if (limit) {
        tmn = std::min(tmn, z + 15.5);
        nmt = std::min(nmt, 6.56 - 0.1176923077 * z);
      }
      for (int k : {0, 1, 2, 50, 300, 700, 1023}) {
        const double c = k * 0.0004873047;
        const double tb = (c <= 0.0 || c > 0.4989) ? 0.0 : std::min(1.0, -0.299 - 0.43 * std::log(c));
        EXPECT_NEAR(t.toneSnrLong[b][k], SnrRef(tb, tmn, nmt), 1e-4 * SnrRef(tb, tmn, nmt)) << b << " " << k;
        const double tp = k / 1024.0;
        EXPECT_NEAR(t.peakSnrLong[b][k], SnrRef(tp, tmn, nmt), 1e-5 * SnrRef(tp, tmn, nmt)) << b << " " << k;
      }
    }
    // The short tables are never Bark-limited.
    EXPECT_NEAR(t.toneSnrShort[0], std::pow(10.0, -0.6), 1e-6);
    EXPECT_NEAR(t.peakSnrShort[1023], SnrRef(1023.0 / 1024.0, 18.0, 6.0), 1e-7);
  }
}

TEST(PsyTables, ShortAbsoluteThresholdIsTheMinimumOverThePartition) {
  for (int rate : {8000, 44100, 96000}) {
    test::Stream s;
    const PsyTables& t = Build(s, rate);
    for (int b = 0; b < t.shortPart.numPartitions; ++b) {
      double lowest = 1e32;
      for (int k = t.shortPart.start[b]; k < t.shortPart.end[b]; ++k)
        lowest = std::min(lowest, AthDbRef(k * rate / 256.0 / 1000.0));
      const double ref = std::pow(10.0, lowest / 10.0);
      EXPECT_NEAR(t.athShort[b], ref, 1e-4 * ref) << rate << " " << b;
    }
  }
  // Below 100 Hz every line takes the 100 Hz value; above 18 kHz the 18 kHz value.
  EXPECT_FLOAT_EQ(ShortLineAthDb(0.0f), ShortLineAthDb(0.1f));
  EXPECT_FLOAT_EQ(ShortLineAthDb(22.0f), ShortLineAthDb(18.0f));
}

TEST(FastLog, MatchesTheNaturalLogarithmOverAWideRange) {
  double worst = 0.0;
  for (double x = 1e-30; x < 1e30; x *= 1.0123) {
    const float xf = static_cast<float>(x);
    const double err = std::fabs(FastLog(xf) - std::log(static_cast<double>(xf)));
    worst = std::max(worst, err / std::max(1.0, std::fabs(std::log(x)) / 8.0));
  }
  EXPECT_LT(worst, 2e-6);
  double nearOne = 0.0;
  for (double x = 0.01; x < 100.0; x *= 1.001) {
    const float xf = static_cast<float>(x);
    nearOne = std::max(nearOne, std::fabs(FastLog(xf) - std::log(static_cast<double>(xf))));
  }
  EXPECT_LT(nearOne, 1e-6);
  // Zero gives a large negative finite value, so guarded callers never see infinities.
  EXPECT_LT(FastLog(0.0f), -80.0f);
  EXPECT_TRUE(std::isfinite(FastLog(0.0f)));
}

TEST(Ath, CurvesAtOneAndSixteenKilohertzClampFrequencyAndLevel) {
  auto ctx = aacs::test::MakeZeroedStream(44100, 1, 128000);
  EXPECT_NEAR(AthCurveA(1.0f, *ctx), 3.369f, 0.001f);
  EXPECT_FLOAT_EQ(AbsoluteThreshold(1.0f, *ctx), 25.0f);
  EXPECT_NEAR(AthCurveA(16.0f, *ctx), 65.93f, 0.01f);
  EXPECT_NEAR(AthCurveB(16.0f, *ctx), 42.44f, 0.01f);
  EXPECT_NEAR(AbsoluteThreshold(16.0f, *ctx), 65.93f, 0.01f);
  ctx->athFlagA = 1;
  EXPECT_NEAR(AbsoluteThreshold(16.0f, *ctx), 42.44f, 0.01f);
  EXPECT_NEAR(AthCurveA(0.1f, *ctx), 22.95f, 0.01f);
  EXPECT_NEAR(AthCurveA(18.0f, *ctx), 105.34f, 0.01f);
  EXPECT_FLOAT_EQ(AthCurveA(22.0f, *ctx), AthCurveA(18.0f, *ctx));
  EXPECT_FLOAT_EQ(AthCurveA(0.0f, *ctx), AthCurveA(0.01f, *ctx));
  ctx->athOption = 200.0f;  // an offset below every value: the curves never go negative
  EXPECT_EQ(AthCurveA(3.3f, *ctx), 0.0f);
  EXPECT_EQ(AthCurveB(3.3f, *ctx), 0.0f);
}

TEST(Ath, BandTablesTakeTheSmallestLineOfEachBandOrTheFlatFloorWithFlagB) {
  auto ctx = aacs::test::MakeZeroedStream(44100, 1, 128000);
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
  ctx->athFlagB = 1;  // every line the same small threshold
  BuildAthTables(*ctx);
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
