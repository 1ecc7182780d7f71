// Vector primitives of every column against naive loops, on lengths around the register widths
// and misaligned pointers, with guards against writes outside the destination.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "dsp/column_util.h"

namespace aacs::dsp {
namespace {

using test::Impl;
using test::RandomSignal;
using test::TestLengths;

constexpr int kOffset = 1;  // puts the data off every register alignment
constexpr float kGuard = 12345.0f;

class VectorColumn : public ::testing::TestWithParam<int> {};

// Every element-wise primitive as d = f(a, b); in-place ones start from d = b or d = a.
using Run = int (*)(int column, const float* a, const float* b, float* d, int len);
using Want = float (*)(float a, float b);
template <int kSlot>
int Binary(int c, const float* a, const float* b, float* d, int n) { return Impl<VecBinaryFn>(kSlot, c)(a, b, d, n); }
template <int kSlot>
int SrcDst(int c, const float* a, const float* b, float* d, int n) {
  std::copy(b, b + n, d);
  return Impl<VecSrcDstFn>(kSlot, c)(a, d, n);
}
template <int kSlot>
int InPlace(int c, const float* a, const float*, float* d, int n) {
  std::copy(a, a + n, d);
  return Impl<VecInPlaceFn>(kSlot, c)(d, n);
}
template <int kSlot>
int SrcToDst(int c, const float* a, const float*, float* d, int n) { return Impl<VecSrcToDstFn>(kSlot, c)(a, d, n); }

const struct { const char* name; Run run; Want want; } kElementwise[] = {
    {"VecMul", Binary<kSlotVecMul>, [](float a, float b) { return a * b; }},
    {"VecAdd", Binary<kSlotVecAdd>, [](float a, float b) { return a + b; }},
    {"VecSub", Binary<kSlotVecSub>, [](float a, float b) { return b - a; }},  // second minus first
    {"VecMulInPlace", SrcDst<kSlotVecMulInPlace>, [](float a, float b) { return b * a; }},
    {"VecAddInPlace", SrcDst<kSlotVecAddInPlace>, [](float a, float b) { return b + a; }},
    {"VecSubInPlace", SrcDst<kSlotVecSubInPlace>, [](float a, float b) { return b - a; }},
    {"VecSquareInPlace", InPlace<kSlotVecSquareInPlace>, [](float a, float) { return a * a; }},
    {"VecAbsInPlace", InPlace<kSlotVecAbsInPlace>, [](float a, float) { return std::fabs(a); }},
    {"VecCopy", SrcToDst<kSlotVecCopy>, [](float a, float) { return a; }},
    {"VecAbs", SrcToDst<kSlotVecAbs>, [](float a, float) { return std::fabs(a); }},
    {"VecMulConstInPlace",
     [](int c, const float* a, const float*, float* d, int n) {
       std::copy(a, a + n, d);
       return Impl<VecConstInPlaceFn>(kSlotVecMulConstInPlace, c)(-0.75f, d, n);
     },
     [](float a, float) { return a * -0.75f; }},
    {"VecMulConst",
     [](int c, const float* a, const float*, float* d, int n) { return Impl<VecMulConstFn>(kSlotVecMulConst, c)(a, 2.5f, d, n); },
     [](float a, float) { return a * 2.5f; }},
    {"VecSet", [](int c, const float*, const float*, float* d, int n) { return Impl<VecSetFn>(kSlotVecSet, c)(-3.5f, d, n); },
     [](float, float) { return -3.5f; }},
    {"VecZero", [](int c, const float*, const float*, float* d, int n) { return Impl<VecDstFn>(kSlotVecZero, c)(d, n); },
     [](float, float) { return 0.0f; }},
};

TEST_P(VectorColumn, ElementwiseOpsMatchNaiveLoopsAndStayInsideTheDestination) {
  for (const auto& op : kElementwise) {
    for (int len : TestLengths()) {
      const auto a = RandomSignal(len + kOffset, 100 + len), b = RandomSignal(len + kOffset, 200 + len);
      std::vector<float> d(len + kOffset + 1, kGuard);
      ASSERT_EQ(op.run(GetParam(), a.data() + kOffset, b.data() + kOffset, d.data() + kOffset, len), kStsOk) << op.name;
      EXPECT_EQ(d[0], kGuard) << op.name << " wrote before the start, len " << len;
      EXPECT_EQ(d[len + kOffset], kGuard) << op.name << " wrote past the end, len " << len;
      for (int i = kOffset; i < len + kOffset; ++i)
        ASSERT_EQ(d[i], op.want(a[i], b[i])) << op.name << " len " << len << " i " << i;
    }
  }
}

TEST_P(VectorColumn, ReductionsAndMagnitudeMatchDoublePrecisionLoops) {
  const int c = GetParam();
  for (int len : TestLengths()) {
    const auto a = RandomSignal(2 * len + kOffset, 300 + len), b = RandomSignal(len + kOffset, 400 + len);
    const float *x = a.data() + kOffset, *y = b.data() + kOffset;
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
    float got = 0, max = 0;
    int index = -1;
    ASSERT_EQ(Impl<VecDotProductFn>(kSlotVecDotProduct, c)(x, y, len, &got), kStsOk);
    EXPECT_NEAR(got, wantDot, 1e-6 * dotScale + 1e-9) << "dot len " << len;
    ASSERT_EQ(Impl<VecReduceFn>(kSlotVecSum, c)(x, len, &got), kStsOk);
    EXPECT_NEAR(got, wantSum, 1e-6 * sumScale + 1e-9) << "sum len " << len;
    ASSERT_EQ(Impl<VecMaxAbsFn>(kSlotVecMaxAbs, c)(x, len, &got), kStsOk);
    EXPECT_EQ(got, wantMaxAbs) << "max abs len " << len;
    ASSERT_EQ(Impl<VecMaxIndexFn>(kSlotVecMaxIndex, c)(x, len, &max, &index), kStsOk);
    EXPECT_EQ(std::pair(index, max), std::pair(wantIndex, x[wantIndex]));
    // Magnitudes of `len` interleaved complex pairs.
    std::vector<float> d(len + 1, kGuard);
    ASSERT_EQ(Impl<VecSrcToDstFn>(kSlotVecMagnitude, c)(x, d.data(), len), kStsOk);
    EXPECT_EQ(d[len], kGuard);
    for (int i = 0; i < len; ++i) {
      const double want = std::hypot(double(x[2 * i]), double(x[2 * i + 1]));
      ASSERT_NEAR(d[i], want, 2e-7 * want) << "magnitude len " << len << " i " << i;
    }
  }
  const float ties[6] = {1, 5, 2, 5, -7, 5};  // the first of equal maxima
  float value = 0;
  int index = -1;
  ASSERT_EQ(Impl<VecMaxIndexFn>(kSlotVecMaxIndex, c)(ties, 6, &value, &index), kStsOk);
  EXPECT_EQ(index, 1);
}

TEST_P(VectorColumn, MulConstByOneKeepsAndByZeroClearsEvenNaNs) {
  const auto mulConstInPlace = Impl<VecConstInPlaceFn>(kSlotVecMulConstInPlace, GetParam());
  const auto mulConst = Impl<VecMulConstFn>(kSlotVecMulConst, GetParam());
  std::vector<float> data(37, 1.25f), copy(37, 9.0f);
  data[3] = NAN, data[20] = -INFINITY;
  ASSERT_EQ(mulConstInPlace(1.0f, data.data(), 37), kStsOk);
  ASSERT_EQ(mulConst(data.data(), 1.0f, copy.data(), 37), kStsOk);
  for (const auto& v : {data, copy}) {
    EXPECT_TRUE(std::isnan(v[3]));
    EXPECT_EQ(v[20], -INFINITY);
    EXPECT_EQ(v[36], 1.25f);
  }
  ASSERT_EQ(mulConst(data.data(), 0.0f, copy.data(), 37), kStsOk);
  ASSERT_EQ(mulConstInPlace(0.0f, data.data(), 37), kStsOk);
  EXPECT_EQ(copy, std::vector<float>(37, 0.0f));
  EXPECT_EQ(data, copy);
}

TEST_P(VectorColumn, OverlappingCopyBehavesLikeMemmove) {
  const auto copy = Impl<VecSrcToDstFn>(kSlotVecCopy, GetParam());
  std::vector<float> data(40);
  for (int shift : {3, -3}) {
    for (int i = 0; i < 40; ++i) data[i] = float(i);
    const int from = shift > 0 ? 0 : 3, to = from + shift;
    ASSERT_EQ(copy(data.data() + from, data.data() + to, 37), kStsOk);
    for (int i = 0; i < 37; ++i) ASSERT_EQ(data[to + i], float(from + i)) << shift;
  }
}

TEST_P(VectorColumn, LengthBelowOneAndNullPointersAreRefusedWithoutWriting) {
  const int c = GetParam();
  float d[4] = {kGuard, kGuard, kGuard, kGuard};
  const float s[4] = {1, 2, 3, 4};
  float r = kGuard;
  int index = -1;
  for (int len : {0, -5}) {
    EXPECT_EQ(Impl<VecBinaryFn>(kSlotVecMul, c)(s, s, d, len), kStsSizeErr);
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
  EXPECT_EQ(Impl<VecBinaryFn>(kSlotVecAdd, c)(s, nullptr, d, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecBinaryFn>(kSlotVecAdd, c)(s, s, nullptr, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecSrcDstFn>(kSlotVecSubInPlace, c)(nullptr, d, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecInPlaceFn>(kSlotVecAbsInPlace, c)(nullptr, 4), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecDotProductFn>(kSlotVecDotProduct, c)(s, s, 4, nullptr), kStsNullPtrErr);
  EXPECT_EQ(Impl<VecMaxAbsFn>(kSlotVecMaxAbs, c)(nullptr, 4, &r), kStsNullPtrErr);
  for (float x : d) EXPECT_EQ(x, kGuard);
  EXPECT_EQ(r, kGuard);
}

INSTANTIATE_TEST_SUITE_P(AllColumns, VectorColumn, ::testing::Values(0, 1, 2, 3),
                         [](const ::testing::TestParamInfo<int>& info) { return test::ColumnName(info.param); });

}  // namespace
}  // namespace aacs::dsp
