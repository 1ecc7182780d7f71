// psych/psy_transform.h — the model's own analysis of the newest frame: the 2048-sample block
// (the channel's previous frame and the new one) under the full KBD windows, transformed by
// the filterbank's MDCTs and, for the unpredictability, by real FFTs.
#pragma once
#include "psych/psy_state.h"

namespace aacs::psych {

// Builds the block from the channel's delay line and newFrame (then keeps newFrame as the next
// delay line); long MDCT lines go to the history's current long buffer, and with analyseShort
// the eight short windows' lines to its current short buffer (8 x 128).  With wantFft the FFT
// bins of the windowed blocks go to psy.fftLongOut / psy.fftShortOut.
void PsyTransform(PsyModelState& psy, int ch, const float* newFrame, int analyseShort, bool wantFft);

}  // namespace aacs::psych
