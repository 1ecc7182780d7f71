// enc/decoder_mirror.h — the decoder's synthesis of a channel, run inside the encoder.
//
// From the full reconstruction of a frame's spectrum (dequantised, left/right, predictions
// added) it applies the TNS decoding filter, the inverse transform with the frame's windows and
// the overlap-add, exactly as a decoder does, and keeps the decoder's time-domain state.  Long-
// term prediction predicts from that state; tests compare its output with real decoders.
#pragma once

struct StreamContext;

namespace aacs::enc {

// Called once per coded frame and channel with the 1024 samples a decoder outputs (16-bit
// scale, not rounded).  Test hook; null by default.
using ReconstructionSink = void (*)(void* user, int channel, const float* samples);
void SetReconstructionSink(StreamContext& ctx, ReconstructionSink sink, void* user);

// Synthesises channel c from ctx.reconSpectrum[c] (TNS decoding is applied in place) and
// advances ctx.ltp[c].history.
void SynthesiseChannel(StreamContext& ctx, int c);

}  // namespace aacs::enc
