// Vector primitives of every column against naive loops and against the generic column,
// on odd lengths and misaligned pointers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

#include "dsp/generic_primitives.h"
#include "dsp/column_util.h"

namespace aacs::dsp {
namespace {

using test::Impl;
using test::RandomSignal;
using test::TestLengths;

class VectorColumn : public ::testing::TestWithParam<int> {
 protected:
  int column() const { return GetParam(); }
};

// Offset 1 puts the data off every register alignment.
constexpr int kOffset = 1;
constexpr float kGuard = 12345.0f;

// Runs a one-output primitive on src (len) into a guarded destination and checks each
// element against `want` exactly, and that nothing outside [0, len) is written.
void ExpectElementwise(const std::function<int(const float*, const float*, float*, int)>& run,
                       const std::function<float(float, float)>& want, const char* what) {
  for (int len : TestLengths()) {
    const auto a = RandomSignal(len + kOffset, 100 + len), b = RandomSignal(len + kOffset, 200 + len);
    std::vector<float> d(len + kOffset + 1, kGuard);
    ASSERT_EQ(run(a.data() + kOffset, b.data() + kOffset, d.data() + kOffset, len), kStsOk) << what;
    EXPECT_EQ(d[0], kGuard) << what << " wrote before the start, len " << len;
    EXPECT_EQ(d[len + kOffset], kGuard) << what << " wrote past the end, len " << len;
    for (int i = 0; i < len; ++i) {
      ASSERT_FLOAT_EQ(d[i + kOffset], want(a[i + kOffset], b[i + kOffset])) << what << " len " << len << " i " << i;
    }
  }
}

TEST_P(VectorColumn, ElementwiseBinaryOpsMatchNaiveLoops) {
  const auto mul = Impl<VecBinaryFn>(kSlotVecMul, column());
  const auto add = Impl<VecBinaryFn>(kSlotVecAdd, column());
  const auto sub = Impl<VecBinaryFn>(kSlotVecSub, column());
  ExpectElementwise(mul, [](float x, float y) { return x * y; }, "VecMul");
  ExpectElementwise(add, [](float x, float y) { return x + y; }, "VecAdd");
  ExpectElementwise(sub, [](float x, float y) { return y - x; }, "VecSub");  // second minus first
}

TEST_P(VectorColumn, InPlaceOpsMatchNaiveLoops) {
  const int c = column();
  auto inPlace = [](VecSrcDstFn fn) {
    return [fn](const float* a, const float* b, float* d, int len) {
      std::copy(b, b + len, d);
      return fn(a, d, len);
    };
  };
  ExpectElementwise(inPlace(Impl<VecSrcDstFn>(kSlotVecMulInPlace, c)), [](float x, float y) { return y * x; }, "VecMulInPlace");
  ExpectElementwise(inPlace(Impl<VecSrcDstFn>(kSlotVecAddInPlace, c)), [](float x, float y) { return y + x; }, "VecAddInPlace");
  ExpectElementwise(inPlace(Impl<VecSrcDstFn>(kSlotVecSubInPlace, c)), [](float x, float y) { return y - x; }, "VecSubInPlace");
  const auto square = Impl<VecInPlaceFn>(kSlotVecSquareInPlace, c);
  const auto absInPlace = Impl<VecInPlaceFn>(kSlotVecAbsInPlace, c);
  const auto mulConstInPlace = Impl<VecConstInPlaceFn>(kSlotVecMulConstInPlace, c);
  ExpectElementwise([&](const float* a, const float*, float* d, int len) { std::copy(a, a + len, d); return square(d, len); },
                    [](float x, float) { return x * x; }, "VecSquareInPlace");
  ExpectElementwise([&](const float* a, const float*, float* d, int len) { std::copy(a, a + len, d); return absInPlace(d, len); },
                    [](float x, float) { return std::fabs(x); }, "VecAbsInPlace");
  ExpectElementwise([&](const float* a, const float*, float* d, int len) { std::copy(a, a + len, d); return mulConstInPlace(-0.75f, d, len); },
                    [](float x, float) { return x * -0.75f; }, "VecMulConstInPlace");
}

TEST_P(VectorColumn, CopySetZeroAbsAndMulConstMatchNaiveLoops) {
  const int c = column();
  const auto copy = Impl<VecSrcToDstFn>(kSlotVecCopy, c);
  const auto abs = Impl<VecSrcToDstFn>(kSlotVecAbs, c);
  const auto set = Impl<VecSetFn>(kSlotVecSet, c);
  const auto zero = Impl<VecDstFn>(kSlotVecZero, c);
  const auto mulConst = Impl<VecMulConstFn>(kSlotVecMulConst, c);
  ExpectElementwise([&](const float* a, const float*, float* d, int len) { return copy(a, d, len); },
                    [](float x, float) { return x; }, "VecCopy");
  ExpectElementwise([&](const float* a, const float*, float* d, int len) { return abs(a, d, len); },
                    [](float x, float) { return std::fabs(x); }, "VecAbs");
  ExpectElementwise([&](const float*, const float*, float* d, int len) { return set(-3.5f, d, len); },
                    [](float, float) { return -3.5f; }, "VecSet");
  ExpectElementwise([&](const float*, const float*, float* d, int len) { return zero(d, len); },
                    [](float, float) { return 0.0f; }, "VecZero");
  ExpectElementwise([&](const float* a, const float*, float* d, int len) { return mulConst(a, 2.5f, d, len); },
                    [](float x, float) { return x * 2.5f; }, "VecMulConst");
}

TEST_P(VectorColumn, MulConstByOneKeepsAndByZeroClearsEvenNaNs) {
  const auto mulConstInPlace = Impl<VecConstInPlaceFn>(kSlotVecMulConstInPlace, column());
  const auto mulConst = Impl<VecMulConstFn>(kSlotVecMulConst, column());
  std::vector<float> data(37, 1.25f);
  data[3] = NAN;
  data[20] = -INFINITY;
  ASSERT_EQ(mulConstInPlace(1.0f, data.data(), 37), kStsOk);
  EXPECT_TRUE(std::isnan(data[3]));
  EXPECT_EQ(data[20], -INFINITY);
  EXPECT_EQ(data[0], 1.25f);
  std::vector<float> copy(37, 9.0f);
  ASSERT_EQ(mulConst(data.data(), 1.0f, copy.data(), 37), kStsOk);
  EXPECT_TRUE(std::isnan(copy[3]));
  EXPECT_EQ(copy[36], 1.25f);
  ASSERT_EQ(mulConst(data.data(), 0.0f, copy.data(), 37), kStsOk);
  for (float x : copy) EXPECT_EQ(x, 0.0f);
  ASSERT_EQ(mulConstInPlace(0.0f, data.data(), 37), kStsOk);
  for (float x : data) EXPECT_EQ(x, 0.0f);
}

TEST_P(VectorColumn, MagnitudeMatchesHypot) {
  const auto magnitude = Impl<VecSrcToDstFn>(kSlotVecMagnitude, column());
  for (int len : TestLengths()) {
    const auto pairs = RandomSignal(2 * len + kOffset, len);
    std::vector<float> d(len + 1, kGuard);
    ASSERT_EQ(magnitude(pairs.data() + kOffset, d.data(), len), kStsOk);
    EXPECT_EQ(d[len], kGuard);
    for (int i = 0; i < len; ++i) {
      const double want = std::hypot(double(pairs[kOffset + 2 * i]), double(pairs[kOffset + 2 * i + 1]));
      ASSERT_NEAR(d[i], want, 2e-7 * want) << "len " << len << " i " << i;
    }
  }
}

TEST_P(VectorColumn, ReductionsMatchDoublePrecisionLoops) {
  const int c = column();
  const auto dot = Impl<VecDotProductFn>(kSlotVecDotProduct, c);
  const auto sum = Impl<VecReduceFn>(kSlotVecSum, c);
  const auto maxAbs = Impl<VecMaxAbsFn>(kSlotVecMaxAbs, c);
  const auto maxIndex = Impl<VecMaxIndexFn>(kSlotVecMaxIndex, c);
  for (int len : TestLengths()) {
    const auto a = RandomSignal(len + kOffset, 300 + len), b = RandomSignal(len + kOffset, 400 + len);
    const float* x = a.data() + kOffset;
    const float* y = b.data() + kOffset;
    double wantDot = 0, dotScale = 0, wantSum = 0, sumScale = 0, wantMaxAbs = 0;
    int wantIndex = 0;
    for (int i = 0; i < len; ++i) {
      wantDot += double(x[i]) * y[i];
      dotScale += std::fabs(double(x[i]) * y[i]);
      wantSum += x[i];
      sumScale += std::fabs(x[i]);
      wantMaxAbs = std::max(wantMaxAbs, double(std::fabs(x[i])));
      if (x[i] > x[wantIndex]) wantIndex = i;
    }
    float got = 0;
    ASSERT_EQ(dot(x, y, len, &got), kStsOk);
    EXPECT_NEAR(got, wantDot, 1e-6 * dotScale + 1e-9) << "dot len " << len;
    ASSERT_EQ(sum(x, len, &got), kStsOk);
    EXPECT_NEAR(got, wantSum, 1e-6 * sumScale + 1e-9) << "sum len " << len;
    ASSERT_EQ(maxAbs(x, len, &got), kStsOk);
    EXPECT_EQ(got, wantMaxAbs) << "max abs len " << len;
    int index = -1;
    ASSERT_EQ(maxIndex(x, len, &got, &index), kStsOk);
    EXPECT_EQ(index, wantIndex);
    EXPECT_EQ(got, x[wantIndex]);
  }
}

TEST_P(VectorColumn, MaxIndexReportsTheFirstOfEqualMaxima) {
  const float data[6] = {1, 5, 2, 5, -7, 5};
  float value = 0;
  int index = -1;
  ASSERT_EQ(Impl<VecMaxIndexFn>(kSlotVecMaxIndex, column())(data, 6, &value, &index), kStsOk);
  EXPECT_EQ(index, 1);
  EXPECT_EQ(value, 5.0f);
}

TEST_P(VectorColumn, SameResultsAsGenericColumnOnLongVectors) {
  const int c = column();
  const auto a = RandomSignal(4099, 5), b = RandomSignal(4099, 6);
  std::vector<float> want(4099), got(4099);
  for (int slot : {kSlotVecMul, kSlotVecAdd, kSlotVecSub}) {
    ASSERT_EQ(Impl<VecBinaryFn>(slot, 0)(a.data(), b.data(), want.data(), 4099), kStsOk);
    ASSERT_EQ(Impl<VecBinaryFn>(slot, c)(a.data(), b.data(), got.data(), 4099), kStsOk);
    EXPECT_EQ(got, want) << "slot " << slot;
  }
  float d0 = 0, d1 = 0;
  ASSERT_EQ(Impl<VecDotProductFn>(kSlotVecDotProduct, 0)(a.data(), b.data(), 4099, &d0), kStsOk);
  ASSERT_EQ(Impl<VecDotProductFn>(kSlotVecDotProduct, c)(a.data(), b.data(), 4099, &d1), kStsOk);
  EXPECT_NEAR(d1, d0, 1e-5 * 4099);
}

TEST_P(VectorColumn, LengthBelowOneWritesNothingAndNullIsRejected) {
  const int c = column();
  float d[4] = {kGuard, kGuard, kGuard, kGuard};
  const float s[4] = {1, 2, 3, 4};
  float r = kGuard;
  int index = -1;
  for (int len : {0, -5}) {
    EXPECT_EQ(Impl<VecBinaryFn>(kSlotVecMul, c)(s, s, d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecBinaryFn>(kSlotVecSub, c)(s, s, d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecSetFn>(kSlotVecSet, c)(1.0f, d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecDstFn>(kSlotVecZero, c)(d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecSrcToDstFn>(kSlotVecCopy, c)(s, d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecSrcToDstFn>(kSlotVecMagnitude, c)(s, d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecConstInPlaceFn>(kSlotVecMulConstInPlace, c)(0.0f, d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecMulConstFn>(kSlotVecMulConst, c)(s, 0.0f, d, len), kStsSizeErr);
    EXPECT_EQ(Impl<VecDotProductFn>(kSlotVecDotProduct, c)(s, s, len, &r), kStsSizeErr);
    EXPECT_EQ(Impl<VecReduceFn>(kSlotVecSum, c)(s, len, &r), kStsSizeErr);
    EXPECT_EQ(Impl<VecMaxIndexFn>(kSlotVecMaxIndex, c)(s, len, &r, &index), kStsSizeErr);
  }
  for (float x : d) EXPECT_EQ(x, kGuard);
  EXPECT_EQ(r, kGuard);
  EXPECT_EQ(Impl<VecBinaryFn>(kSlotVecAdd, c)(s, nullptr, d, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecBinaryFn>(kSlotVecAdd, c)(s, s, nullptr, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecSrcDstFn>(kSlotVecSubInPlace, c)(nullptr, d, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecInPlaceFn>(kSlotVecAbsInPlace, c)(nullptr, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecDotProductFn>(kSlotVecDotProduct, c)(s, s, 4, nullptr), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecMaxAbsFn>(kSlotVecMaxAbs, c)(nullptr, 4, &r), kStsNullPtrErr);
  for (float x : d) EXPECT_EQ(x, kGuard);
}

TEST_P(VectorColumn, OverlappingCopyBehavesLikeMemmove) {
  const auto copy = Impl<VecSrcToDstFn>(kSlotVecCopy, column());
  std::vector<float> data(40);
  for (int i = 0; i < 40; ++i) data[i] = float(i);
  ASSERT_EQ(copy(data.data(), data.data() + 3, 37), kStsOk);  // forwards over itself
  for (int i = 0; i < 37; ++i) ASSERT_EQ(data[i + 3], float(i));
  for (int i = 0; i < 40; ++i) data[i] = float(i);
  ASSERT_EQ(copy(data.data() + 3, data.data(), 37), kStsOk);
  for (int i = 0; i < 37; ++i) ASSERT_EQ(data[i], float(i + 3));
}

TEST(VectorOps, WrappersCallTheBoundSlots) {
  const float a[3] = {1, 2, 3}, b[3] = {10, 20, 30};
  float d[3];
  ASSERT_EQ(VecSub(a, b, d, 3), kStsOk);
  EXPECT_EQ(d[0], 9.0f);
  EXPECT_EQ(d[2], 27.0f);
  float dot = 0;
  ASSERT_EQ(VecDotProduct(a, b, 3, &dot), kStsOk);
  EXPECT_EQ(dot, 140.0f);
  void* p = AlignedAlloc(100);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(reinterpret_cast<std::uintptr_t>(p) % 32, 0u);
  AlignedFree(p);
  EXPECT_EQ(AlignedAlloc(0), nullptr);
}

INSTANTIATE_TEST_SUITE_P(AllColumns, VectorColumn, ::testing::Values(0, 1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& info) { return test::ColumnName(info.param); });

}  // namespace
}  // namespace aacs::dsp
