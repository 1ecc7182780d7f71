// Rate loops: channels coded end to end through ChannelRateLoop, checked for budget, bitstream
// validity (scalefactor ranges, codebook ranges, bit accounting) and coding quality.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

#include "enc/band_tables.h"
#include "enc/huffman.h"
#include "psych/ath.h"
#include "quant/quantiser.h"
#include "quant/rate_loop.h"
#include "support/zeroed_stream.h"

namespace aacs::quant {
namespace {

constexpr int kSf44100 = 4;
constexpr int kLargestInBook[12] = {0, 1, 1, 2, 2, 4, 4, 7, 7, 12, 12, 8191};

struct Channel {
  test::StreamPtr ctx;
  std::vector<float> spectrum = std::vector<float>(kFrameLength);
  std::vector<float> energy = std::vector<float>(kMaxCodedBands);
  std::vector<float> ratio = std::vector<float>(kMaxCodedBands, 0.001f);
  ChannelCodingRecord& rec() { return ctx->coding[0]; }
};

// Noise with a falling spectral envelope and a few tonal peaks, as an MDCT of music looks.
void FillSpectrum(std::vector<float>& x, uint32_t seed, float level, int period) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  for (int i = 0; i < kFrameLength; ++i) {
    const int k = i % period;
    float v = level * std::exp(-k / (period * 0.25f)) * noise(rng);
    if (k % 37 == 5) v *= 20.0f;
    x[i] = v;
  }
}

// Band energies in coding order (groups of eight-short blocks summed over their windows).
void ComputeEnergies(Channel& c) {
  const ChannelCodingRecord& rec = c.rec();
  const bool isShort = rec.windowSequence == kEightShort;
  int band = 0, window = 0;
  for (int g = 0; g < rec.numWindowGroups; ++g) {
    const int len = isShort ? rec.groupLength[g] : 1;
    for (int b = 0; b < rec.maxSfb; ++b) {
      float e = 0.0f;
      for (int w = window; w < window + len; ++w)
        for (int i = rec.swbOffset[b]; i < rec.swbOffset[b + 1]; ++i) {
          const float v = c.spectrum[(isShort ? w * kShortLength : 0) + i];
          e += v * v;
        }
      c.energy[band++] = e;
    }
    window += len;
  }
}

Channel LongChannel(uint32_t seed, float level, int maxSfb = 49) {
  Channel c{test::MakeZeroedStream(44100, 1, 128000)};
  InitQuantiserTables();
  ChannelCodingRecord& rec = c.rec();
  rec.windowSequence = kOnlyLong;
  rec.numWindowGroups = 1;
  rec.groupLength[0] = 1;
  rec.numSwb = enc::kNumSwbLong[kSf44100];
  for (int b = 0; b <= rec.numSwb; ++b) rec.swbOffset[b] = enc::kSwbOffsetLong[kSf44100][b];
  rec.maxSfb = maxSfb;
  FillSpectrum(c.spectrum, seed, level, kFrameLength);
  ComputeEnergies(c);
  return c;
}

Channel ShortChannel(uint32_t seed, float level) {
  Channel c{test::MakeZeroedStream(44100, 1, 128000)};
  InitQuantiserTables();
  ChannelCodingRecord& rec = c.rec();
  rec.windowSequence = kEightShort;
  rec.numWindowGroups = 3;
  rec.groupLength[0] = 3;
  rec.groupLength[1] = 2;
  rec.groupLength[2] = 3;
  rec.numSwb = enc::kNumSwbShort[kSf44100];
  for (int b = 0; b <= rec.numSwb; ++b) rec.swbOffset[b] = enc::kSwbOffsetShort[kSf44100][b];
  rec.maxSfb = 14;
  FillSpectrum(c.spectrum, seed, level, kShortLength);
  ComputeEnergies(c);
  return c;
}

int CodeChannel(Channel& c, int budget, int lendable = 0, int reservoirMax = 0) {
  c.ctx->loopThresholdA = c.ctx->loopThresholdB = budget;
  return ChannelRateLoop(*c.ctx, 0, c.spectrum.data(), c.energy.data(), c.ratio.data(), budget, lendable,
                         reservoirMax);
}

// Everything a decoder relies on, and the reported cost against the coded elements.
void ExpectDecodable(const ChannelCodingRecord& rec) {
  ASSERT_GE(rec.globalGain, 0);
  ASSERT_LE(rec.globalGain, 255);
  int sfRef = rec.globalGain;
  for (int b = 0; b < rec.totalBands; ++b) {
    const int cb = rec.codebook[b];
    int peak = 0;
    for (int i = rec.bandOffset[b]; i < rec.bandOffset[b + 1]; ++i) peak = std::max(peak, std::abs(rec.q[i]));
    if (cb == kZeroCodebook || cb >= kNoiseCodebook) {
      EXPECT_EQ(peak, 0) << "band " << b << " codebook " << cb;
      continue;
    }
    ASSERT_GE(cb, 1);
    ASSERT_LE(cb, 11);
    EXPECT_LE(peak, kLargestInBook[cb]) << "band " << b;
    EXPECT_GE(rec.scalefactor[b], 0);
    EXPECT_LE(rec.scalefactor[b], 255);
    EXPECT_LE(std::abs(rec.scalefactor[b] - sfRef), 60) << "band " << b;
    sfRef = rec.scalefactor[b];
  }
  const int pulse = rec.pulseDataPresent ? enc::WritePulseData(rec, nullptr, 0) - 1 : 0;
  EXPECT_EQ(enc::WriteSpectralData(rec, nullptr, 0) + enc::CountSectionBits(rec) +
                enc::CountScaleFactorBits(rec, 0) + pulse,
            rec.lastBits);
}

// Squared error of the reconstruction handed to the prediction tools (non-LC streams).
double ReconstructionError(const Channel& c) {
  double e = 0.0;
  for (int i = 0; i < kFrameLength; ++i) {
    const double d = c.ctx->reconSpectrum[0][i] - c.spectrum[i];
    e += d * d;
  }
  return e;
}

int CodedScalefactorSpread(const ChannelCodingRecord& rec) {
  int lo = 1000, hi = -1000;
  for (int b = 0; b < rec.totalBands; ++b)
    if (rec.codebook[b] >= 1 && rec.codebook[b] <= 11) {
      lo = std::min(lo, rec.scalefactor[b]);
      hi = std::max(hi, rec.scalefactor[b]);
    }
  return hi >= lo ? hi - lo : 0;
}

TEST(RateLoop, SilentChannelCodesGainZeroAndNoValues) {
  Channel c = LongChannel(1, 0.0f);
  EXPECT_EQ(CodeChannel(c, 1500), 0);
  const ChannelCodingRecord& rec = c.rec();
  EXPECT_EQ(rec.globalGain, 0);
  for (int b = 0; b < rec.totalBands; ++b) EXPECT_EQ(rec.codebook[b], 0);
  for (int i = 0; i < kFrameLength; ++i) ASSERT_EQ(rec.q[i], 0);
  ExpectDecodable(rec);
  EXPECT_LT(rec.lastBits, 30);  // section data only
}

TEST(RateLoop, LinesBelowTheFloorMakeASilentChannel) {
  Channel c = LongChannel(2, 10.0f);  // all far below 50 at 128 kbit/s
  for (float& v : c.spectrum) v = std::clamp(v, -49.0f, 49.0f);
  CodeChannel(c, 1500);
  EXPECT_EQ(c.rec().globalGain, 0);
  ExpectDecodable(c.rec());
}

TEST(RateLoop, FitsItsBudgetAndReportsTheCodedBits) {
  for (uint32_t seed : {11u, 12u, 13u}) {
    for (int budget : {400, 1500, 4000}) {
      Channel c = LongChannel(seed, 3000.0f);
      CodeChannel(c, budget);
      SCOPED_TRACE(testing::Message() << "seed " << seed << " budget " << budget);
      EXPECT_LE(c.rec().lastBits, budget);
      EXPECT_GT(c.rec().lastBits, budget / 2);  // a demanding channel uses what it gets
      ExpectDecodable(c.rec());
    }
  }
}

TEST(RateLoop, TnsAndLtpBitsComeOffTheChannelBudget) {
  Channel c = LongChannel(14, 3000.0f);
  c.ctx->profile = kProfileLtp;
  enc::TnsRecord& tns = c.ctx->tns[0];
  tns.present = 1;
  tns.window[0].nFilt = 1;
  tns.window[0].coefRes = 4;
  tns.window[0].filter.order = 8;
  tns.window[0].filter.length = 20;
  c.ctx->ltp[0].present = 1;
  CodeChannel(c, 1500);
  const ChannelCodingRecord& rec = c.rec();
  // TNS: n_filt 2 + coef_res 1 + length 6 + order 5 + direction/compress 2 + 8 x 4 (the present
  // flag is a fixed side bit); LTP: ltp_data_present 1 + lag 11 + coef 3 + 40 band flags.
  EXPECT_EQ(rec.sideBits, 48 + 55);
  EXPECT_LE(rec.lastBits + rec.sideBits, 1500);
  EXPECT_GT(rec.lastBits + rec.sideBits, 1300);
  ExpectDecodable(rec);
  c.ctx->profile = kProfileLc;  // no long-term prediction outside the LTP profile
  CodeChannel(c, 1500);
  EXPECT_EQ(c.rec().sideBits, 48);
}

TEST(RateLoop, EntropyIsLoweredJustToWhatTheBudgetCarries) {
  for (int budget : {400, 900, 2000}) {
    Channel c = LongChannel(15, 3000.0f);
    std::fill(c.ratio.begin(), c.ratio.end(), 1e-4f);
    CodeChannel(c, budget);
    const float target = psych::SolvePeTarget(static_cast<float>(budget), 0.6f, 24.0f);
    EXPECT_LE(c.rec().pe, target) << budget;
    // One step of 10^(-0.15/49) moves the entropy by a few units at most.
    EXPECT_GT(c.rec().pe, target - 10.0f) << budget;
  }
}

TEST(RateLoop, SectionMergingAndPulsesKeepTheAccountExact) {
  Channel c = LongChannel(21, 8000.0f);
  c.ctx->quality = 5;
  CodeChannel(c, 2500);
  EXPECT_LE(c.rec().lastBits, 2500);
  ExpectDecodable(c.rec());
}

TEST(RateLoop, LargerBudgetGivesLowerDistortion) {
  double previous = 1e300;
  for (int budget : {600, 1500, 4000}) {
    Channel c = LongChannel(31, 3000.0f);
    c.ctx->profile = kProfileMain;  // the reconstruction is handed back
    CodeChannel(c, budget);
    const double err = ReconstructionError(c);
    EXPECT_LT(err, previous * 0.8) << budget;
    previous = err;
  }
}

TEST(RateLoop, EightShortBlockFitsAndReconstructsInWindowOrder) {
  Channel c = ShortChannel(41, 2000.0f);
  c.ctx->profile = kProfileLtp;
  CodeChannel(c, 3000);
  const ChannelCodingRecord& rec = c.rec();
  EXPECT_EQ(rec.totalBands, 14 * 3);
  EXPECT_EQ(rec.pulseDataPresent, 0);
  EXPECT_LE(rec.lastBits, 3000);
  ExpectDecodable(rec);
  double signal = 0.0, noise = 0.0;
  const int coded = enc::kSwbOffsetShort[kSf44100][14];
  for (int w = 0; w < 8; ++w)
    for (int i = 0; i < coded; ++i) {
      const float x = c.spectrum[w * kShortLength + i];
      const float r = c.ctx->reconSpectrum[0][w * kShortLength + i];
      signal += double{x} * x;
      noise += (double{r} - x) * (double{r} - x);
    }
  EXPECT_GT(10.0 * std::log10(signal / noise), 10.0);
}

TEST(RateLoop, StoredStartGainOutsideRangeRestartsAt40) {
  // One small line: every gain down to 0 fits, so the search walks down in steps of 4 from
  // where it started and stops at the first gain <= 0.
  Channel c = LongChannel(51, 0.0f);
  c.spectrum[100] = 100.0f;
  ComputeEnergies(c);
  c.ctx->startGain[0] = 230;
  CodeChannel(c, 4000);
  EXPECT_EQ(c.ctx->startGain[0], 0);  // 40, 36, ..., 0
  c.ctx->startGain[0] = 42;
  CodeChannel(c, 4000);
  EXPECT_EQ(c.ctx->startGain[0], -2);  // 42, 38, ..., 2, -2: a valid start is kept
}

TEST(RateLoop, SearchStopsAbove255WhenNothingFits) {
  Channel c = LongChannel(52, 3000.0f);
  c.ctx->startGain[0] = 40;
  CodeChannel(c, -100);  // below the cost of silence: the search climbs from 40 in steps of 4
  EXPECT_EQ(c.ctx->startGain[0], 256);
  EXPECT_LE(c.rec().lastBits, 300);  // the loops then work with the 300-bit minimum
  ExpectDecodable(c.rec());
}

TEST(RateLoop, NoBandIsAmplifiedBeyond59Steps) {
  Channel c = LongChannel(61, 5000.0f);
  std::fill(c.ratio.begin(), c.ratio.end(), 1e-9f);  // every band stays audibly distorted
  c.ctx->patienceLimit1 = c.ctx->patienceLimit2 = c.ctx->patienceLimit3 = 100;
  CodeChannel(c, 5000);
  EXPECT_LE(CodedScalefactorSpread(c.rec()), 59);
  EXPECT_GT(CodedScalefactorSpread(c.rec()), 0);
  ExpectDecodable(c.rec());
}

TEST(RateLoop, ZeroPatienceEndsEachStrategyEarly) {
  Channel patient = LongChannel(62, 3000.0f);
  patient.ctx->patienceLimit1 = patient.ctx->patienceLimit2 = patient.ctx->patienceLimit3 = 6;
  CodeChannel(patient, 1200);
  Channel hasty = LongChannel(62, 3000.0f);
  CodeChannel(hasty, 1200);  // all three limits 0
  EXPECT_LT(hasty.rec().loopIterations, patient.rec().loopIterations);
  EXPECT_GE(hasty.rec().loopIterations, 2);
  EXPECT_LE(hasty.rec().lastBits, 1200);
  ExpectDecodable(hasty.rec());
}

TEST(RateLoop, NoiseBandsCarryTheirEnergyInsteadOfLines) {
  Channel c = LongChannel(71, 3000.0f);
  c.ctx->profile = kProfileMain;
  for (int b = 30; b < 40; ++b) c.rec().psyNoiseBand[b] = 1;
  CodeChannel(c, 3000);
  const ChannelCodingRecord& rec = c.rec();
  for (int b = 30; b < 40; ++b) {
    ASSERT_EQ(rec.codebook[b], kNoiseCodebook) << b;
    const float e = c.energy[b];
    EXPECT_EQ(rec.noiseEnergy[b], static_cast<int>(2.0 * std::log2(e) + 0.5) + 90) << b;
    for (int i = rec.bandOffset[b]; i < rec.bandOffset[b + 1]; ++i) ASSERT_EQ(c.ctx->reconSpectrum[0][i], 0.0f);
  }
  ExpectDecodable(rec);
}

TEST(RateLoop, LendsReservoirBitsUpToTheCeiling) {
  Channel c = LongChannel(81, 6000.0f);
  std::fill(c.ratio.begin(), c.ratio.end(), 1e-6f);
  c.ctx->loopThresholdA = 2500;
  ChannelRateLoop(*c.ctx, 0, c.spectrum.data(), c.energy.data(), c.ratio.data(), 800, 3000, 10240);
  EXPECT_GT(c.rec().lastBits, 800);
  EXPECT_LE(c.rec().lastBits, 2500);
  ExpectDecodable(c.rec());
}

TEST(RateLoop, ConstantRateBudgetIsCappedAt5700) {
  Channel c = LongChannel(91, 30000.0f);
  std::fill(c.ratio.begin(), c.ratio.end(), 1e-7f);
  CodeChannel(c, 6100);
  EXPECT_LE(c.rec().lastBits, 5700);
  EXPECT_GT(c.rec().lastBits, 5000);
  ExpectDecodable(c.rec());
}

TEST(RateLoop, VbrChannelStaysInsideTheDecoderBuffer) {
  Channel c = LongChannel(92, 30000.0f);
  std::fill(c.ratio.begin(), c.ratio.end(), 1e-7f);
  c.ctx->vbrMode = 1;
  c.ctx->tns[0].present = 1;
  c.rec().fixedSideShare = 250;
  ChannelRateLoop(*c.ctx, 0, c.spectrum.data(), c.energy.data(), c.ratio.data(), 6000, 24000, 24000);
  const ChannelCodingRecord& rec = c.rec();
  EXPECT_GT(rec.sideBits, 1);
  EXPECT_LE(rec.lastBits + rec.sideBits + rec.fixedSideShare, kMaxChannelFrameBits);
  EXPECT_GT(rec.lastBits, 5000);
  ExpectDecodable(rec);
}

TEST(RateLoop, BrokenLinesAreCodedSilentInsteadOfLooping) {
  Channel c = LongChannel(93, 3000.0f);
  c.spectrum[200] = INFINITY;
  ComputeEnergies(c);
  CodeChannel(c, 1500);
  for (int i = 0; i < kFrameLength; ++i) ASSERT_EQ(c.rec().q[i], 0);
  EXPECT_LE(c.rec().lastBits, 1500);
  ExpectDecodable(c.rec());

  Channel huge = LongChannel(94, 3000.0f);
  huge.spectrum[300] = 1e30f;  // codable only with a scalefactor outside the 8-bit range
  ComputeEnergies(huge);
  CodeChannel(huge, 1500);
  ExpectDecodable(huge.rec());
}

TEST(RateLoop, StreamsOnTwoThreadsCodeAsTheyDoAlone) {
  auto codeFrames = [](uint32_t seed, std::vector<uint32_t>* digest) {
    Channel c = LongChannel(seed, 3000.0f);
    for (int frame = 0; frame < 12; ++frame) {
      FillSpectrum(c.spectrum, seed * 100 + frame, 3000.0f, kFrameLength);
      ComputeEnergies(c);
      CodeChannel(c, 900 + 150 * (frame % 5));
      uint32_t h = 2166136261u;
      for (int i = 0; i < c.rec().numCodewords; ++i)
        h = (h ^ c.rec().codewords.value[i] ^ (static_cast<uint32_t>(c.rec().codewords.length[i]) << 24)) * 16777619u;
      digest->push_back(h ^ static_cast<uint32_t>(c.rec().globalGain));
    }
  };
  std::vector<uint32_t> aloneA, aloneB, threadA, threadB;
  codeFrames(101, &aloneA);
  codeFrames(202, &aloneB);
  std::thread ta(codeFrames, 101, &threadA);
  std::thread tb(codeFrames, 202, &threadB);
  ta.join();
  tb.join();
  EXPECT_EQ(threadA, aloneA);
  EXPECT_EQ(threadB, aloneB);
  EXPECT_NE(aloneA, aloneB);
}

TEST(RateLoop, SameInputGivesTheSameCodingInEveryStream) {
  Channel a = LongChannel(95, 3000.0f);
  Channel b = LongChannel(95, 3000.0f);
  b.ctx->coding[0].globalGain = 77;  // leftovers of another frame must not matter
  b.ctx->coding[0].cacheGain = 77;
  CodeChannel(a, 1800);
  CodeChannel(b, 1800);
  const ChannelCodingRecord& ra = a.rec();
  const ChannelCodingRecord& rb = b.rec();
  EXPECT_EQ(ra.globalGain, rb.globalGain);
  EXPECT_EQ(ra.lastBits, rb.lastBits);
  ASSERT_EQ(ra.numCodewords, rb.numCodewords);
  for (int i = 0; i < ra.numCodewords; ++i) {
    ASSERT_EQ(ra.codewords.value[i], rb.codewords.value[i]);
    ASSERT_EQ(ra.codewords.length[i], rb.codewords.length[i]);
  }
}

}  // namespace
}  // namespace aacs::quant
