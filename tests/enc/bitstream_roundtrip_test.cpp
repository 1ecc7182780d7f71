// Whole frames written by the syntax writers and read back by the independent test parser:
// random spectra over every codebook, long and grouped eight-short frames, pairs, noise bands.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

#include "api/stream_context.h"
#include "enc/syntax.h"
#include "support/aac_parser.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

using test::CodeRandomChannel;
using test::MakeStream;
using test::ParsedChannel;

constexpr int kWriterBits = 400000;

struct Written {
  std::vector<uint8_t> bytes;
  int frameBits;
};

Written Write(StreamContext& ctx) {
  BitWriter* w = BitWriterCreate(kWriterBits);
  const int64_t before = ctx.pipelineBits;
  const int frameBits = WriteFrame(ctx, w);
  EXPECT_EQ(ctx.pipelineBits - before, frameBits);
  EXPECT_EQ(BitWriterBitsUsed(w), (frameBits + 7) / 8 * 8);
  Written out{std::vector<uint8_t>(w->data, w->data + BitWriterBitsUsed(w) / 8), frameBits};
  BitWriterFree(w);
  return out;
}

// Scalefactor data as a decoder reconstructs it: references move by the clamped difference.
std::vector<int> ExpectedScalefactors(const quant::ChannelCodingRecord& rec) {
  std::vector<int> out(rec.totalBands, 0);
  int sf = rec.globalGain, noise = rec.globalGain;
  bool first = true;
  for (int b = 0; b < rec.totalBands; ++b) {
    if (rec.codebook[b] >= 1 && rec.codebook[b] <= 11) {
      sf += std::clamp(rec.scalefactor[b] - sf, -60, 60);
      out[b] = sf;
    } else if (rec.codebook[b] == kNoiseCodebook) {
      noise += first ? std::clamp(rec.noiseEnergy[b] - noise + 256, 0, 511) - 256
                     : std::clamp(rec.noiseEnergy[b] - noise, -60, 60);
      first = false;
      out[b] = noise;
    }
  }
  return out;
}

void ExpectChannel(const ParsedChannel& p, const quant::ChannelCodingRecord& rec, const std::vector<int>& coded,
                   std::set<int>* books) {
  EXPECT_EQ(p.globalGain, rec.globalGain);
  EXPECT_EQ(p.ics.windowSequence, rec.windowSequence);
  EXPECT_EQ(p.ics.windowShape, rec.windowShape);
  ASSERT_EQ(p.ics.maxSfb, rec.maxSfb);
  ASSERT_EQ(p.numBands, rec.totalBands);
  if (rec.windowSequence == kEightShort) {
    ASSERT_EQ(p.ics.numWindowGroups, rec.numWindowGroups);
    for (int g = 0; g < rec.numWindowGroups; ++g) EXPECT_EQ(p.ics.groupLength[g], rec.groupLength[g]);
  }
  const std::vector<int> sf = ExpectedScalefactors(rec);
  for (int b = 0; b < rec.totalBands; ++b) {
    ASSERT_EQ(p.codebook[b], rec.codebook[b]) << "band " << b;
    if (rec.codebook[b] != 0) {
      EXPECT_EQ(p.scalefactor[b], sf[b]) << "band " << b;
    }
    books->insert(rec.codebook[b]);
  }
  EXPECT_EQ(p.pulseDataPresent, rec.pulseDataPresent);
  const int lines = rec.bandOffset[rec.totalBands];
  for (int i = 0; i < kFrameLength; ++i) ASSERT_EQ(p.qCoded[i], i < lines ? coded[i] : 0) << "line " << i;
}

TEST(BitstreamRoundTrip, RandomLongFramesUseEveryBookAndDecodeExactly) {
  std::mt19937 rng(11);
  std::set<int> books;
  int pulses = 0;
  for (int trial = 0; trial < 60; ++trial) {
    auto ctx = MakeStream(1, 0, trial % 12, 2, trial % 2 ? 56 : 58);
    const int maxValue = trial % 3 == 0 ? 8191 : trial % 3 == 1 ? 20 : 3;
    const int numSwb = ctx->sampleRateIndex == 11 ? 40 : 41;
    const auto coded = CodeRandomChannel(*ctx, 0, rng, maxValue, 3 + static_cast<int>(rng() % (numSwb - 2)),
                                         nullptr, 1, trial % 4 == 1);
    pulses += ctx->coding[0].pulseDataPresent;
    const Written out = Write(*ctx);
    test::ParsedFrame frame;
    std::string error;
    ASSERT_TRUE(test::ParseAdtsFrame(out.bytes.data(), out.bytes.size(), ctx->adtsHeaderBits, &frame, &error))
        << error;
    ASSERT_EQ(frame.elements.size(), 1u);
    EXPECT_EQ(frame.elements[0].id, 0);
    EXPECT_EQ(frame.adts.frameLength, static_cast<int>(out.bytes.size()));
    EXPECT_EQ(frame.rawBits + frame.adts.headerBits, out.frameBits);
    ExpectChannel(frame.elements[0].ch[0], ctx->coding[0], coded, &books);
  }
  for (int b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13}) EXPECT_TRUE(books.count(b)) << "book " << b << " unused";
  EXPECT_GT(pulses, 0) << "no frame exercised pulse data";
}

