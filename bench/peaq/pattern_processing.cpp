// peaq/pattern_processing.cpp — adaptation, modulation and loudness.
#include "peaq/pattern_processing.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace aacs::peaq {
namespace {

constexpr double kEnvelopeExponent = 0.3;     // modulation works on E^0.3
constexpr double kModulationOffset = 0.3;     // mod = slope / (1 + mean / 0.3)
constexpr int kAdaptBandsBelow = 3;           // pattern correction averaged over bands k-3 .. k+4
constexpr int kAdaptBandsAbove = 4;
constexpr double kLoudnessExponent = 0.23;
constexpr double kLoudnessReference = 1e4;    // E0
constexpr double kLoudnessConstant = 1.07664; // scales a 1 kHz 40 dB tone to 1 sone
constexpr double kSoneBands = 24.0;           // loudness sums to 24 Bark

// Level adaptation (3.1.1): one factor per frame brings the louder signal down to the other.
void AdaptLevel(const EarTables& t, const double* ref, const double* test, AdaptationState& s, double* outRef,
                double* outTest) {
  double cross = 0.0, testSum = 0.0;
  for (int k = 0; k < kNumBands; ++k) {
    const double a = t.slowSmoothing[k];
    s.levelRef[k] = a * s.levelRef[k] + (1.0 - a) * ref[k];
    s.levelTest[k] = a * s.levelTest[k] + (1.0 - a) * test[k];
    cross += std::sqrt(s.levelRef[k] * s.levelTest[k]);
    testSum += s.levelTest[k];
  }
  const double ratio = testSum > 0.0 ? cross / testSum : 1.0;
  const double correction = ratio * ratio;
  for (int k = 0; k < kNumBands; ++k) {
    outRef[k] = correction > 1.0 ? ref[k] / correction : ref[k];
    outTest[k] = correction > 1.0 ? test[k] : test[k] * correction;
  }
}

// Per-band correction ratios of pattern adaptation before averaging over neighbouring bands.
// The smoothed ratio test/reference decides which signal is the stronger in a band, and that one
// is lowered towards the other: its factor is weaker/stronger (at most 1), the other's is 1.
// (Raising the weaker one instead, as an earlier version did, inflates the noise loudness of
// decodes with spectral holes; docs/peaq.md.)  Bands where either product is still zero keep the
// neighbour's factors.
void CorrectionRatios(const EarTables& t, const double* ref, const double* test, AdaptationState& s, double* rRef,
                      double* rTest) {
  for (int k = 0; k < kNumBands; ++k) {
    const double a = t.slowSmoothing[k];
    s.corrNum[k] = a * s.corrNum[k] + test[k] * ref[k];
    s.corrDen[k] = a * s.corrDen[k] + ref[k] * ref[k];
    const double num = s.corrNum[k], den = s.corrDen[k];
    if (num > 0.0 && den > 0.0) {
      rRef[k] = num >= den ? 1.0 : num / den;
      rTest[k] = num >= den ? den / num : 1.0;
    } else {
      rRef[k] = k > 0 ? rRef[k - 1] : 1.0;
      rTest[k] = k > 0 ? rTest[k - 1] : 1.0;
    }
  }
}

// Average of v over bands k-3 .. k+4, cut at the ends of the band range.
double NeighbourMean(const double* v, int k) {
  const int lo = std::max(0, k - kAdaptBandsBelow), hi = std::min(kNumBands - 1, k + kAdaptBandsAbove);
  double sum = 0.0;
  for (int i = lo; i <= hi; ++i) sum += v[i];
  return sum / (hi - lo + 1);
}

}  // namespace

void ResetModulation(ModulationState& s) { std::memset(&s, 0, sizeof s); }
void ResetAdaptation(AdaptationState& s) { std::memset(&s, 0, sizeof s); }

void UpdateModulation(const EarTables& t, const double* unsmeared, ModulationState& s) {
  for (int k = 0; k < kNumBands; ++k) {
    const double a = t.slowSmoothing[k];
    const double e = std::pow(unsmeared[k], kEnvelopeExponent);
    s.slope[k] = a * s.slope[k] + (1.0 - a) * t.frameRate * std::fabs(e - s.previous[k]);
    s.mean[k] = a * s.mean[k] + (1.0 - a) * e;
    s.previous[k] = e;
    s.modulation[k] = s.slope[k] / (1.0 + s.mean[k] / kModulationOffset);
  }
}

void AdaptPatterns(const EarTables& t, const double* excitationRef, const double* excitationTest,
                   AdaptationState& s, AdaptedPatterns& out) {
  double ref[kNumBands], test[kNumBands], rRef[kNumBands], rTest[kNumBands];
  AdaptLevel(t, excitationRef, excitationTest, s, ref, test);
  CorrectionRatios(t, ref, test, s, rRef, rTest);
  for (int k = 0; k < kNumBands; ++k) {
    const double a = t.slowSmoothing[k];
    s.corrRef[k] = a * s.corrRef[k] + (1.0 - a) * NeighbourMean(rRef, k);
    s.corrTest[k] = a * s.corrTest[k] + (1.0 - a) * NeighbourMean(rTest, k);
    out.ref[k] = ref[k] * s.corrRef[k];
    out.test[k] = test[k] * s.corrTest[k];
  }
}

double TotalLoudness(const EarTables& t, const double* excitation) {
  double sum = 0.0;
  for (int k = 0; k < kNumBands; ++k) {
    const double et = t.loudnessThreshold[k], s = t.loudnessIndex[k];
    const double n = kLoudnessConstant * std::pow(et / (s * kLoudnessReference), kLoudnessExponent) *
                     (std::pow(1.0 - s + s * excitation[k] / et, kLoudnessExponent) - 1.0);
    sum += std::max(n, 0.0);
  }
  return sum * kSoneBands / kNumBands;
}

}  // namespace aacs::peaq
