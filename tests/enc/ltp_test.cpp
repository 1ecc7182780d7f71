// Long-term prediction: the FFT correlation equals the direct sums, the lag search finds a
// planted repetition, and the estimate takes exactly the samples a decoder takes.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "dsp/cpu_detect.h"
#include "enc/ltp.h"

namespace aacs::enc {
namespace {

struct Search {
  std::unique_ptr<LtpSearchState> state = std::make_unique<LtpSearchState>();
  Search() {
    dsp::BindPrimitivesOnce();
    *state = LtpSearchState{};
    EXPECT_EQ(LtpSearchInit(*state), 0);
  }
  ~Search() { LtpSearchRelease(*state); }
};

std::vector<float> Noise(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> d(0.0f, 1000.0f);
  std::vector<float> v(static_cast<size_t>(n));
  for (float& x : v) x = d(rng);
  return v;
}

TEST(Ltp, FftCorrelationEqualsTheDirectSumAtEveryKindOfLag) {
  Search s;
  const std::vector<float> block = Noise(2048, 1), history = Noise(kLtpHistoryLength, 2);
  std::vector<float> corr(2048);
  LtpCorrelations(block.data(), history.data(), *s.state, corr.data());
  for (int lag : {0, 1, 500, 1023, 1024, 1500, 2047}) {
    const int n = lag < 1024 ? lag + 1024 : 2048;
    double direct = 0.0;
    for (int i = 0; i < n; ++i) direct += static_cast<double>(block[i]) * history[i + 2048 - lag];
    EXPECT_NEAR(corr[lag], direct, 1e-4 * 1000.0 * 1000.0 * std::sqrt(2048.0)) << lag;
  }
}

TEST(Ltp, LagSearchFindsThePlantedRepetitionAndNoneInASilentHistory) {
  Search s;
  const std::vector<float> history = Noise(kLtpHistoryLength, 3);
  for (int lag : {1100, 1800, 2047}) {
    std::vector<float> block(2048);
    for (int i = 0; i < 2048; ++i) block[i] = 0.8f * history[i + 2048 - lag];
    EXPECT_EQ(LtpLagSearch(block.data(), history.data(), *s.state), lag);
  }
  const std::vector<float> block = Noise(2048, 4), silent(kLtpHistoryLength, 0.0f);
  EXPECT_EQ(LtpLagSearch(block.data(), silent.data(), *s.state), -1);
}

TEST(Ltp, EstimateOfAShortLagStopsWhereTheStateEnds) {
  std::vector<float> history(kLtpHistoryLength);
  for (int i = 0; i < kLtpHistoryLength; ++i) history[i] = static_cast<float>(i + 1);
  std::vector<float> estimate(2048, -1.0f);
  LtpEstimate(history.data(), 300, 7, estimate.data());
  EXPECT_FLOAT_EQ(estimate[0], kLtpGains[7] * history[1748]);
  EXPECT_FLOAT_EQ(estimate[1323], kLtpGains[7] * history[3071]);
  EXPECT_EQ(estimate[1324], 0.0f);
  EXPECT_EQ(estimate[2047], 0.0f);
  LtpEstimate(history.data(), 2047, 0, estimate.data());
  EXPECT_FLOAT_EQ(estimate[2047], kLtpGains[0] * history[2048]);
}

}  // namespace
}  // namespace aacs::enc
