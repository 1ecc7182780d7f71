// Temporal noise shaping: per-rate limits, the band range, the decision and coefficient
// quantisation, the side-information cap, the filter/inverse-filter pair, and real transients
// through the filterbank.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
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

TEST(TnsInit, LimitsFollowRateAndProfile) {
  TnsRecord rec;
  TnsInit(44100, kProfileLc, rec);
  EXPECT_EQ(rec.longStartBand, 17);
  EXPECT_EQ(rec.shortStartBand, 3);
  EXPECT_EQ(rec.longMaxBands, 42);
  EXPECT_EQ(rec.shortMaxBands, 14);
  EXPECT_EQ(rec.longMaxOrder, 12);
  EXPECT_EQ(rec.shortMaxOrder, 7);
  TnsInit(8000, kProfileLc, rec);
  EXPECT_EQ(rec.longStartBand, 31);
  EXPECT_EQ(rec.shortStartBand, 12);
  EXPECT_EQ(rec.longMaxBands, 39);
  TnsInit(96000, kProfileMain, rec);
  EXPECT_EQ(rec.longStartBand, 11);
  EXPECT_EQ(rec.shortMaxBands, 9);
  EXPECT_EQ(rec.longMaxOrder, 12);
}

TEST(TnsInit, OrderTwentyOnlyForMainAtOrBelow32000) {
  TnsRecord rec;
  TnsInit(32000, kProfileMain, rec);
  EXPECT_EQ(rec.longMaxOrder, 20);
  TnsInit(44100, kProfileMain, rec);
  EXPECT_EQ(rec.longMaxOrder, 12);
  TnsInit(16000, kProfileLtp, rec);  // decoders reject order 20 outside Main
  EXPECT_EQ(rec.longMaxOrder, 12);
  TnsInit(8000, kProfileLc, rec);
  EXPECT_EQ(rec.longMaxOrder, 12);
}

TEST(TnsInit, UnknownRateOrProfileFormsNoFilter) {
  TnsRecord rec;
  TnsInit(44000, kProfileLc, rec);
  EXPECT_EQ(rec.longMaxBands, 0);
  EXPECT_EQ(rec.longMaxOrder, 0);
  TnsInit(44100, kProfileSsr, rec);
  EXPECT_EQ(rec.longMaxOrder, 0);
  EXPECT_EQ(rec.shortMaxBands, 0);
  auto lines = Ar1Lines(1024, 0.9f, 1);
  const auto orig = lines;
  EXPECT_EQ(TNS_Encode_Frame(49, 49, kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, 1, 80), 0);
  EXPECT_EQ(rec.present, 0);
  EXPECT_EQ(lines, orig);
}

TEST(TnsEncode, LongBlockAt44100FiltersBands17To42AndSignalsLength32) {
  TnsRecord rec = LcRecord44100();
  auto lines = Ar1Lines(1024, 0.9f, 2);
  const auto orig = lines;
  ASSERT_EQ(TNS_Encode_Frame(49, 45, kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, 1, 80), 0);
  ASSERT_EQ(rec.present, 1);
  ASSERT_EQ(rec.window[0].nFilt, 1);
  EXPECT_EQ(rec.window[0].coefRes, 4);
  EXPECT_EQ(rec.window[0].filter.length, 32);
  EXPECT_EQ(rec.window[0].filter.direction, 0);
  EXPECT_GE(rec.window[0].filter.order, 1);
  const int lo = kSwbOffsetLong[k44100][17], hi = kSwbOffsetLong[k44100][42];
  for (int i = 0; i < lo; ++i) ASSERT_EQ(lines[i], orig[i]) << i;
  for (int i = hi; i < 1024; ++i) ASSERT_EQ(lines[i], orig[i]) << i;
  EXPECT_NE(lines[lo + 1], orig[lo + 1]);
  EXPECT_NE(lines[hi - 1], orig[hi - 1]);
  // The filtered lines are the prediction residual: less energy.
  double before = 0, after = 0;
  for (int i = lo; i < hi; ++i) before += orig[i] * orig[i], after += lines[i] * lines[i];
  EXPECT_LT(after, before / 1.4);
}

