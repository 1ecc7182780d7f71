// FFT primitives against a double-precision DFT, round trips, scaling and statuses.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "dsp/generic_primitives.h"

namespace aacs::dsp {
namespace {

using Cd = std::complex<double>;

std::vector<float> RandomSignal(std::size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& x : v) x = dist(rng);
  return v;
}

// Naive DFT of n interleaved complex points with the sign of the exponent given.
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

// Largest error relative to the largest magnitude of the reference.
double RelativeError(const std::vector<float>& got, const std::vector<Cd>& want, double scale) {
  double maxRef = 0.0, maxErr = 0.0;
  for (std::size_t k = 0; k < want.size(); ++k) {
    const Cd ref = want[k] * scale;
    maxRef = std::max(maxRef, std::abs(ref));
    maxErr = std::max(maxErr, std::abs(Cd(got[2 * k], got[2 * k + 1]) - ref));
  }
  return maxErr / std::max(maxRef, 1e-30);
}

TEST(FftGeneric, ComplexForwardAndInverseMatchNaiveDftForOrders0To12) {
  for (int order = 0; order <= 12; ++order) {
    const std::size_t n = std::size_t{1} << order;
    FftSpec* spec = nullptr;
    ASSERT_EQ(generic::FftComplexSpecCreate(&spec, order, kFftDivInvByN, 0), kStsOk);
    const std::vector<float> x = RandomSignal(2 * n, 11 + order);
    std::vector<float> y(2 * n), z(2 * n);
    ASSERT_EQ(generic::FftComplexForward(x.data(), y.data(), spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(y, NaiveDft(x, n, -1), 1.0), 1e-5) << "order " << order;
    ASSERT_EQ(generic::FftComplexInverse(x.data(), z.data(), spec, nullptr), kStsOk);
    EXPECT_LE(RelativeError(z, NaiveDft(x, n, +1), 1.0 / n), 1e-5) << "order " << order;
    EXPECT_EQ(generic::FftComplexSpecFree(spec), kStsOk);
  }
}

TEST(FftGeneric, RealForwardMatchesNaiveDftInPackedOrder) {
  for (int order = 0; order <= 12; ++order) {
    const std::size_t n = std::size_t{1} << order;
    FftSpec* spec = nullptr;
    ASSERT_EQ(generic::FftRealSpecCreate(&spec, order, kFftDivInvByN, 0), kStsOk);
    const std::vector<float> x = RandomSignal(n, 7 + order);
    std::vector<float> xc(2 * n, 0.0f);
    for (std::size_t t = 0; t < n; ++t) xc[2 * t] = x[t];
    const std::vector<Cd> ref = NaiveDft(xc, n, -1);
    std::vector<float> y(n);
    ASSERT_EQ(generic::FftRealForward(x.data(), y.data(), spec, nullptr), kStsOk);
    // Unpack R0, R(N/2), R1, I1, ... into a half spectrum.
    std::vector<float> unpacked(2 * (n / 2 + 1), 0.0f);
    unpacked[0] = y[0];
    if (n >= 2) unpacked[n] = y[1];
    for (std::size_t k = 1; k < n / 2; ++k) {
      unpacked[2 * k] = y[2 * k];
      unpacked[2 * k + 1] = y[2 * k + 1];
    }
    const std::vector<Cd> half(ref.begin(), ref.begin() + static_cast<long>(n / 2 + 1));
    EXPECT_LE(RelativeError(unpacked, half, 1.0), 1e-5) << "order " << order;
    EXPECT_EQ(generic::FftRealSpecFree(spec), kStsOk);
  }
}

}  // namespace
}  // namespace aacs::dsp
