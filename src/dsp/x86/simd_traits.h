// dsp/x86/simd_traits.h — one vocabulary over 128-bit (SSE2) and 256-bit (AVX2+FMA) registers.
//
// The kernels are templates over these traits, so the SSE2 and AVX2 files share one source
// of truth.  Everything here has internal linkage: each file compiles its own copy with its
// own target flags, and no AVX instruction can leak into code the SSE2 column runs.
#pragma once
#include <immintrin.h>

#include <cstdint>

namespace aacs::dsp {
namespace {

struct V128 {
  using V = __m128;
  static constexpr int kWidth = 4;
  static V Load(const float* p) { return _mm_loadu_ps(p); }
  static void Store(float* p, V v) { _mm_storeu_ps(p, v); }
  static V Set(float x) { return _mm_set1_ps(x); }
  static V Zero() { return _mm_setzero_ps(); }
  static V Add(V a, V b) { return _mm_add_ps(a, b); }
  static V Sub(V a, V b) { return _mm_sub_ps(a, b); }
  static V Mul(V a, V b) { return _mm_mul_ps(a, b); }
  static V Max(V a, V b) { return _mm_max_ps(a, b); }
  static V Sqrt(V a) { return _mm_sqrt_ps(a); }
  static V Abs(V a) { return _mm_and_ps(a, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff))); }
#ifdef __FMA__
  static V MulAdd(V a, V b, V c) { return _mm_fmadd_ps(a, b, c); }
  static V MulSub(V a, V b, V c) { return _mm_fmsub_ps(a, b, c); }
#else
  static V MulAdd(V a, V b, V c) { return _mm_add_ps(_mm_mul_ps(a, b), c); }
  static V MulSub(V a, V b, V c) { return _mm_sub_ps(_mm_mul_ps(a, b), c); }
#endif
  static float SumLanes(V v) {
    const V pairs = _mm_add_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
  }
  static float MaxLanes(V v) {
    const V pairs = _mm_max_ps(v, _mm_movehl_ps(v, v));
    return _mm_cvtss_f32(_mm_max_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1)));
  }
  // kWidth interleaved complex values at p into real and imaginary parts.
  static void LoadSplit(const float* p, V* re, V* im) {
    const V lo = _mm_loadu_ps(p), hi = _mm_loadu_ps(p + 4);
    *re = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    *im = _mm_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
  }
  static void StoreInterleaved(float* p, V re, V im) {
    _mm_storeu_ps(p, _mm_unpacklo_ps(re, im));
    _mm_storeu_ps(p + 4, _mm_unpackhi_ps(re, im));
  }
  static V Reverse(V v) { return _mm_shuffle_ps(v, v, _MM_SHUFFLE(0, 1, 2, 3)); }
  // For each lane l, stores x0[l], x1[l], x2[l], x3[l] at base + pos[l].
  static void Scatter4(V x0, V x1, V x2, V x3, float* base, const std::uint32_t* pos) {
    _MM_TRANSPOSE4_PS(x0, x1, x2, x3);
    _mm_storeu_ps(base + pos[0], x0);
    _mm_storeu_ps(base + pos[1], x1);
    _mm_storeu_ps(base + pos[2], x2);
    _mm_storeu_ps(base + pos[3], x3);
  }
};

#ifdef __AVX2__
struct V256 {
  using V = __m256;
  static constexpr int kWidth = 8;
  static V Load(const float* p) { return _mm256_loadu_ps(p); }
  static void Store(float* p, V v) { _mm256_storeu_ps(p, v); }
  static V Set(float x) { return _mm256_set1_ps(x); }
  static V Zero() { return _mm256_setzero_ps(); }
  static V Add(V a, V b) { return _mm256_add_ps(a, b); }
  static V Sub(V a, V b) { return _mm256_sub_ps(a, b); }
  static V Mul(V a, V b) { return _mm256_mul_ps(a, b); }
  static V Max(V a, V b) { return _mm256_max_ps(a, b); }
  static V Sqrt(V a) { return _mm256_sqrt_ps(a); }
  static V Abs(V a) { return _mm256_and_ps(a, _mm256_castsi256_ps(_mm256_set1_epi32(0x7fffffff))); }
  static V MulAdd(V a, V b, V c) { return _mm256_fmadd_ps(a, b, c); }
  static V MulSub(V a, V b, V c) { return _mm256_fmsub_ps(a, b, c); }
  static float SumLanes(V v) {
    return V128::SumLanes(_mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1)));
  }
  static float MaxLanes(V v) {
    return V128::MaxLanes(_mm_max_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1)));
  }
  static void LoadSplit(const float* p, V* re, V* im) {
    const V lo = _mm256_loadu_ps(p), hi = _mm256_loadu_ps(p + 8);
    // In-lane shuffles leave the 64-bit pairs in the order 0 2 1 3; one permute fixes that.
    const V r = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(2, 0, 2, 0));
    const V i = _mm256_shuffle_ps(lo, hi, _MM_SHUFFLE(3, 1, 3, 1));
    *re = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(r), _MM_SHUFFLE(3, 1, 2, 0)));
    *im = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(i), _MM_SHUFFLE(3, 1, 2, 0)));
  }
  static void StoreInterleaved(float* p, V re, V im) {
    const V lo = _mm256_unpacklo_ps(re, im), hi = _mm256_unpackhi_ps(re, im);
    _mm256_storeu_ps(p, _mm256_permute2f128_ps(lo, hi, 0x20));
    _mm256_storeu_ps(p + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
  }
  static V Reverse(V v) { return _mm256_permutevar8x32_ps(v, _mm256_setr_epi32(7, 6, 5, 4, 3, 2, 1, 0)); }
  static void Scatter4(V x0, V x1, V x2, V x3, float* base, const std::uint32_t* pos) {
    V128::Scatter4(_mm256_castps256_ps128(x0), _mm256_castps256_ps128(x1), _mm256_castps256_ps128(x2),
                   _mm256_castps256_ps128(x3), base, pos);
    V128::Scatter4(_mm256_extractf128_ps(x0, 1), _mm256_extractf128_ps(x1, 1), _mm256_extractf128_ps(x2, 1),
                   _mm256_extractf128_ps(x3, 1), base, pos + 4);
  }
};
#endif

}  // namespace
}  // namespace aacs::dsp
