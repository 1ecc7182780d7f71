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
// Creates the model's FFT spec records, MDCT set-up and attack filters if they do not exist
// yet; 0 on success, 1 without memory (everything released again).  AnalyseFrame calls it
// itself; stream open may call it first so that a memory failure fails the open.
int PsyModelAllocate(StreamContext& ctx);
// Releases what the model allocated (FFT spec records, FIR states).
void ReleasePsyModel(StreamContext& ctx);

// The long MDCT lines (1024) that the model computed in its previous call for channel ch: the
// block formed by the frame before the newest and the one before that, with KBD windows on both
// halves - the coding transform of an ONLY_LONG block with both shapes KBD.
const float* PsyPreviousLongSpectrum(const StreamContext& ctx, int ch);
// The same for the eight short windows (8 x 128, window-major): EIGHT_SHORT with KBD shapes.
// Valid when the previous call ran the short analysis for the channel (always, unless the
// time-domain attack detector saw no attack in that frame).
const float* PsyPreviousShortSpectrum(const StreamContext& ctx, int ch);

}  // namespace aacs::psych
