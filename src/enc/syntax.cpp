// enc/syntax.cpp — raw data block elements (SCE, CPE, LFE, END), the ADTS header, frame
// assembly with its count pass and write pass, and the fixed side bits of a frame layout.
//
// Every writer counts with write = 0 (the writer may then be null) using the same arithmetic
// it writes with, so the count pass gives the exact length the ADTS header must carry.
#include "enc/syntax.h"

#include <algorithm>
#include <cassert>

#include "api/stream_context.h"
#include "enc/huffman.h"
#include "enc/side_info.h"
#include "quant/rate_control.h"

namespace aacs::enc {
namespace {

enum ElementId : int { kIdSce = 0, kIdCpe = 1, kIdLfe = 3, kIdFil = 6, kIdEnd = 7 };

constexpr int kMaxFillPayload = 15 + 255 - 1;  // count 15 escapes into 8 more bits
constexpr int kFillByte = 0xA5;                // fill_byte pattern 10100101
constexpr int kVariableRateFullness = 0x7FF;

int Put(BitWriter* w, int write, int value, int n) {
  if (write) BitWriterPutBits(w, static_cast<uint32_t>(value) & ((1u << n) - 1), n);
  return n;
}

int AdtsBits(const StreamContext& ctx) { return ctx.adtsHeaderBits == 56 ? 56 : 58; }

// individual_channel_stream: ics_info is left out when the pair shares one.
int WriteChannelStream(const StreamContext& ctx, int ch, int commonWindow, BitWriter* w, int write) {
  const quant::ChannelCodingRecord& rec = ctx.coding[ch];
  assert(rec.globalGain >= 0 && rec.globalGain <= 255);
  int bits = Put(w, write, rec.globalGain, 8);
  if (!commonWindow) bits += WriteIcsInfo(ctx, ch, 0, ch, w, write);
  bits += WriteSectionData(rec, w, write);
  bits += WriteScaleFactorData(rec, w, write);
  bits += WritePulseData(rec, w, write);
  bits += WriteTnsData(ctx.tns[ch], rec.windowSequence, w, write);
  bits += Put(w, write, 0, 1);  // gain_control_data_present
  bits += WriteSpectralData(rec, w, write);
  return bits;
}

// A shared ics_info is only valid when both channels really have the same layout.
bool SameLayout(const quant::ChannelCodingRecord& a, const quant::ChannelCodingRecord& b) {
  if (a.windowSequence != b.windowSequence || a.windowShape != b.windowShape || a.maxSfb != b.maxSfb)
    return false;
  if (a.windowSequence != kEightShort) return true;
  if (a.numWindowGroups != b.numWindowGroups) return false;
  for (int g = 0; g < a.numWindowGroups; ++g)
    if (a.groupLength[g] != b.groupLength[g]) return false;
  return true;
}

int EffectiveCommonWindow(const StreamContext& ctx, int ch) {
  const ChannelInfo& info = ctx.channelInfo[ch];
  return info.commonWindow && SameLayout(ctx.coding[ch], ctx.coding[info.pairedChannel]) ? 1 : 0;
}

// ms_mask_present 2 when every band of every group uses mid/side, else msMode (0 or 1).
int MsMaskPresent(const MsInfo& ms, int bands) {
  if (ms.msMode == 0) return 0;
  for (int b = 0; b < bands; ++b)
    if (!ms.msUsed[b]) return ms.msMode;
  return 2;
}

int GroupsOf(const quant::ChannelCodingRecord& rec) {
  return rec.windowSequence == kEightShort ? rec.numWindowGroups : 1;
}

int WriteMsMask(const StreamContext& ctx, int ch, BitWriter* w, int write) {
  const quant::ChannelCodingRecord& rec = ctx.coding[ch];
  const MsInfo& ms = ctx.channelInfo[ch].msInfo;
  const int bands = GroupsOf(rec) * rec.maxSfb;
  const int mask = MsMaskPresent(ms, bands);
  int bits = Put(w, write, mask, 2);
  if (mask == 1)
    for (int b = 0; b < bands; ++b) bits += Put(w, write, ms.msUsed[b] != 0, 1);
  return bits;
}

int WriteElements(const StreamContext& ctx, BitWriter* w, int write) {
  int bits = 0;
  for (int ch = 0; ch < ctx.numChannels && ch < kMaxChannels; ++ch) {
    const ChannelInfo& info = ctx.channelInfo[ch];
    if (!info.present) continue;
    if (!info.isPair)
      bits += info.isLfe ? WriteLfeElement(ctx, ch, info.tag, w, write)
                         : WriteSingleChannelElement(ctx, ch, info.tag, w, write);
    else if (info.isFirstOfPair)
      bits += WriteChannelPairElement(ctx, ch, info.tag, w, write);
  }
  return bits;
}

}  // namespace

int WriteSingleChannelElement(const StreamContext& ctx, int ch, int tag, BitWriter* w, int write) {
  int bits = Put(w, write, kIdSce, 3) + Put(w, write, tag, 4);
  return bits + WriteChannelStream(ctx, ch, 0, w, write);
}

int WriteLfeElement(const StreamContext& ctx, int ch, int tag, BitWriter* w, int write) {
  int bits = Put(w, write, kIdLfe, 3) + Put(w, write, tag, 4);
  return bits + WriteChannelStream(ctx, ch, 0, w, write);
}

int WriteChannelPairElement(const StreamContext& ctx, int ch, int tag, BitWriter* w, int write) {
  const int partner = ctx.channelInfo[ch].pairedChannel;
  const int common = EffectiveCommonWindow(ctx, ch);
  assert((common || !ctx.channelInfo[ch].commonWindow) && "common window over different layouts");
  int bits = Put(w, write, kIdCpe, 3) + Put(w, write, tag, 4) + Put(w, write, common, 1);
  if (common) {
    bits += WriteIcsInfo(ctx, ch, 1, partner, w, write);
    bits += WriteMsMask(ctx, ch, w, write);
  }
  bits += WriteChannelStream(ctx, ch, common, w, write);
  bits += WriteChannelStream(ctx, partner, common, w, write);
  return bits;
}

// Fill elements with payloadBytes bytes of payload in all: an extension payload of type
// EXT_FILL (type and fill nibble zero) followed by fill bytes.  Decoders skip them.
int WriteFillElements(BitWriter* w, int write, int payloadBytes) {
  int bits = 0;
  while (payloadBytes > 0) {
    const int count = std::min(payloadBytes, kMaxFillPayload);
    bits += Put(w, write, kIdFil, 3);
    if (count < 15) {
      bits += Put(w, write, count, 4);
    } else {
      bits += Put(w, write, 15, 4) + Put(w, write, count - 14, 8);
    }
    bits += Put(w, write, 0, 8);  // extension_type EXT_FILL, fill_nibble
    for (int i = 1; i < count; ++i) bits += Put(w, write, kFillByte, 8);
    payloadBytes -= count;
  }
  return bits;
}

// Payload bytes that make a frame of `frameBits` (before alignment) at least `padBits` longer
// once aligned.
int FillPayloadFor(int frameBits, int padBits) {
  const int aligned = (frameBits + 7) / 8 * 8;
  int payload = padBits / 8;
  while ((frameBits + WriteFillElements(nullptr, 0, payload) + 7) / 8 * 8 - aligned < padBits) ++payload;
  return payload;
}

// adts_buffer_fullness: the reservoir after this frame in 32-bit words per channel, or 0x7FF for
// a variable-rate stream.
int BufferFullness(const StreamContext& ctx, int frameBits) {
  if (ctx.rateMode != kRateConstant || ctx.vbrMode != 0) return kVariableRateFullness;
  const int after = ctx.reservoirBits - (frameBits + 7) / 8 * 8;
  return std::clamp(after / (32 * std::max(ctx.numChannels, 1)), 0, kVariableRateFullness - 1);
}

int WriteAdtsHeader(const StreamContext& ctx, BitWriter* w, int frameBits, int write) {
  const int headerBits = AdtsBits(ctx);
  int bits = Put(w, write, 0xFFF, 12);         // syncword
  bits += Put(w, write, 0, 1);                 // ID: MPEG-4
  bits += Put(w, write, 0, 2);                 // layer
  bits += Put(w, write, 1, 1);                 // protection_absent: no CRC
  bits += Put(w, write, ctx.profile, 2);
  bits += Put(w, write, ctx.sampleRateIndex, 4);
  bits += Put(w, write, 0, 1);                 // private_bit
  bits += Put(w, write, ctx.numChannels, 3);   // channel_configuration
  bits += Put(w, write, 0, 1);                 // original_copy
  bits += Put(w, write, 0, 1);                 // home
  if (headerBits == 58) bits += Put(w, write, 0, 2);  // emphasis
  bits += Put(w, write, 0, 1);                 // copyright_identification_bit
  bits += Put(w, write, 0, 1);                 // copyright_identification_start
  assert((frameBits + 7) / 8 < (1 << 13) && "frame too long for aac_frame_length");
  bits += Put(w, write, (frameBits + 7) / 8, 13);
  bits += Put(w, write, BufferFullness(ctx, frameBits), 11);
  bits += Put(w, write, 0, 2);                 // number_of_raw_data_blocks_in_frame - 1
  assert(bits == headerBits);
  return bits;
}

int WriteFrame(StreamContext& ctx, BitWriter* w) {
  const bool adts = ctx.headerType == kHeaderAdts;
  int frameBits = (adts ? AdtsBits(ctx) : 0) + WriteElements(ctx, nullptr, 0) + 3;
  // Padding where the reservoir would otherwise pass its size.
  const int padBits = quant::RateFillBits(ctx, frameBits);
  const int fillPayload = padBits > 0 ? FillPayloadFor(frameBits, padBits) : 0;
  frameBits += WriteFillElements(nullptr, 0, fillPayload);
  ctx.pipelineBits += frameBits;
  if (!w) return frameBits;
  [[maybe_unused]] const int start = BitWriterBitsUsed(w);
  if (adts) WriteAdtsHeader(ctx, w, frameBits, 1);
  WriteElements(ctx, w, 1);
  WriteFillElements(w, 1, fillPayload);
  Put(w, 1, kIdEnd, 3);
  BitWriterByteAlign(w, 1);
  assert(BitWriterBitsUsed(w) - start == (frameBits + 7) / 8 * 8);
  return frameBits;
}

int CountFixedSideBits(const StreamContext& ctx) {
  int bits = (ctx.headerType == kHeaderAdts ? AdtsBits(ctx) : 0) + 3 + 7;  // END and worst alignment
  for (int ch = 0; ch < ctx.numChannels && ch < kMaxChannels; ++ch) {
    const ChannelInfo& info = ctx.channelInfo[ch];
    const quant::ChannelCodingRecord& rec = ctx.coding[ch];
    if (!info.present) continue;
    const int icsInfo = rec.windowSequence == kEightShort ? 15 : 11;
    bool ownIcsInfo = true;
    if (info.isPair) {
      const int common = EffectiveCommonWindow(ctx, info.isFirstOfPair ? ch : info.pairedChannel);
      ownIcsInfo = !common;
      if (info.isFirstOfPair) {
        bits += 7 + 1;  // id, tag, common_window
        if (common) {
          const int bands = GroupsOf(rec) * rec.maxSfb;
          bits += icsInfo + 2 + (MsMaskPresent(info.msInfo, bands) == 1 ? bands : 0);
        }
      }
    } else {
      bits += 7;
    }
    bits += 8 + (ownIcsInfo ? icsInfo : 0) + 3;  // global_gain, pulse/TNS/gain-control flags
  }
  return bits;
}

}  // namespace aacs::enc
