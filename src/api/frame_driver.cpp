// api/frame_driver.cpp — framing of one encode call's samples and the per-frame budget settlement.
#include "api/frame_driver.h"

#include <algorithm>
#include <cstring>

#include "api/resampler.h"
#include "api/stream_io.h"
#include "api/stream_context.h"
#include "dsp/primitives.h"
#include "enc/frame_pipeline.h"
#include "enc/syntax.h"
#include "quant/bit_budget.h"

namespace aacs::api {
namespace {

// Moves every channel's window on by one frame: the newest frame becomes the previous one and
// the new frame is taken from the interleaved work array (or zeros during the flush).
void AdvanceChannelWindows(StreamContext& ctx, const float* interleaved) {
  const int channels = ctx.numChannels;
  for (int c = 0; c < channels; ++c) {
    float* previousFrame = ctx.channelWindow[c];
    float* newFrame = ctx.channelWindow[c] + kFrameLength;
    dsp::VecCopy(newFrame, previousFrame, kFrameLength);
    if (interleaved == nullptr) {
      dsp::VecZero(newFrame, kFrameLength);
      continue;
    }
    for (int i = 0; i < kFrameLength; ++i) newFrame[i] = interleaved[c + channels * i];
  }
}

// Memory output of an ADIF stream: the header goes in front of the first frame's bytes, with
// the nominal bit rate.
void PrependAdifHeader(StreamContext& ctx) {
  if (ctx.headerType != kHeaderAdif || ctx.writeOutputFile || ctx.adifDelivered) return;
  ctx.adifDelivered = 1;
  ctx.outputBytes += enc::BuildAdifHeader(ctx, enc::AdifBitRate(ctx, false), ctx.outputBuffer + ctx.outputBytes);
}

// One coded frame: budget from the reservoir, the pipeline into the stream's writer, the bytes
// appended to the output buffer, the reservoir settled with the bits actually used.
int CodeOneFrame(StreamContext& ctx) {
  enc::BitWriterReset(ctx.frameWriter);
  quant::ReservoirBeforeFrame(ctx);
  if (enc::RunFramePipeline(ctx, &ctx.frameWriter) != 0) return 1;
  const int bits = enc::BitWriterBitsUsed(&ctx.frameWriter);
  ctx.totalBits += bits;
  ctx.peakFrameBits = std::max(ctx.peakFrameBits, bits);
  if (ctx.totalBits == bits) ctx.adifFullness = ctx.reservoirBits - bits;  // the first coded frame
  PrependAdifHeader(ctx);
  const int bytes = (bits + 7) / 8;
  std::memcpy(ctx.outputBuffer + ctx.outputBytes, ctx.frameWriter.data, static_cast<size_t>(bytes));
  ctx.outputBytes += bytes;
  quant::ReservoirAfterFrame(ctx, bits);
  ctx.frameCount += 1;
  return 0;
}

// Converts the call's samples into the work array; returns the interleaved float count.
int ConvertCall(StreamContext& ctx, int n) {
  const int frameSamples = ctx.numChannels * kFrameLength;
  if (n <= 0) return frameSamples;
  if (!ctx.resampling) {
    for (int i = 0; i < frameSamples; ++i) ctx.workSamples[i] = static_cast<float>(ctx.pcmBuffer[i]);
    return frameSamples;
  }
  dsp::VecCopy(ctx.leftoverSamples, ctx.workSamples, ctx.leftoverCount);
  // Only the valid samples of a short last call go through the converter: the padding would
  // become frames of silence after the end.  The converter's tail is pushed out at the flush.
  const int valid = n - n % ctx.numChannels;
  const float* converted = nullptr;
  int produced = valid > 0 ? ResamplerProcess(ctx.resampler, ctx.pcmBuffer, valid, &converted) : 0;
  if (produced < 0) produced = 0;
  dsp::VecCopy(converted, ctx.workSamples + ctx.leftoverCount, produced);
  return ctx.leftoverCount + produced;
}

// Runs the pipeline for every whole frame of the work array; keeps the rest as leftover.
int FrameLoop(StreamContext& ctx, int count, bool fromWork) {
  const int frameSamples = ctx.numChannels * kFrameLength;
  int offset = 0;
  ctx.outputBytes = 0;
  while (count >= frameSamples) {
    AdvanceChannelWindows(ctx, fromWork ? ctx.workSamples + offset : nullptr);
    if (ctx.firstFrame) {
      enc::RunFramePipeline(ctx, nullptr);
      ctx.firstFrame = 0;
      ctx.frameCount += 1;
    } else if (CodeOneFrame(ctx) != 0) {
      return 1;
    }
    count -= frameSamples;
    offset += frameSamples;
  }
  if (fromWork) {
    ctx.leftoverCount = count;
    if (count > 0) dsp::VecCopy(ctx.workSamples + offset, ctx.leftoverSamples, count);
  }
  // A failed write is kept in ctx.ioStatus; the encode call reports it.
  if (ctx.writeOutputFile) WriteOutputBytes(ctx, ctx.outputBuffer, ctx.outputBytes);
  return 0;
}

}  // namespace

int EncodeChunk(StreamContext& ctx, int n) {
  if (n > 0 && n < ctx.samplesPerCall)
    std::memset(ctx.pcmBuffer + n, 0, static_cast<size_t>(ctx.samplesPerCall - n) * sizeof(int16_t));
  const int count = ConvertCall(ctx, n);
  return FrameLoop(ctx, count, ctx.pcmBuffer != nullptr && n > 0);
}

int EncodeResamplerTail(StreamContext& ctx) {
  const float* tail = nullptr;
  const int produced = ResamplerFlush(ctx.resampler, &tail);
  const int frameSamples = ctx.numChannels * kFrameLength;
  dsp::VecCopy(ctx.leftoverSamples, ctx.workSamples, ctx.leftoverCount);
  dsp::VecCopy(tail, ctx.workSamples + ctx.leftoverCount, produced);
  int count = ctx.leftoverCount + produced;
  // The last partial frame is completed with silence so that no sample is dropped.
  const int partial = count % frameSamples;
  if (partial != 0) {
    dsp::VecZero(ctx.workSamples + count, frameSamples - partial);
    count += frameSamples - partial;
  }
  return FrameLoop(ctx, count, true);
}

void ReorderWaveChannels(short* samples, int count, int numChannels) {
  if (numChannels < 3) return;
  for (int i = 0; i + numChannels <= count; i += numChannels) {
    short* f = samples + i;
    const short l = f[0], r = f[1], c = f[2];
    if (numChannels == 6) {
      const short lfe = f[3], ls = f[4], rs = f[5];
      f[3] = ls, f[4] = rs, f[5] = lfe;
    }
    f[0] = c, f[1] = l, f[2] = r;
  }
}

}  // namespace aacs::api
