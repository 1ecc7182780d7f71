// dsp/x86/fir_avx2.cpp — the FIR filter primitive on 256-bit registers.
#include "dsp/x86/fir_kernels.h"
#include "dsp/x86/simd_primitives.h"

namespace aacs::dsp::avx2 {

int FirFilter(const float* src, float* dst, int count, FirState* state) { return KFirFilter<V256>(src, dst, count, state); }

}  // namespace aacs::dsp::avx2
