// The FIR filter primitive against a direct convolution, its history across calls, every column
// against the generic bits, and its statuses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "dsp/column_util.h"
#include "dsp/generic_primitives.h"

namespace aacs::dsp {
namespace {

using test::RandomSignal;

// y[n] = sum taps[k] x[n - k], with `past` (oldest first) before x[0].
std::vector<float> Convolve(const std::vector<float>& taps, const std::vector<float>& x, const std::vector<float>& past) {
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
  explicit Fir(const std::vector<float>& taps, const float* delay = nullptr) {
    EXPECT_EQ(FirStateCreate(&state, taps.data(), static_cast<int>(taps.size()), delay), kStsOk);
  }
  ~Fir() { FirStateFree(state); }
};

// Calls of `chunk` samples (in place or not) give the convolution and the bits of one call.
TEST(Fir, ChunkedCallsCarryTheHistoryAndMatchConvolution) {
  const struct { int taps, samples, chunk, past; bool inPlace; } cases[] = {
      {32, 1500, 700, 0, false}, {32, 100, 5, 0, false},  // history longer than the calls
      {8, 20, 20, 7, false},     {32, 1024, 1024, 0, true}, {300, 1000, 333, 0, false}};  // the long-filter form
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.taps << " taps, chunks of " << c.chunk << ", past " << c.past);
    const auto taps = RandomSignal(c.taps, 1 + c.taps), x = RandomSignal(c.samples, 2), past = RandomSignal(c.past, 3);
    const auto want = Convolve(taps, x, past);
    Fir whole(taps, c.past ? past.data() : nullptr), chunked(taps, c.past ? past.data() : nullptr);
    std::vector<float> y1(x.size()), y2 = x;
    ASSERT_EQ(FirFilter(x.data(), y1.data(), c.samples, whole.state), kStsOk);
    for (int n = 0; n < c.samples; n += c.chunk) {
      const int count = std::min(c.chunk, c.samples - n);
      ASSERT_EQ(FirFilter(c.inPlace ? y2.data() + n : x.data() + n, y2.data() + n, count, chunked.state), kStsOk);
    }
    for (int n = 0; n < c.samples; ++n) {
      ASSERT_NEAR(y1[n], want[n], 1e-5f) << n;
      ASSERT_EQ(y2[n], y1[n]) << n;
    }
  }
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
      EXPECT_EQ(std::memcmp(want.data(), got.data(), x.size() * sizeof(float)), 0) << tapCount << " taps";
    }
  }
}

TEST(Fir, BadArgumentsAndForeignStatesAreRefused) {
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
  char notAState[64] = "XXXX";
  EXPECT_EQ(FirFilter(x, y, 4, reinterpret_cast<FirState*>(notAState)), kStsContextMatchErr);
  for (float v : y) EXPECT_EQ(v, 9.0f);
  EXPECT_EQ(FirStateFree(reinterpret_cast<FirState*>(notAState)), kStsContextMatchErr);
  EXPECT_EQ(FirStateFree(nullptr), kStsNullPtrErr);
  EXPECT_EQ(FirStateFree(state), kStsOk);
}

}  // namespace
}  // namespace aacs::dsp
