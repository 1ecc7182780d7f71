// The FIR filter primitive against a direct convolution, its history and its statuses.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "dsp/column_util.h"
#include "dsp/generic_primitives.h"

namespace aacs::dsp {
namespace {

using test::RandomSignal;

// y[n] = sum taps[k] x[n - k], with `past` (oldest first) before x[0].
std::vector<float> Convolve(const std::vector<float>& taps, const std::vector<float>& x,
                            const std::vector<float>& past = {}) {
  std::vector<double> all(past.begin(), past.end());
  all.insert(all.end(), x.begin(), x.end());
  std::vector<float> y(x.size());
  for (std::size_t n = 0; n < x.size(); ++n) {
    double sum = 0.0;
    const std::size_t at = past.size() + n;
    for (std::size_t k = 0; k < taps.size() && k <= at; ++k) sum += double(taps[k]) * all[at - k];
    y[n] = static_cast<float>(sum);
  }
  return y;
}

struct Fir {
  FirState* state = nullptr;
  Fir(const std::vector<float>& taps, const float* delay = nullptr) {
    EXPECT_EQ(FirStateCreate(&state, taps.data(), static_cast<int>(taps.size()), delay), kStsOk);
  }
  ~Fir() { FirStateFree(state); }
};

TEST(Fir, TwoChunksEqualOneCallAndMatchConvolution) {
  const auto taps = RandomSignal(32, 1), x = RandomSignal(1500, 2);
  const auto want = Convolve(taps, x);
  Fir whole(taps), split(taps);
  std::vector<float> y1(x.size()), y2(x.size());
  ASSERT_EQ(FirFilter(x.data(), y1.data(), 1500, whole.state), kStsOk);
  ASSERT_EQ(FirFilter(x.data(), y2.data(), 700, split.state), kStsOk);
  ASSERT_EQ(FirFilter(x.data() + 700, y2.data() + 700, 800, split.state), kStsOk);
  for (std::size_t n = 0; n < x.size(); ++n) {
    ASSERT_NEAR(y1[n], want[n], 1e-5f) << n;
    ASSERT_EQ(y2[n], y1[n]) << n;
  }
}

TEST(Fir, HistoryShorterThanTheFilterCarriesAcrossManyTinyCalls) {
  const auto taps = RandomSignal(32, 3), x = RandomSignal(100, 4);
  const auto want = Convolve(taps, x);
  Fir fir(taps);
  std::vector<float> y(x.size());
  for (std::size_t n = 0; n < x.size(); n += 5) ASSERT_EQ(FirFilter(x.data() + n, y.data() + n, 5, fir.state), kStsOk);
  for (std::size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(y[n], want[n], 1e-5f) << n;
}

TEST(Fir, InitialDelayLineIsThePastOldestFirst) {
  const auto taps = RandomSignal(8, 5), x = RandomSignal(20, 6), past = RandomSignal(7, 7);
  const auto want = Convolve(taps, x, past);
  Fir fir(taps, past.data());
  std::vector<float> y(x.size());
  ASSERT_EQ(FirFilter(x.data(), y.data(), 20, fir.state), kStsOk);
  for (std::size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(y[n], want[n], 1e-5f) << n;
}

TEST(Fir, FiltersInPlace) {
  const auto taps = RandomSignal(32, 8);
  auto x = RandomSignal(1024, 9);
  const auto want = Convolve(taps, x);
  Fir fir(taps);
  ASSERT_EQ(FirFilter(x.data(), x.data(), 1024, fir.state), kStsOk);
  for (std::size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(x[n], want[n], 1e-5f) << n;
}

TEST(Fir, StateCarriesTheMarkAndLongFiltersUseTheWideForm) {
  Fir shortFir(RandomSignal(32, 10));
  EXPECT_EQ(std::memcmp(shortFir.state, "10IF", 4), 0);
  const auto taps = RandomSignal(300, 11), x = RandomSignal(1000, 12);
  Fir longFir(taps);
  EXPECT_EQ(std::memcmp(longFir.state, "30IF", 4), 0);
  const auto want = Convolve(taps, x);
  std::vector<float> y(x.size());
  ASSERT_EQ(FirFilter(x.data(), y.data(), 1000, longFir.state), kStsOk);
  for (std::size_t n = 0; n < x.size(); ++n) ASSERT_NEAR(y[n], want[n], 2e-6f) << n;
}

// The attack detector's decisions hang on these floats: every column must give the generic
// column's bits, for tap counts around the register widths and calls that split chunks.
TEST(Fir, EveryColumnGivesTheGenericBits) {
  for (int column = kCpuGeneric; column <= kCpuSse2; ++column) {
    SCOPED_TRACE(test::ColumnName(column));
    const auto filter = test::Impl<FirFilterFn>(kSlotFirFilter, column);
    for (int tapCount : {1, 3, 4, 5, 8, 31, 32, 33, 300}) {
      const auto taps = RandomSignal(tapCount, 20 + tapCount), x = RandomSignal(1654, 21);
      Fir reference(taps), candidate(taps);
      std::vector<float> want(x.size()), got(x.size());
      size_t pos = 0;
      for (int count : {1, 7, 9, 255, 256, 257, 600, 269}) {
        ASSERT_EQ(generic::FirFilter(x.data() + pos, want.data() + pos, count, reference.state), kStsOk);
        ASSERT_EQ(filter(x.data() + pos, got.data() + pos, count, candidate.state), kStsOk);
        pos += count;
      }
      ASSERT_EQ(pos, x.size());
      EXPECT_EQ(std::memcmp(want.data(), got.data(), x.size() * sizeof(float)), 0) << tapCount << " taps";
    }
  }
}

TEST(Fir, Statuses) {
  const float taps[2] = {1, 2};
  FirState* state = reinterpret_cast<FirState*>(&state);
  EXPECT_EQ(FirStateCreate(&state, taps, 0, nullptr), kStsFirLenErr);
  EXPECT_EQ(state, nullptr);
  EXPECT_EQ(FirStateCreate(&state, taps, -3, nullptr), kStsFirLenErr);
  EXPECT_EQ(FirStateCreate(&state, nullptr, 2, nullptr), kStsNullPtrErr);
  EXPECT_EQ(FirStateCreate(nullptr, taps, 2, nullptr), kStsNullPtrErr);
  ASSERT_EQ(FirStateCreate(&state, taps, 2, nullptr), kStsOk);
  float x[4] = {1, 1, 1, 1}, y[4] = {9, 9, 9, 9};
  EXPECT_EQ(FirFilter(x, y, 0, state), kStsSizeErr);
  EXPECT_EQ(FirFilter(nullptr, y, 4, state), kStsNullPtrErr);
  EXPECT_EQ(FirFilter(x, y, 4, nullptr), kStsNullPtrErr);
  for (float v : y) EXPECT_EQ(v, 9.0f);
  char notAState[64] = "XXXX";
  EXPECT_EQ(FirFilter(x, y, 4, reinterpret_cast<FirState*>(notAState)), kStsContextMatchErr);
  EXPECT_EQ(FirStateFree(reinterpret_cast<FirState*>(notAState)), kStsContextMatchErr);
  EXPECT_EQ(FirStateFree(nullptr), kStsNullPtrErr);
  EXPECT_EQ(FirStateFree(state), kStsOk);
}

}  // namespace
}  // namespace aacs::dsp
