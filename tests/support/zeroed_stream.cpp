// Test helper: a zeroed StreamContext for subsystem tests.
#include "support/zeroed_stream.h"

#include "dsp/platform.h"

namespace aacs::test {

void StreamDeleter::operator()(StreamContext* ctx) const { dsp::FreeBlock(ctx); }

StreamPtr MakeZeroedStream(int sampleRate, int numChannels, int bitRate) {
  StreamPtr ctx(static_cast<StreamContext*>(dsp::AllocZeroedBlock(sizeof(StreamContext))));
  if (!ctx) return ctx;
  ctx->sampleRate = sampleRate;
  ctx->sampleRateIndex = SampleRateIndex(sampleRate);
  ctx->numChannels = numChannels;
  ctx->bitRate = bitRate;
  ctx->profile = kProfileLc;
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    ctx->peakGain[ch] = 1.0f;
    ctx->channelInfo[ch].present = ch < numChannels;
    ctx->coding[ch].sampleRateIndex = ctx->sampleRateIndex;
  }
  return ctx;
}

}  // namespace aacs::test
