// quant/dequantiser.h — the inverse quantisation exactly as decoders compute it.
//
// A decoder forms each line as the single-precision product of |q|^(4/3) (a float table
// computed in double precision) and 2^((sf - 100)/4) (a float table), with pulse amplitudes
// added to |q| first.  The prediction tools learn from these values, so they must be the same
// floats, not merely close.
#pragma once
#include "quant/channel_coding_record.h"

namespace aacs::quant {

// |q|^(4/3) for q = 0..kMaxDequantisedMagnitude as a decoder's table holds it.
constexpr int kMaxDequantisedMagnitude = 8191 + 15;  // escape maximum plus the largest pulse
float DecoderPower43(int magnitude);
// 2^((sf - 100)/4) for bitstream scalefactors 0..255.
float DecoderScale(int scalefactor);

// The lines a decoder dequantises from rec (after the final coding stage: bitstream
// scalefactors, codebooks, pulses), written at their window positions into out (1024 values).
// Zero, noise and intensity bands give 0: noise is generated and intensity lines are derived
// only after prediction.
void DequantiseLikeDecoder(const ChannelCodingRecord& rec, float* out);

}  // namespace aacs::quant
