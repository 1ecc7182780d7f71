// psych/psy_state.h — the psychoacoustic model's per-stream state: channel states, work areas,
// partition and spreading tables, attack-detector filters and the model's own transforms.
//
// Everything lives in the stream so that two streams can run on two threads.  The stream is
// zeroed at open; the model fills in its initial values and tables on its first frame.
#pragma once
#include "dsp/primitives.h"
#include "enc/aac_constants.h"
#include "enc/band_tables.h"
#include "enc/filterbank_state.h"

namespace aacs::psych {

constexpr int kMaxLongPartitions = 64;   // threshold partitions are the scalefactor bands
constexpr int kMaxShortPartitions = 32;
constexpr int kToneSnrEntries = 1024;    // tonality -> SNR factor lookup entries
constexpr int kPsyWorkSlots = 4;         // a pair's L, R, M, S; single channels use slot 0
constexpr int kAttackTaps = 32;

// Threshold partitions of one block length: the bands of the selected cb_adapt row.
// Short tables use the first kMaxShortPartitions entries.
struct PartitionTable {
  int sampleRate;
  int numPartitions;
  int start[kMaxLongPartitions];
  int end[kMaxLongPartitions];  // exclusive
  int width[kMaxLongPartitions];
  float invWidth[kMaxLongPartitions];
};

// Bark positions and the normalised spreading matrix of one block length, stored with each row's
// nonzero column range.
struct SpreadingTable {
  float bark[kMaxLongPartitions];
  float weight[kMaxLongPartitions][kMaxLongPartitions];  // [masked][masker], rows sum to 1
  int first[kMaxLongPartitions];
  int last[kMaxLongPartitions];
  int count[kMaxLongPartitions];
};

// Everything the model derives from the sampling rate and the tuning fields at its first frame.
struct PsyTables {
  const enc::CbAdaptRow* row;
  PartitionTable longPart;
  PartitionTable shortPart;
  SpreadingTable longSpread;
  SpreadingTable shortSpread;
  // Unpredictability-indexed and peak-tonality-indexed SNR factors: one table per long
  // partition, one shared by all short partitions.
  float toneSnrLong[kMaxLongPartitions][kToneSnrEntries];
  float peakSnrLong[kMaxLongPartitions][kToneSnrEntries];
  float toneSnrShort[kToneSnrEntries];
  float peakSnrShort[kToneSnrEntries];
  float athShort[kMaxShortPartitions];  // absolute threshold per short partition (power)
};

// One channel slot (channels 0..5, mid/side partners 6..11), kept from frame to frame.
struct PsyChannelState {
  // Long block.
  alignas(32) float lineEnergy[kFrameLength];  // scaled lines, squared in place to energies
  float prevThreshold[kMaxLongBands];          // last frame's long thresholds (temporal control)
  float thresholdRing[2 * kMaxLongBands];
  int thresholdRingPos;                        // 0 or kMaxLongBands
  float spreadEnergy[kMaxLongPartitions];
  float ratio[kMaxLongBands];
  float bandPeakTonality[kMaxLongBands];
  int msLong[kMaxLongBands];  // long mid/side flags (left channel of a pair)
  // Short blocks.
  alignas(32) float shortLineEnergy[kNumShortWindows][kShortLength];
  float shortSpread[kNumShortWindows][kMaxShortPartitions];
  float preEchoThreshold[kNumShortWindows][kMaxShortPartitions];
  float rawThreshold[kNumShortWindows][kMaxShortPartitions];
  float lastRawThreshold[kMaxShortPartitions];  // window 7 of the previous frame
  float shortRatio[kNumShortWindows][kMaxShortBands];
  float prevFirstThreshold[kMaxShortBands];
  int msShort[kNumShortWindows][kMaxShortBands];
  float shortBandSum[kNumShortWindows][kMaxShortPartitions];  // energy sums of the short bands
  // Grouping and block switching.
  float change[3];  // d1, d2, d3: changes of the short-window entropy between window pairs
  int groupClassMinus1;
  int numGroups;
  int groupLength[kNumShortWindows];
  float peHistory[kNumShortWindows];  // short-window entropies of the last block-switching run
  float peTotal;
  // Results of the frame.
  float longPe;
  float shortPe;
  int noiseBand[kMaxLongBands];
};

// The history of one coded channel (0..5): the model's transform input and outputs and the
// magnitude and phase history that the unpredictability measure predicts from.
struct PsyChannelHistory {
  alignas(32) float delay[kFrameLength];  // the previous newFrame: older half of the block
  alignas(32) float longSpectrum[2][2 * kFrameLength];  // alternate frames: MDCT lines (+mirror)
  alignas(32) float shortSpectrum[2][kNumShortWindows * kShortLength];
  alignas(32) float magnitude[3][kFrameLength];  // ring of three frames
  alignas(32) float phaseCos[3][kFrameLength];
  alignas(32) float phaseSin[3][kFrameLength];
  int ringPos;  // frame index of the current frame in the rings
  alignas(32) float shortMagnitude[kNumShortWindows][kShortLength];
  alignas(32) float shortCos[kNumShortWindows][kShortLength];
  alignas(32) float shortSin[kNumShortWindows][kShortLength];
  float carriedMagnitude[2][kShortLength];  // windows 6 and 7 of the previous frame
  float carriedCos[2][kShortLength];
  float carriedSin[2][kShortLength];
  int longBufferIndex;   // buffer written this frame; the other holds the previous frame's
  int shortBufferIndex;
};

// Per-frame working values of one analysed signal.  The unpredictability persists: lines
// above the analysed range keep their earlier values.
struct PsyWorkArea {
  alignas(32) float unpredictability[kFrameLength];
  float partEnergy[kMaxLongPartitions];  // mean line energy per partition
  float partPeak[kMaxLongPartitions];    // largest line energy per partition
  float partChaos[kMaxLongPartitions];   // unpredictability-weighted mean energy
  float zeroSpread[kMaxLongPartitions];  // 1.0 where the spread energy is zero
  float peakTonality[kMaxLongPartitions];
  float snr[kMaxLongPartitions];
  float attackFlag;  // 1.0 = attack
  float bandEnergy[kMaxLongBands];
  float bandThreshold[kMaxLongBands];
  alignas(32) float shortUnpredictability[kNumShortWindows][kShortLength];
  float shortPartEnergy[kNumShortWindows][kMaxShortPartitions];
  float shortPartPeak[kNumShortWindows][kMaxShortPartitions];
  float shortPartChaos[kNumShortWindows][kMaxShortPartitions];
  float shortZeroSpread[kNumShortWindows][kMaxShortPartitions];
  float shortPeakTonality[kNumShortWindows][kMaxShortPartitions];
  float shortSnr[kNumShortWindows][kMaxShortPartitions];
  float shortBandEnergy[kNumShortWindows][kMaxShortBands];
  float shortBandThreshold[kNumShortWindows][kMaxShortBands];
  int groupingMode;  // 3: ratio of sums, 1: smallest threshold
};

struct PsyModelState {
  int psyInitDone;  // set by the first analysed frame of the stream
  int allocated;    // FFT spec records and FIR states exist
  int blockType[kMaxPsySlots];  // the model's kept block decision per slot
  int analysedLines;       // long lines whose unpredictability is measured
  int noiseFlagStartLine;  // bands starting below are never noise-substituted
  int chaosLongLo, chaosLongHi, chaosShortLo, chaosShortHi;  // forced tonal band (exclusive)
  int attackLineLo, attackLineHi;  // short lines of the first block-switching variant

