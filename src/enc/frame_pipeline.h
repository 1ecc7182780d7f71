// enc/frame_pipeline.h — one frame of 1024 new samples per channel through every encoding stage
// into one AAC raw data block (behind an ADTS header when the stream uses them).
#pragma once
#include "enc/bit_writer.h"

struct StreamContext;

namespace aacs::enc {

// With a null writer the call only primes the pipeline (analysis of the first frame, no bits).
// Returns 0, or 1 when a channel could not be coded.
int RunFramePipeline(StreamContext& ctx, BitWriter* writer);

}  // namespace aacs::enc
