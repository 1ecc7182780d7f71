// peaq/ear_model.cpp — FFT ear model: tables, spectra, band grouping and spreading.
#include "peaq/ear_model.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace aacs::peaq {
namespace {

constexpr int kFftOrder = 11;                 // 2^11 = kFrameLength
constexpr double kBandStepBark = 0.25;        // resolution of the basic version
constexpr double kLowestHz = 80.0;
constexpr double kHighestHz = 18000.0;
constexpr double kMinBandEnergy = 1e-12;      // floor of band energies
constexpr double kLowerSlopeDbPerBark = 27.0;
constexpr double kSpreadExponent = 0.4;       // spread contributions add as E^0.4
constexpr double kTimeSpreadTau100 = 0.030;   // time-domain spreading at 100 Hz, s
constexpr double kSlowTau100 = 0.050;         // adaptation and modulation filters at 100 Hz, s
constexpr double kTauMin = 0.008;             // both time constants tend to this at high frequencies
constexpr double kCalibrationHz = 1019.5;     // the sine whose FFT peak sets the listening level
constexpr int kCalibrationFrames = 10;
constexpr double kFullScaleAmplitude = 32767.0;
constexpr double kMaskFlatBark = 12.0;        // below: masking offset 3 dB, above 0.25 dB/Bark * z

double BarkOfHz(double hz) { return 7.0 * std::asinh(hz / 650.0); }
double HzOfBark(double bark) { return 650.0 * std::sinh(bark / 7.0); }

// Outer and middle ear transfer in dB at f kHz (Terhardt's approximation as used by the model).
double OuterEarDb(double khz) {
  return -0.6 * 3.64 * std::pow(khz, -0.8) + 6.5 * std::exp(-0.6 * (khz - 3.3) * (khz - 3.3)) -
         1e-3 * std::pow(khz, 3.6);
}

// Time constant of a band's first-order filter: tauMin at high frequencies, tau100 at 100 Hz.
double ForgettingFactor(double centreHz, double tau100, double frameRate) {
  const double tau = kTauMin + (100.0 / centreHz) * (tau100 - kTauMin);
  return std::exp(-1.0 / (frameRate * tau));
}

// Sum of a^first + ... + a^last (first <= last + 1).
double GeometricSum(double a, int first, int last) {
  if (last < first) return 0.0;
  const int count = last - first + 1;
  if (std::fabs(1.0 - a) < 1e-12) return count;
  return std::pow(a, first) * (1.0 - std::pow(a, count)) / (1.0 - a);
}

// |FFT|^2 of one Hann-windowed frame, unscaled.
void FramePower(EarTables& t, const float* samples, double* power) {
  float* x = t.fftBuffer;
  dsp::VecMul(samples, t.window, x, kFrameLength);
  dsp::FftRealForward(x, x, t.fft, t.fftWork);
  power[0] = double(x[0]) * x[0];
  power[kNumBins - 1] = double(x[1]) * x[1];
  for (int k = 1; k < kNumBins - 1; ++k) power[k] = double(x[2 * k]) * x[2 * k] + double(x[2 * k + 1]) * x[2 * k + 1];
}

// Largest |FFT| of a full-scale 1019.5 Hz sine over ten frames: the level reference.
double CalibrationPeak(EarTables& t) {
  const int length = kHopLength * (kCalibrationFrames - 1) + kFrameLength;
  std::vector<float> sine(length);
  double peak = 0.0, power[kNumBins];
  for (int n = 0; n < length; ++n)
    sine[n] = float(kFullScaleAmplitude * std::sin(2.0 * M_PI * kCalibrationHz * n / t.sampleRate));
  for (int f = 0; f < kCalibrationFrames; ++f) {
    FramePower(t, sine.data() + f * kHopLength, power);
    for (int k = 0; k < kNumBins; ++k) peak = std::max(peak, power[k]);
  }
  return std::sqrt(peak);
}

// The (bin, share) terms of every band: the part of each bin's width [k - 1/2, k + 1/2] that
// lies inside the band's edges.
void BuildBandTerms(EarTables& t) {
  const double binHz = t.sampleRate / kFrameLength;
  const double zLow = BarkOfHz(kLowestHz), zHigh = BarkOfHz(kHighestHz);
  int term = 0;
  for (int b = 0; b < kNumBands; ++b) {
    const double z0 = zLow + b * kBandStepBark, z1 = std::min(z0 + kBandStepBark, zHigh);
    const double lo = HzOfBark(z0), hi = HzOfBark(z1);
    t.centreHz[b] = HzOfBark(0.5 * (z0 + z1));
    t.termStart[b] = term;
    const int first = std::max(0, int(std::floor(lo / binHz - 0.5)));
    const int last = std::min(kNumBins - 1, int(std::ceil(hi / binHz + 0.5)));
    for (int k = first; k <= last; ++k) {
      const double share = (std::min(hi, (k + 0.5) * binHz) - std::max(lo, (k - 0.5) * binHz)) / binHz;
      if (share <= 0.0) continue;
      t.termBin[term] = k;
      t.termShare[term++] = share;
    }
  }
  t.termStart[kNumBands] = term;
}

void BuildBandConstants(EarTables& t) {
  for (int b = 0; b < kNumBands; ++b) {
    const double fc = t.centreHz[b], khz = fc / 1000.0;
    t.internalNoise[b] = std::pow(10.0, 0.4 * 0.364 * std::pow(khz, -0.8));
    t.upperSlopeBase[b] = 24.0 + 230.0 / fc;
    t.timeSpread[b] = ForgettingFactor(fc, kTimeSpreadTau100, t.frameRate);
    t.slowSmoothing[b] = ForgettingFactor(fc, kSlowTau100, t.frameRate);
    const double bark = b * kBandStepBark;
    const double maskDb = bark <= kMaskFlatBark ? 3.0 : 0.25 * bark;
    t.maskOffset[b] = std::pow(10.0, -maskDb / 10.0);
    t.loudnessThreshold[b] = std::pow(10.0, 0.364 * std::pow(khz, -0.8));
    t.loudnessIndex[b] =
        std::pow(10.0, 0.1 * (-2.0 - 2.05 * std::atan(fc / 4000.0) - 0.75 * std::atan(khz / 1.6 * khz / 1.6)));
  }
  t.lowerSpread = std::pow(10.0, -kLowerSlopeDbPerBark * kBandStepBark / 10.0);
}

// Frequency spreading (2.1.7): each band's energy spreads with 27 dB/Bark downwards and
// 24 + 230/fc - 0.2 L dB/Bark upwards, normalised to keep its energy; the contributions add
// as E^0.4.  The result is not yet divided by B_s.
void SpreadUnnormalised(const EarTables& t, const double* pitch, double* out) {
  double upward[kNumBands] = {}, weight[kNumBands];
  for (int k = 0; k < kNumBands; ++k) {
    const double levelDb = 10.0 * std::log10(pitch[k]);
    const double slopeDb = (t.upperSlopeBase[k] - 0.2 * levelDb) * kBandStepBark;
    const double upper = std::pow(10.0, -slopeDb / 10.0);
    const double total = GeometricSum(t.lowerSpread, 1, k) + GeometricSum(upper, 0, kNumBands - 1 - k);
    weight[k] = std::pow(pitch[k] / total, kSpreadExponent);
    const double step = std::pow(upper, kSpreadExponent);
    double v = weight[k];
    for (int l = k; l < kNumBands && v > 0.0; ++l, v *= step) upward[l] += v;
  }
  const double down = std::pow(t.lowerSpread, kSpreadExponent);
  double downward = 0.0;  // contributions of the bands above l, attenuated to l
  for (int l = kNumBands - 1; l >= 0; --l) {
    if (l < kNumBands - 1) downward = down * (downward + weight[l + 1]);
    out[l] = std::pow(upward[l] + downward, 1.0 / kSpreadExponent);
  }
}

}  // namespace

