// Temporal noise shaping: the filters of long and short frames undone by an independent
// decoder working from the signalled fields only, the frames that must stay unfiltered, the
// side-information cap, the LPC analysis on known and degenerate inputs, the coefficient range,
// and real transients through the filterbank.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <tuple>
#include <vector>

#include "enc/aac_constants.h"
#include "enc/band_tables.h"
#include "enc/filterbank.h"
#include "enc/side_info.h"
#include "enc/tns.h"

namespace aacs::enc {
namespace {

constexpr int k44100 = 4;  // sampling-frequency index

std::vector<float> Ar1Lines(int n, float rho, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> x(n);
  float prev = 0.0f;
  for (float& v : x) v = prev = rho * prev + noise(rng);
  return x;
}

TnsRecord LcRecord44100() {
  TnsRecord rec;
  TnsInit(44100, kProfileLc, rec);
  return rec;
}

// What a decoder does with the fields: dequantise the indices, step up to the predictor and
// run the all-pole filter upward over the range that length, max_sfb and the rate's limit give.
void DecoderInverse(const TnsRecord& rec, int seq, int maxSfb, float* lines) {
  const bool isShort = seq == kEightShort;
  const int* offsets = isShort ? kSwbOffsetShort[k44100] : kSwbOffsetLong[k44100];
  const int numSwb = isShort ? kNumSwbShort[k44100] : kNumSwbLong[k44100];
  const int limit = std::min(isShort ? kTnsMaxBandsShort[k44100] : kTnsMaxBandsLong[k44100], maxSfb);
  for (int w = 0; w < (isShort ? 8 : 1); ++w) {
    const TnsWindow& win = rec.window[w];
    if (!rec.present || !win.nFilt || !win.filter.order) continue;
    const int order = win.filter.order;
    const double half = 1 << (win.coefRes - 1);
    double a[kTnsMaxOrder + 1] = {1.0}, b[kTnsMaxOrder + 1];
    for (int m = 1; m <= order; ++m) {
      const int index = win.filter.index[m];
      const double k = std::sin(index / ((index >= 0 ? half - 0.5 : half + 0.5) / (std::numbers::pi / 2)));
      for (int i = 1; i < m; ++i) b[i] = a[i] + k * a[m - i];
      for (int i = 1; i < m; ++i) a[i] = b[i];
      a[m] = k;
    }
    const int start = offsets[std::min(std::max(numSwb - win.filter.length, 0), limit)];
    const int end = offsets[std::min(numSwb, limit)];
    float* x = lines + w * (isShort ? 128 : 1024);
    for (int n = start; n < end; ++n)
      for (int i = 1; i <= order && n - i >= start; ++i) x[n] -= static_cast<float>(a[i] * x[n - i]);
  }
}

TEST(TnsDecoder, AnIndependentDecoderUndoesTheFiltersOfLongAndShortFrames) {
  for (int seq : {kOnlyLong, kEightShort}) {
    const bool isShort = seq == kEightShort;
    const int bands = isShort ? 14 : 49;
    TnsRecord rec = LcRecord44100();
    auto lines = Ar1Lines(1024, 0.9f, 9);
    const auto orig = lines;
    ASSERT_EQ(TNS_Encode_Frame(bands, bands, seq, isShort ? kSwbOffsetShort[k44100] : kSwbOffsetLong[k44100],
                               lines.data(), rec, 1, 10000), 0);
    ASSERT_EQ(rec.present, 1) << seq;
    EXPECT_NE(lines, orig);
    for (int w = 0; w < (isShort ? 8 : 1); ++w) {
      EXPECT_EQ(rec.window[w].nFilt, 1) << w;
      EXPECT_EQ(rec.window[w].filter.direction, 0);
    }
    DecoderInverse(rec, seq, bands, lines.data());
    for (int i = 0; i < 1024; ++i) ASSERT_NEAR(lines[i], orig[i], 1e-3) << seq << " " << i;
  }
}

TEST(TnsInit, LongOrderTwentyOnlyForMainAtOrBelow32000AndNoFilterWithoutLimits) {
  struct Case { int rate, profile, longOrder; };
  // Decoders reject order 20 outside Main.
  for (Case c : {Case{32000, kProfileMain, 20}, Case{44100, kProfileMain, 12}, Case{16000, kProfileLtp, 12},
                 Case{8000, kProfileLc, 12}, Case{44000, kProfileLc, 0}, Case{44100, kProfileSsr, 0}}) {
    TnsRecord rec;
    TnsInit(c.rate, c.profile, rec);
    EXPECT_EQ(rec.longMaxOrder, c.longOrder) << c.rate << " " << c.profile;
    EXPECT_EQ(rec.shortMaxOrder, c.longOrder ? 7 : 0);
    if (!c.longOrder) {
      auto lines = Ar1Lines(1024, 0.9f, 1);
      const auto orig = lines;
      EXPECT_EQ(TNS_Encode_Frame(49, 49, kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, 1, 80), 0);
      EXPECT_EQ(rec.present, 0);
      EXPECT_EQ(lines, orig);
    }
  }
}

TEST(TnsEncode, DisabledLongStopSilentRangeAndOverTheCapFramesStayUnfiltered) {
  const int lo = kSwbOffsetLong[k44100][17], hi = kSwbOffsetLong[k44100][42];
  for (int c = 0; c < 4; ++c) {
    TnsRecord rec = LcRecord44100();
    auto lines = Ar1Lines(1024, 0.95f, 3);
    // A filtered frame first: its filter must not linger into the next one.
    TNS_Encode_Frame(49, 49, kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, 1, 80);
    ASSERT_EQ(rec.present, 1);
    lines = Ar1Lines(1024, 0.95f, 4);
    if (c == 2) std::fill(lines.begin() + lo, lines.begin() + hi, 0.0f);  // loud lines outside do not matter
    const auto orig = lines;
    TNS_Encode_Frame(49, 49, c == 1 ? kLongStop : kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, c != 0,
                     c == 3 ? 10 : 80);
    EXPECT_EQ(std::tuple(rec.present, rec.window[0].nFilt), std::tuple(0, 0)) << c;
    EXPECT_EQ(lines, orig) << c;
  }
}

TEST(TnsEncode, EightShortCapIsHalvedAndCountsTheWholeChannel) {
  TnsRecord rec = LcRecord44100();
  std::vector<float> lines(1024);
  for (int w = 0; w < 8; ++w)  // geometric decays: one coefficient predicts them perfectly
    for (int i = 0; i < 128; ++i) lines[128 * w + i] = std::pow(0.9f, static_cast<float>(i)) * (w + 1);
  const auto orig = lines;
  // A cap of 74 allows 37 bits: the presence flag, 8 window flags and two order-1 filters of
  // 14 bits each fill it exactly; a third filter would not fit.
  ASSERT_EQ(TNS_Encode_Frame(14, 14, kEightShort, kSwbOffsetShort[k44100], lines.data(), rec, 1, 74), 0);
  ASSERT_EQ(rec.present, 1);
  for (int w = 0; w < 8; ++w) {
    const bool kept = w < 2;
    EXPECT_EQ(rec.window[w].nFilt, kept ? 1 : 0) << w;
    EXPECT_EQ(std::equal(lines.begin() + 128 * w, lines.begin() + 128 * (w + 1), orig.begin() + 128 * w), !kept) << w;
  }
  EXPECT_LE(WriteTnsData(rec, kEightShort, nullptr, 0), 37);
}

TEST(TnsLpc, KnownGainsAndStableCoefficientsForDegenerateInputs) {
  const std::vector<float> white = Ar1Lines(4096, 0.0f, 6);
  float parcor[kTnsMaxOrder + 1];
  const float whiteGain = TnsLpc(12, 4096, white.data(), parcor);
  EXPECT_GT(whiteGain, 1.0f);
  EXPECT_LT(whiteGain, 1.05f);
  // AR(1) with rho 0.8: the first reflection coefficient is -rho, the gain 1 / (1 - rho^2).
  auto ar = Ar1Lines(16384, 0.8f, 7);
  EXPECT_NEAR(TnsLpc(4, 16384, ar.data(), parcor), 1.0f / (1.0f - 0.64f), 0.15f);
  EXPECT_NEAR(parcor[1], -0.8f, 0.02f);
  // Degenerate inputs: finite gains and every coefficient inside the unit circle.
  std::vector<std::vector<float>> inputs = {std::vector<float>(300, 0.0f), std::vector<float>(64, 1.0f),
                                            {0.0f, 0.0f, 3.0f}, std::vector<float>(4, 1e-30f),
                                            std::vector<float>(64), std::vector<float>(116)};
  for (int i = 0; i < 64; ++i) inputs[4][i] = i % 2 ? -1.0f : 1.0f;
  for (int i = 0; i < 116; ++i) inputs[5][i] = std::cos(0.7f * i);  // exactly predictable
  EXPECT_EQ(TnsLpc(12, 300, inputs[0].data(), parcor), 0.0f) << "an all-zero range has gain 0";
  for (const auto& x : inputs) {
    const float gain = TnsLpc(20, static_cast<int>(x.size()), x.data(), parcor);
    EXPECT_TRUE(std::isfinite(gain)) << x.size();
    EXPECT_TRUE(gain == 0.0f || gain >= 1.0f) << gain;
    for (int i = 1; i <= 20; ++i) ASSERT_LT(std::fabs(parcor[i]), 1.0f) << x.size() << " " << i;
  }
}

TEST(TnsQuantise, IndicesStayInsideFourBitsAndDequantiseInsideTheUnitCircle) {
  for (int step = -1000; step <= 1000; ++step) {
    TnsFilter f{};
    f.parcor[1] = step == 1000 ? 0.99999f : step / 1000.0f;  // asin * 4.77 + 0.5 reaches 8 at the top
    TnsQuantiseFilter(f, 1);
    ASSERT_GE(f.index[1], -8) << step;
    ASSERT_LE(f.index[1], 7) << step;
    ASSERT_LT(std::fabs(f.parcor[1]), 1.0f) << step;
  }
}

TEST(TnsTransient, AClickInOneShortWindowAndAnAttackInALongBlockGetFiltersStationaryNoiseNone) {
  FilterbankState fb{};
  ASSERT_EQ(FilterbankInit(fb), 0);
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  // Mode 1 takes the eight windows side by side at 256 w: the click sits in window 5 only.
  std::vector<float> block(2048);
  for (float& v : block) v = noise(rng);
  block[256 * 5 + 100] = 30000.0f;
  alignas(32) float spectrum[2048];
  AnalysisFilterbank(block.data(), spectrum, nullptr, nullptr, kEightShort, kKbdWindow, kKbdWindow, 1, fb);
  TnsRecord rec = LcRecord44100();
  TNS_Encode_Frame(14, 14, kEightShort, kSwbOffsetShort[k44100], spectrum, rec, 1, 1000);
  EXPECT_EQ(rec.present, 1);
  EXPECT_EQ(rec.window[5].nFilt, 1);
  EXPECT_EQ(rec.window[1].nFilt, 0);  // noise only
  for (int level : {1, 0}) {  // a sharp attack, then stationary noise of the same level
    for (int i = 0; i < 2048; ++i) block[i] = noise(rng) * (level && i < 1300 ? 1.0f : 3000.0f);
    AnalysisFilterbank(block.data(), spectrum, nullptr, nullptr, kOnlyLong, kKbdWindow, kKbdWindow, 1, fb);
    TNS_Encode_Frame(49, 49, kOnlyLong, kSwbOffsetLong[k44100], spectrum, rec, 1, 80);
    EXPECT_EQ(rec.present, level) << level;
  }
  FilterbankRelease(fb);
}

}  // namespace
}  // namespace aacs::enc
