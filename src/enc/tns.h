// enc/tns.h — temporal noise shaping: per window, a linear-prediction filter over the lines of a
// frequency range, its reflection coefficients quantised with 4-bit resolution, and the
// all-zero filter applied in place so that the decoder's inverse filter shapes the noise in time.
#pragma once
#include "enc/tns_record.h"

namespace aacs::enc {

// Sets the record's band limits and orders for the rate and profile.
void TnsInit(int sampleRate, int profile, TnsRecord& rec);
// Decides, quantises and applies the filters of one channel; returns 0 (1 on failure).
// bandOffsets are the start offsets of the block's layout (per window for eight-short).
int TNS_Encode_Frame(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                     float* spectrum, TnsRecord& rec, int tnsEnabled, int bitCap);
// Levinson-Durbin on the autocorrelation of n lines; writes parcor[0..order], returns the
// prediction gain r0 / E (0 for an all-zero range).
float TnsLpc(int order, int n, const float* x, float* parcor);
// The decoder's all-pole filter over the same range, per window with a filter (used to
// rebuild the reconstruction for long-term prediction).
void TnsInverseFilter(int bandCount, int maxSfb, int windowSequence, const int* bandOffsets,
                      float* lines, const TnsRecord& rec);

}  // namespace aacs::enc
