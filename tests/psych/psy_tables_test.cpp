// The model's tables as properties: Bark positions rise with frequency, spreading rows are
// normalised and fall away from their masker, tonal partitions ask for more SNR than noisy ones,
// the short absolute threshold is its partition's quietest line, and the entropy target solver.
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

// Builds the tables of a stream as the first analysed frame would.
const PsyTables& Build(test::Stream& s, int rate, int snrBarkLimit = 0) {
  test::SetModelDefaults(*s, rate, 1);
  s->snrBarkLimit = snrBarkLimit;
  BuildPsyTables(static_cast<float>(rate), *enc::FindCbAdaptRow(rate), *s);
  return s->psy.tables;
}

TEST(PsyTables, BarkRisesWithFrequencyAndIsContinuous) {
  for (int rate : {8000, 22050, 48000, 96000}) {
    test::Stream s;
    const PsyTables& t = Build(s, rate);
    for (const SpreadingTable* sp : {&t.longSpread, &t.shortSpread}) {
      const int n = sp == &t.longSpread ? t.longPart.numPartitions : t.shortPart.numPartitions;
      for (int b = 1; b < n; ++b) EXPECT_GT(sp->bark[b], sp->bark[b - 1]) << rate << " " << b;
      EXPECT_LT(sp->bark[n - 1], 26.0f);
    }
  }
  EXPECT_NEAR(BarkOfFrequency(200.0f), BarkOfFrequency(200.01f), 0.01f);  // the two branches meet
  EXPECT_NEAR(BarkOfFrequency(1000.0f), 8.5f, 0.2f);  // the textbook value
}

TEST(PsyTables, SpreadingRowsSumToOneAndFallAwayFromTheirMasker) {
  for (int rate : {16000, 44100}) {
    test::Stream s;
    const PsyTables& t = Build(s, rate);
    for (int block = 0; block < 2; ++block) {
      const PartitionTable& p = block == 0 ? t.longPart : t.shortPart;
      const SpreadingTable& sp = block == 0 ? t.longSpread : t.shortSpread;
      for (int i = 0; i < p.numPartitions; ++i) {
        double sum = 0.0;
        for (int j = 0; j < p.numPartitions; ++j) {
          sum += sp.weight[i][j];
          EXPECT_TRUE((j >= sp.first[i] && j <= sp.last[i]) || sp.weight[i][j] == 0.0f) << i << "," << j;
          // Towards higher maskers the weights never rise (Bark positions may repeat); below the
          // masked partition the function has its dip, but nothing there outweighs the diagonal.
          const bool above = j > i && sp.bark[j] > sp.bark[j - 1];
          EXPECT_TRUE(!above || sp.weight[i][j] <= sp.weight[i][j - 1]) << i << "," << j;
          EXPECT_LE(sp.weight[i][j], sp.weight[i][i] * 1.0001f) << i << "," << j;
        }
        EXPECT_NEAR(sum, 1.0, 1e-5);
        EXPECT_GT(sp.weight[i][sp.first[i]], 0.0f);
        EXPECT_GT(sp.weight[i][sp.last[i]], 0.0f);
        EXPECT_EQ(sp.count[i], sp.last[i] - sp.first[i] + 1);
      }
    }
  }
}

// Entry 0 and the entries past the tonal limit are noise; the more predictable a partition
// (lower entry), the smaller its SNR factor, down to the tonal one.  The Bark limit only lowers
// what tonal partitions ask for.
TEST(PsyTables, TonalPartitionsAskForMoreSnrThanNoisyOnes) {
  for (int limit : {0, 1}) {
    test::Stream s;
    const PsyTables& t = Build(s, 48000, limit);
    for (int b : {0, 10, 30, 48}) {
      const float* tone = t.toneSnrLong[b];
      const float noise = tone[0];
      EXPECT_NEAR(tone[kToneSnrEntries - 1], noise, 0.01f * noise) << b;  // the last entry is all but noise
      for (int k = 2; k < kToneSnrEntries; ++k) EXPECT_GE(tone[k], tone[k - 1]) << b << " " << k;
      EXPECT_LT(tone[1], noise / 8.0f) << "a fully tonal partition asks for 9 dB more at " << b;
      EXPECT_NEAR(-10.0f * std::log10(noise), limit ? std::min(6.0f, 6.56f - 0.1176923f * t.longSpread.bark[b]) : 6.0f,
                  0.01f);
      const float* peak = t.peakSnrLong[b];
      EXPECT_EQ(peak[0], noise);
      for (int k = 1; k < kToneSnrEntries; ++k) EXPECT_LE(peak[k], peak[k - 1]) << b << " " << k;
    }
  }
}

TEST(PsyTables, ShortAbsoluteThresholdIsTheQuietestLineOfThePartition) {
  for (int rate : {8000, 44100, 96000}) {
    test::Stream s;
    const PsyTables& t = Build(s, rate);
    for (int b = 0; b < t.shortPart.numPartitions; ++b) {
      float lowest = 1e32f;
      for (int k = t.shortPart.start[b]; k < t.shortPart.end[b]; ++k)
        lowest = std::min(lowest, ShortLineAthDb(static_cast<float>(k) * rate / 256.0f / 1000.0f));
      EXPECT_NEAR(10.0f * std::log10(t.athShort[b]), lowest, 1e-3f) << rate << " " << b;
    }
  }
  // Outside 0.1 to 18 kHz the curve holds its end values.
  EXPECT_FLOAT_EQ(ShortLineAthDb(0.0f), ShortLineAthDb(0.1f));
  EXPECT_FLOAT_EQ(ShortLineAthDb(22.0f), ShortLineAthDb(18.0f));
  EXPECT_LT(ShortLineAthDb(3.5f), ShortLineAthDb(1.0f)) << "hearing is most sensitive near 3-4 kHz";
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
