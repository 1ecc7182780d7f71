// Filterbank: window tables against an independent long-double computation, the fast MDCT and
// IMDCT against the direct formulas, windowing of every sequence, and perfect reconstruction
// across window-sequence transitions.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"
#include "enc/aac_constants.h"
#include "enc/filterbank.h"

namespace aacs::enc {
namespace {

constexpr long double kPiL = 3.141592653589793238462643383279502884L;

// I0 by direct summation of its series with each term computed from scratch (no recurrence).
long double BesselI0Direct(long double x) {
  long double sum = 0.0L;
  for (int k = 0; k < 120; ++k) {
    const long double term = std::exp(2.0L * k * std::log(x / 2.0L) - 2.0L * std::lgamma(k + 1.0L));
    sum += term;
  }
  return sum;
}

std::vector<long double> KbdReference(int n, long double alpha) {
  std::vector<long double> kernel(n / 2 + 1);
  for (int p = 0; p <= n / 2; ++p) {
    const long double r = (p - n / 4.0L) / (n / 4.0L);
    const long double arg = kPiL * alpha * std::sqrt(std::max(0.0L, 1.0L - r * r));
    kernel[p] = arg == 0.0L ? 1.0L : BesselI0Direct(arg);
  }
  long double total = 0.0L;
  for (long double v : kernel) total += v;
  std::vector<long double> half(n / 2);
  long double running = 0.0L;
  for (int p = 0; p < n / 2; ++p) {
    running += kernel[p];
    half[p] = std::sqrt(running / total);
  }
  return half;
}

// cos(2 pi j / (4N)) for all j: the direct transforms below only need multiples of that angle.
std::vector<double> QuarterCosTable(int n) {
  std::vector<double> t(4 * n);
  for (int j = 0; j < 4 * n; ++j) t[j] = std::cos(2.0 * M_PI * j / (4.0 * n));
  return t;
}

// X[k] = 2 sum z[n] cos(2 pi / N (n + N/4 + 1/2)(k + 1/2)); the angle is 2 pi m / 4N with
// m = (2n + N/2 + 1)(2k + 1).
std::vector<double> DirectMdct(const std::vector<double>& z) {
  const int n = static_cast<int>(z.size());
  const auto table = QuarterCosTable(n);
  std::vector<double> x(n / 2);
  for (int k = 0; k < n / 2; ++k) {
    double acc = 0.0;
    for (int i = 0; i < n; ++i) acc += z[i] * table[(static_cast<long>(2 * i + n / 2 + 1) * (2 * k + 1)) % (4 * n)];
    x[k] = 2.0 * acc;
  }
  return x;
}

// The standard IMDCT x[i] = 2/N sum X[k] cos(2 pi / N (i + N/4 + 1/2)(k + 1/2)).
std::vector<double> DirectImdct(const std::vector<double>& spectrum) {
  const int n = static_cast<int>(spectrum.size()) * 2;
  const auto table = QuarterCosTable(n);
  std::vector<double> x(n);
  for (int i = 0; i < n; ++i) {
    double acc = 0.0;
    for (int k = 0; k < n / 2; ++k) acc += spectrum[k] * table[(static_cast<long>(2 * i + n / 2 + 1) * (2 * k + 1)) % (4 * n)];
    x[i] = 2.0 / n * acc;
  }
  return x;
}

// Largest deviation relative to the largest reference magnitude.
double RelativeError(const float* got, const std::vector<double>& want) {
  double maxErr = 0.0, maxRef = 0.0;
  for (size_t i = 0; i < want.size(); ++i) {
    maxErr = std::max(maxErr, std::fabs(got[i] - want[i]));
    maxRef = std::max(maxRef, std::fabs(want[i]));
  }
  return maxErr / maxRef;
}

std::vector<float> RandomSignal(int n, unsigned seed, float amplitude = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-amplitude, amplitude);
  std::vector<float> v(n);
  for (float& s : v) s = dist(rng);
  return v;
}

// The full 2048-point analysis window of a long sequence, from the definitions.
std::vector<double> LongSequenceWindow(int seq, int shape, int prevShape) {
  const float* longL = prevShape == kKbdWindow ? KbdWindowLong() : SineWindowLong();
  const float* longR = shape == kKbdWindow ? KbdWindowLong() : SineWindowLong();
  const float* shortL = prevShape == kKbdWindow ? KbdWindowShort() : SineWindowShort();
  const float* shortR = shape == kKbdWindow ? KbdWindowShort() : SineWindowShort();
  std::vector<double> w(2048, 0.0);
  for (int i = 0; i < 1024; ++i) {
    if (seq == kLongStop) w[i] = i < 448 ? 0.0 : i < 576 ? shortL[i - 448] : 1.0;
    else w[i] = longL[i];
  }
  for (int i = 1024; i < 2048; ++i) {
    if (seq == kLongStart) w[i] = i < 1472 ? 1.0 : i < 1600 ? shortR[127 - (i - 1472)] : 0.0;
    else w[i] = longR[2047 - i];
  }
  return w;
}

class FilterbankTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fb_ = std::make_unique<FilterbankState>();
    ASSERT_EQ(FilterbankInit(*fb_), 0);
  }
  void TearDown() override { FilterbankRelease(*fb_); }
  std::unique_ptr<FilterbankState> fb_;
};

