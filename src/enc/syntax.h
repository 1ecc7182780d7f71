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
// The ADTS length field is the frame's exact byte count after alignment.  With w null the
// frame is only counted.  A pair is written with a common window only when both channels have
// the same window sequence, shape, max_sfb and grouping.
int WriteFrame(StreamContext& ctx, BitWriter* w);
// Bits every frame of the current layout spends outside the channels' own budgets: header,
// element id/tag bits, the CPE common_window bit, end marker and worst-case byte alignment (7),
// per channel global_gain, ics_info (15 eight-short, 11 long: prediction and LTP payloads are
// the channels' own) once per common-window pair, the pulse/TNS/gain-control flags, and the
// mid/side mask (2 bits, plus one per band and group when sent per band).  Call it once the
// frame's layout, window sequences, max_sfb and stereo decisions are known.
int CountFixedSideBits(const StreamContext& ctx);

// ADIF header for the stream's channel layout, bit rate given explicitly.  Writes the bytes to
// out (at least 64 bytes) and returns their count (17 for 1 or 2 channels; at most 20), or 0
// when ctx.sampleRate is not one of the twelve rates.  The program configuration lists the
// real elements: centre SCE and first CPE at the front, later elements at the back, the LFE.
int BuildAdifHeader(const StreamContext& ctx, uint32_t bitRate, uint8_t* out);
// The rate the ADIF header carries: the target of a constant-rate stream; the peak rate of the
// frames so far of a variable-rate one, or (before any frame is known, memory output) the
// highest rate the channels can reach.
uint32_t AdifBitRate(const StreamContext& ctx, bool framesKnown);
// Size in bytes of the stream's ADIF header (independent of the bit rate).
int AdifHeaderBytes(const StreamContext& ctx);

}  // namespace aacs::enc