TEST(TnsEncode, LongStopOrDisabledNeverFilters) {
  for (int seq : {kLongStop, kOnlyLong}) {
    TnsRecord rec = LcRecord44100();
    auto lines = Ar1Lines(1024, 0.95f, 3);
    const auto orig = lines;
    const int enabled = seq == kLongStop ? 1 : 0;
    ASSERT_EQ(TNS_Encode_Frame(49, 49, seq, kSwbOffsetLong[k44100], lines.data(), rec, enabled, 80), 0);
    EXPECT_EQ(rec.present, 0) << seq;
    EXPECT_EQ(rec.window[0].nFilt, 0) << seq;
    EXPECT_EQ(lines, orig) << seq;
  }
}

TEST(TnsEncode, PreviousFrameFiltersDoNotLinger) {
  TnsRecord rec = LcRecord44100();
  auto lines = Ar1Lines(1024, 0.9f, 4);
  TNS_Encode_Frame(49, 49, kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, 1, 80);
  ASSERT_EQ(rec.present, 1);
  std::vector<float> silent(1024, 0.0f);
  TNS_Encode_Frame(49, 49, kLongStop, kSwbOffsetLong[k44100], silent.data(), rec, 1, 80);
  EXPECT_EQ(rec.present, 0);
  EXPECT_EQ(rec.window[0].nFilt, 0);
}

TEST(TnsEncode, AllZeroRangeGivesGainZeroAndNoFilter) {
  float parcor[kTnsMaxOrder + 1];
  std::vector<float> zeros(300, 0.0f);
  EXPECT_EQ(TnsLpc(12, 300, zeros.data(), parcor), 0.0f);
  EXPECT_EQ(parcor[0], 1.0f);
  for (int i = 1; i <= 12; ++i) EXPECT_EQ(parcor[i], 0.0f);
  // Loud lines outside the range do not matter.
  TnsRecord rec = LcRecord44100();
  auto lines = Ar1Lines(1024, 0.9f, 5);
  const int lo = kSwbOffsetLong[k44100][17], hi = kSwbOffsetLong[k44100][42];
  for (int i = lo; i < hi; ++i) lines[i] = 0.0f;
  const auto orig = lines;
  TNS_Encode_Frame(49, 49, kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, 1, 80);
  EXPECT_EQ(rec.present, 0);
  EXPECT_EQ(lines, orig);
}

TEST(TnsLpc, WhiteNoiseHasGainNearOneAndAr1ItsKnownGain) {
  std::mt19937 rng(6);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> white(4096);
  for (float& v : white) v = noise(rng);
  float parcor[kTnsMaxOrder + 1];
  const float whiteGain = TnsLpc(12, 4096, white.data(), parcor);
  EXPECT_GT(whiteGain, 1.0f);
  EXPECT_LT(whiteGain, 1.05f);
  // AR(1) with rho 0.8: the first reflection coefficient is -rho, the gain 1 / (1 - rho^2).
  auto ar = Ar1Lines(16384, 0.8f, 7);
  const float gain = TnsLpc(4, 16384, ar.data(), parcor);
  EXPECT_NEAR(parcor[1], -0.8f, 0.02f);
  EXPECT_NEAR(gain, 1.0f / (1.0f - 0.64f), 0.15f);
}

