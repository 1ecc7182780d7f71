// psych/psy_results.h — what the psychoacoustic model hands to the rest of the encoder.
//
// Per channel slot (12: channels 0..5, then the mid and side partners of pairs) the model
// writes one long and one short result; the pipeline keeps two copies and codes each frame
// with the copy written when that frame was the newest one.  The results carry their own
// band ratios (not pointers into the model's state), so the coded frame always uses the
// analysis of its own samples.
#pragma once
#include "enc/aac_constants.h"

namespace aacs::psych {

struct PsyLongResult {
  float ratio[kMaxLongBands];     // allowed noise / energy per long band
  float pe;                       // long-block perceptual entropy
  const int* bandWidth;           // long band widths of the cb_adapt row (64 entries)
  int msUsed[kMaxLongBands];      // second channel of a pair: the long mid/side flags
  int noiseBand[kMaxLongBands];   // band is noise-like and marked for noise substitution
  int intensity[kMaxLongBands];   // intensity flags (never set by the model)
  int numBands;
};

struct PsyShortWindowResult {
  float ratio[kMaxShortBands];    // allowed noise / energy per short band of this window
  const int* bandWidth;           // short band widths of the cb_adapt row (16 entries)
  int msUsed[kMaxShortBands];     // second channel of a pair: mid/side flags of this window
  int intensity[kMaxShortBands];  // intensity flags (never set by the model)
  int numBands;
  // Window record 0 only:
  float pe;                       // short-block perceptual entropy
  int groupClassMinus1;
  int numGroups;
  int groupLength[kNumShortWindows];
};

struct PsyShortResult {
  PsyShortWindowResult window[kNumShortWindows];
};

}  // namespace aacs::psych
