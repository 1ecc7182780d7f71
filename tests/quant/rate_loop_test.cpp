// Rate loops: channels coded end to end through ChannelRateLoop, then written by the frame
// syntax and read back by the independent test parser.  What a decoder reconstructs from the
// parsed values must be the loops' own reconstruction, and the frame's bits the fixed side bits
// plus the channel's reported bits; on top, each test checks a budget, a limit or a decision.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "enc/band_tables.h"
#include "enc/bit_writer.h"
#include "enc/channel_info.h"
#include "enc/syntax.h"
#include "psych/ath.h"
#include "quant/quantiser.h"
#include "quant/rate_loop.h"
#include "support/aac_parser.h"
#include "support/zeroed_stream.h"

namespace aacs::quant {
namespace {

constexpr int kSf44100 = 4;

struct Channel {
  test::StreamPtr ctx;
  std::vector<float> spectrum = std::vector<float>(kFrameLength);
  std::vector<float> energy = std::vector<float>(kMaxCodedBands);
  std::vector<float> ratio = std::vector<float>(kMaxCodedBands);
  ChannelCodingRecord& rec() { return ctx->coding[0]; }
};

// Noise with a falling spectral envelope and a few tonal peaks, as an MDCT of music looks.
void FillSpectrum(std::vector<float>& x, uint32_t seed, float level, int period) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  for (int i = 0; i < kFrameLength; ++i) {
    const int k = i % period;
    x[i] = level * std::exp(-k / (period * 0.25f)) * noise(rng) * (k % 37 == 5 ? 20.0f : 1.0f);
  }
}

// Calls f(band, line) for every line of every band in coding order (the bands of a group of
// eight-short windows span all its windows).
template <class F>
void ForEachCodedLine(const ChannelCodingRecord& rec, F f) {
  const int stride = rec.windowSequence == kEightShort ? kShortLength : 0;
  for (int g = 0, band = 0, window = 0; g < rec.numWindowGroups; window += rec.groupLength[g++])
    for (int b = 0; b < rec.maxSfb; ++b, ++band)
      for (int w = window; w < window + rec.groupLength[g]; ++w)
        for (int i = rec.swbOffset[b]; i < rec.swbOffset[b + 1]; ++i) f(band, w * stride + i);
}

void ComputeEnergies(Channel& c) {
  std::fill(c.energy.begin(), c.energy.end(), 0.0f);
  ForEachCodedLine(c.rec(), [&](int band, int line) { c.energy[band] += c.spectrum[line] * c.spectrum[line]; });
}

// A mono Main-profile stream (so the loops hand back their reconstruction) with a long layout
// of 49 bands, or eight short windows grouped 3, 2, 3 with 14 bands, and one masking ratio.
Channel MakeChannel(uint32_t seed, float level, bool isShort = false, float ratio = 0.001f) {
  Channel c{test::MakeZeroedStream(44100, 1, 128000)};
  std::fill(c.ratio.begin(), c.ratio.end(), ratio);
  InitQuantiserTables();
  enc::BuildChannelMap(c.ctx->channelInfo, 1, 0);
  c.ctx->profile = kProfileMain;
  ChannelCodingRecord& rec = c.rec();
  rec.windowSequence = isShort ? kEightShort : kOnlyLong;
  rec.windowShape = kKbdWindow;
  rec.numWindowGroups = isShort ? 3 : 1;
  const int groups[3] = {3, 2, 3};
  for (int g = 0; g < rec.numWindowGroups; ++g) rec.groupLength[g] = isShort ? groups[g] : 1;
  rec.numSwb = isShort ? enc::kNumSwbShort[kSf44100] : enc::kNumSwbLong[kSf44100];
  for (int b = 0; b <= rec.numSwb; ++b)
    rec.swbOffset[b] = isShort ? enc::kSwbOffsetShort[kSf44100][b] : enc::kSwbOffsetLong[kSf44100][b];
  rec.maxSfb = rec.numSwb;
  FillSpectrum(c.spectrum, seed, level, isShort ? kShortLength : kFrameLength);
  ComputeEnergies(c);
  return c;
}

void Code(Channel& c, int budget, int lendable = 0, int reservoirMax = 0) {
  c.ctx->loopThresholdA = c.ctx->loopThresholdB = std::max(c.ctx->loopThresholdA, budget);
  ChannelRateLoop(*c.ctx, 0, c.spectrum.data(), c.energy.data(), c.ratio.data(), budget, lendable, reservoirMax);
}

// Writes and parses the frame, checks the decoder's view against the loops' reconstruction and
// the bit account, and returns the SNR (dB) of the reconstruction over the coded lines.
double ExpectDecoderSeesTheReconstruction(Channel& c) {
  StreamContext& ctx = *c.ctx;
  const ChannelCodingRecord& rec = c.rec();
  enc::BitWriter* w = enc::BitWriterCreate(8 * 8192);
  const int frameBits = enc::WriteFrame(ctx, w);
  test::ParsedFrame frame;
  std::string error;
  const bool ok = test::ParseRawDataBlock(w->data, static_cast<size_t>((enc::BitWriterBitsUsed(w) + 7) / 8),
                                          {ctx.profile, kSf44100}, &frame, &error);
  enc::BitWriterFree(w);
  EXPECT_TRUE(ok) << error;
  if (!ok || frame.elements.size() != 1u) return 0.0;
  EXPECT_EQ(frameBits, enc::CountFixedSideBits(ctx) - 7 + rec.lastBits + rec.sideBits);
  const test::ParsedChannel& p = frame.elements[0].ch[0];
  EXPECT_EQ(p.globalGain, rec.globalGain);
  for (int band = 0; band < rec.totalBands; ++band) EXPECT_EQ(p.codebook[band], rec.codebook[band]) << band;
  double signal = 1e-30, noise = 1e-30;
  ForEachCodedLine(rec, [&](int band, int line) {
    double expected = 0.0;
    if (p.codebook[band] >= 1 && p.codebook[band] <= 11) {
      const int q = p.q[line];
      expected = std::copysign(std::pow(std::abs(q), 4.0 / 3.0), q) * std::exp2((p.scalefactor[band] - 100) / 4.0);
    }
    EXPECT_NEAR(ctx.reconSpectrum[0][line], expected, 1e-4 * std::abs(expected) + 1e-6) << line;
    const double x = c.spectrum[line];
    signal += x * x;
    noise += (expected - x) * (expected - x);
  });
  return 10.0 * std::log10(signal / noise);
}

TEST(RateLoop, SilentOrBelowFloorChannelCodesGainZeroAndNoValues) {
  for (float level : {0.0f, 10.0f}) {
    Channel c = MakeChannel(1, level);
    for (float& v : c.spectrum) v = std::clamp(v, -49.0f, 49.0f);  // all below 50 at 128 kbit/s
    Code(c, 1500);
    EXPECT_EQ(c.rec().globalGain, 0);
    for (int i = 0; i < kFrameLength; ++i) ASSERT_EQ(c.rec().q[i], 0);
    EXPECT_LT(c.rec().lastBits, 30);  // section data only
    ExpectDecoderSeesTheReconstruction(c);
  }
}

TEST(RateLoop, LongAndShortChannelsFitTheirBudgetAndDecodeAsReconstructed) {
  struct Case { uint32_t seed; float level; bool isShort; int budget, quality; double minSnr; };
  const Case cases[] = {{11, 3000, false, 400, 9, 0},     {12, 3000, false, 1500, 9, 6},
                        {13, 3000, false, 4000, 9, 10},   {21, 8000, false, 2500, 5, 6},  // merging, pulses
                        {41, 2000, true, 3000, 9, 10},    {42, 2000, true, 1200, 5, 3}};
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << "seed " << k.seed << " budget " << k.budget);
    Channel c = MakeChannel(k.seed, k.level, k.isShort);
    c.ctx->quality = k.quality;
    Code(c, k.budget);
    EXPECT_LE(c.rec().lastBits, k.budget);
    EXPECT_GT(c.rec().lastBits, k.budget / 2);  // a demanding channel uses what it gets
    EXPECT_GE(ExpectDecoderSeesTheReconstruction(c), k.minSnr);
    EXPECT_TRUE(!k.isShort || !c.rec().pulseDataPresent) << "eight-short frames carry no pulses";
  }
}