TEST(TnsLpc, DegenerateInputsKeepEveryCoefficientInsideTheUnitCircle) {
  std::vector<std::vector<float>> inputs;
  inputs.push_back(std::vector<float>(64, 1.0f));  // constant
  std::vector<float> alternating(64);
  for (int i = 0; i < 64; ++i) alternating[i] = i % 2 ? -1.0f : 1.0f;
  inputs.push_back(alternating);
  std::vector<float> tone(116);
  for (int i = 0; i < 116; ++i) tone[i] = std::cos(0.7f * i);  // exactly predictable
  inputs.push_back(tone);
  inputs.push_back({0.0f, 0.0f, 3.0f});  // fewer lines than the order
  inputs.push_back({1e-30f, 1e-30f, 1e-30f, 1e-30f});  // products underflow
  for (const auto& x : inputs) {
    float parcor[kTnsMaxOrder + 1];
    const float gain = TnsLpc(20, static_cast<int>(x.size()), x.data(), parcor);
    EXPECT_TRUE(std::isfinite(gain)) << x.size();
    EXPECT_TRUE(gain == 0.0f || gain >= 1.0f) << gain;
    for (int i = 1; i <= 20; ++i) ASSERT_LT(std::fabs(parcor[i]), 1.0f) << x.size() << " " << i;
  }
}

TEST(TnsQuantise, MinusPointThreeBecomesIndexMinusOne) {
  TnsFilter f{};
  f.parcor[1] = -0.3f;
  TnsQuantiseFilter(f, 1);
  EXPECT_EQ(f.index[1], -1);
  EXPECT_NEAR(f.parcor[1], std::sin(-1.0 / 5.411268), 1e-6);
  EXPECT_NEAR(f.parcor[1], -0.1838, 1e-4);
  EXPECT_EQ(f.order, 1);
  EXPECT_EQ(f.lpc[0], 1.0f);
  EXPECT_EQ(f.lpc[1], f.parcor[1]);
}

TEST(TnsQuantise, IndicesStayInsideFourBits) {
  TnsFilter f{};
  f.parcor[1] = 0.99999f;  // asin * 4.77 + 0.5 reaches 8, one past the 4-bit range
  f.parcor[2] = 0.5f;
  TnsQuantiseFilter(f, 2);
  EXPECT_EQ(f.index[1], 7);
  EXPECT_EQ(f.index[2], static_cast<int>(std::asin(0.5f) * 4.774648f + 0.5f));
  for (int step = -1000; step <= 1000; ++step) {
    TnsFilter g{};
    g.parcor[1] = step / 1000.0f;
    TnsQuantiseFilter(g, 1);
    ASSERT_GE(g.index[1], -8) << step;
    ASSERT_LE(g.index[1], 7) << step;
    ASSERT_LT(std::fabs(g.parcor[1]), 1.0f) << step;
  }
}

TEST(TnsQuantise, SmallTrailingCoefficientsLowerTheOrder) {
  TnsFilter f{};
  // Negative values need -0.274 to reach index -1 (-0.1838), positive ones 0.105 (0.2079).
  const float k[] = {0.0f, 0.6f, 0.05f, -0.4f, 0.09f, -0.35f, -0.2f};
  std::copy(std::begin(k), std::end(k), f.parcor);
  TnsQuantiseFilter(f, 6);
  EXPECT_EQ(f.order, 5);
  EXPECT_EQ(f.index[5], -1);
  EXPECT_EQ(f.index[6], 0);
  EXPECT_EQ(f.parcor[2], 0.0f);  // a small coefficient below the order stays, at 0
  TnsFilter g{};
  g.parcor[1] = 0.05f;
  g.parcor[2] = -0.1f;
  TnsQuantiseFilter(g, 2);
  EXPECT_EQ(g.order, 0);
  EXPECT_EQ(g.lpc[1], 0.0f);
}

TEST(TnsQuantise, StepUpBuildsThePredictorOfTheReflectionCoefficients) {
  TnsFilter f{};
  f.parcor[1] = 0.5f;
  f.parcor[2] = -0.6f;
  TnsQuantiseFilter(f, 2);
  const float k1 = f.parcor[1], k2 = f.parcor[2];
  EXPECT_EQ(f.order, 2);
  EXPECT_FLOAT_EQ(f.lpc[1], k1 + k2 * k1);
  EXPECT_FLOAT_EQ(f.lpc[2], k2);
}

