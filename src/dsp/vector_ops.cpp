// dsp/vector_ops.cpp — portable vector arithmetic on 32-bit floats.
//
// Element-wise loops are plain (the compiler unrolls them); reductions keep four partial
// sums so that the dependency chain does not limit them and rounding grows like n/4.
#include <cmath>
#include <cstring>

#include "dsp/generic_primitives.h"
#include "dsp/platform.h"
#include "dsp/vector_args.h"

namespace aacs::dsp::generic {
namespace {

inline int Check(int len, const void* a, const void* b = &kNoPointer, const void* c = &kNoPointer) {
  return CheckVectorArgs(len, a, b, c);
}

}  // namespace

void* AlignedAlloc(std::size_t bytes) { return AllocAlignedBuffer(bytes); }

void AlignedFree(void* p) { FreeAlignedBuffer(p); }

int VecMaxAbs(const float* src, int len, float* result) {
  if (int st = Check(len, src, result)) return st;
  float m0 = 0.0f, m1 = 0.0f, m2 = 0.0f, m3 = 0.0f;
  int i = 0;
  for (; i + 4 <= len; i += 4) {
    m0 = std::fmax(m0, std::fabs(src[i]));
    m1 = std::fmax(m1, std::fabs(src[i + 1]));
    m2 = std::fmax(m2, std::fabs(src[i + 2]));
    m3 = std::fmax(m3, std::fabs(src[i + 3]));
  }
  for (; i < len; ++i) m0 = std::fmax(m0, std::fabs(src[i]));
  *result = std::fmax(std::fmax(m0, m1), std::fmax(m2, m3));
  return kStsOk;
}

int VecSum(const float* src, int len, float* result) {
  if (int st = Check(len, src, result)) return st;
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
  int i = 0;
  for (; i + 4 <= len; i += 4) {
    s0 += src[i];
    s1 += src[i + 1];
    s2 += src[i + 2];
    s3 += src[i + 3];
  }
  for (; i < len; ++i) s0 += src[i];
  *result = (s0 + s1) + (s2 + s3);
  return kStsOk;
}

int VecDotProduct(const float* src1, const float* src2, int len, float* result) {
  if (int st = Check(len, src1, src2, result)) return st;
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
  int i = 0;
  for (; i + 4 <= len; i += 4) {
    s0 += src1[i] * src2[i];
    s1 += src1[i + 1] * src2[i + 1];
    s2 += src1[i + 2] * src2[i + 2];
    s3 += src1[i + 3] * src2[i + 3];
  }
  for (; i < len; ++i) s0 += src1[i] * src2[i];
  *result = (s0 + s1) + (s2 + s3);
  return kStsOk;
}

int VecMaxIndex(const float* src, int len, float* maxValue, int* index) {
  if (int st = Check(len, src, maxValue, index)) return st;
  int best = 0;
  for (int i = 1; i < len; ++i) {
    if (src[i] > src[best]) best = i;
  }
  *maxValue = src[best];
  *index = best;
  return kStsOk;
}

int VecMagnitude(const float* src, float* dst, int len) {
  if (int st = Check(len, src, dst)) return st;
  for (int i = 0; i < len; ++i) {
    const float re = src[2 * i], im = src[2 * i + 1];
    dst[i] = std::sqrt(re * re + im * im);
  }
  return kStsOk;
}

int VecZero(float* dst, int len) {
  if (int st = Check(len, dst)) return st;
  std::memset(dst, 0, static_cast<std::size_t>(len) * sizeof(float));
  return kStsOk;
}

int VecSet(float value, float* dst, int len) {
  if (int st = Check(len, dst)) return st;
  for (int i = 0; i < len; ++i) dst[i] = value;
  return kStsOk;
}

int VecCopy(const float* src, float* dst, int len) {
  if (int st = Check(len, src, dst)) return st;
  std::memmove(dst, src, static_cast<std::size_t>(len) * sizeof(float));
  return kStsOk;
}

int VecMulConstInPlace(float value, float* srcDst, int len) {
  if (int st = Check(len, srcDst)) return st;
  if (value == 1.0f) return kStsOk;
  // An explicit zero, so that infinities and NaNs in the data do not survive.
  if (value == 0.0f) return VecZero(srcDst, len);
  for (int i = 0; i < len; ++i) srcDst[i] *= value;
  return kStsOk;
}

int VecMulConst(const float* src, float value, float* dst, int len) {
  if (int st = Check(len, src, dst)) return st;
  if (value == 1.0f) return VecCopy(src, dst, len);
  if (value == 0.0f) return VecZero(dst, len);
  for (int i = 0; i < len; ++i) dst[i] = src[i] * value;
  return kStsOk;
}

int VecMulInPlace(const float* src, float* srcDst, int len) {
  if (int st = Check(len, src, srcDst)) return st;
  for (int i = 0; i < len; ++i) srcDst[i] *= src[i];
  return kStsOk;
}

int VecMul(const float* src1, const float* src2, float* dst, int len) {
  if (int st = Check(len, src1, src2, dst)) return st;
  for (int i = 0; i < len; ++i) dst[i] = src1[i] * src2[i];
  return kStsOk;
}

int VecAdd(const float* src1, const float* src2, float* dst, int len) {
  if (int st = Check(len, src1, src2, dst)) return st;
  for (int i = 0; i < len; ++i) dst[i] = src1[i] + src2[i];
  return kStsOk;
}

int VecAddInPlace(const float* src, float* srcDst, int len) {
  if (int st = Check(len, src, srcDst)) return st;
  for (int i = 0; i < len; ++i) srcDst[i] += src[i];
  return kStsOk;
}

int VecSub(const float* src1, const float* src2, float* dst, int len) {
  if (int st = Check(len, src1, src2, dst)) return st;
  for (int i = 0; i < len; ++i) dst[i] = src2[i] - src1[i];
  return kStsOk;
}

int VecSubInPlace(const float* src, float* srcDst, int len) {
  if (int st = Check(len, src, srcDst)) return st;
  for (int i = 0; i < len; ++i) srcDst[i] -= src[i];
  return kStsOk;
}

int VecSquareInPlace(float* srcDst, int len) {
  if (int st = Check(len, srcDst)) return st;
  for (int i = 0; i < len; ++i) srcDst[i] *= srcDst[i];
  return kStsOk;
}

int VecAbs(const float* src, float* dst, int len) {
  if (int st = Check(len, src, dst)) return st;
  for (int i = 0; i < len; ++i) dst[i] = std::fabs(src[i]);
  return kStsOk;
}

int VecAbsInPlace(float* srcDst, int len) { return VecAbs(srcDst, srcDst, len); }

}  // namespace aacs::dsp::generic