TEST(BitstreamRoundTrip, GroupedEightShortFramesDecodeWindowByWindow) {
  std::mt19937 rng(5);
  const int groupings[][8] = {{3, 2, 3}, {1, 1, 1, 1, 1, 1, 1, 1}, {8}, {2, 6}, {1, 4, 2, 1}};
  const int counts[] = {3, 8, 1, 2, 4};
  std::set<int> books;
  for (int trial = 0; trial < 25; ++trial) {
    auto ctx = MakeStream(1, 0, 4, 0);
    const int* groups = groupings[trial % 5];
    const auto coded = CodeRandomChannel(*ctx, 0, rng, trial % 2 ? 600 : 9, 3 + trial % 12, groups, counts[trial % 5]);
    const quant::ChannelCodingRecord& rec = ctx->coding[0];
    const Written out = Write(*ctx);
    test::ParsedFrame frame;
    std::string error;
    ASSERT_TRUE(test::ParseRawDataBlock(out.bytes.data(), out.bytes.size(), {1, 4}, &frame, &error)) << error;
    ASSERT_EQ(frame.elements.size(), 1u);
    const ParsedChannel& p = frame.elements[0].ch[0];
    ExpectChannel(p, rec, coded, &books);
    // Un-grouped view: window w's lines of band b sit at w * 128 + (start of b in a window).
    int start[16] = {};
    for (int b = 0; b < rec.maxSfb; ++b) start[b + 1] = start[b] + (rec.bandOffset[b + 1] - rec.bandOffset[b]) / groups[0];
    int pos = 0, window = 0;
    for (int g = 0; g < rec.numWindowGroups; ++g) {
      for (int b = 0; b < rec.maxSfb; ++b)
        for (int w = 0; w < groups[g]; ++w)
          for (int i = start[b]; i < start[b + 1]; ++i, ++pos) ASSERT_EQ(p.q[(window + w) * 128 + i], coded[pos]);
      window += groups[g];
    }
  }
}

TEST(BitstreamRoundTrip, SixChannelsWithLfeKeepElementOrderTagsAndPairs) {
  std::mt19937 rng(9);
  auto ctx = MakeStream(6, 1, 3, 2, 56);
  std::vector<int> coded[6];
  for (int ch = 0; ch < 6; ++ch) coded[ch] = CodeRandomChannel(*ctx, ch, rng, 30, 20 + ch);
  // Pair 1 (channels 1, 2) shares a window with per-band mid/side; pair 2 uses all bands.
  for (int pair : {1, 3}) {
    std::mt19937 same(pair);
    for (int k = 0; k < 2; ++k) coded[pair + k] = CodeRandomChannel(*ctx, pair + k, same, 30, 25);
    ctx->channelInfo[pair].commonWindow = 1;
    MsInfo& ms = ctx->channelInfo[pair].msInfo;
    ms.msMode = 1;
    for (int b = 0; b < 25; ++b) ms.msUsed[b] = pair == 3 || b % 3 == 0;
  }
  const Written out = Write(*ctx);
  test::ParsedFrame frame;
  std::string error;
  ASSERT_TRUE(test::ParseAdtsFrame(out.bytes.data(), out.bytes.size(), 56, &frame, &error)) << error;
  EXPECT_EQ(frame.adts.channelConfig, 6);
  ASSERT_EQ(frame.elements.size(), 4u);
  const int ids[4] = {0, 1, 1, 3}, tags[4] = {0, 0, 1, 0}, first[4] = {0, 1, 3, 5};
  std::set<int> books;
  for (int e = 0; e < 4; ++e) {
    EXPECT_EQ(frame.elements[e].id, ids[e]);
    EXPECT_EQ(frame.elements[e].tag, tags[e]);
    for (int k = 0; k < frame.elements[e].numChannels; ++k)
      ExpectChannel(frame.elements[e].ch[k], ctx->coding[first[e] + k], coded[first[e] + k], &books);
  }
  EXPECT_EQ(frame.elements[1].commonWindow, 1);
  EXPECT_EQ(frame.elements[1].msMaskPresent, 1);
  for (int b = 0; b < 25; ++b) EXPECT_EQ(frame.elements[1].msUsed[b], b % 3 == 0);
  EXPECT_EQ(frame.elements[2].msMaskPresent, 2);
}

TEST(AacParser, ReportsTruncatedFramesAndWrongLengths) {
  std::mt19937 rng(2);
  auto ctx = MakeStream(1, 0, 4, 2, 56);
  CodeRandomChannel(*ctx, 0, rng, 50, 30);
  Written out = Write(*ctx);
  test::ParsedFrame frame;
  std::string error;
  EXPECT_FALSE(test::ParseAdtsFrame(out.bytes.data(), out.bytes.size() - 1, 56, &frame, &error));
  EXPECT_FALSE(error.empty());
  error.clear();
  out.bytes.push_back(0);
  out.bytes[4] = static_cast<uint8_t>(out.bytes[4] + 1);  // aac_frame_length one byte too large (low bits of byte 4)
  EXPECT_FALSE(test::ParseAdtsFrame(out.bytes.data(), out.bytes.size(), 56, &frame, &error));
  EXPECT_NE(error.find("frame length"), std::string::npos) << error;
}

}  // namespace
}  // namespace aacs::enc