TEST(FilterbankWindows, KbdMatchesBesselSeriesInLongDouble) {
  const auto refLong = KbdReference(2048, 4.0L);
  const auto refShort = KbdReference(256, 6.0L);
  for (int i = 0; i < 1024; ++i) ASSERT_NEAR(KbdWindowLong()[i], refLong[i], 1e-7) << i;
  for (int i = 0; i < 128; ++i) ASSERT_NEAR(KbdWindowShort()[i], refShort[i], 1e-7) << i;
  // A KBD window with the wrong alpha differs far more than the tolerance.
  const auto wrongAlpha = KbdReference(256, 4.0L);
  EXPECT_GT(std::fabs(KbdWindowShort()[20] - wrongAlpha[20]), 1e-3);
}

TEST(FilterbankWindows, SineHalvesAreSinOfHalfSampleOffsets) {
  for (int i = 0; i < 1024; ++i) ASSERT_NEAR(SineWindowLong()[i], std::sin((i + 0.5L) * kPiL / 2048), 6e-8);
  for (int i = 0; i < 128; ++i) ASSERT_NEAR(SineWindowShort()[i], std::sin((i + 0.5L) * kPiL / 256), 6e-8);
}

TEST(FilterbankWindows, EveryHalfMeetsPrincenBradley) {
  struct Half { const float* w; int len; };
  for (Half h : {Half{SineWindowLong(), 1024}, Half{SineWindowShort(), 128},
                 Half{KbdWindowLong(), 1024}, Half{KbdWindowShort(), 128}}) {
    // Full window w[n], n < N/2, is the rising half; w[n + N/2] is the half read backwards.
    for (int i = 0; i < h.len; ++i) {
      const double a = h.w[i], b = h.w[h.len - 1 - i];
      ASSERT_NEAR(a * a + b * b, 1.0, 3e-7) << h.len << " " << i;
    }
    for (int i = 1; i < h.len; ++i) ASSERT_GE(h.w[i], h.w[i - 1]);  // rising (KBD saturates at 1)
    EXPECT_LT(h.w[0], 0.01f);
  }
}

TEST_F(FilterbankTest, ImpulseAt512GivesTheShiftedCosine) {
  alignas(32) float buf[2048] = {};
  buf[512] = 1.0f;
  LongMdct(buf, *fb_);
  for (int k = 0; k < 1024; ++k)
    ASSERT_NEAR(buf[k], 2.0 * std::cos(2.0 * M_PI / 2048 * 1024.5 * (k + 0.5)), 2e-5) << k;
}

TEST_F(FilterbankTest, SecondHalfMirrorsTheNegatedFirstHalf) {
  auto sig = RandomSignal(2048, 1);
  alignas(32) float buf[2048];
  std::copy(sig.begin(), sig.end(), buf);
  LongMdct(buf, *fb_);
  for (int k = 0; k < 1024; ++k) ASSERT_EQ(buf[2047 - k], -buf[k]) << k;
  alignas(32) float sbuf[256];
  std::copy(sig.begin(), sig.begin() + 256, sbuf);
  ShortMdct(sbuf, *fb_);
  for (int k = 0; k < 128; ++k) ASSERT_EQ(sbuf[255 - k], -sbuf[k]) << k;
}

