// dsp/x86/vector_ops_avx2.cpp — the vector primitives on 256-bit AVX2 registers with FMA.
#include "dsp/x86/simd_primitives.h"
#include "dsp/x86/vector_kernels.h"

namespace aacs::dsp::avx2 {

int VecMaxAbs(const float* src, int len, float* result) { return KVecMaxAbs<V256>(src, len, result); }
int VecMulInPlace(const float* src, float* srcDst, int len) { return KVecMul<V256>(src, srcDst, srcDst, len); }
int VecZero(float* dst, int len) { return KVecSet<V256>(0.0f, dst, len); }
int VecMagnitude(const float* src, float* dst, int len) { return KVecMagnitude<V256>(src, dst, len); }
int VecSum(const float* src, int len, float* result) { return KVecSum<V256>(src, len, result); }
int VecMulConstInPlace(float value, float* srcDst, int len) { return KVecMulConstInPlace<V256>(value, srcDst, len); }
int VecSquareInPlace(float* srcDst, int len) { return KVecSquareInPlace<V256>(srcDst, len); }
int VecAbs(const float* src, float* dst, int len) { return KVecAbs<V256>(src, dst, len); }
int VecCopy(const float* src, float* dst, int len) { return KVecCopy<V256>(src, dst, len); }
int VecSet(float value, float* dst, int len) { return KVecSet<V256>(value, dst, len); }
int VecMul(const float* src1, const float* src2, float* dst, int len) { return KVecMul<V256>(src1, src2, dst, len); }
int VecSub(const float* src1, const float* src2, float* dst, int len) { return KVecSub<V256>(src1, src2, dst, len); }
int VecAdd(const float* src1, const float* src2, float* dst, int len) { return KVecAdd<V256>(src1, src2, dst, len); }
int VecAddInPlace(const float* src, float* srcDst, int len) { return KVecAdd<V256>(src, srcDst, srcDst, len); }
int VecMulConst(const float* src, float value, float* dst, int len) { return KVecMulConst<V256>(src, value, dst, len); }
int VecAbsInPlace(float* srcDst, int len) { return KVecAbs<V256>(srcDst, srcDst, len); }
int VecDotProduct(const float* src1, const float* src2, int len, float* result) {
  return KVecDotProduct<V256>(src1, src2, len, result);
}
int VecSubInPlace(const float* src, float* srcDst, int len) { return KVecSubInPlace<V256>(src, srcDst, len); }

}  // namespace aacs::dsp::avx2
