// peaq/resample.h — bringing 44.1 kHz input to the model's 48 kHz.
//
// The recommendation's model runs at 48 kHz; 44.1 kHz pairs are converted first (both signals
// alike) with the encoder's own sample-rate converter, which matches the calibration better
// than running the model at 44.1 kHz (see docs/peaq.md).
#pragma once
#include "peaq/audio_input.h"

namespace aacs::peaq {

constexpr int kModelSampleRate = 48000;

// Converts `signal` in place to 48 kHz (nothing to do when it already is).  Samples are rounded
// to 16 bits on the way in.  Returns kPeaqOk or kPeaqInternal.
int ResampleToModelRate(AudioSignal& signal);

}  // namespace aacs::peaq
