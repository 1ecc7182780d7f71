// psych/psy_model.h — the psychoacoustic model: per frame and channel, the allowed noise per
// band (long and short), perceptual entropies, the block decision and window grouping, and
// mid/side and noise-substitution flags, computed one frame ahead of quantisation.
#pragma once
#include "psych/psy_results.h"

struct StreamContext;

namespace aacs::psych {

// Analyses the newest frame of every channel (input[c] = channel c's newFrame) into the given
// result copies (12 slots each).  Initialises the model's tables on the first call.
void AnalyseFrame(StreamContext& ctx, const float* const* input, PsyLongResult* longOut,
                  PsyShortResult* shortOut, int bitsAboveMean, int meanBits);
// The long MDCT lines (KBD halves on both sides) and the eight short windows' lines that the
// model computed in its previous call for channel ch, or null when it did not compute them.
const float* PsyPreviousLongSpectrum(const StreamContext& ctx, int ch);
const float* PsyPreviousShortSpectrum(const StreamContext& ctx, int ch);
// Releases what the model allocated (FFT specifications, FIR states).
void ReleasePsyModel(StreamContext& ctx);

}  // namespace aacs::psych
