// peaq/pattern_processing.h — what the model does with a pair of excitation patterns
// (ITU-R BS.1387-1, Annex 2, 3): level and pattern adaptation, modulation, loudness.
//
// Adaptation removes level differences and linear filtering that a listener would not count
// as distortion, so that only the remaining differences reach the noise loudness.  Modulation
// follows the envelope of each band from the unsmeared excitation.
#pragma once
#include "peaq/ear_model.h"

namespace aacs::peaq {

// Per-band envelope of one signal: E^0.3 smoothed, its smoothed slope, and their ratio.
struct ModulationState {
  double previous[kNumBands];    // E^0.3 of the last frame
  double slope[kNumBands];       // smoothed |d E^0.3 / dt|
  double mean[kNumBands];        // smoothed E^0.3
  double modulation[kNumBands];  // slope / (1 + mean / 0.3)
};

// Filter states of level and pattern adaptation for one channel pair.
struct AdaptationState {
  double levelRef[kNumBands], levelTest[kNumBands];  // smoothed excitations
  double corrNum[kNumBands], corrDen[kNumBands];     // smoothed cross and reference products
  double corrRef[kNumBands], corrTest[kNumBands];    // smoothed correction factors
};

// The spectrally adapted excitations of one frame.
struct AdaptedPatterns {
  double ref[kNumBands];
  double test[kNumBands];
};

void ResetModulation(ModulationState& state);
void ResetAdaptation(AdaptationState& state);

// Updates the modulation of one signal with the frame's unsmeared excitation.
void UpdateModulation(const EarTables& tables, const double* unsmeared, ModulationState& state);

// Level adaptation then pattern adaptation of the frame's excitations.
void AdaptPatterns(const EarTables& tables, const double* excitationRef, const double* excitationTest,
                   AdaptationState& state, AdaptedPatterns& out);

// Total loudness in sone of an excitation pattern.
double TotalLoudness(const EarTables& tables, const double* excitation);

}  // namespace aacs::peaq