  PsyTables tables;
  PsyChannelState channel[kMaxPsySlots];
  PsyChannelHistory history[kMaxChannels];
  PsyWorkArea work[kPsyWorkSlots];

  // Attack detector: one FIR state (with its delay line) per channel.
  dsp::FirState* attackFir[kMaxChannels];
  alignas(32) float attackFiltered[kFrameLength];

  // The model's own transform: full symmetric KBD analysis windows, real FFTs of the windowed
  // blocks for the unpredictability, and MDCTs identical to the coding filterbank's.
  dsp::FftSpec* fftLong;   // order 11, unscaled
  dsp::FftSpec* fftShort;  // order 8, unscaled
  enc::FilterbankState mdct;
  alignas(32) float longWindow[2 * kFrameLength];
  alignas(32) float shortWindow[2 * kShortLength];
  alignas(32) float block[2 * kFrameLength];
  alignas(32) float shortBlock[2 * kShortLength];
  alignas(32) float fftLongOut[2 * kFrameLength];  // bins 0..1023 as (re, im), bin 0 = (R0, 0)
  alignas(32) float fftShortOut[kNumShortWindows][2 * kShortLength];
  alignas(32) float fftWork[2 * kFrameLength];  // real FFT work: one transform length
  alignas(32) float prediction[kFrameLength];  // predicted magnitudes 2 r1 - r2
};

}  // namespace aacs::psych
