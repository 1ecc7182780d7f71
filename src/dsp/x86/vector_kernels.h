// dsp/x86/vector_kernels.h — vector primitives as templates over the SIMD traits.
//
// Full registers run through the loops; the last few elements take the scalar path, so any
// length and any alignment work.  Reductions keep four register accumulators.
#pragma once
#include <cstring>

#include "dsp/vector_args.h"
#include "dsp/x86/simd_traits.h"

namespace aacs::dsp {
namespace {

template <class S, class VecOp, class ScalarOp>
inline void Map1(const float* a, float* d, int len, VecOp vop, ScalarOp sop) {
  int i = 0;
  for (; i + S::kWidth <= len; i += S::kWidth) S::Store(d + i, vop(S::Load(a + i)));
  for (; i < len; ++i) d[i] = sop(a[i]);
}

template <class S, class VecOp, class ScalarOp>
inline void Map2(const float* a, const float* b, float* d, int len, VecOp vop, ScalarOp sop) {
  int i = 0;
  for (; i + S::kWidth <= len; i += S::kWidth) S::Store(d + i, vop(S::Load(a + i), S::Load(b + i)));
  for (; i < len; ++i) d[i] = sop(a[i], b[i]);
}

template <class S>
int KVecMul(const float* a, const float* b, float* d, int len) {
  if (int st = CheckVectorArgs(len, a, b, d)) return st;
  Map2<S>(a, b, d, len, S::Mul, [](float x, float y) { return x * y; });
  return kStsOk;
}

template <class S>
int KVecAdd(const float* a, const float* b, float* d, int len) {
  if (int st = CheckVectorArgs(len, a, b, d)) return st;
  Map2<S>(a, b, d, len, S::Add, [](float x, float y) { return x + y; });
  return kStsOk;
}

// dst = src2 - src1.
template <class S>
int KVecSub(const float* src1, const float* src2, float* d, int len) {
  if (int st = CheckVectorArgs(len, src1, src2, d)) return st;
  Map2<S>(src2, src1, d, len, S::Sub, [](float x, float y) { return x - y; });
  return kStsOk;
}

template <class S>
int KVecSubInPlace(const float* src, float* srcDst, int len) {
  if (int st = CheckVectorArgs(len, src, srcDst)) return st;
  Map2<S>(srcDst, src, srcDst, len, S::Sub, [](float x, float y) { return x - y; });
  return kStsOk;
}

template <class S>
int KVecSet(float value, float* d, int len) {
  if (int st = CheckVectorArgs(len, d)) return st;
  const typename S::V v = S::Set(value);
  int i = 0;
  for (; i + S::kWidth <= len; i += S::kWidth) S::Store(d + i, v);
  for (; i < len; ++i) d[i] = value;
  return kStsOk;
}

template <class S>
int KVecCopy(const float* src, float* d, int len) {
  if (int st = CheckVectorArgs(len, src, d)) return st;
  const std::size_t bytes = static_cast<std::size_t>(len) * sizeof(float);
  const auto s = reinterpret_cast<std::uintptr_t>(src), t = reinterpret_cast<std::uintptr_t>(d);
  if (s < t + bytes && t < s + bytes) {  // overlapping ranges keep memmove's guarantee
    std::memmove(d, src, bytes);
    return kStsOk;
  }
  Map1<S>(src, d, len, [](typename S::V x) { return x; }, [](float x) { return x; });
  return kStsOk;
}

template <class S>
int KVecMulConst(const float* src, float value, float* d, int len) {
  if (int st = CheckVectorArgs(len, src, d)) return st;
  if (value == 1.0f) return KVecCopy<S>(src, d, len);
  if (value == 0.0f) return KVecSet<S>(0.0f, d, len);  // NaNs and infinities must not survive
  const typename S::V v = S::Set(value);
  Map1<S>(src, d, len, [v](typename S::V x) { return S::Mul(x, v); }, [value](float x) { return x * value; });
  return kStsOk;
}

template <class S>
int KVecMulConstInPlace(float value, float* srcDst, int len) {
  if (int st = CheckVectorArgs(len, srcDst)) return st;
  if (value == 1.0f) return kStsOk;
  return KVecMulConst<S>(srcDst, value, srcDst, len);
}

template <class S>
int KVecSquareInPlace(float* srcDst, int len) {
  if (int st = CheckVectorArgs(len, srcDst)) return st;
  Map1<S>(srcDst, srcDst, len, [](typename S::V x) { return S::Mul(x, x); }, [](float x) { return x * x; });
  return kStsOk;
}

template <class S>
int KVecAbs(const float* src, float* d, int len) {
  if (int st = CheckVectorArgs(len, src, d)) return st;
  Map1<S>(src, d, len, S::Abs, [](float x) { return __builtin_fabsf(x); });
  return kStsOk;
}

template <class S>
int KVecMagnitude(const float* src, float* d, int len) {
  if (int st = CheckVectorArgs(len, src, d)) return st;
  int i = 0;
  for (; i + S::kWidth <= len; i += S::kWidth) {
    typename S::V re, im;
    S::LoadSplit(src + 2 * i, &re, &im);
    S::Store(d + i, S::Sqrt(S::MulAdd(re, re, S::Mul(im, im))));
  }
  for (; i < len; ++i) {
    const float re = src[2 * i], im = src[2 * i + 1];
    d[i] = __builtin_sqrtf(re * re + im * im);
  }
  return kStsOk;
}

// Four register accumulators over a[i] * b[i] (b null: over a[i]).
template <class S, bool kProduct>
float SumOfTerms(const float* a, const float* b, int len) {
  constexpr int w = S::kWidth;
  typename S::V s0 = S::Zero(), s1 = S::Zero(), s2 = S::Zero(), s3 = S::Zero();
  auto term = [&](int i, typename S::V acc) {
    return kProduct ? S::MulAdd(S::Load(a + i), S::Load(b + i), acc) : S::Add(S::Load(a + i), acc);
  };
  int i = 0;
  for (; i + 4 * w <= len; i += 4 * w) {
    s0 = term(i, s0);
    s1 = term(i + w, s1);
    s2 = term(i + 2 * w, s2);
    s3 = term(i + 3 * w, s3);
  }
  for (; i + w <= len; i += w) s0 = term(i, s0);
  float sum = S::SumLanes(S::Add(S::Add(s0, s1), S::Add(s2, s3)));
  for (; i < len; ++i) sum += kProduct ? a[i] * b[i] : a[i];
  return sum;
}

template <class S>
int KVecDotProduct(const float* a, const float* b, int len, float* result) {
  if (int st = CheckVectorArgs(len, a, b, result)) return st;
  *result = SumOfTerms<S, true>(a, b, len);
  return kStsOk;
}

template <class S>
int KVecSum(const float* src, int len, float* result) {
  if (int st = CheckVectorArgs(len, src, result)) return st;
  *result = SumOfTerms<S, false>(src, nullptr, len);
  return kStsOk;
}

template <class S>
int KVecMaxAbs(const float* src, int len, float* result) {
  if (int st = CheckVectorArgs(len, src, result)) return st;
  typename S::V m0 = S::Zero(), m1 = S::Zero();
  int i = 0;
  for (; i + 2 * S::kWidth <= len; i += 2 * S::kWidth) {
    m0 = S::Max(m0, S::Abs(S::Load(src + i)));
    m1 = S::Max(m1, S::Abs(S::Load(src + i + S::kWidth)));
  }
  float m = S::MaxLanes(S::Max(m0, m1));
  for (; i < len; ++i) m = __builtin_fmaxf(m, __builtin_fabsf(src[i]));
  *result = m;
  return kStsOk;
}

}  // namespace
}  // namespace aacs::dsp
