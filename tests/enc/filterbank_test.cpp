// Filterbank: window tables against an independent long-double computation, the fast MDCT and
// IMDCT of every primitive column against the direct formulas, the windowing of every sequence,
// and perfect reconstruction across every window-sequence transition.
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
  for (int k = 0; k < 120; ++k) sum += std::exp(2.0L * k * std::log(x / 2.0L) - 2.0L * std::lgamma(k + 1.0L));
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

// MDCT X[k] = 2 sum z[i] c(i, k) and IMDCT x[i] = 2/N sum X[k] c(i, k), with
// c(i, k) = cos(2 pi / N (i + N/4 + 1/2)(k + 1/2)) = cos(2 pi m / 4N), m = (2i + N/2 + 1)(2k + 1).
std::vector<double> Direct(const std::vector<double>& in, bool inverse) {
  const int n = static_cast<int>(in.size()) * (inverse ? 2 : 1), outSize = inverse ? n : n / 2;
  std::vector<double> table(4 * n), out(outSize);
  for (int j = 0; j < 4 * n; ++j) table[j] = std::cos(2.0 * M_PI * j / (4.0 * n));
  for (int o = 0; o < outSize; ++o) {
    double acc = 0.0;
    for (int j = 0; j < static_cast<int>(in.size()); ++j) {
      const long i = inverse ? o : j, k = inverse ? j : o;
      acc += in[j] * table[((2 * i + n / 2 + 1) * (2 * k + 1)) % (4 * n)];
    }
    out[o] = (inverse ? 2.0 / n : 2.0) * acc;
  }
  return out;
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
  std::vector<double> w(2048);
  for (int i = 0; i < 1024; ++i) {  // the right half mirrors the left
    w[i] = seq != kLongStop ? longL[i] : i < 448 ? 0.0 : i < 576 ? shortL[i - 448] : 1.0;
    w[2047 - i] = seq != kLongStart ? longR[i] : i < 448 ? 0.0 : i < 576 ? shortR[i - 448] : 1.0;
  }
  return w;
}

class FilterbankTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(FilterbankInit(*fb_), 0); }
  void TearDown() override {
    FilterbankRelease(*fb_);
    dsp::BindPrimitives(dsp::DetectCpuClass());
  }
  std::unique_ptr<FilterbankState> fb_ = std::make_unique<FilterbankState>();
};

TEST(FilterbankWindows, KbdMatchesBesselSeriesAndSineItsDefinition) {
  for (int n : {2048, 256}) {
    const auto kbd = KbdReference(n, n == 2048 ? 4.0L : 6.0L);
    const float* k = n == 2048 ? KbdWindowLong() : KbdWindowShort();
    const float* sine = n == 2048 ? SineWindowLong() : SineWindowShort();
    for (int i = 0; i < n / 2; ++i) {
      ASSERT_NEAR(k[i], kbd[i], 1e-7) << n << " " << i;
      ASSERT_NEAR(sine[i], std::sin((i + 0.5L) * kPiL / n), 6e-8) << n << " " << i;
    }
  }
  // A KBD window with the wrong alpha differs far more than the tolerance.
  EXPECT_GT(std::fabs(KbdWindowShort()[20] - KbdReference(256, 4.0L)[20]), 1e-3);
}

// Every primitive column must give the same transforms to float accuracy.
TEST_F(FilterbankTest, MdctAndImdctOfEveryColumnMatchTheDirectFormulas) {
  for (int column = dsp::kCpuGeneric; column <= dsp::kCpuSse2; ++column) {
    FilterbankRelease(*fb_);
    ASSERT_EQ(dsp::BindPrimitives(column), 1);
    ASSERT_EQ(FilterbankInit(*fb_), 0);
    for (int n : {2048, 256}) {
      auto sig = RandomSignal(n, 7 + n, 30000.0f);
      alignas(32) float buf[2048];
      std::copy(sig.begin(), sig.end(), buf);
      if (n == 2048) LongMdct(buf, *fb_);
      else ShortMdct(buf, *fb_);
      EXPECT_LT(RelativeError(buf, Direct({sig.begin(), sig.end()}, false)), 2e-5) << n << " column " << column;
      // The inverse carries a factor 4 / N over the textbook IMDCT.
      auto spectrum = RandomSignal(n / 2, 3 + n, 1000.0f);
      auto want = Direct({spectrum.begin(), spectrum.end()}, true);
      for (double& v : want) v *= 4.0 / n;
      std::copy(spectrum.begin(), spectrum.end(), buf);
      Imdct(buf, n, *fb_);
      EXPECT_LT(RelativeError(buf, want), 2e-5) << n << " column " << column;
    }
  }
}