// Every primitive column must give the same transforms to float accuracy.
class FilterbankColumnsTest : public FilterbankTest {
 protected:
  void TearDown() override {
    FilterbankTest::TearDown();
    dsp::BindPrimitives(dsp::DetectCpuClass());
  }
  void BindColumn(int column) {
    FilterbankRelease(*fb_);
    ASSERT_EQ(dsp::BindPrimitives(column), 1);
    ASSERT_EQ(FilterbankInit(*fb_), 0);
  }
};

TEST_F(FilterbankColumnsTest, LongAndShortMdctMatchTheDirectFormula) {
  for (int column = dsp::kCpuGeneric; column <= dsp::kCpuSse2; ++column) {
    BindColumn(column);
    for (int n : {2048, 256}) {
      auto sig = RandomSignal(n, 7 + n, 30000.0f);
      std::vector<double> z(sig.begin(), sig.end());
      const auto want = DirectMdct(z);
      alignas(32) float buf[2048];
      std::copy(sig.begin(), sig.end(), buf);
      if (n == 2048) LongMdct(buf, *fb_);
      else ShortMdct(buf, *fb_);
      EXPECT_LT(RelativeError(buf, want), 2e-5) << n << " column " << column;
    }
  }
}

TEST_F(FilterbankColumnsTest, ImdctIsTheDirectFormulaTimesFourOverN) {
  for (int column = dsp::kCpuGeneric; column <= dsp::kCpuSse2; ++column) {
    BindColumn(column);
    for (int n : {2048, 256}) {
      auto spectrum = RandomSignal(n / 2, 3 + n, 1000.0f);
      std::vector<double> x(spectrum.begin(), spectrum.end());
      auto want = DirectImdct(x);
      for (double& v : want) v *= 4.0 / n;
      alignas(32) float buf[2048];
      std::copy(spectrum.begin(), spectrum.end(), buf);
      Imdct(buf, n, *fb_);
      EXPECT_LT(RelativeError(buf, want), 2e-5) << n << " column " << column;
    }
  }
}

TEST_F(FilterbankTest, SineShapesOnBothSidesWindowWithTheFullSine) {
  auto sig = RandomSignal(2048, 11);
  std::vector<double> z(2048);
  for (int i = 0; i < 2048; ++i) z[i] = sig[i] * std::sin((i + 0.5) * M_PI / 2048);
  const auto want = DirectMdct(z);
  alignas(32) float spectrum[2048];
  AnalysisFilterbank(sig.data(), spectrum, nullptr, nullptr, kOnlyLong, kSineWindow, kSineWindow, 1, *fb_);
  EXPECT_LT(RelativeError(spectrum, want), 2e-5);
}

TEST_F(FilterbankTest, LongSequencesApplyTheirWindowShapes) {
  auto sig = RandomSignal(2048, 12);
  for (int seq : {kOnlyLong, kLongStart, kLongStop}) {
    for (int shape : {kSineWindow, kKbdWindow}) {
      const int prev = 1 - shape;
      const auto w = LongSequenceWindow(seq, shape, prev);
      std::vector<double> z(2048);
      for (int i = 0; i < 2048; ++i) z[i] = sig[i] * w[i];
      const auto want = DirectMdct(z);
      alignas(32) float spectrum[2048];
      AnalysisFilterbank(sig.data(), spectrum, nullptr, nullptr, seq, shape, prev, 1, *fb_);
      EXPECT_LT(RelativeError(spectrum, want), 2e-5) << seq << " " << shape;
    }
  }
}

TEST_F(FilterbankTest, LongStartIgnoresTheLast448SamplesAndLongStopTheFirst448) {
  auto sig = RandomSignal(2048, 13);
  struct Case { int seq; int zeroFrom; int zeroTo; int liveSample; };
  for (Case c : {Case{kLongStart, 1600, 2048, 1599}, Case{kLongStop, 0, 448, 448}}) {
    alignas(32) float base[2048], changed[2048], live[2048];
    AnalysisFilterbank(sig.data(), base, nullptr, nullptr, c.seq, kKbdWindow, kKbdWindow, 1, *fb_);
    auto other = sig;
    for (int i = c.zeroFrom; i < c.zeroTo; ++i) other[i] += 5.0f;
    AnalysisFilterbank(other.data(), changed, nullptr, nullptr, c.seq, kKbdWindow, kKbdWindow, 1, *fb_);
    for (int k = 0; k < 1024; ++k) ASSERT_EQ(base[k], changed[k]) << c.seq << " " << k;
    // The neighbouring sample does count.
    other = sig;
    other[c.liveSample] += 5.0f;
    AnalysisFilterbank(other.data(), live, nullptr, nullptr, c.seq, kKbdWindow, kKbdWindow, 1, *fb_);
    bool differs = false;
    for (int k = 0; k < 1024; ++k) differs |= base[k] != live[k];
    EXPECT_TRUE(differs) << c.seq;
  }
}

