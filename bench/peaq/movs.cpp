// peaq/movs.cpp — per-frame measures of the eleven MOVs.
#include "peaq/movs.h"

#include <algorithm>
#include <cmath>

namespace aacs::peaq {

const char* const kMovNames[kNumMovs] = {"BandwidthRef_B", "BandwidthTest_B", "TotalNMR_B",     "WinModDiff1_B",
                                         "ADB_B",          "EHS_B",           "AvgModDiff1_B",  "AvgModDiff2_B",
                                         "RmsNoiseLoud_B", "MFPD_B",          "RelDistFrames_B"};

namespace {

constexpr double kReferenceBinHz = 48000.0 / kFrameLength;  // bandwidths are counted in these bins
constexpr int kBandwidthTopBin = 921;          // above 21.6 kHz: the test signal's noise floor
constexpr int kBandwidthMinRefBin = 346;       // frames with a narrower reference (8.1 kHz) do not count
constexpr double kRefAboveFloor = 10.0;        // 10 dB: reference bandwidth
constexpr double kTestAboveFloor = 3.16227766; // 5 dB: test bandwidth
constexpr double kModDiff1Offset = 1.0;
constexpr double kModDiff2Offset = 0.01;
constexpr double kModDiff2DecreaseWeight = 0.1;
constexpr double kModWeightLevel = 100.0;       // internal noise (as E^0.3) scale of the temporal weight
constexpr double kNoiseLoudAlpha = 1.5;
constexpr double kNoiseLoudTf0 = 0.15;
constexpr double kNoiseLoudS0 = 0.5;
constexpr double kLoudnessExponent = 0.23;
constexpr double kSoneBands = 24.0;
constexpr int kHarmonicLags = 256;              // correlation length of the error harmonic structure
constexpr int kHarmonicFftOrder = 8;
constexpr double kHarmonicPowerFloor = 1e-30;
constexpr int kModWindow = 4;                   // frames of WinModDiff's sliding window
constexpr double kDetectionLevelMaxWeight = 0.3;  // step-size level: 0.3 max(ref, test) + 0.7 test, in dB

}  // namespace

int BuildHarmonicTables(HarmonicTables& t) {
  t.fft = nullptr;
  t.buffer = static_cast<float*>(dsp::AlignedAlloc(kHarmonicLags * sizeof(float)));
  if (dsp::FftRealSpecCreate(&t.fft, kHarmonicFftOrder, dsp::kFftNoDiv, 0) != dsp::kStsOk || !t.buffer) return 1;
  t.work = static_cast<float*>(dsp::AlignedAlloc(dsp::FftWorkBufferFloats(t.fft) * sizeof(float)));
  if (!t.work) return 1;
  const double gain = 0.5 * std::sqrt(8.0 / 3.0);  // Hann of unit power
  for (int l = 0; l < kHarmonicLags; ++l)
    t.window[l] = gain * (1.0 - std::cos(2.0 * M_PI * l / (kHarmonicLags - 1)));
  return 0;
}

void FreeHarmonicTables(HarmonicTables& t) {
  if (t.fft) dsp::FftRealSpecFree(t.fft);
  dsp::AlignedFree(t.buffer);
  dsp::AlignedFree(t.work);
  t.fft = nullptr;
  t.buffer = t.work = nullptr;
}

bool FrameBandwidth(const EarTables& t, const SignalFrame& ref, const SignalFrame& test, double* bwRef,
                    double* bwTest) {
  const double binHz = t.sampleRate / kFrameLength;
  const int top = std::min(kNumBins - 1, int(std::ceil(kBandwidthTopBin * kReferenceBinHz / binHz)));
  double floor = 0.0;
  for (int k = top; k < kNumBins - 1; ++k) floor = std::max(floor, test.power[k]);
  int r = 0, s = 0;
  for (int k = top - 1; k >= 0 && r == 0; --k)
    if (ref.power[k] >= kRefAboveFloor * floor) r = k + 1;
  for (int k = r - 1; k >= 0 && s == 0; --k)
    if (test.power[k] >= kTestAboveFloor * floor) s = k + 1;
  *bwRef = r * binHz / kReferenceBinHz;
  *bwTest = s * binHz / kReferenceBinHz;
  return *bwRef > kBandwidthMinRefBin;
}

void FrameNoiseToMask(const EarTables& t, const double* noise, const double* excitationRef, double* meanRatio,
                      double* maxDb) {
  double sum = 0.0, peak = 0.0;
  for (int k = 0; k < kNumBands; ++k) {
    const double ratio = noise[k] / (excitationRef[k] * t.maskOffset[k]);
    sum += ratio;
    peak = std::max(peak, ratio);
  }
  *meanRatio = sum / kNumBands;
  *maxDb = 10.0 * std::log10(std::max(peak, 1e-30));
}

ModulationDifference FrameModulationDifference(const EarTables& t, const ModulationState& ref,
                                               const ModulationState& test) {
  ModulationDifference d{0.0, 0.0, 0.0};
  for (int k = 0; k < kNumBands; ++k) {
    const double mr = ref.modulation[k], mt = test.modulation[k];
    const double diff = std::fabs(mt - mr);
    d.diff1 += diff / (kModDiff1Offset + mr);
    d.diff2 += (mt >= mr ? 1.0 : kModDiff2DecreaseWeight) * diff / (kModDiff2Offset + mr);
    const double floor = kModWeightLevel * std::pow(t.internalNoise[k], 0.3);
    d.weight += ref.mean[k] / (ref.mean[k] + floor);
  }
  d.diff1 *= 100.0 / kNumBands;
  d.diff2 *= 100.0 / kNumBands;
  return d;
}

double FrameNoiseLoudness(const EarTables& t, const AdaptedPatterns& p, const ModulationState& ref,
                          const ModulationState& test) {
  double sum = 0.0;
  for (int k = 0; k < kNumBands; ++k) {
    const double sRef = kNoiseLoudTf0 * ref.modulation[k] + kNoiseLoudS0;
    const double sTest = kNoiseLoudTf0 * test.modulation[k] + kNoiseLoudS0;
    const double er = p.ref[k], et = p.test[k], threshold = t.internalNoise[k];
    const double beta = std::exp(-kNoiseLoudAlpha * (et - er) / er);
    const double excess = std::max(sTest * et - sRef * er, 0.0);
    sum += std::pow(threshold / sTest, kLoudnessExponent) *
           (std::pow(1.0 + excess / (threshold + sRef * er * beta), kLoudnessExponent) - 1.0);
  }
  return std::max(sum * kSoneBands / kNumBands, 0.0);
}

void FrameDetection(const double* excitationRef, const double* excitationTest, double* probability, double* steps) {
  const double log2Ten = std::log10(std::log10(2.0));
  for (int k = 0; k < kNumBands; ++k) {
    const double lr = 10.0 * std::log10(excitationRef[k]), lt = 10.0 * std::log10(excitationTest[k]);
    // The level that sets the step size leans on the test signal: a component missing from it
    // is judged at the level that remains, not at the reference's.
    const double l = kDetectionLevelMaxWeight * std::max(lr, lt) + (1.0 - kDetectionLevelMaxWeight) * lt;
    // Detection step size in dB as a function of level (a fit given with 4.7).
    const double s = 5.95072 * std::pow(6.39468 / l, 1.71332) + 9.01033e-11 * std::pow(l, 4) +
                     5.05622e-6 * l * l * l - 0.00102438 * l * l + 0.0550197 * l - 0.198719;
    const double e = lt - lr;
    const double b = lr > lt ? 4.0 : 6.0;
    const double a = std::pow(10.0, log2Ten / b) / s;
    probability[k] = 1.0 - std::pow(10.0, -std::pow(a * e, b));
    steps[k] = std::fabs(std::trunc(e)) / s;
  }
}

namespace {

// Normalised autocorrelation c[l] of the first kHarmonicLags values of d against the same
// number of values l further on, l = 0 .. kHarmonicLags - 1.  False when d starts with zeros only.
bool ErrorAutocorrelation(const double* d, double* c) {
  double energy[2 * kHarmonicLags + 1];
  energy[0] = 0.0;
  for (int i = 0; i < 2 * kHarmonicLags; ++i) energy[i + 1] = energy[i] + d[i] * d[i];
  const double e0 = energy[kHarmonicLags];
  if (e0 <= 0.0) return false;
  for (int l = 0; l < kHarmonicLags; ++l) {
    double sum = 0.0;
    for (int i = 0; i < kHarmonicLags; ++i) sum += d[i] * d[i + l];
    const double el = energy[l + kHarmonicLags] - energy[l];
    c[l] = el > 0.0 ? sum / std::sqrt(e0 * el) : 0.0;
  }
  return true;
}

// Power spectrum (scaled by 1 / lags^2) of the correlation, bins 0 .. lags/2: its mean is
// removed, then it is Hann-windowed.  Without the mean removal a large mean of the log error
// (a decode with many spectral holes) puts a strong low-frequency lobe into the spectrum whose
// tail the peak search picks up instead of the error's harmonic structure; removing the mean
// after the window instead leaves the window's own shape as such a lobe (docs/peaq.md).
void CorrelationSpectrum(HarmonicTables& h, const double* c, double* s) {
  double mean = 0.0;
  for (int l = 0; l < kHarmonicLags; ++l) mean += c[l];
  mean /= kHarmonicLags;
  for (int l = 0; l < kHarmonicLags; ++l) h.buffer[l] = float((c[l] - mean) * h.window[l]);
  dsp::FftRealForward(h.buffer, h.buffer, h.fft, h.work);
  const double norm = 1.0 / (double(kHarmonicLags) * kHarmonicLags);
  const float* x = h.buffer;
  s[0] = double(x[0]) * x[0] * norm;
  s[kHarmonicLags / 2] = double(x[1]) * x[1] * norm;
  for (int k = 1; k < kHarmonicLags / 2; ++k) s[k] = (double(x[2 * k]) * x[2 * k] + double(x[2 * k + 1]) * x[2 * k + 1]) * norm;
}

}  // namespace

double FrameHarmonicStructure(HarmonicTables& h, const SignalFrame& ref, const SignalFrame& test) {
  // The log ratio of test to reference power from bin 1 up: outer-ear weights cancel in it.
  double d[2 * kHarmonicLags], c[kHarmonicLags], s[kHarmonicLags / 2 + 1];
  for (int i = 0; i < 2 * kHarmonicLags; ++i)
    d[i] = std::log(std::max(test.power[i + 1], kHarmonicPowerFloor)) -
           std::log(std::max(ref.power[i + 1], kHarmonicPowerFloor));
  if (!ErrorAutocorrelation(d, c)) return 0.0;
  CorrelationSpectrum(h, c, s);
  // The largest value after the first valley.
  int k = 1;
  while (k <= kHarmonicLags / 2 && s[k] <= s[k - 1]) ++k;
  double peak = 0.0;
  for (; k <= kHarmonicLags / 2; ++k) peak = std::max(peak, s[k]);
  return peak;
}

double WindowedAverage(const double* values, int count) {
  if (count < kModWindow) return 0.0;
  double sum = 0.0;
  for (int n = kModWindow - 1; n < count; ++n) {
    double w = 0.0;
    for (int i = 0; i < kModWindow; ++i) w += std::sqrt(values[n - i]);
    w /= kModWindow;
    sum += w * w * w * w;
  }
  return std::sqrt(sum / (count - kModWindow + 1));
}

}  // namespace aacs::peaq
