// dsp/vector_args.h — the argument check every vector primitive starts with.
#pragma once
#include "dsp/primitives.h"

namespace aacs::dsp {

inline constexpr char kNoPointer = 0;  // stands in for the pointers a primitive does not have

// Pointers first (kStsNullPtrErr), then the length (kStsSizeErr below 1).
inline int CheckVectorArgs(int len, const void* a, const void* b = &kNoPointer,
                           const void* c = &kNoPointer) {
  if (a == nullptr || b == nullptr || c == nullptr) return kStsNullPtrErr;
  return len < 1 ? kStsSizeErr : kStsOk;
}

}  // namespace aacs::dsp
