// psych/chaos.h — the model's two tonality estimators: the unpredictability ("chaos") of every
// spectral line, predicted from the magnitudes and phases of the two previous blocks, and the
// peak-to-mean tonality of a partition and its neighbours.
#pragma once
#include "psych/psy_state.h"

struct StreamContext;

namespace aacs::psych {

// Unpredictability of count bins (interleaved re, im) against a prediction: rp the predicted
// magnitudes, (c1, s1) and (c2, s2) the unit phasors of the two previous blocks.  Stores the
// current magnitudes' phasors in (cosOut, sinOut) and the measure in unpred.
void UnpredictabilityKernel(const float* bins, const float* magnitude, const float* rp,
                            const float* c1, const float* s1, const float* c2, const float* s2,
                            float* cosOut, float* sinOut, float* unpred, int count);

// Long lines below analysedLines, from the current FFT bins; the history's ring position must
// already point at the current frame.
void LongUnpredictability(const float* bins, int analysedLines, PsyChannelHistory& h,
                          float* prediction, PsyWorkArea& w);
// Short lines of the eight windows (bins: 8 x 256 floats, 128 complex bins each); windows 0
// and 1 predict from windows 6 and 7 of the previous frame.
void ShortUnpredictability(const float (*bins)[2 * kShortLength], PsyChannelHistory& h,
                           float* prediction, PsyWorkArea& w);

// Optional override: with chaosBandForce the lines between 600 Hz and 4 kHz count as tonal.
// Method 1 is the only one; others warn and behave as 1.
void MeasureChaos(const StreamContext& ctx, PsyWorkArea& w, int method);

// Peak tonality of every partition of one block from the mean (energy) and largest (peak) line
// energies of the partition and its neighbours; with snr non-null also the SNR factor from the
// peak-tonality tables (tableStride 0: one shared table).
void PeakTonalityBlock(const PartitionTable& p, const float* energy, const float* peak,
                       float* tonality, float* snr, const float* table, int tableStride);
// Long partitions and, with analyseShort, every short window; setSnr replaces the SNR factors.
void PeakTonality(const PsyTables& t, PsyWorkArea& w, int analyseShort, bool setSnr);

}  // namespace aacs::psych