TEST_F(FilterbankTest, LongSequencesApplyTheirWindowShapes) {
  auto sig = RandomSignal(2048, 12);
  for (int seq : {kOnlyLong, kLongStart, kLongStop}) {
    for (int shape : {kSineWindow, kKbdWindow}) {
      for (int prev : {kSineWindow, kKbdWindow}) {
        const auto w = LongSequenceWindow(seq, shape, prev);
        std::vector<double> z(2048);
        for (int i = 0; i < 2048; ++i) z[i] = sig[i] * w[i];
        alignas(32) float spectrum[2048];
        AnalysisFilterbank(sig.data(), spectrum, nullptr, nullptr, seq, shape, prev, 1, *fb_);
        EXPECT_LT(RelativeError(spectrum, Direct(z, false)), 2e-5) << seq << " " << shape << " " << prev;
      }
    }
  }
}

TEST_F(FilterbankTest, EightShortTakesWindowsAt448PlusStepsOf128) {
  const auto block = RandomSignal(2048, 14);
  const float* time = block.data() + 1024;
  alignas(32) float olderFrame[1024];
  std::copy(block.begin(), block.begin() + 1024, olderFrame);
  alignas(32) float spectrum[2048];
  int firstCall = 0;
  AnalysisFilterbank(time, spectrum, olderFrame, &firstCall, kEightShort, kKbdWindow, kSineWindow, 0, *fb_);
  for (int w = 0; w < 8; ++w) {
    const float* left = w == 0 ? SineWindowShort() : KbdWindowShort();
    std::vector<double> z(256);
    for (int i = 0; i < 128; ++i) {
      z[i] = block[448 + 128 * w + i] * left[i];
      z[128 + i] = block[448 + 128 * w + 128 + i] * KbdWindowShort()[127 - i];
    }
    EXPECT_LT(RelativeError(spectrum + 128 * w, Direct(z, false)), 2e-5) << w;
  }
  for (int i = 0; i < 1024; ++i) ASSERT_EQ(olderFrame[i], time[i]);  // delay line advanced
}

// Analyses a signal frame by frame with the given sequences and shapes (the delay line starts
// with garbage that the first call must ignore), inverts every block and overlap-adds; short
// spectra are scaled by 1/8 so that every inverse carries the long 4/2048.
TEST_F(FilterbankTest, OverlapAddReconstructsAcrossAllTransitions) {
  const std::vector<int> seqs = {kOnlyLong, kOnlyLong, kLongStart, kEightShort, kEightShort,
                                 kLongStop, kOnlyLong, kLongStart, kEightShort, kLongStop, kOnlyLong};
  const std::vector<int> shapes = {kKbdWindow, kSineWindow, kKbdWindow, kSineWindow, kKbdWindow,
                                   kSineWindow, kSineWindow, kKbdWindow, kKbdWindow, kSineWindow, kKbdWindow};
  const int frames = static_cast<int>(seqs.size());
  const auto signal = RandomSignal(frames * 1024, 17, 20000.0f);
  std::vector<float> out((frames + 1) * 1024, 0.0f);
  alignas(32) float older[1024];
  std::fill(older, older + 1024, 100.0f);
  alignas(32) float spectrum[2048], block[2048];
  int firstCall = 1, prevShape = kKbdWindow;
  for (int f = 0; f < frames; ++f) {
    AnalysisFilterbank(signal.data() + 1024 * f, spectrum, older, &firstCall, seqs[f], shapes[f], prevShape, 0, *fb_);
    EXPECT_EQ(firstCall, 0);
    if (seqs[f] == kEightShort)
      for (int k = 0; k < 1024; ++k) spectrum[k] *= 0.125f;
    SynthesisFilterbank(spectrum, block, seqs[f], shapes[f], prevShape, 0, *fb_);
    for (int i = 0; i < 2048; ++i) out[1024 * f + i] += block[i];
    prevShape = shapes[f];
  }
  // Block f covers input frames f-1 and f; output sample 1024 f + i is input frame f-1, and the
  // first block's older half (zeros) aliases only onto itself.  The last block's newer half
  // lacks a partner.
  double maxErr = 0.0;
  for (int i = 0; i < frames * 1024; ++i)
    maxErr = std::max(maxErr, std::fabs(out[i] - (i < 1024 ? 0.0 : signal[i - 1024] * (4.0 / 2048))));
  EXPECT_LT(maxErr, 20000.0 * (4.0 / 2048) * 1e-5);
}

}  // namespace
}  // namespace aacs::enc
