// dsp/fir_internal.h — the FIR state layout and the chunk loop shared by every FIR column.
//
// The state keeps the taps reversed next to a buffer of the last tapCount - 1 inputs followed
// by room for a chunk of new ones, so that every output is one contiguous dot product.  Long
// filters ("30IF") accumulate in double precision; the rest ("10IF") in float, in four partial
// sums over the taps k = 0, 1, 2, 3 mod 4.  The helpers have internal linkage: each column's
// file compiles its own copy with its own target flags.
#pragma once
#include <cstring>

#include "dsp/primitives.h"

namespace aacs::dsp {

struct FirState {
  char mark[4];
  int tapCount;
  float* tapsReversed;  // tapsReversed[j] = taps[tapCount - 1 - j]
  float* window;        // tapCount - 1 past inputs, then kFirChunk new ones
};

namespace {

constexpr int kFirChunk = 256;
constexpr int kWideTapCount = 256;  // from here on float sums lose too much
constexpr char kFirMarkFloat[4] = {'1', '0', 'I', 'F'};
constexpr char kFirMarkWide[4] = {'3', '0', 'I', 'F'};

inline float FirDot(const float* taps, const float* x, int count) {
  float s0 = 0.0f, s1 = 0.0f, s2 = 0.0f, s3 = 0.0f;
  int k = 0;
  for (; k + 4 <= count; k += 4) {
    s0 += taps[k] * x[k];
    s1 += taps[k + 1] * x[k + 1];
    s2 += taps[k + 2] * x[k + 2];
    s3 += taps[k + 3] * x[k + 3];
  }
  for (; k < count; ++k) s0 += taps[k] * x[k];
  return (s0 + s1) + (s2 + s3);
}

inline float FirDotWide(const float* taps, const float* x, int count) {
  double sum = 0.0;
  for (int k = 0; k < count; ++k) sum += static_cast<double>(taps[k]) * x[k];
  return static_cast<float>(sum);
}

// The FirFilter primitive around a chunk filter: chunkFn(taps, window, out, outputs, tapCount)
// writes outputs values out[n] = FirDot(taps, window + n, tapCount) of a float state.
template <typename ChunkFn>
int FirFilterWith(const float* src, float* dst, int count, FirState* state, ChunkFn chunkFn) {
  if (src == nullptr || dst == nullptr || state == nullptr) return kStsNullPtrErr;
  const bool wide = std::memcmp(state->mark, kFirMarkWide, 4) == 0;
  if (!wide && std::memcmp(state->mark, kFirMarkFloat, 4) != 0) return kStsContextMatchErr;
  if (count < 1) return kStsSizeErr;
  const int taps = state->tapCount;
  const std::size_t history = static_cast<std::size_t>(taps) - 1;
  float* window = state->window;
  for (int done = 0; done < count;) {
    const int chunk = count - done < kFirChunk ? count - done : kFirChunk;
    // The chunk is copied before any output of it is written, so src may equal dst.
    std::memcpy(window + history, src + done, static_cast<std::size_t>(chunk) * sizeof(float));
    if (wide) {
      for (int n = 0; n < chunk; ++n) dst[done + n] = FirDotWide(state->tapsReversed, window + n, taps);
    } else {
      chunkFn(state->tapsReversed, window, dst + done, chunk, taps);
    }
    std::memmove(window, window + chunk, history * sizeof(float));
    done += chunk;
  }
  return kStsOk;
}

}  // namespace
}  // namespace aacs::dsp
