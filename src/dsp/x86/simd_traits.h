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
  // ---- Interleaved complex registers (kWidth / 2 values each). ----
  static constexpr int kComplexPerRegister = 2;
  // -i z for every complex value: (re, im) -> (im, -re).
  static V MulMinusI(V z) {
    const V swapped = _mm_shuffle_ps(z, z, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm_xor_ps(swapped, _mm_castsi128_ps(_mm_setr_epi32(0, INT32_MIN, 0, INT32_MIN)));
  }
  // Complex value c of x0..x3 becomes the split group re[pos[c] + 0..3], im[pos[c] + 0..3].
  static void StoreGroups(V x0, V x1, V x2, V x3, float* re, float* im, const std::uint32_t* pos) {
    const V a = _mm_unpacklo_ps(x0, x1), b = _mm_unpacklo_ps(x2, x3);
    const V c = _mm_unpackhi_ps(x0, x1), d = _mm_unpackhi_ps(x2, x3);
    _mm_storeu_ps(re + pos[0], _mm_movelh_ps(a, b));
    _mm_storeu_ps(im + pos[0], _mm_movehl_ps(b, a));
    _mm_storeu_ps(re + pos[1], _mm_movelh_ps(c, d));
    _mm_storeu_ps(im + pos[1], _mm_movehl_ps(d, c));
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
  static constexpr int kComplexPerRegister = 4;
  static V MulMinusI(V z) {
    const V swapped = _mm256_permute_ps(z, _MM_SHUFFLE(2, 3, 0, 1));
    return _mm256_xor_ps(swapped, _mm256_castsi256_ps(_mm256_setr_epi32(0, INT32_MIN, 0, INT32_MIN, 0,
                                                                          INT32_MIN, 0, INT32_MIN)));
  }
  // In-lane unpacks: the low lane carries complex values 0 and 1, the high lane 2 and 3.
  static void StoreGroups(V x0, V x1, V x2, V x3, float* re, float* im, const std::uint32_t* pos) {
    const V a = _mm256_unpacklo_ps(x0, x1), b = _mm256_unpacklo_ps(x2, x3);
    const V c = _mm256_unpackhi_ps(x0, x1), d = _mm256_unpackhi_ps(x2, x3);
    const V re02 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(1, 0, 1, 0));
    const V im02 = _mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 2, 3, 2));
    const V re13 = _mm256_shuffle_ps(c, d, _MM_SHUFFLE(1, 0, 1, 0));
    const V im13 = _mm256_shuffle_ps(c, d, _MM_SHUFFLE(3, 2, 3, 2));
    _mm_storeu_ps(re + pos[0], _mm256_castps256_ps128(re02));
    _mm_storeu_ps(im + pos[0], _mm256_castps256_ps128(im02));
    _mm_storeu_ps(re + pos[1], _mm256_castps256_ps128(re13));
    _mm_storeu_ps(im + pos[1], _mm256_castps256_ps128(im13));
    _mm_storeu_ps(re + pos[2], _mm256_extractf128_ps(re02, 1));
    _mm_storeu_ps(im + pos[2], _mm256_extractf128_ps(im02, 1));
    _mm_storeu_ps(re + pos[3], _mm256_extractf128_ps(re13, 1));
    _mm_storeu_ps(im + pos[3], _mm256_extractf128_ps(im13, 1));
  }
};
#endif

}  // namespace
}  // namespace aacs::dsp
