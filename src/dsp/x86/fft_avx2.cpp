// dsp/x86/fft_avx2.cpp — the FFT primitives on 256-bit AVX2 registers with FMA.
#include "dsp/x86/fft_kernels.h"
#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::avx2 {

int FftComplexForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  return ComplexTransformSimd<V256>(src, dst, spec, work, false);
}

int FftComplexInverse(const float* src, float* dst, const FftSpec* spec, float* work) {
  return ComplexTransformSimd<V256>(src, dst, spec, work, true);
}

int FftRealForward(const float* src, float* dst, const FftSpec* spec, float* work) {
  return RealTransformSimd<V256>(src, dst, spec, work);
}

}  // namespace aacs::dsp::avx2