TEST(TnsFilter, InverseFilterRestoresTheLinesInBothDirections) {
  TnsFilter f{};
  const float k[] = {0.0f, -0.8f, 0.5f, -0.3f, 0.6f, 0.2f, -0.7f, 0.4f};
  std::copy(std::begin(k), std::end(k), f.parcor);
  TnsQuantiseFilter(f, 7);
  ASSERT_EQ(f.order, 7);
  const auto orig = Ar1Lines(200, 0.5f, 8);
  for (int dir : {0, 1}) {
    f.direction = dir;
    auto x = orig;
    EXPECT_EQ(TnsFilterLines(200, x.data(), f), 0);
    EXPECT_NE(x, orig);
    TnsInverseFilterLines(200, x.data(), f);
    for (int i = 0; i < 200; ++i) ASSERT_NEAR(x[i], orig[i], 1e-4) << dir << " " << i;
  }
  // Direction 0 filters upward: the first line has no predecessor and stays.
  f.direction = 0;
  auto x = orig;
  TnsFilterLines(200, x.data(), f);
  EXPECT_EQ(x[0], orig[0]);
  EXPECT_FLOAT_EQ(x[1], orig[1] + f.lpc[1] * orig[0]);
}

TEST(TnsFilter, EncodeThenInverseRestoresLongAndShortSpectra) {
  for (int seq : {kOnlyLong, kEightShort}) {
    TnsRecord rec = LcRecord44100();
    const bool isShort = seq == kEightShort;
    const int* offsets = isShort ? kSwbOffsetShort[k44100] : kSwbOffsetLong[k44100];
    const int bands = isShort ? 14 : 49;
    auto lines = Ar1Lines(1024, 0.9f, 9);
    const auto orig = lines;
    TNS_Encode_Frame(bands, bands, seq, offsets, lines.data(), rec, 1, 10000);
    ASSERT_EQ(rec.present, 1) << seq;
    EXPECT_NE(lines, orig);
    TnsInverseFilter(bands, bands, seq, offsets, lines.data(), rec);
    for (int i = 0; i < 1024; ++i) ASSERT_NEAR(lines[i], orig[i], 1e-3) << seq << " " << i;
  }
}

// Lines that decay geometrically predict perfectly with one coefficient.
void FillShortWindowsWithDecays(std::vector<float>& lines) {
  for (int w = 0; w < 8; ++w)
    for (int i = 0; i < 128; ++i) lines[128 * w + i] = std::pow(0.9f, static_cast<float>(i)) * (w + 1);
}

TEST(TnsEncode, EightShortCapIsHalvedAndCountsTheWholeChannel) {
  TnsRecord rec = LcRecord44100();
  std::vector<float> lines(1024);
  FillShortWindowsWithDecays(lines);
  const auto orig = lines;
  // A cap of 74 allows 37 bits: the presence flag, 8 window flags and two order-1 filters of
  // 14 bits each fill it exactly; a third filter would not fit.
  ASSERT_EQ(TNS_Encode_Frame(14, 14, kEightShort, kSwbOffsetShort[k44100], lines.data(), rec, 1, 74), 0);
  ASSERT_EQ(rec.present, 1);
  for (int w = 0; w < 8; ++w) {
    SCOPED_TRACE(w);
    const bool kept = w < 2;
    EXPECT_EQ(rec.window[w].nFilt, kept ? 1 : 0);
    if (kept) {
      EXPECT_EQ(rec.window[w].filter.order, 1);
    }
    const bool untouched = std::equal(lines.begin() + 128 * w, lines.begin() + 128 * (w + 1), orig.begin() + 128 * w);
    EXPECT_EQ(untouched, !kept);
  }
  EXPECT_LE(WriteTnsData(rec, kEightShort, nullptr, 0), 37);
  // Without a tight cap every window takes its filter.
  lines = orig;
  TNS_Encode_Frame(14, 14, kEightShort, kSwbOffsetShort[k44100], lines.data(), rec, 1, 1000);
  for (int w = 0; w < 8; ++w) EXPECT_EQ(rec.window[w].nFilt, 1) << w;
}

