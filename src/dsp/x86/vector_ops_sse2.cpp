// dsp/x86/vector_ops_sse2.cpp — the vector primitives on 128-bit SSE2 registers.
#include "dsp/x86/simd_primitives.h"
#include "dsp/x86/vector_kernels.h"

namespace aacs::dsp::sse2 {

int VecMaxAbs(const float* src, int len, float* result) { return KVecMaxAbs<V128>(src, len, result); }
int VecMulInPlace(const float* src, float* srcDst, int len) { return KVecMul<V128>(src, srcDst, srcDst, len); }
int VecZero(float* dst, int len) { return KVecSet<V128>(0.0f, dst, len); }
int VecMagnitude(const float* src, float* dst, int len) { return KVecMagnitude<V128>(src, dst, len); }
int VecSum(const float* src, int len, float* result) { return KVecSum<V128>(src, len, result); }
int VecMulConstInPlace(float value, float* srcDst, int len) { return KVecMulConstInPlace<V128>(value, srcDst, len); }
int VecSquareInPlace(float* srcDst, int len) { return KVecSquareInPlace<V128>(srcDst, len); }
int VecAbs(const float* src, float* dst, int len) { return KVecAbs<V128>(src, dst, len); }
int VecCopy(const float* src, float* dst, int len) { return KVecCopy<V128>(src, dst, len); }
int VecSet(float value, float* dst, int len) { return KVecSet<V128>(value, dst, len); }
int VecMul(const float* src1, const float* src2, float* dst, int len) { return KVecMul<V128>(src1, src2, dst, len); }
int VecSub(const float* src1, const float* src2, float* dst, int len) { return KVecSub<V128>(src1, src2, dst, len); }
int VecAdd(const float* src1, const float* src2, float* dst, int len) { return KVecAdd<V128>(src1, src2, dst, len); }
int VecAddInPlace(const float* src, float* srcDst, int len) { return KVecAdd<V128>(src, srcDst, srcDst, len); }
int VecMulConst(const float* src, float value, float* dst, int len) { return KVecMulConst<V128>(src, value, dst, len); }
int VecAbsInPlace(float* srcDst, int len) { return KVecAbs<V128>(srcDst, srcDst, len); }
int VecDotProduct(const float* src1, const float* src2, int len, float* result) {
  return KVecDotProduct<V128>(src1, src2, len, result);
}
int VecSubInPlace(const float* src, float* srcDst, int len) { return KVecSubInPlace<V128>(src, srcDst, len); }

}  // namespace aacs::dsp::sse2
