// The FIR filter primitive against a direct convolution.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "dsp/primitives.h"

namespace aacs::dsp {
namespace {

std::vector<float> Convolve(const std::vector<float>& taps, const std::vector<float>& x) {
  std::vector<float> y(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) {
    double sum = 0.0;
    for (std::size_t k = 0; k < taps.size() && k <= n; ++k) sum += double(taps[k]) * x[n - k];
    y[n] = static_cast<float>(sum);
  }
  return y;
}

TEST(Fir, TwoChunksEqualOneCallAndMatchConvolution) {
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> taps(32), x(1500);
  for (float& t : taps) t = dist(rng);
  for (float& v : x) v = dist(rng);
  const std::vector<float> want = Convolve(taps, x);
  FirState* whole = nullptr;
  FirState* split = nullptr;
  ASSERT_EQ(FirStateCreate(&whole, taps.data(), 32, nullptr), kStsOk);
  ASSERT_EQ(FirStateCreate(&split, taps.data(), 32, nullptr), kStsOk);
  std::vector<float> y1(x.size()), y2(x.size());
  ASSERT_EQ(FirFilter(x.data(), y1.data(), 1500, whole), kStsOk);
  ASSERT_EQ(FirFilter(x.data(), y2.data(), 700, split), kStsOk);
  ASSERT_EQ(FirFilter(x.data() + 700, y2.data() + 700, 800, split), kStsOk);
  for (std::size_t n = 0; n < x.size(); ++n) {
    EXPECT_NEAR(y1[n], want[n], 1e-5f) << n;
    EXPECT_NEAR(y2[n], y1[n], 1e-6f) << n;
  }
  EXPECT_EQ(FirStateFree(whole), kStsOk);
  EXPECT_EQ(FirStateFree(split), kStsOk);
}

}  // namespace
}  // namespace aacs::dsp
