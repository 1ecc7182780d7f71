// enc/adif_header.cpp — the ADIF header written once at the start of an ADIF stream, with one
// program configuration element that describes the stream's real element layout.
//
// Mono and stereo give the classic 17-byte header (one front element); 3 to 6 channels list
// the centre SCE and first CPE at the front, further elements at the back, and the LFE.
#include <algorithm>
#include <cstring>

#include "api/stream_context.h"
#include "enc/channel_info.h"

#include "enc/syntax.h"

namespace aacs::enc {
namespace {

constexpr int kMaxAdifBytes = 64;

struct ElementRef {
  int isCpe;
  int tag;
};

struct ProgramLayout {
  ElementRef front[kMaxChannels], back[kMaxChannels];
  int lfeTag[kMaxChannels];
  int numFront = 0, numBack = 0, numLfe = 0;
};

ProgramLayout LayoutOf(const StreamContext& ctx) {
  ChannelInfo info[kMaxChannels];
  BuildChannelMap(info, ctx.numChannels, ctx.lastChannelIsLfe);
  ProgramLayout p;
  bool frontPair = false;
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    const ChannelInfo& c = info[ch];
    if (!c.present || (c.isPair && !c.isFirstOfPair)) continue;
    if (c.isLfe) {
      p.lfeTag[p.numLfe++] = c.tag;
    } else if (c.isPair) {
      (frontPair ? p.back[p.numBack++] : p.front[p.numFront++]) = {1, c.tag};
      frontPair = true;
    } else {
      (ch == 0 ? p.front[p.numFront++] : p.back[p.numBack++]) = {0, c.tag};
    }
  }
  return p;
}

void Put(BitWriter& w, uint32_t value, int n) { BitWriterPutBits(&w, value & ((n < 32 ? 1u << n : 0u) - 1), n); }

}  // namespace

int BuildAdifHeader(const StreamContext& ctx, uint32_t bitRate, uint8_t* out) {
  const int sfIndex = SampleRateIndex(ctx.sampleRate);
  if (sfIndex < 0) return 0;
  uint8_t buffer[kMaxAdifBytes];
  BitWriter w{buffer, 0, kMaxAdifBytes * 8, 0};
  for (const char c : {'A', 'D', 'I', 'F'}) Put(w, static_cast<uint8_t>(c), 8);
  Put(w, 0, 1);  // copyright_id_present
  Put(w, 0, 1);  // original_copy
  Put(w, 0, 1);  // home
  // bitstream_type 0 (constant rate) carries the buffer fullness after the first frame; 1
  // (variable rate) has none, and its rate field is the peak rate.
  const bool constant = ctx.rateMode == kRateConstant && ctx.vbrMode == 0;
  Put(w, constant ? 0 : 1, 1);
  Put(w, bitRate > 0x7FFFFF ? 0x7FFFFF : bitRate, 23);
  Put(w, 0, 4);  // num_program_config_elements - 1
  if (constant) Put(w, static_cast<uint32_t>(std::max(ctx.adifFullness, 0)), 20);

  const ProgramLayout p = LayoutOf(ctx);
  Put(w, 0, 4);  // element_instance_tag
  Put(w, static_cast<uint32_t>(ctx.profile), 2);
  Put(w, static_cast<uint32_t>(sfIndex), 4);
  Put(w, static_cast<uint32_t>(p.numFront), 4);
  Put(w, 0, 4);  // side elements
  Put(w, static_cast<uint32_t>(p.numBack), 4);
  Put(w, static_cast<uint32_t>(p.numLfe), 2);
  Put(w, 0, 3);  // assoc data elements
  Put(w, 0, 4);  // valid cc elements
  Put(w, 0, 3);  // mono, stereo and matrix mixdown absent
  for (int i = 0; i < p.numFront; ++i) Put(w, static_cast<uint32_t>(p.front[i].isCpe << 4 | p.front[i].tag), 5);
  for (int i = 0; i < p.numBack; ++i) Put(w, static_cast<uint32_t>(p.back[i].isCpe << 4 | p.back[i].tag), 5);
  for (int i = 0; i < p.numLfe; ++i) Put(w, static_cast<uint32_t>(p.lfeTag[i]), 4);
  BitWriterByteAlign(&w, 1);  // counted from the start of the header
  Put(w, 0, 8);               // comment_field_bytes
  const int bytes = BitWriterBitsUsed(&w) / 8;
  std::memcpy(out, buffer, static_cast<size_t>(bytes));
  return bytes;
}

uint32_t AdifBitRate(const StreamContext& ctx, bool framesKnown) {
  if (ctx.rateMode == kRateConstant && ctx.vbrMode == 0) return static_cast<uint32_t>(ctx.bitRate);
  const int64_t frameBits = framesKnown ? ctx.peakFrameBits : int64_t{kMaxChannelFrameBits} * ctx.numChannels;
  return static_cast<uint32_t>(std::min<int64_t>(frameBits * ctx.sampleRate / kFrameLength, 0xFFFFFFFF));
}

int AdifHeaderBytes(const StreamContext& ctx) {
  uint8_t scratch[kMaxAdifBytes];
  return BuildAdifHeader(ctx, 0, scratch);
}

}  // namespace aacs::enc
