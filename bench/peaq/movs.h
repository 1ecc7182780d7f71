// peaq/movs.h — the model output variables of the basic version (ITU-R BS.1387-1, Annex 2, 4).
//
// Each MOV is a per-frame measure of one channel pair (bandwidth, noise-to-mask ratio,
// modulation difference, noise loudness, detection probability, error harmonic structure)
// followed by a temporal average over the frames that count for it; the averaging rules
// (delay, energy and loudness thresholds) live in the caller, peaq.cpp.
#pragma once
#include "peaq/ear_model.h"
#include "peaq/pattern_processing.h"

namespace aacs::peaq {

constexpr int kNumMovs = 11;
// The MOVs in the order of the neural network's inputs.
enum MovIndex : int {
  kMovBandwidthRef = 0,
  kMovBandwidthTest,
  kMovTotalNmr,
  kMovWinModDiff1,
  kMovAdb,
  kMovEhs,
  kMovAvgModDiff1,
  kMovAvgModDiff2,
  kMovRmsNoiseLoud,
  kMovMfpd,
  kMovRelDistFrames,
};
extern const char* const kMovNames[kNumMovs];

// What the harmonic-structure measure needs besides the ear tables.
struct HarmonicTables {
  dsp::FftSpec* fft;
  float* buffer;  // 32-byte aligned FFT input and output
  float* work;
  double window[256];
};
int BuildHarmonicTables(HarmonicTables& tables);
void FreeHarmonicTables(HarmonicTables& tables);

// Bandwidths of reference and test in bins of a 48 kHz frame; false when the reference's
// bandwidth is too small for the frame to count.
bool FrameBandwidth(const EarTables& tables, const SignalFrame& ref, const SignalFrame& test, double* bwRef,
                    double* bwTest);

// Mean over bands of noise / masking threshold, and the largest band ratio in dB.
void FrameNoiseToMask(const EarTables& tables, const double* noise, const double* excitationRef, double* meanRatio,
                      double* maxDb);

struct ModulationDifference {
  double diff1;   // offset 1, symmetric
  double diff2;   // offset 0.01, decreases weighted 0.1
  double weight;  // temporal weight of the frame from the reference's loudness
};
ModulationDifference FrameModulationDifference(const EarTables& tables, const ModulationState& ref,
                                               const ModulationState& test);

// Partial loudness of the distortion left after adaptation, in sone.
double FrameNoiseLoudness(const EarTables& tables, const AdaptedPatterns& adapted, const ModulationState& ref,
                          const ModulationState& test);

// Per-band probability of detection and number of just-noticeable steps (4.7).
void FrameDetection(const double* excitationRef, const double* excitationTest, double* probability, double* steps);

// Peak of the spectrum of the autocorrelated log error spectrum (4.6); 0 for identical spectra.
double FrameHarmonicStructure(HarmonicTables& tables, const SignalFrame& ref, const SignalFrame& test);

// Windowed average of the frames' modulation differences: L = 4 frames, fourth-power mean.
double WindowedAverage(const double* values, int count);

}  // namespace aacs::peaq
