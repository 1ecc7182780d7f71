// Real decoders as judges: frames written by the syntax writers from synthetic coded channels
// (long, start, grouped eight-short and stop frames, pulses, noise bands, TNS, mid/side pairs)
// must decode without a single complaint and with one 1024-sample block per frame.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "api/stream_context.h"
#include "enc/syntax.h"
#include "support/audio_support.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

constexpr int kFrames = 12;
constexpr int kSequence[kFrames] = {0, 0, 1, 2, 3, 0, 1, 2, 2, 3, 0, 0};  // legal transitions

void CodeFrame(StreamContext& ctx, std::mt19937& rng, int frame) {
  static const int kGroups[2][8] = {{3, 2, 3}, {1, 1, 2, 4}};
  const int seq = kSequence[frame];
  const int* groups = seq == kEightShort ? kGroups[frame % 2] : nullptr;
  BuildChannelMap(ctx.channelInfo, ctx.numChannels, ctx.lastChannelIsLfe);
  for (int ch = 0; ch < ctx.numChannels; ++ch) {
    const bool lfe = ctx.channelInfo[ch].isLfe;
    test::CodeRandomChannel(ctx, ch, rng, frame % 3 ? 15 : 300, groups ? 12 : lfe ? 10 : 35, groups,
                            frame % 2 ? 4 : 3, !groups && !lfe);
    ctx.coding[ch].windowSequence = seq;
    TnsRecord& tns = ctx.tns[ch];
    tns = {};
    if (frame % 4 != 1 || lfe) continue;
    tns.present = 1;
    for (int w = 0; w < (groups ? 8 : 1); ++w) {
      tns.window[w] = {1, 4, {}};
      tns.window[w].filter.length = groups ? 8 : 20;
      tns.window[w].filter.order = groups ? 3 : 6;
      for (int i = 1; i <= tns.window[w].filter.order; ++i) tns.window[w].filter.index[i] = (i % 3) - 1;
    }
  }
  for (int ch = 0; ch < ctx.numChannels; ++ch) {
    ChannelInfo& info = ctx.channelInfo[ch];
    if (!info.isPair || !info.isFirstOfPair) continue;
    info.commonWindow = 1;  // both channels were coded with the same layout
    info.msInfo.msMode = 1;
    for (int b = 0; b < kMaxCodedBands; ++b) info.msInfo.msUsed[b] = (b + frame) % 3 != 0;
  }
}

std::vector<uint8_t> EncodeFrames(StreamContext& ctx, uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> out;
  if (ctx.headerType == kHeaderAdif) {
    out.resize(64);
    out.resize(static_cast<size_t>(BuildAdifHeader(ctx, 256000, out.data())));
  }
  BitWriter* w = BitWriterCreate(kMaxChannels * 60000);
  for (int f = 0; f < kFrames; ++f) {
    CodeFrame(ctx, rng, f);
    BitWriterReset(*w);
    WriteFrame(ctx, w);
    out.insert(out.end(), w->data, w->data + BitWriterBitsUsed(w) / 8);
  }
  BitWriterFree(w);
  return out;
}

TEST(DecoderCheck, FfmpegDecodesMonoStereoAndFivePointOneWithoutErrors) {
  for (int channels : {1, 2, 6}) {
    auto ctx = test::MakeStream(channels, channels == 6, 4, kHeaderAdts, 56);
    const testing::Decoded d = testing::DecodeFfmpeg(EncodeFrames(*ctx, 40 + channels));
    EXPECT_EQ(d.status, 0) << d.errors;
    EXPECT_EQ(d.errors, "") << channels << " channels";
    EXPECT_EQ(d.audio.channels, channels);
    EXPECT_EQ(d.audio.Frames(), kFrames * 1024) << channels << " channels";
  }
}

TEST(DecoderCheck, FaadDecodesLegacyAdtsAndAdif) {
  for (int headerType : {kHeaderAdts, kHeaderAdif}) {
    auto ctx = test::MakeStream(2, 0, 3, headerType, 58);
    const testing::Decoded d = testing::DecodeFaad(EncodeFrames(*ctx, 77), headerType == kHeaderAdts,
                                                   headerType == kHeaderAdif ? ".adif" : ".aac");
    EXPECT_EQ(d.status, 0) << d.errors;
    EXPECT_EQ(d.errors.find("rror"), std::string::npos) << d.errors;
    EXPECT_GE(d.audio.Frames(), (kFrames - 1) * 1024) << headerType;
  }
}

}  // namespace
}  // namespace aacs::enc
