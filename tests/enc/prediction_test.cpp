// Main-profile prediction: the decoder's 16-bit arithmetic, learning and resets of one line,
// and the per-band decisions of a frame (noise bands, old decoder flags above max_sfb), which
// the end-to-end decoder comparisons never reach with noise substitution.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <tuple>

#include "enc/band_tables.h"
#include "enc/prediction.h"
#include "support/zeroed_stream.h"

namespace aacs::enc {
namespace {

uint32_t Bits(float x) { return std::bit_cast<uint32_t>(x); }

TEST(Prediction, SixteenBitHelpersTruncateRoundHalfUpAndKeepSign) {
  const float x = std::bit_cast<float>(0x3F8180FFu);
  EXPECT_EQ(Bits(TruncateTo16(x)), 0x3F810000u);
  EXPECT_EQ(Bits(RoundTo16(x)), 0x3F820000u);
  EXPECT_EQ(Bits(RoundTo16(std::bit_cast<float>(0x3F817FFFu))), 0x3F810000u);
  EXPECT_EQ(Bits(RoundTo16(std::bit_cast<float>(0x3F818000u))), 0x3F820000u);  // half rounds up
  EXPECT_EQ(Bits(RoundTo16(-x)), 0xBF820000u);  // on the magnitude
  EXPECT_EQ(Bits(TruncateTo16(-x)), 0xBF810000u);
}

// 61/64 / var for every energy a 16-bit state can hold ([1, 2) x 2^e, 7 mantissa bits) is
// rounded as round to nearest, ties to even would round it.
TEST(Prediction, ReciprocalRoundingIsRoundToNearestForEveryStoredEnergy) {
  for (int m = 0; m < 128; ++m) {
    for (int e : {1, 5, 20}) {
      const float var = std::ldexp(1.0f + m / 128.0f, e);
      const float q = 0.953125f / var;
      const double exact = 0.953125 / static_cast<double>(var);
      const float rounded = RoundReciprocalTo16(q);
      EXPECT_EQ(Bits(rounded) & 0xFFFFu, 0u);
      // No other 16-bit float is closer to the exact quotient.
      const float below = std::bit_cast<float>(Bits(rounded) - 0x10000u);
      const float above = std::bit_cast<float>(Bits(rounded) + 0x10000u);
      EXPECT_LE(std::fabs(rounded - exact), std::fabs(below - exact)) << m;
      EXPECT_LE(std::fabs(rounded - exact), std::fabs(above - exact)) << m;
    }
  }
}

TEST(Prediction, ResetLinePredictsZeroAndLearnsASteadyOscillation) {
  PredictorState st;
  PredictorInit(st);
  EXPECT_EQ(PredictLine(st, 7), 0.0f);
  // A line of a steady tone seen frame after frame: x_t = A cos(w t).
  double error = 0.0, energy = 0.0;
  for (int t = 0; t < 200; ++t) {
    const float x = static_cast<float>(20000.0 * std::cos(0.9 * t));
    const float p = PredictLine(st, 7);
    if (t >= 100) error += (x - p) * (x - p), energy += x * x;
    UpdateLine(st, 7, x);
  }
  EXPECT_LT(error, energy * 0.1);  // more than 10 dB of prediction gain
  for (float v : {st.r0[7], st.r1[7], st.cor1[7], st.cor2[7], st.var1[7], st.var2[7]}) EXPECT_EQ(Bits(v) & 0xFFFFu, 0u);
  ResetLine(st, 7);
  EXPECT_EQ(st.var1[7], 1.0f);
  EXPECT_EQ(PredictLine(st, 7), 0.0f);
}

// A mono stream at 44100 Hz whose channel 0 has learnt a steady spectrum: every line of the
// lower bands equals its prediction target.
test::StreamPtr TrainedStream() {
  test::StreamPtr s = test::MakeZeroedStream(44100, 1, 64000);
  StreamContext& ctx = *s;
  ctx.profile = kProfileMain;
  ctx.predictorBandLimit = kPredSfbMax[ctx.sampleRateIndex];
  ctx.channelInfo[0].present = 1;
  auto& rec = ctx.coding[0];
  rec.windowSequence = kOnlyLong;
  rec.numSwb = kNumSwbLong[ctx.sampleRateIndex];
  std::memcpy(rec.swbOffset, kSwbOffsetLong[ctx.sampleRateIndex], sizeof(int) * (rec.numSwb + 1));
  rec.maxSfb = rec.numSwb;
  PredictorInit(ctx.predictor[0]);
  for (int t = 0; t < 60; ++t)
    for (int n = 0; n < 1024; ++n)
      UpdateLine(ctx.predictor[0], n, static_cast<float>(5000.0 * std::cos(0.7 * t + n)));
  for (int b = 0; b < rec.numSwb; ++b) {
    ctx.bandThreshold[0][b] = 1e-4f;
    ctx.bandEnergy[0][b] = 1.0f;
  }
  for (int n = 0; n < 1024; ++n) ctx.spectrum[0][n] = static_cast<float>(5000.0 * std::cos(0.7 * 60 + n));
  return s;
}

TEST(Prediction, FrameDecisionPredictsTonalBandsButNeverNoiseBandsOrUnderAnOldFlag) {
  test::StreamPtr s = TrainedStream();
  StreamContext& ctx = *s;
  ctx.coding[0].psyNoiseBand[5] = 1;
  PredictFrame(ctx);
  const auto& rec = ctx.coding[0];
  // Band 5 is a noise band, the last one lies above the predictor limit.
  EXPECT_EQ(std::tuple(rec.predictionUsed, rec.bandPredicted[4], rec.bandPredicted[5],
                       rec.bandPredicted[ctx.predictorBandLimit]),
            std::tuple(1, 1, 0, 0));
  // The subtracted prediction leaves a small residual in a predicted band.
  EXPECT_LT(std::fabs(ctx.spectrum[0][rec.swbOffset[4]]), 1000.0f);

  // A flag sent in an earlier frame with a larger max_sfb keeps prediction data out.
  test::StreamPtr old = TrainedStream();
  old->coding[0].maxSfb = 30;
  old->predictor[0].decoderFlag[35] = 1;
  PredictFrame(*old);
  EXPECT_EQ(old->coding[0].predictionUsed, 0);
  old->predictor[0].decoderFlag[35] = 0;
  PredictFrame(*old);
  EXPECT_EQ(old->coding[0].predictionUsed, 1);
}

TEST(Prediction, NoiseBandLinesAreResetAndDistrustedUntilTheirGroupResets) {
  test::StreamPtr s = TrainedStream();
  StreamContext& ctx = *s;
  auto& rec = ctx.coding[0];
  PredictFrame(ctx);
  rec.totalBands = rec.maxSfb;
  for (int b = 0; b < rec.totalBands; ++b) rec.codebook[b] = 1;
  rec.codebook[2] = kNoiseCodebook;  // lines 8..11
  rec.predictionUsed = 1;
  rec.resetGroup = 10;  // resets lines 9, 39, ...
  UpdatePredictors(ctx);
  const PredictorState& st = ctx.predictor[0];
  EXPECT_EQ(st.untrusted[8], 1);
  EXPECT_EQ(st.var1[8], 1.0f);
  EXPECT_EQ(st.untrusted[9], 0);  // reset by its group in the same frame, as every decoder does
  EXPECT_EQ(st.untrusted[12], 0);
}

}  // namespace
}  // namespace aacs::enc
