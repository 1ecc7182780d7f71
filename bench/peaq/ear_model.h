// peaq/ear_model.h — the FFT ear model of the basic version (ITU-R BS.1387-1, Annex 2, 2.1).
//
// A 2048-sample Hann frame of one channel becomes a power spectrum at the listening level, the
// outer/middle-ear weighted spectrum, 109 critical-band energies with the ear's internal noise
// (pitch patterns), and the excitation after spreading in frequency and then in time.  The
// tables hold everything that depends only on the sample rate and the listening level.
#pragma once
#include "dsp/primitives.h"

namespace aacs::peaq {

constexpr int kFrameLength = 2048;               // N: analysis frame
constexpr int kHopLength = kFrameLength / 2;     // 50 % overlap
constexpr int kNumBins = kFrameLength / 2 + 1;   // bins 0 .. N/2
constexpr int kNumBands = 109;                   // 80 Hz .. 18 kHz in quarter-Bark steps
constexpr int kMaxBandTerms = kNumBins + 2 * kNumBands;  // (bin, share) pairs of all bands
constexpr double kDefaultListeningLevelDb = 92.0;        // SPL of a full-scale sine

struct EarTables {
  double sampleRate;
  double frameRate;                  // frames per second: sampleRate / hop
  float window[kFrameLength];        // Hann
  double powerScale;                 // |FFT|^2 to power at the listening level
  double outerEar[kNumBins];         // outer and middle ear power weighting per bin
  double centreHz[kNumBands];        // band centre frequencies
  int termStart[kNumBands + 1];      // band b's shares are terms termStart[b] .. termStart[b+1]-1
  int termBin[kMaxBandTerms];
  double termShare[kMaxBandTerms];   // part of the bin's width inside the band
  double internalNoise[kNumBands];   // E_IN, added to the band energies
  double lowerSpread;                // per-band attenuation towards lower bands (27 dB/Bark)
  double upperSlopeBase[kNumBands];  // 24 + 230 / fc dB/Bark before the level term
  double spreadNorm[kNumBands];      // 1 / B_s: spreading of an all-0 dB pattern gives 0 dB
  double timeSpread[kNumBands];      // forgetting factor of time-domain spreading
  double slowSmoothing[kNumBands];   // forgetting factor of adaptation and modulation filters
  double maskOffset[kNumBands];      // masking threshold / excitation, 10^(-m/10)
  double loudnessThreshold[kNumBands];  // E_t of the loudness formula
  double loudnessIndex[kNumBands];      // s of the loudness formula
  dsp::FftSpec* fft;
  float* fftBuffer;                  // kFrameLength floats, 32-byte aligned
  float* fftWork;
};

// One signal (reference or test) of one channel in one frame.
struct SignalFrame {
  double power[kNumBins];          // |X[k]|^2 at the listening level, unweighted
  double weighted[kNumBins];       // outer-ear weighted power
  double pitch[kNumBands];         // band energies plus internal noise
  double unsmeared[kNumBands];     // excitation after frequency spreading (modulation input)
  double excitation[kNumBands];    // excitation after time-domain spreading
};

// Builds the tables; 0 on success, nonzero when the FFT could not be set up.
int BuildEarTables(double sampleRate, double listeningLevelDb, EarTables& tables);
void FreeEarTables(EarTables& tables);

// Power spectra of one frame of samples (16-bit units), plain and outer-ear weighted.
void AnalyseFrame(EarTables& tables, const float* samples, SignalFrame& frame);

// Critical-band energies of a per-bin power spectrum (floored at a tiny energy).
void GroupIntoBands(const EarTables& tables, const double* power, double* bands);

// Pitch patterns, spread excitation; `smearState` carries time-domain spreading across frames.
void ExciteBands(const EarTables& tables, SignalFrame& frame, double* smearState);

// Noise pattern: band energies of the squared difference of the weighted magnitudes.
void NoisePattern(const EarTables& tables, const SignalFrame& ref, const SignalFrame& test, double* noise);

}  // namespace aacs::peaq
