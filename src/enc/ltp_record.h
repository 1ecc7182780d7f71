// enc/ltp_record.h — one channel's long-term prediction state and side information.
#pragma once
#include "enc/aac_constants.h"

namespace aacs::enc {

struct LtpRecord {
  alignas(32) float history[4096];       // reconstructed time signal, oldest first
  alignas(32) float predSpectrum[2048];  // MDCT of the prediction (first 1024 lines used)
  int gainIndex;                         // 0..7 into the coefficient table
  int bandUsed[kMaxCodedBands];          // ltp_long_used per band
  int lag;                               // 0..2047
  int present;                           // prediction used in this frame (ltp_data_present)
  int sideBits;                          // 1 when off, bands + 15 when on
};

}  // namespace aacs::enc