TEST_F(FilterbankTest, EightShortTakesWindowsAt448PlusStepsOf128) {
  auto older = RandomSignal(1024, 14);
  auto time = RandomSignal(1024, 15);
  std::vector<float> block(older);
  block.insert(block.end(), time.begin(), time.end());
  alignas(32) float olderFrame[1024];
  std::copy(older.begin(), older.end(), olderFrame);
  alignas(32) float spectrum[2048];
  int firstCall = 0;
  AnalysisFilterbank(time.data(), spectrum, olderFrame, &firstCall, kEightShort, kKbdWindow, kSineWindow, 0, *fb_);
  for (int w = 0; w < 8; ++w) {
    const float* left = w == 0 ? SineWindowShort() : KbdWindowShort();
    std::vector<double> z(256);
    for (int i = 0; i < 128; ++i) {
      z[i] = block[448 + 128 * w + i] * left[i];
      z[128 + i] = block[448 + 128 * w + 128 + i] * KbdWindowShort()[127 - i];
    }
    EXPECT_LT(RelativeError(spectrum + 128 * w, DirectMdct(z)), 2e-5) << w;
  }
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(olderFrame[i], time[i]);  // delay line advanced
}

TEST_F(FilterbankTest, EachChannelsFirstTransformStartsFromZeros) {
  auto frame = RandomSignal(1024, 16);
  alignas(32) float olderA[1024], olderB[1024];
  std::fill(olderA, olderA + 1024, 100.0f);  // whatever the priming left there
  std::fill(olderB, olderB + 1024, 100.0f);
  int firstA = 1, firstB = 1;
  alignas(32) float specA[2048], specB[2048], expect[2048];
  std::vector<float> block(1024, 0.0f);
  block.insert(block.end(), frame.begin(), frame.end());
  AnalysisFilterbank(block.data(), expect, nullptr, nullptr, kOnlyLong, kKbdWindow, kKbdWindow, 1, *fb_);
  AnalysisFilterbank(frame.data(), specA, olderA, &firstA, kOnlyLong, kKbdWindow, kKbdWindow, 0, *fb_);
  AnalysisFilterbank(frame.data(), specB, olderB, &firstB, kOnlyLong, kKbdWindow, kKbdWindow, 0, *fb_);
  EXPECT_EQ(firstA, 0);
  EXPECT_EQ(firstB, 0);
  for (int k = 0; k < 1024; ++k) {
    ASSERT_EQ(specA[k], expect[k]) << k;
    ASSERT_EQ(specB[k], expect[k]) << k;
  }
  // The second call uses the delay line.
  AnalysisFilterbank(frame.data(), specA, olderA, &firstA, kOnlyLong, kKbdWindow, kKbdWindow, 0, *fb_);
  std::copy(frame.begin(), frame.end(), block.begin());
  AnalysisFilterbank(block.data(), expect, nullptr, nullptr, kOnlyLong, kKbdWindow, kKbdWindow, 1, *fb_);
  for (int k = 0; k < 1024; ++k) ASSERT_EQ(specA[k], expect[k]) << k;
}

