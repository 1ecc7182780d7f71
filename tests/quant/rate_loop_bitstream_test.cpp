// Channels coded by the rate loops, written by the frame syntax and read back by the
// independent test parser: what a decoder reads must be what the loops reconstructed, and the
// frame's bits must add up to the fixed side bits plus each channel's own bits.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "enc/band_tables.h"
#include "enc/bit_writer.h"
#include "enc/channel_info.h"
#include "enc/syntax.h"
#include "quant/bit_budget.h"
#include "quant/rate_loop.h"
#include "support/aac_parser.h"
#include "support/zeroed_stream.h"

namespace aacs::quant {
namespace {

constexpr int kSf44100 = 4;

void SetLayout(ChannelCodingRecord& rec, bool eightShort) {
  rec.windowSequence = eightShort ? kEightShort : kOnlyLong;
  rec.windowShape = kKbdWindow;
  if (eightShort) {
    rec.numWindowGroups = 2;
    rec.groupLength[0] = 5;
    rec.groupLength[1] = 3;
    rec.numSwb = enc::kNumSwbShort[kSf44100];
    for (int b = 0; b <= rec.numSwb; ++b) rec.swbOffset[b] = enc::kSwbOffsetShort[kSf44100][b];
    rec.maxSfb = 13;
  } else {
    rec.numWindowGroups = 1;
    rec.groupLength[0] = 1;
    rec.numSwb = enc::kNumSwbLong[kSf44100];
    for (int b = 0; b <= rec.numSwb; ++b) rec.swbOffset[b] = enc::kSwbOffsetLong[kSf44100][b];
    rec.maxSfb = 46;
  }
}

struct Coded {
  std::vector<float> spectrum = std::vector<float>(kFrameLength);
  test::ParsedFrame frame;
  int frameBits = 0;
  int fixedBits = 0;
};

// Codes one mono frame (LTP profile, so the reconstruction is handed back) and parses it.
Coded CodeAndParse(StreamContext& ctx, bool eightShort, uint32_t seed, int budget) {
  Coded c;
  enc::BuildChannelMap(ctx.channelInfo, 1, 0);
  ctx.profile = kProfileLtp;
  ctx.quality = 5;
  ChannelCodingRecord& rec = ctx.coding[0];
  SetLayout(rec, eightShort);
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  const int period = eightShort ? kShortLength : kFrameLength;
  for (int i = 0; i < kFrameLength; ++i) {
    const int k = i % period;
    c.spectrum[i] = 4000.0f * std::exp(-4.0f * k / period) * noise(rng) * (k % 23 == 3 ? 15.0f : 1.0f);
  }
  std::vector<float> energy(kMaxCodedBands), ratio(kMaxCodedBands, 0.002f);
  int band = 0, window = 0;
  for (int g = 0; g < rec.numWindowGroups; ++g) {
    for (int b = 0; b < rec.maxSfb; ++b) {
      for (int w = window; w < window + rec.groupLength[g]; ++w)
        for (int i = rec.swbOffset[b]; i < rec.swbOffset[b + 1]; ++i) {
          const float v = c.spectrum[(eightShort ? w * kShortLength : 0) + i];
          energy[band] += v * v;
        }
      ++band;
    }
    window += rec.groupLength[g];
  }
  if (!eightShort)
    for (int b = 38; b < 46; ++b) rec.psyNoiseBand[b] = 1;
  enc::TnsRecord& tns = ctx.tns[0];
  tns.present = 1;
  for (int w = 0; w < (eightShort ? 8 : 1); ++w) {
    tns.window[w].nFilt = 1;
    tns.window[w].coefRes = 4;
    tns.window[w].filter.order = eightShort ? 3 : 6;
    tns.window[w].filter.length = eightShort ? 10 : 30;
    for (int k = 1; k <= tns.window[w].filter.order; ++k) tns.window[w].filter.index[k] = k % 2 ? 3 : -2;
  }

  c.fixedBits = enc::CountFixedSideBits(ctx);
  FrameBudget fb;
  ctx.reservoirBits = ctx.meanFrameBits;
  ComputeFrameBudget(ctx, c.fixedBits, fb);
  ctx.loopThresholdA = ctx.loopThresholdB = budget;
  ChannelRateLoop(ctx, 0, c.spectrum.data(), energy.data(), ratio.data(), budget, 0, 0);

  enc::BitWriter* w = enc::BitWriterCreate(8 * 8192);
  c.frameBits = enc::WriteFrame(ctx, w);
  std::string error;
  const test::StreamFormat format{kProfileLtp, kSf44100};
  const bool ok = test::ParseRawDataBlock(w->data, static_cast<size_t>((enc::BitWriterBitsUsed(w) + 7) / 8), format,
                                          &c.frame, &error);
  enc::BitWriterFree(w);
  EXPECT_TRUE(ok) << error;
  return c;
}

void ExpectDecoderSeesTheReconstruction(const StreamContext& ctx, const Coded& c) {
  ASSERT_EQ(c.frame.elements.size(), 1u);
  const test::ParsedChannel& p = c.frame.elements[0].ch[0];
  const ChannelCodingRecord& rec = ctx.coding[0];
  EXPECT_EQ(p.globalGain, rec.globalGain);
  ASSERT_EQ(p.numBands, rec.totalBands);
  const bool eightShort = rec.windowSequence == kEightShort;
  double signal = 0.0, noise = 0.0;
  int band = 0, window = 0;
  for (int g = 0; g < rec.numWindowGroups; ++g) {
    for (int b = 0; b < rec.maxSfb; ++b, ++band) {
      ASSERT_EQ(p.codebook[band], rec.codebook[band]) << band;
      for (int w = window; w < window + rec.groupLength[g]; ++w)
        for (int i = rec.swbOffset[b]; i < rec.swbOffset[b + 1]; ++i) {
          const int line = (eightShort ? w * kShortLength : 0) + i;
          float expected = 0.0f;
          if (p.codebook[band] >= 1 && p.codebook[band] <= 11) {
            const int q = p.q[line];
            expected = std::copysign(std::pow(std::abs(q), 4.0f / 3.0f), static_cast<float>(q)) *
                       std::exp2((p.scalefactor[band] - 100) / 4.0f);
          }
          ASSERT_NEAR(ctx.reconSpectrum[0][line], expected, 1e-4f * std::abs(expected) + 1e-6f) << line;
          const double x = c.spectrum[line];
          signal += x * x;
          noise += (expected - x) * (expected - x);
        }
    }
    window += rec.groupLength[g];
  }
  EXPECT_GT(10.0 * std::log10(signal / noise), 8.0);
}

TEST(RateLoopBitstream, LongFrameParsesBackAsReconstructedAndBitsAddUp) {
  auto ctx = test::MakeZeroedStream(44100, 1, 96000);
  InitBitBudget(*ctx);
  const Coded c = CodeAndParse(*ctx, false, 3, 2000);
  const ChannelCodingRecord& rec = ctx->coding[0];
  EXPECT_EQ(rec.sideBits, 2 + 1 + 6 + 5 + 2 + 6 * 4);  // the TNS filter beyond its present flag
  EXPECT_LE(rec.lastBits + rec.sideBits, 2000);
  // The fixed side bits count the worst byte alignment; the frame count excludes alignment.
  EXPECT_EQ(c.frameBits, c.fixedBits - 7 + rec.lastBits + rec.sideBits);
  const test::ParsedChannel& p = c.frame.elements[0].ch[0];
  for (int b = 38; b < 46; ++b) EXPECT_EQ(p.codebook[b], kNoiseCodebook) << b;
  ExpectDecoderSeesTheReconstruction(*ctx, c);
}

TEST(RateLoopBitstream, EightShortFrameParsesBackAsReconstructedAndBitsAddUp) {
  auto ctx = test::MakeZeroedStream(44100, 1, 96000);
  InitBitBudget(*ctx);
  const Coded c = CodeAndParse(*ctx, true, 4, 2500);
  const ChannelCodingRecord& rec = ctx->coding[0];
  EXPECT_LE(rec.lastBits + rec.sideBits, 2500);
  EXPECT_EQ(c.frameBits, c.fixedBits - 7 + rec.lastBits + rec.sideBits);
  ExpectDecoderSeesTheReconstruction(*ctx, c);
}

}  // namespace
}  // namespace aacs::quant
