// enc/ltp.h — long-term prediction of the LTP object type (ISO/IEC 14496-3, 4.6.6).
//
// Each long block is predicted from the decoder's own time-domain state: a lag and one of
// eight gains select a delayed, scaled segment, which is windowed and transformed like the
// block itself (and passed through the frame's TNS analysis filter), and the predicted lines
// are subtracted in the bands where they lower the residual.  The encoder keeps the decoder's
// state by running the decoder's synthesis on its own reconstruction.
#pragma once
#include "enc/ltp_record.h"

struct StreamContext;

namespace aacs::enc {

extern const float kLtpGains[8];  // ltp_coef table

// Creates the lag search's FFT; 0 on success, 1 without memory.  Release is safe on a zeroed
// or released state.
int LtpSearchInit(LtpSearchState& search);
void LtpSearchRelease(LtpSearchState& search);
// Zeroes the history and the side information.
void LtpInit(LtpRecord& rec);

// c_L = sum_i block[i] * x_L[i] for every lag L = 0..2047, where x_L[i] = history[i + 2048 - L]
// for i < min(2048, L + 1024) and 0 beyond: the decoder's estimate at gain 1.
void LtpCorrelations(const float* block, const float* history, LtpSearchState& search, float* correlation);
// Up to maxCount (at most 4) lags ranked by the normalised correlation of their estimate with
// the block, best first; returns how many correlate positively.
int LtpLagCandidates(const float* block, const float* history, LtpSearchState& search, int* lags, int maxCount);
// The lag whose estimate best matches the 2048-sample block (largest positive normalised
// correlation), or -1 when no lag correlates positively.
int LtpLagSearch(const float* block, const float* history, LtpSearchState& search);
// The decoder's 2048-sample estimate for a lag and gain index.
void LtpEstimate(const float* history, int lag, int gainIndex, float* estimate);

// Pipeline, LTP profile, after TNS and before mid/side: analyses every long channel, subtracts
// the prediction in the bands that pay and sets present, lag, gainIndex and bandUsed.
void PredictLtpFrame(StreamContext& ctx);
// Pipeline, after the rate loops and left/right restoration: adds the used prediction back
// into reconSpectrum and runs the decoder's synthesis for every channel, so that the history
// follows the decoder's.
void UpdateLtp(StreamContext& ctx);

}  // namespace aacs::enc
