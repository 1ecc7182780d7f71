// api/trailer.h — the record appended after a finished stream to describe it.
//
// Sampling rate, channels, a frame figure, the average bit rate, three host strings and a year,
// followed by the record's own size and the magic 0xABCCABCC, all 32-bit little-endian, so a
// reader can find the record from the end of a file.
#pragma once
#include <cstdint>
#include <cstdio>

struct StreamContext;

namespace aacs::api {

constexpr uint32_t kTrailerMagic = 0xABCCABCCu;
// Frames of pipeline delay that the frame figure leaves out.
constexpr int kTrailerFrameOffset = 3;

// Writes the trailer at the stream's current position.  Lowers ctx.pipelineFrameCount by 3, as
// the figure it writes is that lowered count, so it is meant to be called once per stream.
// Counters beyond 32 bits saturate.  Returns 0, or -1 when the stream is null or a write failed.
int WriteTrailer(StreamContext& ctx, FILE* stream);

}  // namespace aacs::api
