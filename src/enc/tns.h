// enc/tns.h — temporal noise shaping: per window, a linear-prediction filter over the lines of a
// frequency range, its reflection coefficients quantised with 4-bit resolution, and the
// all-zero filter applied in place so that the decoder's inverse filter shapes the noise in time.
#pragma once
#include "enc/tns_record.h"

namespace aacs::enc {

// Sets the record's band limits and orders for the rate and profile.  Long filters reach order
// 20 only in the Main profile at rates up to 32000 Hz, 12 otherwise; short filters order 7.
// An unknown rate or a profile without TNS leaves every limit 0, so no filter can be formed.
void TnsInit(int sampleRate, int profile, TnsRecord& rec);
// Decides, quantises and applies the filters of one channel; returns 0 (1 on failure, which
// the in-place filter never produces).  bandCount is the layout's band count, bandOffsets its
// start offsets (short offsets 0..128 for eight-short, applied to every window).  A filter
// whose side information would take the channel's TNS bits over bitCap (halved for
// eight-short) is dropped and its window left unfiltered.
int TNS_Encode_Frame(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                     float* spectrum, TnsRecord& rec, int tnsEnabled, int bitCap);
// Levinson-Durbin on the autocorrelation of n lines; writes parcor[0..order], returns the
// prediction gain r0 / E (0 for an all-zero range).  The recursion stops, leaving the rest of
// the coefficients 0, once a reflection coefficient would reach magnitude 1 or the prediction
// error would stop being positive.
float TnsLpc(int order, int n, const float* x, float* parcor);
// Quantises parcor[1..maxOrder] to 4-bit indices (clamped to -8..7), replaces them by their
// dequantised values, drops the trailing coefficients of magnitude <= 0.1 to set the order,
// and derives lpc[] by the step-up recursion.
void TnsQuantiseFilter(TnsFilter& filter, int maxOrder);
// The all-zero filter y[i] = x[i] + sum_j lpc[j] x[i-j] over n lines in place (direction 1 runs
// from the top line down).  Returns 0; it needs no scratch memory.
int TnsFilterLines(int n, float* lines, const TnsFilter& filter);
// The decoder's all-pole filter y[i] = x[i] - sum_j lpc[j] y[i-j], the exact inverse.
void TnsInverseFilterLines(int n, float* lines, const TnsFilter& filter);
// The decoder's all-pole filter over the same range, per window with a filter (used to
// rebuild the reconstruction for long-term prediction).
void TnsInverseFilter(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                      float* lines, const TnsRecord& rec);
// The all-zero filter over the same range (decoders pass the long-term-prediction estimate
// through it before adding it to the spectrum).
void TnsAnalysisFilter(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                       float* lines, const TnsRecord& rec);

}  // namespace aacs::enc