TEST(TnsEncode, FilterOverTheCapLeavesPresentClearedWhenNothingElseFits) {
  TnsRecord rec = LcRecord44100();
  auto lines = Ar1Lines(1024, 0.9f, 10);
  const auto orig = lines;
  TNS_Encode_Frame(49, 49, kOnlyLong, kSwbOffsetLong[k44100], lines.data(), rec, 1, 10);
  EXPECT_EQ(rec.present, 0);
  EXPECT_EQ(rec.window[0].nFilt, 0);
  EXPECT_EQ(rec.window[0].filter.order, 0);
  EXPECT_EQ(lines, orig);
}

class TnsTransientTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = std::make_unique<FilterbankState>();
    ASSERT_EQ(FilterbankInit(*fb_), 0);
  }
  void TearDown() override { FilterbankRelease(*fb_); }
  std::unique_ptr<FilterbankState> fb_;
};

TEST_F(TnsTransientTest, ClickInOneShortWindowGetsAFilter) {
  std::mt19937 rng(11);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  // Mode 1 takes the eight windows side by side at 256 w: the click sits in window 5 only.
  std::vector<float> block(2048);
  for (float& v : block) v = noise(rng);
  block[256 * 5 + 100] = 30000.0f;
  alignas(32) float spectrum[2048];
  AnalysisFilterbank(block.data(), spectrum, nullptr, nullptr, kEightShort, kKbdWindow, kKbdWindow, 1, *fb_);
  const int* offsets = kSwbOffsetShort[k44100];
  float parcor[kTnsMaxOrder + 1];
  const int lo = offsets[3], hi = offsets[14];
  EXPECT_GT(TnsLpc(7, hi - lo, spectrum + 128 * 5 + lo, parcor), 1.4f);
  TnsRecord rec = LcRecord44100();
  TNS_Encode_Frame(14, 14, kEightShort, offsets, spectrum, rec, 1, 1000);
  EXPECT_EQ(rec.present, 1);
  EXPECT_EQ(rec.window[5].nFilt, 1);
  EXPECT_EQ(rec.window[1].nFilt, 0);  // noise only
}

TEST_F(TnsTransientTest, SharpAttackInALongBlockGetsAFilter) {
  std::mt19937 rng(12);
  std::normal_distribution<float> noise(0.0f, 1.0f);
  std::vector<float> block(2048);
  for (int i = 0; i < 2048; ++i) block[i] = noise(rng) * (i < 1300 ? 1.0f : 3000.0f);
  alignas(32) float spectrum[2048];
  AnalysisFilterbank(block.data(), spectrum, nullptr, nullptr, kOnlyLong, kKbdWindow, kKbdWindow, 1, *fb_);
  TnsRecord rec = LcRecord44100();
  const int* offsets = kSwbOffsetLong[k44100];
  float parcor[kTnsMaxOrder + 1];
  EXPECT_GT(TnsLpc(12, offsets[42] - offsets[17], spectrum + offsets[17], parcor), 1.4f);
  TNS_Encode_Frame(49, 49, kOnlyLong, offsets, spectrum, rec, 1, 80);
  EXPECT_EQ(rec.present, 1);
  EXPECT_GE(rec.window[0].filter.order, 1);
  // Stationary noise of the same level gets none.
  for (int i = 0; i < 2048; ++i) block[i] = noise(rng) * 3000.0f;
  AnalysisFilterbank(block.data(), spectrum, nullptr, nullptr, kOnlyLong, kKbdWindow, kKbdWindow, 1, *fb_);
  TNS_Encode_Frame(49, 49, kOnlyLong, offsets, spectrum, rec, 1, 80);
  EXPECT_EQ(rec.present, 0);
}

}  // namespace
}  // namespace aacs::enc
