// enc/decoder_mirror.cpp — decoder-side synthesis of the encoder's reconstruction.
#include "enc/decoder_mirror.h"

#include "api/stream_context.h"
#include "dsp/primitives.h"
#include "enc/filterbank.h"
#include "enc/tns.h"

namespace aacs::enc {

void SetReconstructionSink(StreamContext& ctx, ReconstructionSink sink, void* user) {
  ctx.reconSink = sink;
  ctx.reconSinkUser = user;
}

void SynthesiseChannel(StreamContext& ctx, int c) {
  const quant::ChannelCodingRecord& rec = ctx.coding[c];
  float* spectrum = ctx.reconSpectrum[c];
  TnsInverseFilter(rec.numSwb, rec.maxSfb, rec.windowSequence, rec.swbOffset, spectrum, ctx.tns[c]);
  alignas(32) float block[2 * kFrameLength];
  // The left half takes the shape of the frame the decoder synthesised before (sine before the
  // first frame, whatever the encoder's analysis assumed).
  LtpRecord& lr = ctx.ltp[c];
  SynthesisFilterbank(spectrum, block, rec.windowSequence, rec.windowShape, lr.synthesisShape, 0, ctx.filterbank);
  lr.synthesisShape = rec.windowShape;
  // The synthesis returns 4/N of the standard inverse transform (N = 2048, or 256 per short
  // window); the decoder's state is at the signal's own scale.
  dsp::VecMulConst(block, rec.windowSequence == kEightShort ? 64.0f : 512.0f, block, 2 * kFrameLength);
  float* h = lr.history;
  alignas(32) float output[kFrameLength];
  dsp::VecAdd(h + 2 * kFrameLength, block, output, kFrameLength);
  dsp::VecCopy(h + kFrameLength, h, kFrameLength);
  dsp::VecCopy(output, h + kFrameLength, kFrameLength);
  dsp::VecCopy(block + kFrameLength, h + 2 * kFrameLength, kFrameLength);
  if (ctx.reconSink) ctx.reconSink(ctx.reconSinkUser, c, output);
}

}  // namespace aacs::enc
