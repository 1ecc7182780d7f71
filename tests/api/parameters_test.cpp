// Configuration at open: tuning rows, quality levels, presets, bandwidth and lowpass rules.
#include <gtest/gtest.h>

#include "aacstream/aacstream.h"
#include "api/parameters.h"
#include "api/stream_context.h"
#include "dsp/platform.h"

namespace aacs::api {
namespace {

int TuningKey(int ratePerChannel, float sampleRate) {
  TuningRow row{};
  EXPECT_EQ(SelectTuning(row, ratePerChannel, sampleRate), 0);
  return row.key;
}

TEST(Tuning, HalfwayBetweenTwoKeysPicksTheLowerRow) { EXPECT_EQ(TuningKey(36000, 44100.0f), 32000); }

TEST(Tuning, RateIsNormalisedToTheClampedSamplingRate) {
  EXPECT_EQ(TuningKey(32000, 22050.0f), 64000);
  // 96 kHz is looked up as 48 kHz: 64000 * 44100 / 48000 = 58800 -> 56000 row.
  EXPECT_EQ(TuningKey(64000, 96000.0f), 56000);
  EXPECT_EQ(TuningKey(64000, 48000.0f), 56000);
  // 8 kHz is the lower clamp: 8000 bit/s per channel normalises to 44100, nearer 48000.
  EXPECT_EQ(TuningKey(8000, 7350.0f), 48000);
}

TEST(Tuning, RatesOutsideTheTablePickItsEnds) {
  EXPECT_EQ(TuningKey(500000, 44100.0f), 160000);
  EXPECT_EQ(TuningKey(8000, 44100.0f), 32000);
}

// A stream opened with memory input and output; the fields are inspected directly.
struct OpenedStream {
  StreamContext* ctx;
  explicit OpenedStream(int sampleRate, int kbps, int channels, int preset, int bandwidth, int quality,
                        int lfe = 0, int year = 2001)
      : ctx(aacStreamOpen32(0, 0, sampleRate, kbps, channels, lfe, preset, 1, 2, bandwidth, 0, quality, nullptr,
                            nullptr, nullptr, nullptr, nullptr, year)) {}
  ~OpenedStream() { aacStreamDestroy32(ctx); }
};

TEST(Parameters, QualityThreeAndFourShareTheirLoopSettings) {
  OpenedStream q3(44100, 128, 2, 0, 0, 3), q4(44100, 128, 2, 0, 0, 4);
  ASSERT_TRUE(q3.ctx && q4.ctx);
  EXPECT_EQ(q3.ctx->patienceLimit1, q4.ctx->patienceLimit1);
  EXPECT_EQ(q3.ctx->patienceLimit3, q4.ctx->patienceLimit3);
  EXPECT_EQ(q3.ctx->patienceLimit2, q4.ctx->patienceLimit2);
  EXPECT_EQ(q3.ctx->peakTonality, q4.ctx->peakTonality);
  EXPECT_EQ(q3.ctx->timeDomainAttack, 1);
}

TEST(Parameters, QualitySevenDiffersFromSixOnlyInTonalityAndAttackDetector) {
  OpenedStream q6(44100, 128, 2, 0, 0, 6), q7(44100, 128, 2, 0, 0, 7);
  ASSERT_TRUE(q6.ctx && q7.ctx);
  EXPECT_EQ(q6.ctx->patienceLimit1, q7.ctx->patienceLimit1);
  EXPECT_EQ(q6.ctx->patienceLimit3, q7.ctx->patienceLimit3);
  EXPECT_EQ(q6.ctx->patienceLimit2, q7.ctx->patienceLimit2);
  EXPECT_EQ(q6.ctx->peakTonality, 1);
  EXPECT_EQ(q7.ctx->peakTonality, 0);
  EXPECT_EQ(q6.ctx->timeDomainAttack, 1);
  EXPECT_EQ(q7.ctx->timeDomainAttack, 0);
}

TEST(Parameters, QualityOutsideTheLevelsKeepsDefaultLimits) {
  OpenedStream low(44100, 128, 2, 0, 0, -3), high(44100, 128, 2, 0, 0, 12), best(44100, 128, 2, 0, 0, 9);
  ASSERT_TRUE(low.ctx && high.ctx && best.ctx);
  EXPECT_EQ(low.ctx->patienceLimit1, 8);
  EXPECT_EQ(low.ctx->patienceLimit3, 10);
  EXPECT_EQ(low.ctx->patienceLimit2, 16);
  EXPECT_EQ(low.ctx->peakTonality, 1);
  EXPECT_EQ(low.ctx->timeDomainAttack, 1);
  EXPECT_EQ(high.ctx->peakTonality, 0);
  EXPECT_EQ(high.ctx->timeDomainAttack, 0);
  EXPECT_EQ(high.ctx->quality, 12);
  EXPECT_EQ(best.ctx->patienceLimit1, 32);
  EXPECT_EQ(best.ctx->patienceLimit3, 8);
  EXPECT_EQ(best.ctx->patienceLimit2, 8);
}

TEST(Parameters, PresetsThreeToNineKeepTheirOwnBandwidth) {
  OpenedStream p6(44100, 128, 2, 6, 16000, 9), p2(44100, 128, 2, 2, 16000, 9);
  ASSERT_TRUE(p6.ctx && p2.ctx);
  EXPECT_EQ(p6.ctx->bandwidth, 18500);
  EXPECT_EQ(p6.ctx->bitRate, 128000);
  EXPECT_EQ(p6.ctx->vbrMode, 1);
  EXPECT_EQ(p2.ctx->bandwidth, 16000);
  EXPECT_EQ(p2.ctx->vbrMode, 1);
}

TEST(Parameters, PresetBitRateDoesNotReachTheFrameBudget) {
  OpenedStream p9(44100, 96, 2, 9, 0, 9);
  ASSERT_TRUE(p9.ctx);
  EXPECT_EQ(p9.ctx->bitRate, 288000);
  EXPECT_EQ(p9.ctx->meanFrameBits, 96000 * 1024 / 44100);
  EXPECT_EQ(p9.ctx->reservoirBits, 24000);
  EXPECT_EQ(p9.ctx->preEchoLimit, 1);
  EXPECT_EQ(p9.ctx->psyOptionA, 1);
}

TEST(Parameters, LowpassIsTheBandwidthPlus500UpToHalfTheRate) {
  OpenedStream full(44100, 128, 2, 0, 22050, 9), narrow(44100, 128, 2, 0, 16000, 9);
  ASSERT_TRUE(full.ctx && narrow.ctx);
  EXPECT_EQ(full.ctx->lowpassCutoff, 22050);
  EXPECT_EQ(narrow.ctx->lowpassCutoff, 16500);
}

TEST(Parameters, TuningTableFollowsTheRatePerChannel) {
  OpenedStream s(44100, 128, 2, 0, 0, 9), m(22050, 32, 1, 0, 0, 9);
  ASSERT_TRUE(s.ctx && m.ctx);
  // 64000 per channel at 44.1 kHz: the 64000 row.
  EXPECT_EQ(s.ctx->loopThresholdA, 1900);
  EXPECT_EQ(s.ctx->loopThresholdB, 2172);
  EXPECT_EQ(s.ctx->psyLimitLong, 2250);
  EXPECT_FLOAT_EQ(s.ctx->switchThreshold, 128.0f);
  EXPECT_EQ(s.ctx->bandwidth, 15505);  // default bandwidth for 64000 per channel
  // 32000 at 22.05 kHz normalises to 64000; low rates raise the switch threshold.
  EXPECT_EQ(m.ctx->loopThresholdA, 1900);
  EXPECT_FLOAT_EQ(m.ctx->switchThreshold, 270.0f);
}

TEST(Parameters, NegativePresetWithBit8SelectsTheAlternativeBandwidthRule) {
  OpenedStream alt(44100, 200, 2, -256, 0, 9);
  ASSERT_TRUE(alt.ctx);
  EXPECT_EQ(alt.ctx->altBandwidthRule, 1);
  EXPECT_EQ(alt.ctx->patienceLimit1, 10);
  EXPECT_EQ(alt.ctx->patienceLimit3, 10);
  EXPECT_EQ(alt.ctx->patienceLimit2, 32);
  EXPECT_EQ(alt.ctx->bandwidth, 19075);  // alternative rule at 100000 per channel
}

TEST(Parameters, YearZeroTakesTheCurrentYear) {
  OpenedStream now(44100, 128, 2, 0, 0, 9, 0, 0), fixed(44100, 128, 2, 0, 0, 9, 0, 1999);
  ASSERT_TRUE(now.ctx && fixed.ctx);
  EXPECT_EQ(now.ctx->trailerYear, dsp::CurrentUtcYear());
  EXPECT_GE(now.ctx->trailerYear, 2024);
  EXPECT_EQ(fixed.ctx->trailerYear, 1999);
}

TEST(Parameters, BudgetOfAStereoStream) {
  OpenedStream s(44100, 128, 2, 0, 0, 9);
  ASSERT_TRUE(s.ctx);
  EXPECT_EQ(s.ctx->meanFrameBits, 2972);
  EXPECT_EQ(s.ctx->reservoirSize, 10240);
  EXPECT_EQ(s.ctx->reservoirLowMark, 5120);
  EXPECT_EQ(s.ctx->reservoirHighMark, 7680);
  EXPECT_EQ(s.ctx->reservoirBits, 10240);
  EXPECT_EQ(s.ctx->samplesPerCall, 2048);
  EXPECT_EQ(s.ctx->stereoMode, 0);
  EXPECT_GE(aacStreamMaxOutputBytes32(s.ctx), s.ctx->maxFrameBytes + 100);
}

TEST(Parameters, MonoStreamsCodeWithoutStereo) {
  OpenedStream m(48000, 64, 1, 0, 0, 9);
  ASSERT_TRUE(m.ctx);
  EXPECT_EQ(m.ctx->stereoMode, -1);
}

}  // namespace
}  // namespace aacs::api
