// FFT primitives of every column against a double-precision DFT: all orders up to 12, round
// trips up to order 16, the scaling flags and the statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

#include "dsp/column_util.h"
#include "dsp/fft_internal.h"

namespace aacs::dsp {
namespace {

using Cd = std::complex<double>;
using test::Impl;
using test::RandomSignal;

// Naive DFT of the n complex points x (interleaved); sign -1 forward, +1 inverse.
std::vector<Cd> NaiveDft(const std::vector<float>& x, std::size_t n, int sign) {
  std::vector<Cd> roots(n), out(n);
  for (std::size_t k = 0; k < n; ++k) roots[k] = std::polar(1.0, sign * 2.0 * M_PI * double(k) / double(n));
  for (std::size_t k = 0; k < n; ++k)
    for (std::size_t t = 0; t < n; ++t) out[k] += Cd(x[2 * t], x[2 * t + 1]) * roots[(k * t) % n];
  return out;
}

// Largest error of the first want.size() interleaved points of `got` against scale * want,
// relative to the largest reference magnitude.
double RelativeError(const float* got, const std::vector<Cd>& want, double scale) {
  double maxRef = 0.0, maxErr = 0.0;
  for (std::size_t k = 0; k < want.size(); ++k) {
    maxRef = std::max(maxRef, std::abs(want[k] * scale));
    maxErr = std::max(maxErr, std::abs(Cd(got[2 * k], got[2 * k + 1]) - want[k] * scale));
  }
  return maxErr / std::max(maxRef, 1e-30);
}

struct Spec {
  FftSpec* spec = nullptr;
  bool real;
  Spec(int order, int flag, bool isReal) : real(isReal) {
    EXPECT_EQ(real ? FftRealSpecCreate(&spec, order, flag, 0) : FftComplexSpecCreate(&spec, order, flag, 0), kStsOk);
  }
  ~Spec() { real ? FftRealSpecFree(spec) : FftComplexSpecFree(spec); }
};

class FftColumn : public ::testing::TestWithParam<int> {
 protected:
  FftTransformFn Forward() const { return Impl<FftTransformFn>(kSlotFftComplexForward, GetParam()); }
  FftTransformFn Inverse() const { return Impl<FftTransformFn>(kSlotFftComplexInverse, GetParam()); }
  FftTransformFn Real() const { return Impl<FftTransformFn>(kSlotFftRealForward, GetParam()); }
};

// The real transform packs R0, R(N/2), R1, I1, R2, I2 ... into N floats.
TEST_P(FftColumn, ComplexAndRealTransformsMatchNaiveDftUpToOrder12) {
  for (int order = 0; order <= 12; ++order) {
    const std::size_t n = std::size_t{1} << order;
    Spec complex(order, kFftDivInvByN, false), real(order, kFftDivInvByN, true);
    const auto x = RandomSignal(2 * n, 11 + order);
    std::vector<float> y(2 * n), z(2 * n);
    ASSERT_EQ(Forward()(x.data(), y.data(), complex.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(y.data(), NaiveDft(x, n, -1), 1.0), 1e-5) << "forward, order " << order;
    ASSERT_EQ(Inverse()(x.data(), z.data(), complex.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(z.data(), NaiveDft(x, n, +1), 1.0 / n), 1e-5) << "inverse, order " << order;

    std::vector<float> xr(n), xc(2 * n, 0.0f), packed(n + 1, 777.0f);
    for (std::size_t t = 0; t < n; ++t) xr[t] = xc[2 * t] = x[t];
    ASSERT_EQ(Real()(xr.data(), packed.data(), real.spec, nullptr), kStsOk);
    EXPECT_EQ(packed[n], 777.0f) << "wrote past N floats, order " << order;
    std::vector<float> half(2 * (n / 2 + 1), 0.0f);
    std::copy(packed.begin(), packed.begin() + long(n), half.begin());
    half[1] = 0.0f;
    if (n >= 2) half[n] = packed[1];
    std::vector<Cd> want = NaiveDft(xc, n, -1);
    want.resize(n / 2 + 1);
    EXPECT_LE(RelativeError(half.data(), want, 1.0), 1e-5) << "real, order " << order;
  }
}

TEST_P(FftColumn, ForwardThenInverseInPlaceReturnsTheInput) {
  for (int order : {0, 1, 2, 3, 4, 5, 6, 9, 10, 13, 16}) {
    const std::size_t n = std::size_t{1} << order;
    Spec s(order, kFftDivInvByN, false);
    const auto x = RandomSignal(2 * n, 21 + order);
    std::vector<float> y(2 * n), work(FftWorkBufferFloats(s.spec));
    ASSERT_EQ(Forward()(x.data(), y.data(), s.spec, work.data()), kStsOk);
    ASSERT_EQ(Inverse()(y.data(), y.data(), s.spec, work.data()), kStsOk);
    for (std::size_t i = 0; i < 2 * n; ++i) ASSERT_NEAR(y[i], x[i], 1e-5 * (order + 1)) << "order " << order << " at " << i;
  }
}

TEST_P(FftColumn, ScalingFlagsDivideTheRightDirection) {
  const int order = 7;
  const std::size_t n = std::size_t{1} << order;
  const auto x = RandomSignal(2 * n, 5);
  const auto fwd = NaiveDft(x, n, -1), inv = NaiveDft(x, n, +1);
  const double rootN = std::sqrt(double(n));
  const struct { int flag; double fwdScale, invScale; } cases[] = {
      {kFftDivFwdByN, 1.0 / n, 1.0}, {kFftDivInvByN, 1.0, 1.0 / n}, {kFftDivBySqrtN, 1.0 / rootN, 1.0 / rootN}, {kFftNoDiv, 1.0, 1.0}};
  for (const auto& c : cases) {
    Spec s(order, c.flag, false), r(order, c.flag, true);
    std::vector<float> y(2 * n), xr(x.begin(), x.begin() + long(n)), real(n);
    ASSERT_EQ(Forward()(x.data(), y.data(), s.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(y.data(), fwd, c.fwdScale), 1e-5) << "flag " << c.flag;
    ASSERT_EQ(Inverse()(x.data(), y.data(), s.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(y.data(), inv, c.invScale), 1e-5) << "flag " << c.flag;
    ASSERT_EQ(Real()(xr.data(), real.data(), r.spec, nullptr), kStsOk);
    double sum = 0;
    for (float v : xr) sum += v;
    EXPECT_NEAR(real[0], sum * c.fwdScale, 1e-5 * n * c.fwdScale) << "flag " << c.flag;
  }
}

TEST_P(FftColumn, WrongKindOrNullPointersAreRefusedWithoutWriting) {
  Spec complex(5, kFftDivInvByN, false), real(5, kFftDivInvByN, true);
  std::vector<float> x(64, 1.0f), y(64, 9.0f);
  EXPECT_EQ(Forward()(x.data(), y.data(), real.spec, nullptr), kStsContextMatchErr);
  EXPECT_EQ(Inverse()(x.data(), y.data(), real.spec, nullptr), kStsContextMatchErr);
  EXPECT_EQ(Real()(x.data(), y.data(), complex.spec, nullptr), kStsContextMatchErr);
  EXPECT_EQ(Forward()(nullptr, y.data(), complex.spec, nullptr), kStsNullPtrErr);
  EXPECT_EQ(Forward()(x.data(), nullptr, complex.spec, nullptr), kStsNullPtrErr);
  EXPECT_EQ(Real()(x.data(), y.data(), nullptr, nullptr), kStsNullPtrErr);
  EXPECT_EQ(y, std::vector<float>(64, 9.0f));
}

INSTANTIATE_TEST_SUITE_P(AllColumns, FftColumn, ::testing::Values(0, 1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& info) { return test::ColumnName(info.param); });

TEST(FftSpecs, CreateAndFreeRefuseBadOrdersFlagsKindsAndMemory) {
  FftSpec* spec = reinterpret_cast<FftSpec*>(&spec);  // must be cleared on failure
  EXPECT_EQ(FftComplexSpecCreate(&spec, 31, kFftDivInvByN, 0), kStsFftOrderErr);
  EXPECT_EQ(spec, nullptr);
  EXPECT_EQ(FftRealSpecCreate(&spec, -1, kFftDivInvByN, 0), kStsFftOrderErr);
  EXPECT_EQ(FftComplexSpecCreate(&spec, 4, 3, 0), kStsFftFlagErr);
  EXPECT_EQ(FftRealSpecCreate(&spec, 4, 0, 0), kStsFftFlagErr);
  EXPECT_EQ(FftComplexSpecCreate(nullptr, 4, kFftDivInvByN, 0), kStsNullPtrErr);
  EXPECT_EQ(FftComplexSpecFree(nullptr), kStsNullPtrErr);
  EXPECT_EQ(CreateFftSpecWithLimit(&spec, 20, kFftDivInvByN, 0, false, 1u << 20), kStsMemAllocErr);
  EXPECT_EQ(spec, nullptr);
  ASSERT_EQ(CreateFftSpecWithLimit(&spec, 10, kFftDivInvByN, 0, true, 1u << 20), kStsOk);
  EXPECT_EQ(FftComplexSpecFree(spec), kStsContextMatchErr);  // the other kind
  EXPECT_EQ(FftRealSpecFree(spec), kStsOk);
}

}  // namespace
}  // namespace aacs::dsp