TEST(RateLoop, TnsAndLtpBitsComeOffTheChannelBudget) {
  Channel c = MakeChannel(14, 3000.0f);
  enc::TnsRecord& tns = c.ctx->tns[0];
  tns.present = 1;
  tns.window[0] = {1, 4, {}};
  tns.window[0].filter.order = 8;
  tns.window[0].filter.length = 20;
  c.ctx->ltp[0].present = 1;
  c.ctx->profile = kProfileLc;  // no long-term prediction outside the LTP profile
  Code(c, 1500);
  EXPECT_EQ(c.rec().sideBits, 48);
  c.ctx->profile = kProfileLtp;
  Code(c, 1500);
  // TNS: n_filt 2 + coef_res 1 + length 6 + order 5 + direction/compress 2 + 8 x 4 (the present
  // flag is a fixed side bit); LTP: ltp_data_present 1 + lag 11 + coef 3 + 40 band flags.
  EXPECT_EQ(c.rec().sideBits, 48 + 55);
  EXPECT_LE(c.rec().lastBits + c.rec().sideBits, 1500);
  EXPECT_GT(c.rec().lastBits + c.rec().sideBits, 1300);
  ExpectDecoderSeesTheReconstruction(c);
}

TEST(RateLoop, EntropyIsLoweredJustToWhatTheBudgetCarriesAndMoreBitsMeanLessNoise) {
  double previousSnr = -1e9;
  for (int budget : {400, 900, 2000, 4000}) {
    Channel c = MakeChannel(15, 3000.0f, false, 1e-4f);
    Code(c, budget);
    // The entropy target comes from half the bits: the model promises about twice what the loops reach.
    const float target = psych::SolvePeTarget(0.5f * static_cast<float>(budget), 0.6f, 24.0f);
    EXPECT_LE(c.rec().pe, target) << budget;
    EXPECT_GT(c.rec().pe, target - 10.0f) << budget;  // one step moves the entropy by a few units
    const double snr = ExpectDecoderSeesTheReconstruction(c);
    EXPECT_GT(snr, previousSnr + 1.0) << budget;
    previousSnr = snr;
  }
}

