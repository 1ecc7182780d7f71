// peaq/peaq.cpp — the frame loop and the temporal and channel averaging of the MOVs.
#include "peaq/peaq.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "dsp/cpu_detect.h"
#include "peaq/neural_net.h"
#include "peaq/pattern_processing.h"

namespace aacs::peaq {
namespace {

constexpr double kBoundaryLevel = 200.0;       // data boundary: 5 consecutive |x| summing above this
constexpr int kBoundaryRun = 5;
constexpr double kEnergyThreshold = 8000.0;    // second half-frame energy below which a frame is quiet
constexpr double kAveragingDelaySeconds = 0.5; // modulation and noise loudness settle first
constexpr double kLoudnessThresholdSone = 0.1; // noise loudness counts once both signals are this loud,
constexpr double kLoudnessDelaySeconds = 0.05; // ... from this long after the first such frame
constexpr double kDisturbedFrameDb = 1.5;      // RelDistFrames: largest band NMR above this
constexpr double kDetectionSmoothing = 0.9;    // MFPD's first-order filter of the detection probability
constexpr double kDistortedProbability = 0.5;  // ADB counts frames detected with more than this
constexpr double kAdbWithoutSteps = -0.5;      // ADB of distorted frames without a full step

// Running sums of one channel pair.
struct ChannelSums {
  double bwRef = 0, bwTest = 0;
  int bwFrames = 0;
  double nmr = 0;
  int nmrFrames = 0, disturbed = 0;
  std::vector<double> modDiff1;
  double modDiff1Weighted = 0, modDiff2Weighted = 0, modWeight = 0;
  double noiseLoudSquared = 0;
  int noiseFrames = 0;
  double ehs = 0;
  int ehsFrames = 0;
};

// Filter states and per-frame data of one channel pair.
struct ChannelRun {
  double smearRef[kNumBands] = {}, smearTest[kNumBands] = {};
  ModulationState modRef, modTest;
  AdaptationState adapt;
  int framesSinceLoud = -1;  // frames since both signals first reached the loudness threshold
  SignalFrame ref, test;
  double noise[kNumBands];
  double probability[kNumBands], steps[kNumBands];
  ChannelSums sums;
};

// Binaural detection sums (ADB, MFPD).
struct DetectionSums {
  double stepSum = 0;
  int distorted = 0;
  double filtered = 0, maxFiltered = 0;
};

// Which frames count for which MOVs.
struct FrameGates {
  bool inside;     // within the data boundary
  bool settled;    // past the averaging delay
  bool energetic;  // either signal above the energy threshold
};

// First and last sample where 5 consecutive absolute values of any channel of either signal
// sum above the boundary level; false for a silent pair.
bool FindDataBoundary(const AudioSignal& ref, const AudioSignal& test, long* first, long* last) {
  *first = ref.length;
  *last = -1;
  for (const AudioSignal* s : {&ref, &test})
    for (int c = 0; c < s->channels; ++c) {
      const float* x = s->samples[c].data();
      double run = 0.0;
      for (long i = 0; i < s->length; ++i) {
        run += std::fabs(x[i]) - (i >= kBoundaryRun ? std::fabs(x[i - kBoundaryRun]) : 0.0);
        if (i + 1 < kBoundaryRun || run <= kBoundaryLevel) continue;
        *first = std::min(*first, i + 1 - kBoundaryRun);
        *last = std::max(*last, i);
      }
    }
  return *last >= 0;
}

double HalfFrameEnergy(const float* frame) {
  double e = 0.0;
  for (int i = kHopLength; i < kFrameLength; ++i) e += double(frame[i]) * frame[i];
  return e;
}

// Runs one frame of one channel pair through the ear model and the per-frame measures.
void ProcessChannelFrame(EarTables& ear, HarmonicTables& harmonic, const float* refFrame, const float* testFrame,
                         const FrameGates& gates, ChannelRun& run) {
  AnalyseFrame(ear, refFrame, run.ref);
  AnalyseFrame(ear, testFrame, run.test);
  ExciteBands(ear, run.ref, run.smearRef);
  ExciteBands(ear, run.test, run.smearTest);
  NoisePattern(ear, run.ref, run.test, run.noise);
  UpdateModulation(ear, run.ref.unsmeared, run.modRef);
  UpdateModulation(ear, run.test.unsmeared, run.modTest);
  AdaptedPatterns adapted;
  AdaptPatterns(ear, run.ref.excitation, run.test.excitation, run.adapt, adapted);
  FrameDetection(run.ref.excitation, run.test.excitation, run.probability, run.steps);
  if (run.framesSinceLoud >= 0)
    ++run.framesSinceLoud;
  else if (TotalLoudness(ear, run.ref.excitation) >= kLoudnessThresholdSone &&
           TotalLoudness(ear, run.test.excitation) >= kLoudnessThresholdSone)
    run.framesSinceLoud = 0;
  const bool loudEnough = run.framesSinceLoud >= std::ceil(kLoudnessDelaySeconds * ear.frameRate);
  if (!gates.inside) return;

  ChannelSums& s = run.sums;
  double bwRef, bwTest, ratio, maxDb;
  if (FrameBandwidth(ear, run.ref, run.test, &bwRef, &bwTest)) {
    s.bwRef += bwRef;
    s.bwTest += bwTest;
    ++s.bwFrames;
  }
  FrameNoiseToMask(ear, run.noise, run.ref.excitation, &ratio, &maxDb);
  s.nmr += ratio;
  ++s.nmrFrames;
  s.disturbed += maxDb > kDisturbedFrameDb;
  if (gates.energetic) {
    s.ehs += FrameHarmonicStructure(harmonic, run.ref, run.test);
    ++s.ehsFrames;
  }
  if (gates.settled && gates.energetic) {
    const ModulationDifference md = FrameModulationDifference(ear, run.modRef, run.modTest);
    s.modDiff1.push_back(md.diff1);
    s.modDiff1Weighted += md.weight * md.diff1;
    s.modDiff2Weighted += md.weight * md.diff2;
    s.modWeight += md.weight;
  }
  if (gates.settled && loudEnough) {
    const double nl = FrameNoiseLoudness(ear, adapted, run.modRef, run.modTest);
    s.noiseLoudSquared += nl * nl;
    ++s.noiseFrames;
  }
}

// Binaural detection: per band the larger probability and step count of the channels.
void AccumulateDetection(const ChannelRun* runs, int channels, DetectionSums& d) {
  double undetected = 1.0, steps = 0.0;
  for (int k = 0; k < kNumBands; ++k) {
    double p = 0.0, q = 0.0;
    for (int c = 0; c < channels; ++c) {
      p = std::max(p, runs[c].probability[k]);
      q = std::max(q, runs[c].steps[k]);
    }
    undetected *= 1.0 - p;
    steps += q;
  }
  const double detected = 1.0 - undetected;
  d.filtered = kDetectionSmoothing * d.filtered + (1.0 - kDetectionSmoothing) * detected;
  d.maxFiltered = std::max(d.maxFiltered, d.filtered);
  if (detected > kDistortedProbability) {
    ++d.distorted;
    d.stepSum += steps;
  }
}

// The nine per-channel MOVs of one channel pair.
void ChannelMovs(const ChannelSums& s, double* movs) {
  movs[kMovBandwidthRef] = s.bwFrames ? s.bwRef / s.bwFrames : 0.0;
  movs[kMovBandwidthTest] = s.bwFrames ? s.bwTest / s.bwFrames : 0.0;
  movs[kMovTotalNmr] = s.nmrFrames ? 10.0 * std::log10(std::max(s.nmr / s.nmrFrames, 1e-30)) : 0.0;
  movs[kMovRelDistFrames] = s.nmrFrames ? double(s.disturbed) / s.nmrFrames : 0.0;
  movs[kMovWinModDiff1] = WindowedAverage(s.modDiff1.data(), int(s.modDiff1.size()));
  movs[kMovAvgModDiff1] = s.modWeight > 0 ? s.modDiff1Weighted / s.modWeight : 0.0;
  movs[kMovAvgModDiff2] = s.modWeight > 0 ? s.modDiff2Weighted / s.modWeight : 0.0;
  movs[kMovRmsNoiseLoud] = s.noiseFrames ? std::sqrt(s.noiseLoudSquared / s.noiseFrames) : 0.0;
  movs[kMovEhs] = s.ehsFrames ? 1000.0 * s.ehs / s.ehsFrames : 0.0;
}

void DetectionMovs(const DetectionSums& d, double* movs) {
  movs[kMovMfpd] = d.maxFiltered;
  if (d.distorted == 0)
    movs[kMovAdb] = 0.0;
  else if (d.stepSum > 0.0)
    movs[kMovAdb] = std::log10(d.stepSum / d.distorted);
  else
    movs[kMovAdb] = kAdbWithoutSteps;
}

}  // namespace

int MeasureQuality(const AudioSignal& ref, const AudioSignal& test, const PeaqOptions& options, PeaqResult& result) {
  if (ref.length < kFrameLength) return kPeaqTooShort;
  dsp::BindPrimitivesOnce();
  auto ear = std::make_unique<EarTables>();
  HarmonicTables harmonic{};
  if (BuildEarTables(ref.sampleRate, options.listeningLevelDb, *ear) || BuildHarmonicTables(harmonic)) {
    FreeEarTables(*ear);
    FreeHarmonicTables(harmonic);
    return kPeaqInternal;
  }
  const int channels = ref.channels;
  auto runs = std::make_unique<ChannelRun[]>(channels);
  for (int c = 0; c < channels; ++c) {
    ResetModulation(runs[c].modRef);
    ResetModulation(runs[c].modTest);
    ResetAdaptation(runs[c].adapt);
  }
  DetectionSums detection;
  long first = 0, last = ref.length - 1;
  FindDataBoundary(ref, test, &first, &last);
  const long frames = (ref.length - kFrameLength) / kHopLength + 1;
  const long firstFrame = std::max(0L, (first - kFrameLength) / kHopLength + 1);
  const long lastFrame = std::min(frames - 1, last / kHopLength);
  const long settleFrame = firstFrame + long(std::ceil(kAveragingDelaySeconds * ear->frameRate));

  for (long n = 0; n < frames; ++n) {
    FrameGates gates{n >= firstFrame && n <= lastFrame, n >= settleFrame, false};
    const long offset = n * kHopLength;
    for (int c = 0; c < channels; ++c)
      gates.energetic = gates.energetic || HalfFrameEnergy(ref.samples[c].data() + offset) >= kEnergyThreshold ||
                        HalfFrameEnergy(test.samples[c].data() + offset) >= kEnergyThreshold;
    for (int c = 0; c < channels; ++c)
      ProcessChannelFrame(*ear, harmonic, ref.samples[c].data() + offset, test.samples[c].data() + offset, gates,
                          runs[c]);
    if (gates.inside && gates.energetic) AccumulateDetection(runs.get(), channels, detection);
  }

  std::fill(result.movs, result.movs + kNumMovs, 0.0);
  for (int c = 0; c < channels; ++c) {
    double movs[kNumMovs] = {};
    ChannelMovs(runs[c].sums, movs);
    for (int i = 0; i < kNumMovs; ++i) result.movs[i] += movs[i] / channels;
  }
  DetectionMovs(detection, result.movs);
  result.distortionIndex = DistortionIndex(result.movs);
  result.odg = ObjectiveDifferenceGrade(result.distortionIndex);
  FreeEarTables(*ear);
  FreeHarmonicTables(harmonic);
  return kPeaqOk;
}

}  // namespace aacs::peaq
