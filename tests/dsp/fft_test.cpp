// FFT primitives of every column against a double-precision DFT and against the generic
// column: all small orders, the encoder's sizes, round trips, scaling flags, statuses.
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

// Naive DFT of n interleaved complex points; sign -1 forward, +1 inverse.
std::vector<Cd> NaiveDft(const std::vector<float>& x, std::size_t n, int sign) {
  std::vector<Cd> roots(n);
  for (std::size_t k = 0; k < n; ++k) {
    const double a = 2.0 * M_PI * static_cast<double>(k) / static_cast<double>(n);
    roots[k] = Cd(std::cos(a), sign * std::sin(a));
  }
  std::vector<Cd> out(n);
  for (std::size_t k = 0; k < n; ++k) {
    Cd sum = 0;
    for (std::size_t t = 0; t < n; ++t) sum += Cd(x[2 * t], x[2 * t + 1]) * roots[(k * t) % n];
    out[k] = sum;
  }
  return out;
}

// Largest error relative to the largest reference magnitude; `got` is interleaved.
double RelativeError(const float* got, const std::vector<Cd>& want, double scale) {
  double maxRef = 0.0, maxErr = 0.0;
  for (std::size_t k = 0; k < want.size(); ++k) {
    const Cd ref = want[k] * scale;
    maxRef = std::max(maxRef, std::abs(ref));
    maxErr = std::max(maxErr, std::abs(Cd(got[2 * k], got[2 * k + 1]) - ref));
  }
  return maxErr / std::max(maxRef, 1e-30);
}

// The half spectrum X[0..N/2] from the packed order R0, R(N/2), R1, I1, ...
std::vector<float> UnpackReal(const std::vector<float>& y, std::size_t n) {
  std::vector<float> half(2 * (n / 2 + 1), 0.0f);
  half[0] = y[0];
  if (n >= 2) half[n] = y[1];
  for (std::size_t k = 1; k < n / 2; ++k) {
    half[2 * k] = y[2 * k];
    half[2 * k + 1] = y[2 * k + 1];
  }
  return half;
}

struct Spec {
  FftSpec* spec = nullptr;
  bool real = false;
  Spec(int order, int flag, bool isReal) : real(isReal) {
    const int st = real ? FftRealSpecCreate(&spec, order, flag, 0) : FftComplexSpecCreate(&spec, order, flag, 0);
    EXPECT_EQ(st, kStsOk);
  }
  ~Spec() { real ? FftRealSpecFree(spec) : FftComplexSpecFree(spec); }
};

class FftColumn : public ::testing::TestWithParam<int> {
 protected:
  FftTransformFn Forward() const { return Impl<FftTransformFn>(kSlotFftComplexForward, GetParam()); }
  FftTransformFn Inverse() const { return Impl<FftTransformFn>(kSlotFftComplexInverse, GetParam()); }
  FftTransformFn Real() const { return Impl<FftTransformFn>(kSlotFftRealForward, GetParam()); }
};

