// Unpredictability and peak tonality: the history the prediction uses, the guarded values, and
// the forced tonal band.
#include <gtest/gtest.h>

#include <complex>

#include "enc/filterbank.h"
#include "psych/chaos.h"
#include "psy_test_util.h"

namespace aacs::psych {
namespace {

constexpr int kRate = 48000;

// Bin k of the 2048-point DFT of the KBD-windowed block of a continuous cosine.
std::complex<double> WindowedBin(double cycles, double phase, int n0, int k) {
  const float* rise = enc::KbdWindowLong();
  std::complex<double> sum = 0.0;
  for (int n = 0; n < 2048; ++n) {
    const double w = n < 1024 ? rise[n] : rise[2047 - n];
    const double x = 1000.0 * std::cos(2.0 * std::numbers::pi * cycles * (n0 + n) / 2048.0 + phase);
    sum += w * x * std::polar(1.0, -2.0 * std::numbers::pi * k * n / 2048.0);
  }
  return sum;
}

TEST(Unpredictability, StationarySinusoidIsPredictedExactly) {
  test::Stream s(kRate, 1);
  constexpr int kBin = 64;  // hop of 1024 advances the phase by 64 pi: the same block every frame
  constexpr double kPhase = 0.7;
  std::vector<float> values;
  for (int frame = 0; frame < 7; ++frame) {
    std::vector<float> x(kFrameLength);
    for (int i = 0; i < kFrameLength; ++i)
      x[i] = static_cast<float>(1000.0 * std::cos(2.0 * std::numbers::pi * kBin * (frame * 1024 + i) / 2048.0 + kPhase));
    test::Analyse(*s, {x});
    values.push_back(s->psy.work[0].unpredictability[kBin]);
  }
  EXPECT_NEAR(values[0], 1.0f, 1e-6f);  // nothing to predict from yet
  // From the fourth frame both history frames hold the full block: magnitude and phase (advanced
  // by the last phase step) are predicted exactly.  Predicting the phase without its advance
  // would leave |sin(phi / 2)| of the bin's phase phi instead.
  const double phi = std::arg(WindowedBin(kBin, kPhase, 3 * 1024 - 1024, kBin));
  ASSERT_GT(std::abs(std::sin(phi / 2.0)), 0.1);
  for (int frame = 3; frame < 7; ++frame) EXPECT_NEAR(values[frame], 0.0f, 2e-3) << frame;
}

TEST(Unpredictability, FirstFrameIsOneSilenceTheGuardValueAndLinesAboveTheLowpassKeepTheirs) {
  test::Stream s(kRate, 1);
  test::Noise noise(7);
  test::Analyse(*s, {noise.Frame(3000.0f)});
  const PsyWorkArea& w = s->psy.work[0];
  for (int k = 0; k < s->psy.analysedLines; ++k) ASSERT_NEAR(w.unpredictability[k], 1.0f, 1e-5f) << k;

  test::Stream q(kRate, 1);
  test::Analyse(*q, {std::vector<float>(kFrameLength, 0.0f)});
  for (int k = 0; k < q->psy.analysedLines; ++k) ASSERT_EQ(q->psy.work[0].unpredictability[k], 0.05f);
  for (int k = 0; k < kShortLength; ++k) ASSERT_EQ(q->psy.work[0].shortUnpredictability[3][k], 0.05f);

  test::Stream l(44100, 1);
  l->lowpassCutoff = 11025;
  test::Analyse(*l, {noise.Frame(3000.0f)});
  test::Analyse(*l, {noise.Frame(3000.0f)});
  EXPECT_EQ(l->psy.analysedLines, 512);
  EXPECT_NE(l->psy.work[0].unpredictability[511], 0.4f);
  for (int k = 512; k < kFrameLength; ++k) ASSERT_EQ(l->psy.work[0].unpredictability[k], 0.4f) << k;
}

TEST(Unpredictability, ShortWindowsPredictAcrossTheFrameBoundary) {
  // A short-window stationary tone: each window's block is the same, so once windows 6 and 7 of
  // the previous frame are carried over, window 0 measures the same as window 5 of its frame.
  test::Stream s(kRate, 1);
  constexpr int kBin = 16;  // of 256: the hop of 128 advances the phase by 16 pi
  for (int frame = 0; frame < 4; ++frame) {
    std::vector<float> x(kFrameLength);
    for (int i = 0; i < kFrameLength; ++i)
      x[i] = static_cast<float>(1000.0 * std::cos(2.0 * std::numbers::pi * kBin * (frame * 1024 + i) / 256.0 + 0.3));
    test::Analyse(*s, {x});
  }
  const PsyWorkArea& w = s->psy.work[0];
  for (int win = 0; win < kNumShortWindows; ++win)
    EXPECT_NEAR(w.shortUnpredictability[win][kBin], w.shortUnpredictability[5][kBin], 1e-4) << win;
  EXPECT_LT(w.shortUnpredictability[0][kBin], 0.5f);
}

TEST(MeasureChaos, ForcedBandCoversThe600HzTo4kHzLines) {
  test::Stream s(kRate, 1);
  s->chaosBandForce = 1;
  test::Noise noise(5);
  test::Analyse(*s, {noise.Frame(3000.0f)});
  test::Analyse(*s, {noise.Frame(3000.0f)});
  const PsyWorkArea& w = s->psy.work[0];
  EXPECT_NE(w.unpredictability[25], 0.05f);
  EXPECT_NE(w.unpredictability[170], 0.05f);
  for (int k = 26; k <= 169; ++k) ASSERT_EQ(w.unpredictability[k], 0.05f) << k;
  for (int win = 0; win < kNumShortWindows; ++win) {
    EXPECT_NE(w.shortUnpredictability[win][3], 0.05f);
    EXPECT_NE(w.shortUnpredictability[win][21], 0.05f);
    for (int k = 4; k <= 20; ++k) ASSERT_EQ(w.shortUnpredictability[win][k], 0.05f);
  }
}

PartitionTable ThreeByFour() {
  PartitionTable p{};
  p.numPartitions = 3;
  for (int b = 0; b < 3; ++b) {
    p.start[b] = 4 * b;
    p.end[b] = 4 * b + 4;
    p.width[b] = 4;
    p.invWidth[b] = 0.25f;
  }
  return p;
}

TEST(PeakTonality, SingleLineIsFullyTonalAndAFlatSpectrumIsNoise) {
  const PartitionTable p = ThreeByFour();
  std::vector<float> table(kToneSnrEntries);
  for (int k = 0; k < kToneSnrEntries; ++k) table[k] = static_cast<float>(k);
  // One line of energy 12 in partition 1: means 0, 3, 0 and peak 12.
  const float energy[3] = {0.0f, 3.0f, 0.0f}, peak[3] = {0.0f, 12.0f, 0.0f};
  float tonality[3], snr[3];
  PeakTonalityBlock(p, energy, peak, tonality, snr, table.data(), 0);
  EXPECT_FLOAT_EQ(tonality[1], 1.0f);  // P / mean = 12 over 12 lines
  EXPECT_FLOAT_EQ(tonality[0], 1.0f);  // edges use two partitions: (12 / 1.5 - 1) / 7
  EXPECT_FLOAT_EQ(tonality[2], 1.0f);
  EXPECT_EQ(snr[1], 1023.0f);
  const float flat[3] = {2.0f, 2.0f, 2.0f}, flatPeak[3] = {2.0f, 2.0f, 2.0f};
  PeakTonalityBlock(p, flat, flatPeak, tonality, snr, table.data(), 0);
  for (float t : tonality) EXPECT_EQ(t, 0.0f);
  EXPECT_EQ(snr[0], 0.0f);
  // Half-way: peak 3.5 of mean 1 over 12 lines gives (3.5 - 1) / 11 -> entry 232.
  const float some[3] = {1.0f, 1.0f, 1.0f}, somePeak[3] = {1.0f, 3.5f, 1.0f};
  PeakTonalityBlock(p, some, somePeak, tonality, snr, table.data(), 0);
  EXPECT_NEAR(tonality[1], 2.5f / 11.0f, 1e-6f);
  EXPECT_EQ(snr[1], 232.0f);
  // Silence: zero mean gives zero tonality.
  const float zero[3] = {};
  PeakTonalityBlock(p, zero, zero, tonality, nullptr, table.data(), 0);
  EXPECT_EQ(tonality[1], 0.0f);
}

}  // namespace
}  // namespace aacs::psych
