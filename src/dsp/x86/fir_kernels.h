// dsp/x86/fir_kernels.h — the FIR filter with one output per register lane.
//
// Each lane accumulates its own output with the generic code's four partial sums in the
// generic order (multiply, then add: no fused multiply-add), so every lane's float equals the
// generic output.
#pragma once
#include "dsp/fir_internal.h"
#include "dsp/x86/simd_traits.h"

namespace aacs::dsp {
namespace {

template <typename T>
void FirChunkLanes(const float* taps, const float* window, float* out, int outputs, int tapCount) {
  using V = typename T::V;
  int n = 0;
  for (; n + T::kWidth <= outputs; n += T::kWidth) {
    const float* x = window + n;
    V s0 = T::Zero(), s1 = T::Zero(), s2 = T::Zero(), s3 = T::Zero();
    int k = 0;
    for (; k + 4 <= tapCount; k += 4) {
      s0 = T::Add(s0, T::Mul(T::Set(taps[k]), T::Load(x + k)));
      s1 = T::Add(s1, T::Mul(T::Set(taps[k + 1]), T::Load(x + k + 1)));
      s2 = T::Add(s2, T::Mul(T::Set(taps[k + 2]), T::Load(x + k + 2)));
      s3 = T::Add(s3, T::Mul(T::Set(taps[k + 3]), T::Load(x + k + 3)));
    }
    for (; k < tapCount; ++k) s0 = T::Add(s0, T::Mul(T::Set(taps[k]), T::Load(x + k)));
    T::Store(out + n, T::Add(T::Add(s0, s1), T::Add(s2, s3)));
  }
  for (; n < outputs; ++n) out[n] = FirDot(taps, window + n, tapCount);
}

template <typename T>
int KFirFilter(const float* src, float* dst, int count, FirState* state) {
  return FirFilterWith(src, dst, count, state, FirChunkLanes<T>);
}

}  // namespace
}  // namespace aacs::dsp
