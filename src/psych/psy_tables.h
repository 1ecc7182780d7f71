// psych/psy_tables.h — the model's fixed tables: threshold partitions (the scalefactor bands of
// the cb_adapt row), Bark positions, stereo masking level differences, the normalised spreading
// matrix, the tonality -> SNR lookups and the short-block absolute threshold.
#pragma once
#include "enc/band_tables.h"
#include "psych/psy_state.h"

struct StreamContext;

namespace aacs::psych {

// Bark value of a centre frequency in Hz (linear below 200 Hz, Traunmueller above).
float BarkOfFrequency(float f);
// Spreading function value in power (before row normalisation) for a Bark distance
// dz = z_masked - z_masker.
float SpreadingValue(float dz, float slopeUpper, float slopeLower);
// Absolute threshold of a short line in dB, limited to 0..72 dB (f limited to 0.1..18 kHz).
float ShortLineAthDb(float fKhz);

// Builds ctx.psy.tables for the row and the tuning fields tonalSnr, noiseSnr, spreadSlopeUpper,
// spreadSlopeLower and snrBarkLimit, and the forced-band and attack-range line limits.
void BuildPsyTables(float sampleRate, const enc::CbAdaptRow& row, StreamContext& ctx);

}  // namespace aacs::psych