TEST(RateLoop, GainSearchRestartsOutsideTheRangeAndStopsAbove255WhenNothingFits) {
  // One small line: every gain down to 0 fits, so the search walks down in steps of 4 from
  // where it started and stops at the first gain <= 0.
  Channel c = MakeChannel(51, 0.0f);
  c.spectrum[100] = 100.0f;
  ComputeEnergies(c);
  c.ctx->startGain[0] = 230;
  Code(c, 4000);
  EXPECT_EQ(c.ctx->startGain[0], 0);  // 40, 36, ..., 0
  c.ctx->startGain[0] = 42;
  Code(c, 4000);
  EXPECT_EQ(c.ctx->startGain[0], -2);  // 42, 38, ..., 2, -2: a valid start is kept
  Channel loud = MakeChannel(52, 3000.0f);
  loud.ctx->startGain[0] = 40;
  Code(loud, -100);  // below the cost of silence: the search climbs from 40 in steps of 4
  EXPECT_EQ(loud.ctx->startGain[0], 256);
  EXPECT_LE(loud.rec().lastBits, 300);  // the loops then work with the 300-bit minimum
  ExpectDecoderSeesTheReconstruction(loud);
}

TEST(RateLoop, NoBandIsAmplifiedBeyond59Steps) {
  Channel c = MakeChannel(61, 5000.0f, false, 1e-9f);  // every band stays audibly distorted
  c.ctx->patienceLimit1 = c.ctx->patienceLimit2 = c.ctx->patienceLimit3 = 100;
  Code(c, 5000, 1 << 24);  // a reservoir so large that the entropy is never limited
  int lo = 1000, hi = -1000;
  for (int b = 0; b < c.rec().totalBands; ++b)
    if (c.rec().codebook[b] >= 1 && c.rec().codebook[b] <= 11) {
      lo = std::min(lo, c.rec().scalefactor[b]);
      hi = std::max(hi, c.rec().scalefactor[b]);
    }
  EXPECT_LE(hi - lo, 59);
  EXPECT_GT(hi - lo, 0);
  ExpectDecoderSeesTheReconstruction(c);
}

