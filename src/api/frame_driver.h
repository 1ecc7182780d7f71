// api/frame_driver.h — between the host's PCM and the frame pipeline: padding of a short last
// call, conversion to float (through the resampler when the rates differ), framing into the
// channels' two-frame windows, each frame's bit budget, and gathering of the call's bytes.
#pragma once

struct StreamContext;

namespace aacs::api {

// Encodes the n valid samples staged in ctx.pcmBuffer (0 during the flush, when the windows
// move on with a frame of zeros).  Returns 0, or 1 when the frame pipeline failed.  On return
// ctx.outputBytes holds the bytes this call appended to ctx.outputBuffer.
int EncodeChunk(StreamContext& ctx, int n);

// End of a resampled stream: pushes the converter's delayed samples out with zeros and codes
// them, the last partial frame completed with silence.  Same results as EncodeChunk.
int EncodeResamplerTail(StreamContext& ctx);

// Reorders one call's interleaved WAV samples (L R C, L R C S, L R C Ls Rs, L R C LFE Ls Rs) into
// the encoder's element order (C L R [S | Ls Rs] [LFE]) in place.  count is a multiple of
// numChannels.
void ReorderWaveChannels(short* samples, int count, int numChannels);

}  // namespace aacs::api
