// enc/ltp_record.h — one channel's long-term prediction state and side information, and the
// stream's lag-search work area.
//
// history is the decoder's own time-domain state (ISO/IEC 14496-3, 4.6.6): the previous
// frame's output, the current frame's output and the windowed second half of the current
// inverse transform not yet overlap-added, all at the signal's scale.
#pragma once
#include "dsp/primitives.h"
#include "enc/aac_constants.h"

namespace aacs::enc {

constexpr int kLtpHistoryLength = 3 * kFrameLength;
constexpr int kLtpMaxLongBands = 40;  // MAX_LTP_LONG_SFB

struct LtpRecord {
  alignas(32) float history[kLtpHistoryLength];
  alignas(32) float predSpectrum[2 * kFrameLength];  // the estimate's lines as the decoder adds them
  int gainIndex;                 // 0..7 into the coefficient table
  int bandUsed[kMaxCodedBands];  // ltp_long_used per band
  int lag;                       // 0..2047
  int present;                   // ltp_data_present of this channel
  int sideBits;                  // bits of ltp_data: 1 when off, 15 + bands when on
  int synthesisShape;            // window shape of the last synthesised frame (decoders start with sine)
};

// Cross-correlation of the coded block with the history by one 4096-point complex FFT pair.
constexpr int kLtpFftOrder = 12;
constexpr int kLtpFftLength = 1 << kLtpFftOrder;

struct LtpSearchState {
  dsp::FftSpec* fft;  // forward unscaled, inverse divided by N
  alignas(32) float packed[2 * kLtpFftLength];
  alignas(32) float transformed[2 * kLtpFftLength];
  alignas(32) float work[2 * kLtpFftLength];
  double energyPrefix[kLtpHistoryLength + 1];
};

}  // namespace aacs::enc
