// dsp/x86/fft_sse2.cpp — the FFT primitives on 128-bit SSE2 registers.
#include "dsp/x86/fft_kernels.h"
#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::sse2 {

int FftComplexForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  return ComplexTransformSimd<V128>(src, dst, spec, work, false);
}

int FftComplexInverse(const float* src, float* dst, const FftSpec* spec, float* work) {
  return ComplexTransformSimd<V128>(src, dst, spec, work, true);
}

int FftRealForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  return RealTransformSimd<V128>(src, dst, spec, work);
}

}  // namespace aacs::dsp::sse2
