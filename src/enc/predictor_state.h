// enc/predictor_state.h — backward-adaptive (Main profile) predictor state of one channel.
#pragma once
#include "enc/aac_constants.h"

namespace aacs::enc {

struct PredictorState {
  alignas(32) float predicted[kFrameLength];  // prediction of the current frame
  int resetFlag[kFrameLength];
  float r0[kFrameLength], r1[kFrameLength];
  float cor1[kFrameLength], cor2[kFrameLength];
  float var1[kFrameLength], var2[kFrameLength];
  int started;
  int resetCounter;
};

}  // namespace aacs::enc