TEST_P(FftColumn, ComplexTransformsMatchNaiveDftUpToOrder12) {
  for (int order = 0; order <= 12; ++order) {
    const std::size_t n = std::size_t{1} << order;
    Spec s(order, kFftDivInvByN, false);
    const auto x = RandomSignal(2 * n, 11 + order);
    std::vector<float> y(2 * n), z(2 * n);
    ASSERT_EQ(Forward()(x.data(), y.data(), s.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(y.data(), NaiveDft(x, n, -1), 1.0), 1e-5) << "order " << order;
    ASSERT_EQ(Inverse()(x.data(), z.data(), s.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(z.data(), NaiveDft(x, n, +1), 1.0 / n), 1e-5) << "order " << order;
  }
}

TEST_P(FftColumn, RealTransformMatchesNaiveDftUpToOrder12) {
  for (int order = 0; order <= 12; ++order) {
    const std::size_t n = std::size_t{1} << order;
    Spec s(order, kFftDivInvByN, true);
    const auto x = RandomSignal(n, 7 + order);
    std::vector<float> xc(2 * n, 0.0f);
    for (std::size_t t = 0; t < n; ++t) xc[2 * t] = x[t];
    const auto ref = NaiveDft(xc, n, -1);
    std::vector<float> y(n + 1, 777.0f);
    ASSERT_EQ(Real()(x.data(), y.data(), s.spec, nullptr), kStsOk);
    EXPECT_EQ(y[n], 777.0f) << "wrote past N floats, order " << order;
    const auto half = UnpackReal(y, n);
    EXPECT_LE(RelativeError(half.data(), {ref.begin(), ref.begin() + static_cast<long>(n / 2 + 1)}, 1.0), 1e-5)
        << "order " << order;
  }
}

TEST_P(FftColumn, AgreesWithGenericColumnOnTheEncoderSizes) {
  for (int order : {6, 9}) {
    const std::size_t n = std::size_t{1} << order;
    Spec s(order, kFftDivInvByN, false);
    const auto x = RandomSignal(2 * n, 3, 1000.0f);
    std::vector<float> want(2 * n), got(2 * n);
    for (int slot : {kSlotFftComplexForward, kSlotFftComplexInverse}) {
      ASSERT_EQ(Impl<FftTransformFn>(slot, 0)(x.data(), want.data(), s.spec, nullptr), kStsOk);
      ASSERT_EQ(Impl<FftTransformFn>(slot, GetParam())(x.data(), got.data(), s.spec, nullptr), kStsOk);
      float peak = 0;
      for (float v : want) peak = std::max(peak, std::fabs(v));
      for (std::size_t i = 0; i < 2 * n; ++i) ASSERT_NEAR(got[i], want[i], 1e-5f * peak) << order << " " << i;
    }
  }
  for (int order : {8, 11}) {
    const std::size_t n = std::size_t{1} << order;
    Spec s(order, kFftDivInvByN, true);
    const auto x = RandomSignal(n, 4, 32768.0f);
    std::vector<float> want(n), got(n);
    ASSERT_EQ(Impl<FftTransformFn>(kSlotFftRealForward, 0)(x.data(), want.data(), s.spec, nullptr), kStsOk);
    ASSERT_EQ(Real()(x.data(), got.data(), s.spec, nullptr), kStsOk);
    float peak = 0;
    for (float v : want) peak = std::max(peak, std::fabs(v));
    for (std::size_t i = 0; i < n; ++i) ASSERT_NEAR(got[i], want[i], 1e-5f * peak) << order << " " << i;
  }
}

TEST_P(FftColumn, ForwardThenInverseDividedByNReturnsTheInput) {
  for (int order : {0, 1, 2, 3, 4, 5, 6, 9, 10, 13, 16}) {
    const std::size_t n = std::size_t{1} << order;
    Spec s(order, kFftDivInvByN, false);
    const auto x = RandomSignal(2 * n, 21 + order);
    std::vector<float> y(2 * n), work(FftWorkBufferFloats(s.spec));
    ASSERT_EQ(Forward()(x.data(), y.data(), s.spec, work.data()), kStsOk);
    ASSERT_EQ(Inverse()(y.data(), y.data(), s.spec, work.data()), kStsOk);  // in place
    double maxErr = 0;
    for (std::size_t i = 0; i < 2 * n; ++i) maxErr = std::max(maxErr, double(std::fabs(y[i] - x[i])));
    EXPECT_LE(maxErr, 1e-5 * (order + 1)) << "order " << order;
  }
}

TEST_P(FftColumn, ScalingFlagsDivideTheRightDirection) {
  const int order = 7;
  const std::size_t n = std::size_t{1} << order;
  const auto x = RandomSignal(2 * n, 5);
  const auto fwd = NaiveDft(x, n, -1), inv = NaiveDft(x, n, +1);
  struct Case { int flag; double fwdScale, invScale; };
  const double rootN = std::sqrt(double(n));
  for (const Case& c : {Case{kFftDivFwdByN, 1.0 / n, 1.0}, Case{kFftDivInvByN, 1.0, 1.0 / n},
                        Case{kFftDivBySqrtN, 1.0 / rootN, 1.0 / rootN}, Case{kFftNoDiv, 1.0, 1.0}}) {
    Spec s(order, c.flag, false);
    std::vector<float> y(2 * n);
    ASSERT_EQ(Forward()(x.data(), y.data(), s.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(y.data(), fwd, c.fwdScale), 1e-5) << "flag " << c.flag;
    ASSERT_EQ(Inverse()(x.data(), y.data(), s.spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(y.data(), inv, c.invScale), 1e-5) << "flag " << c.flag;
    Spec r(order, c.flag, true);
    std::vector<float> real(n), xr(x.begin(), x.begin() + static_cast<long>(n));
    ASSERT_EQ(Real()(xr.data(), real.data(), r.spec, nullptr), kStsOk);
    double sum = 0;
    for (float v : xr) sum += v;
    EXPECT_NEAR(real[0], sum * c.fwdScale, 1e-5 * n * c.fwdScale) << "flag " << c.flag;
  }
}

TEST_P(FftColumn, SmallRealTransformsUseThePackedOrder) {
  const float x4[4] = {1.0f, 2.0f, 4.0f, 8.0f};
  float y4[4];
  Spec s4(2, kFftDivInvByN, true);
  ASSERT_EQ(Real()(x4, y4, s4.spec, nullptr), kStsOk);
  EXPECT_FLOAT_EQ(y4[0], 15.0f);  // x0 + x1 + x2 + x3
  EXPECT_FLOAT_EQ(y4[1], -5.0f);  // x0 - x1 + x2 - x3
  EXPECT_FLOAT_EQ(y4[2], -3.0f);  // x0 - x2
  EXPECT_FLOAT_EQ(y4[3], 6.0f);   // x3 - x1
  const float x2[2] = {3.0f, -5.0f};
  float y2[2];
  Spec s2(1, kFftDivInvByN, true);
  ASSERT_EQ(Real()(x2, y2, s2.spec, nullptr), kStsOk);
  EXPECT_FLOAT_EQ(y2[0], -2.0f);
  EXPECT_FLOAT_EQ(y2[1], 8.0f);
}

TEST_P(FftColumn, TransformStatuses) {
  Spec complex(5, kFftDivInvByN, false), real(5, kFftDivInvByN, true);
  std::vector<float> x(64, 1.0f), y(64, 9.0f);
  EXPECT_EQ(Forward()(x.data(), y.data(), real.spec, nullptr), kStsContextMatchErr);
  EXPECT_EQ(Inverse()(x.data(), y.data(), real.spec, nullptr), kStsContextMatchErr);
  EXPECT_EQ(Real()(x.data(), y.data(), complex.spec, nullptr), kStsContextMatchErr);
  EXPECT_EQ(Forward()(nullptr, y.data(), complex.spec, nullptr), kStsNullPtrErr);
  EXPECT_EQ(Forward()(x.data(), nullptr, complex.spec, nullptr), kStsNullPtrErr);
  EXPECT_EQ(Real()(x.data(), y.data(), nullptr, nullptr), kStsNullPtrErr);
  for (float v : y) EXPECT_EQ(v, 9.0f);
}

INSTANTIATE_TEST_SUITE_P(AllColumns, FftColumn, ::testing::Values(0, 1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& info) { return test::ColumnName(info.param); });

TEST(FftSpecs, CreateRejectsBadOrdersFlagsAndPointers) {
  FftSpec* spec = reinterpret_cast<FftSpec*>(&spec);  // must be cleared on failure
  EXPECT_EQ(FftComplexSpecCreate(&spec, 31, kFftDivInvByN, 0), kStsFftOrderErr);
  EXPECT_EQ(spec, nullptr);
  EXPECT_EQ(FftRealSpecCreate(&spec, -1, kFftDivInvByN, 0), kStsFftOrderErr);
  EXPECT_EQ(FftComplexSpecCreate(&spec, 4, 3, 0), kStsFftFlagErr);
  EXPECT_EQ(FftRealSpecCreate(&spec, 4, 0, 0), kStsFftFlagErr);
  EXPECT_EQ(FftComplexSpecCreate(nullptr, 4, kFftDivInvByN, 0), kStsNullPtrErr);
  EXPECT_EQ(FftComplexSpecFree(nullptr), kStsNullPtrErr);
}

TEST(FftSpecs, FreeOfTheOtherKindIsRefused) {
  FftSpec* real = nullptr;
  ASSERT_EQ(FftRealSpecCreate(&real, 4, kFftDivInvByN, 0), kStsOk);
  EXPECT_EQ(FftComplexSpecFree(real), kStsContextMatchErr);
  EXPECT_EQ(FftRealSpecFree(real), kStsOk);
}

TEST(FftSpecs, TablesBeyondTheMemoryLimitFailWithMemoryStatus) {
  FftSpec* spec = nullptr;
  EXPECT_EQ(CreateFftSpecWithLimit(&spec, 20, kFftDivInvByN, 0, false, 1u << 20), kStsMemAllocErr);
  EXPECT_EQ(spec, nullptr);
  ASSERT_EQ(CreateFftSpecWithLimit(&spec, 10, kFftDivInvByN, 0, false, 1u << 20), kStsOk);
  EXPECT_EQ(FftComplexSpecFree(spec), kStsOk);
  // Order 30 needs about 33 GB for tables and buffers: refused unless the machine has it.
  const int st = FftComplexSpecCreate(&spec, 30, kFftDivInvByN, 0);
  EXPECT_TRUE(st == kStsMemAllocErr || st == kStsOk);
  if (st == kStsOk) {
    EXPECT_EQ(FftComplexSpecFree(spec), kStsOk);
  } else {
    EXPECT_EQ(spec, nullptr);
  }
}

TEST(FftSpecs, WorkBufferSizeCoversTheSplitArrays) {
  Spec complex(9, kFftDivInvByN, false), real(11, kFftDivInvByN, true);
  EXPECT_EQ(FftWorkBufferFloats(complex.spec), 1024u);
  EXPECT_EQ(FftWorkBufferFloats(real.spec), 2048u);
  EXPECT_EQ(FftWorkBufferFloats(nullptr), 0u);
}

}  // namespace
}  // namespace aacs::dsp
