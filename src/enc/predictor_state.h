// enc/predictor_state.h — backward-adaptive (Main profile) predictor state of one channel.
//
// The state mirrors the decoder's bit for bit: every stored value is a float whose low 16
// bits are clear, and each line's second-order lattice learns from the same reconstruction
// the decoder has.
#pragma once
#include <cstdint>
#include "enc/aac_constants.h"

namespace aacs::enc {

struct PredictorState {
  alignas(32) float predicted[kFrameLength];  // this frame's prediction of every line
  alignas(32) float r0[kFrameLength];         // lattice states
  alignas(32) float r1[kFrameLength];
  alignas(32) float cor1[kFrameLength];       // smoothed correlations of the two stages
  alignas(32) float cor2[kFrameLength];
  alignas(32) float var1[kFrameLength];       // smoothed energies of the two stages
  alignas(32) float var2[kFrameLength];
  // A line whose state some decoder may hold differently (it was noise-substituted or an
  // intensity line, which decoders feed to their predictors differently) until the line is
  // next reset everywhere; bands with such lines are not predicted.
  uint8_t untrusted[kFrameLength];
  // What a decoder that keeps prediction_used flags from frame to frame holds for each band:
  // flags above max_sfb are not transmitted, so some decoders apply old ones there.
  uint8_t decoderFlag[kMaxLongBands];
  int resetCounter;  // 1..240; a reset group is due whenever it is a multiple of 8
};

}  // namespace aacs::enc
