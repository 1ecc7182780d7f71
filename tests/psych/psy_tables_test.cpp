// The model's tables against the defining formulas evaluated independently in double precision.
#include <gtest/gtest.h>

#include <cmath>

#include "psych/fast_log.h"
#include "psych/psy_tables.h"
#include "psy_test_util.h"

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

TEST(PsyTables, PartitionsAreTheBandsOfTheRow) {
  test::Stream s;
  const PsyTables& t = Build(s, 44100);
  EXPECT_EQ(t.longPart.numPartitions, 49);
  EXPECT_EQ(t.shortPart.numPartitions, 14);
  EXPECT_EQ(t.longPart.width[48], 96);
  EXPECT_EQ(t.longPart.end[48], 1024);
  EXPECT_EQ(t.shortPart.end[13], 128);
  for (int b = 1; b < 49; ++b) EXPECT_EQ(t.longPart.start[b], t.longPart.end[b - 1]);
  test::Stream s2;
  const PsyTables& t2 = Build(s2, 88200);
  EXPECT_EQ(t2.longPart.numPartitions, 41);
  EXPECT_EQ(t2.shortPart.numPartitions, 12);
}

TEST(PsyTables, BarkOfEveryPartitionCentre) {
  for (int rate : {8000, 22050, 32000, 48000, 96000}) {
    test::Stream s;
    const PsyTables& t = Build(s, rate);
    for (int b = 0; b < t.longPart.numPartitions; ++b) {
      const double f = ((t.longPart.width[b] - 1) * 0.5 + t.longPart.start[b]) * rate / 2048.0;
      EXPECT_NEAR(t.longSpread.bark[b], BarkRef(f), 1e-4) << rate << " long " << b;
    }
    for (int b = 0; b < t.shortPart.numPartitions; ++b) {
      const double f = ((t.shortPart.width[b] - 1) * 0.5 + t.shortPart.start[b]) * rate / 256.0;
      EXPECT_NEAR(t.shortSpread.bark[b], BarkRef(f), 1e-4) << rate << " short " << b;
    }
  }
  // Exactly 200 Hz still takes the linear branch, just above it the other one.
  EXPECT_FLOAT_EQ(BarkOfFrequency(200.0f), 200.0f * 0.009718173f);
  EXPECT_NEAR(BarkOfFrequency(200.01f), BarkRef(200.01), 1e-5);
}

TEST(PsyTables, MaskingLevelDifferenceEndpoints) {
  EXPECT_NEAR(MaskingLevelDifference(0.0f), 0.001, 1e-7);
  EXPECT_NEAR(MaskingLevelDifference(7.75f), std::pow(10.0, -1.5), 1e-6);
  EXPECT_NEAR(MaskingLevelDifference(15.5f), 1.0, 1e-6);
  EXPECT_NEAR(MaskingLevelDifference(24.0f), 1.0, 1e-6);
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
          const bool inside = j >= sp.first[i] && j <= sp.last[i];
          if (!inside) {
            EXPECT_EQ(sp.weight[i][j], 0.0f);
          }
        }
        EXPECT_NEAR(sum, 1.0, 1e-5);
        EXPECT_GT(sp.weight[i][sp.first[i]], 0.0f);
        EXPECT_GT(sp.weight[i][sp.last[i]], 0.0f);
        EXPECT_EQ(sp.count[i], sp.last[i] - sp.first[i] + 1);
        EXPECT_LE(sp.first[i], i);
        EXPECT_GE(sp.last[i], i);
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

TEST(PsyTables, BarkLimitAtTwoBark) {
  // TMN = min(18, 17.5) and NMT = min(6, 6.3246): only the tonal value is limited at 2 Bark.
  test::Stream s;
  const PsyTables& t = Build(s, 48000, 1);
  int b = 0;
  while (t.longSpread.bark[b + 1] < 2.0f) ++b;
  const double z = t.longSpread.bark[b];
  EXPECT_NEAR(t.peakSnrLong[b][1023], SnrRef(1023.0 / 1024.0, std::min(18.0, z + 15.5), 6.0), 1e-7);
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

TEST(PsyTables, ForcedBandAndAttackRangeLines) {
  test::Stream s;
  Build(s, 48000);
  EXPECT_EQ(s->psy.chaosLongLo, 25);
  EXPECT_EQ(s->psy.chaosLongHi, 170);
  EXPECT_EQ(s->psy.chaosShortLo, 3);
  EXPECT_EQ(s->psy.chaosShortHi, 21);
  EXPECT_EQ(s->psy.attackLineLo, 8);    // 1500 / 48000 * 256
  EXPECT_EQ(s->psy.attackLineHi, 88);   // 16500 / 48000 * 256
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
  EXPECT_NEAR(FastLog(1.0f), 0.0, 2e-6);
  EXPECT_NEAR(FastLog(std::exp(1.0f)), 1.0, 2e-6);
  // Zero gives a large negative finite value, so guarded callers never see infinities.
  EXPECT_LT(FastLog(0.0f), -80.0f);
  EXPECT_TRUE(std::isfinite(FastLog(0.0f)));
}

}  // namespace
}  // namespace aacs::psych