// Encodes a signal frame by frame with the given sequences and shapes, inverts every block and
// overlap-adds; short spectra are scaled by 1/8 so that every inverse carries the long 4/2048.
std::vector<float> AnalyseAndResynthesise(const std::vector<float>& signal, const std::vector<int>& seqs,
                                          const std::vector<int>& shapes, FilterbankState& fb) {
  const int frames = static_cast<int>(seqs.size());
  std::vector<float> out((frames + 1) * 1024, 0.0f);
  alignas(32) float older[1024];
  alignas(32) float spectrum[2048];
  alignas(32) float block[2048];
  int firstCall = 1;
  int prevShape = kKbdWindow;
  for (int f = 0; f < frames; ++f) {
    AnalysisFilterbank(signal.data() + 1024 * f, spectrum, older, &firstCall, seqs[f], shapes[f], prevShape, 0, fb);
    if (seqs[f] == kEightShort)
      for (int k = 0; k < 1024; ++k) spectrum[k] *= 0.125f;
    SynthesisFilterbank(spectrum, block, seqs[f], shapes[f], prevShape, 0, fb);
    for (int i = 0; i < 2048; ++i) out[1024 * f + i] += block[i];
    prevShape = shapes[f];
  }
  return out;
}

TEST_F(FilterbankTest, OverlapAddReconstructsAcrossAllTransitions) {
  const std::vector<int> seqs = {kOnlyLong, kOnlyLong, kLongStart, kEightShort, kEightShort,
                                 kLongStop, kOnlyLong, kLongStart, kEightShort, kLongStop, kOnlyLong};
  const std::vector<int> shapes = {kKbdWindow, kSineWindow, kKbdWindow, kSineWindow, kKbdWindow,
                                   kSineWindow, kSineWindow, kKbdWindow, kKbdWindow, kSineWindow, kKbdWindow};
  const int frames = static_cast<int>(seqs.size());
  auto signal = RandomSignal(frames * 1024, 17, 20000.0f);
  const auto out = AnalyseAndResynthesise(signal, seqs, shapes, *fb_);
  // Block f covers input frames f-1 and f; output sample 1024 f + i is input frame f-1.
  // Samples of the first block's older half and the last block's newer half lack a partner.
  double maxErr = 0.0;
  for (int i = 1024; i < frames * 1024; ++i)
    maxErr = std::max(maxErr, std::fabs(out[i] - signal[i - 1024] * (4.0 / 2048)));
  EXPECT_LT(maxErr, 20000.0 * (4.0 / 2048) * 1e-5);
}

TEST_F(FilterbankTest, ShortTransformsReconstructAtFourOver256) {
  // 256-sample KBD-windowed blocks at hops of 128, inverted, windowed and overlap-added.
  auto signal = RandomSignal(128 * 12, 18, 1000.0f);
  const float* w = KbdWindowShort();
  std::vector<double> out(signal.size(), 0.0);
  for (int start = 0; start + 256 <= static_cast<int>(signal.size()); start += 128) {
    alignas(32) float buf[256];
    for (int i = 0; i < 128; ++i) {
      buf[i] = signal[start + i] * w[i];
      buf[128 + i] = signal[start + 128 + i] * w[127 - i];
    }
    ShortMdct(buf, *fb_);
    Imdct(buf, 256, *fb_);
    for (int i = 0; i < 128; ++i) {
      out[start + i] += buf[i] * w[i];
      out[start + 128 + i] += buf[128 + i] * w[127 - i];
    }
  }
  for (size_t i = 128; i + 128 < signal.size(); ++i)
    ASSERT_NEAR(out[i], signal[i] * (4.0 / 256), 1000.0 * (4.0 / 256) * 1e-5) << i;
}

TEST_F(FilterbankTest, EightShortSynthesisInModeOneLaysWindowsSideBySide) {
  alignas(32) float spectrum[2048];
  auto lines = RandomSignal(1024, 20, 100.0f);
  std::copy(lines.begin(), lines.end(), spectrum);
  alignas(32) float out[2048];
  SynthesisFilterbank(spectrum, out, kEightShort, kKbdWindow, kSineWindow, 1, *fb_);
  for (int w : {0, 5}) {
    const float* left = w == 0 ? SineWindowShort() : KbdWindowShort();
    alignas(32) float one[256];
    std::copy(spectrum + 128 * w, spectrum + 128 * (w + 1), one);
    Imdct(one, 256, *fb_);
    for (int i = 0; i < 128; ++i) {
      ASSERT_EQ(out[256 * w + i], one[i] * left[i]) << w << " " << i;
      ASSERT_EQ(out[256 * w + 128 + i], one[128 + i] * KbdWindowShort()[127 - i]) << w << " " << i;
    }
  }
}

}  // namespace
}  // namespace aacs::enc