int BuildEarTables(double sampleRate, double listeningLevelDb, EarTables& t) {
  t.sampleRate = sampleRate;
  t.frameRate = sampleRate / kHopLength;
  t.fft = nullptr;
  t.fftBuffer = static_cast<float*>(dsp::AlignedAlloc(kFrameLength * sizeof(float)));
  if (dsp::FftRealSpecCreate(&t.fft, kFftOrder, dsp::kFftNoDiv, 0) != dsp::kStsOk || !t.fftBuffer) return 1;
  t.fftWork = static_cast<float*>(dsp::AlignedAlloc(dsp::FftWorkBufferFloats(t.fft) * sizeof(float)));
  if (!t.fftWork) return 1;
  for (int n = 0; n < kFrameLength; ++n)
    t.window[n] = float(0.5 * (1.0 - std::cos(2.0 * M_PI * n / (kFrameLength - 1))));
  const double scale = std::pow(10.0, listeningLevelDb / 20.0) / CalibrationPeak(t);
  t.powerScale = scale * scale;
  t.outerEar[0] = 0.0;
  for (int k = 1; k < kNumBins; ++k)
    t.outerEar[k] = std::pow(10.0, OuterEarDb(k * sampleRate / kFrameLength / 1000.0) / 10.0);
  BuildBandTerms(t);
  BuildBandConstants(t);
  double ones[kNumBands], spreadOnes[kNumBands];
  std::fill(ones, ones + kNumBands, 1.0);
  SpreadUnnormalised(t, ones, spreadOnes);
  for (int b = 0; b < kNumBands; ++b) t.spreadNorm[b] = 1.0 / spreadOnes[b];
  return 0;
}

