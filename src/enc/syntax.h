// enc/syntax.h — one frame's coded channels to bytes: elements in channel order, the ADTS
// header (58 bits, or 56 without the emphasis field), the end marker and byte alignment, and
// the ADIF header written once at the start of the stream.
#pragma once
#include <cstdint>

#include "enc/bit_writer.h"

struct StreamContext;

namespace aacs::enc {

int WriteSingleChannelElement(const StreamContext& ctx, int ch, int tag, BitWriter* w, int write);
int WriteLfeElement(const StreamContext& ctx, int ch, int tag, BitWriter* w, int write);
int WriteChannelPairElement(const StreamContext& ctx, int ch, int tag, BitWriter* w, int write);
// Header bits (ctx.adtsHeaderBits); frameBits is the whole frame including the header.
int WriteAdtsHeader(const StreamContext& ctx, BitWriter* w, int frameBits, int write);

// Count pass then write pass of the whole frame into w; returns the counted frame bits
// (header + elements + end marker, alignment excluded) and adds them to ctx.pipelineBits.
int WriteFrame(StreamContext& ctx, BitWriter* w);
// Bits every frame of the current layout spends outside the channels' own budgets: header,
// element headers, end marker, byte alignment (worst case), and per channel global_gain,
// ics_info, the pulse/TNS/gain-control flags and the mid/side mask.
int CountFixedSideBits(const StreamContext& ctx);

// ADIF header for the stream's channel layout, bit rate given explicitly.  Writes the bytes to
// out (at least 64 bytes) and returns their count (17 for 1 or 2 channels).
int BuildAdifHeader(const StreamContext& ctx, uint32_t bitRate, uint8_t* out);
// Size in bytes of the stream's ADIF header.
int AdifHeaderBytes(const StreamContext& ctx);

}  // namespace aacs::enc
