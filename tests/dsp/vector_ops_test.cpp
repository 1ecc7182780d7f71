// Vector primitives against naive loops, and their edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "dsp/generic_primitives.h"

namespace aacs::dsp {
namespace {

std::vector<float> RandomSignal(std::size_t count, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-2.0f, 2.0f);
  std::vector<float> v(count);
  for (float& x : v) x = dist(rng);
  return v;
}

TEST(VectorOps, SubtractsTheFirstArgumentFromTheSecond) {
  const float a[3] = {1, 2, 3}, b[3] = {10, 20, 30};
  float d[3];
  ASSERT_EQ(VecSub(a, b, d, 3), kStsOk);
  EXPECT_EQ(d[0], 9.0f);
  EXPECT_EQ(d[2], 27.0f);
  float s[3] = {10, 20, 30};
  ASSERT_EQ(VecSubInPlace(a, s, 3), kStsOk);
  EXPECT_EQ(s[1], 18.0f);
}

TEST(VectorOps, MulConstInPlaceByOneLeavesDataAndByZeroClearsIt) {
  float data[5] = {1.5f, NAN, INFINITY, -0.25f, 3.0f};
  ASSERT_EQ(VecMulConstInPlace(1.0f, data, 5), kStsOk);
  EXPECT_TRUE(std::isnan(data[1]));
  EXPECT_EQ(data[0], 1.5f);
  ASSERT_EQ(VecMulConstInPlace(0.0f, data, 5), kStsOk);
  for (float x : data) EXPECT_EQ(x, 0.0f);
}

TEST(VectorOps, DotProductAndMagnitudeMatchNaiveLoops) {
  for (int len : {1, 3, 7, 8, 31, 32, 33, 1024, 1027}) {
    const auto a = RandomSignal(2 * len, len), b = RandomSignal(len, len + 1);
    double want = 0.0, absSum = 0.0;
    for (int i = 0; i < len; ++i) {
      want += double(a[i]) * b[i];
      absSum += std::fabs(double(a[i]) * b[i]);
    }
    float got = 0.0f;
    ASSERT_EQ(VecDotProduct(a.data(), b.data(), len, &got), kStsOk);
    EXPECT_NEAR(got, want, 1e-6 * absSum + 1e-7) << len;
    std::vector<float> mag(len);
    ASSERT_EQ(VecMagnitude(a.data(), mag.data(), len), kStsOk);
    for (int i = 0; i < len; ++i) EXPECT_FLOAT_EQ(mag[i], std::hypot(a[2 * i], a[2 * i + 1]));
  }
}

TEST(VectorOps, LengthZeroAndNullPointersAreRejectedWithoutWriting) {
  float d[2] = {7.0f, 7.0f};
  EXPECT_EQ(VecSet(1.0f, d, 0), kStsSizeErr);
  EXPECT_EQ(VecZero(d, -1), kStsSizeErr);
  EXPECT_EQ(d[0], 7.0f);
  EXPECT_EQ(VecCopy(nullptr, d, 2), kStsNullPtrErr);
  EXPECT_EQ(d[0], 7.0f);
}

}  // namespace
}  // namespace aacs::dsp
