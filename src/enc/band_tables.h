// enc/band_tables.h — scalefactor band offsets and per-rate tool limits of the AAC standard.
//
// Indexed by sampling-frequency index (0 = 96000 ... 11 = 8000 Hz).  The scalefactor bands are
// also the psychoacoustic model's partitions: the cb_adapt row of a rate holds the widths of
// these offsets (32000 Hz has its own long table and the 48 kHz short table).
#pragma once
#include "enc/aac_constants.h"

namespace aacs::enc {

extern const int kNumSwbLong[kNumSampleRates];
extern const int kNumSwbShort[kNumSampleRates];
// Band starts followed by the end of the last band (1024 or 128), zero-padded.
extern const int kSwbOffsetLong[kNumSampleRates][kMaxLongBands + 1];
extern const int kSwbOffsetShort[kNumSampleRates][kMaxShortBands + 1];
extern const int kPredSfbMax[kNumSampleRates];
extern const int kTnsMaxBandsLong[kNumSampleRates];
extern const int kTnsMaxBandsShort[kNumSampleRates];

// One row of the cb_adapt table: rate, band counts and widths (zeros after the last band).
struct CbAdaptRow {
  int sampleRate;
  int numLong;
  int numShort;
  int longWidth[kMaxLongBands];
  int shortWidth[kMaxShortBands];
};

// The table's rows in rate order 8000 ... 96000 followed by a terminator row with rate -1.
const CbAdaptRow* CbAdaptTable();
// The row whose rate equals sampleRate, or null.
const CbAdaptRow* FindCbAdaptRow(int sampleRate);

}  // namespace aacs::enc