TEST(RateLoop, NoiseBandsCarryTheirEnergyInsteadOfLines) {
  Channel c = MakeChannel(71, 3000.0f);
  for (int b = 30; b < 40; ++b) c.rec().psyNoiseBand[b] = 1;
  Code(c, 3000);
  for (int b = 30; b < 40; ++b) {
    ASSERT_EQ(c.rec().codebook[b], kNoiseCodebook) << b;
    EXPECT_EQ(c.rec().noiseEnergy[b], static_cast<int>(2.0 * std::log2(c.energy[b]) + 0.5) + 90) << b;
  }
  ExpectDecoderSeesTheReconstruction(c);  // noise bands reconstruct as zeros
}

TEST(RateLoop, LendingAndCeilingsKeepEveryChannelFrameInsideTheDecoderBuffer) {
  Channel lend = MakeChannel(81, 6000.0f, false, 1e-6f);
  lend.ctx->loopThresholdA = 2500;
  Code(lend, 800, 3000, 10240);
  EXPECT_GT(lend.rec().lastBits, 800);
  EXPECT_LE(lend.rec().lastBits, 2500);
  ExpectDecoderSeesTheReconstruction(lend);
  for (int vbr : {0, 1}) {
    Channel c = MakeChannel(91, 30000.0f, false, 1e-7f);
    c.ctx->vbrMode = vbr;
    c.ctx->tns[0].present = 1;
    c.rec().fixedSideShare = 250;
    if (vbr) Code(c, 6000, 24000, 24000);
    else Code(c, 6100);
    // Constant rate caps a channel at 5700 bits; variable rate at the 6144-bit decoder buffer.
    EXPECT_LE(c.rec().lastBits, vbr ? 6144 : 5700);
    EXPECT_LE(c.rec().lastBits + c.rec().sideBits + c.rec().fixedSideShare, kMaxChannelFrameBits);
    EXPECT_GT(c.rec().lastBits, 5000);
    ExpectDecoderSeesTheReconstruction(c);
  }
}

TEST(RateLoop, BrokenLinesAreCodedSilentInsteadOfLooping) {
  Channel c = MakeChannel(93, 3000.0f);
  c.spectrum[200] = INFINITY;
  ComputeEnergies(c);
  Code(c, 1500);
  for (int i = 0; i < kFrameLength; ++i) ASSERT_EQ(c.rec().q[i], 0);
  EXPECT_LE(c.rec().lastBits, 1500);
  ExpectDecoderSeesTheReconstruction(c);
  Channel huge = MakeChannel(94, 3000.0f);
  huge.spectrum[300] = 1e30f;  // codable only with a scalefactor outside the 8-bit range
  ComputeEnergies(huge);
  Code(huge, 1500);
  ExpectDecoderSeesTheReconstruction(huge);
}

}  // namespace
}  // namespace aacs::quant