void FreeEarTables(EarTables& t) {
  if (t.fft) dsp::FftRealSpecFree(t.fft);
  dsp::AlignedFree(t.fftBuffer);
  dsp::AlignedFree(t.fftWork);
  t.fft = nullptr;
  t.fftBuffer = t.fftWork = nullptr;
}

void AnalyseFrame(EarTables& t, const float* samples, SignalFrame& frame) {
  FramePower(t, samples, frame.power);
  for (int k = 0; k < kNumBins; ++k) {
    frame.power[k] *= t.powerScale;
    frame.weighted[k] = frame.power[k] * t.outerEar[k];
  }
}

void GroupIntoBands(const EarTables& t, const double* power, double* bands) {
  for (int b = 0; b < kNumBands; ++b) {
    double sum = 0.0;
    for (int i = t.termStart[b]; i < t.termStart[b + 1]; ++i) sum += t.termShare[i] * power[t.termBin[i]];
    bands[b] = std::max(sum, kMinBandEnergy);
  }
}

void ExciteBands(const EarTables& t, SignalFrame& frame, double* smearState) {
  GroupIntoBands(t, frame.weighted, frame.pitch);
  for (int b = 0; b < kNumBands; ++b) frame.pitch[b] += t.internalNoise[b];
  SpreadUnnormalised(t, frame.pitch, frame.unsmeared);
  for (int b = 0; b < kNumBands; ++b) {
    const double e = frame.unsmeared[b] * t.spreadNorm[b];
    frame.unsmeared[b] = e;
    // Time-domain spreading (2.1.8): a first-order decay that the excitation cannot fall below.
    smearState[b] = t.timeSpread[b] * smearState[b] + (1.0 - t.timeSpread[b]) * e;
    frame.excitation[b] = std::max(smearState[b], e);
  }
}

void NoisePattern(const EarTables& t, const SignalFrame& ref, const SignalFrame& test, double* noise) {
  double diff[kNumBins];
  for (int k = 0; k < kNumBins; ++k) {
    const double d = std::sqrt(ref.weighted[k]) - std::sqrt(test.weighted[k]);
    diff[k] = d * d;
  }
  GroupIntoBands(t, diff, noise);
}

}  // namespace aacs::peaq
