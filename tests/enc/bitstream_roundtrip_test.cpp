// Whole frames written by the syntax writers and read back by the independent test parser:
// random spectra over every codebook, long and grouped eight-short frames, section runs at the
// escape lengths, multichannel layouts with mid/side masks, and the prediction and TNS fields.
// Every frame's bits must also equal the fixed side bits plus each channel's own bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>
#include <tuple>

#include "api/stream_context.h"
#include "enc/band_tables.h"
#include "enc/huffman.h"
#include "enc/side_info.h"
#include "enc/syntax.h"
#include "support/aac_parser.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

using test::CodeRandomChannel;
using test::MakeStream;
using test::ParsedChannel;
using test::ParsedFrame;

constexpr int k44100 = 4;

// Writes the frame and parses it back (ADTS when the stream has the header, else raw).  Outside
// Main and LTP (whose prediction fields count as channel side bits) the frame's bits must be the
// counted fixed side bits, less the worst-case alignment, plus what each channel's sections,
// scalefactors, pulses, TNS filters and spectral data take.
ParsedFrame WriteAndParse(StreamContext& ctx, size_t elements = 1) {
  BitWriter* w = BitWriterCreate(400000);
  const int64_t before = ctx.pipelineBits;
  const int bits = WriteFrame(ctx, w);
  EXPECT_EQ(ctx.pipelineBits - before, bits);
  EXPECT_EQ(BitWriterBitsUsed(w), (bits + 7) / 8 * 8);
  int counted = CountFixedSideBits(ctx) - 7;
  for (int ch = 0; ch < ctx.numChannels; ++ch) {
    const quant::ChannelCodingRecord& rec = ctx.coding[ch];
    counted += WriteSpectralData(rec, nullptr, 0) + CountSectionBits(rec) + CountScaleFactorBits(rec, 0) +
               WritePulseData(rec, nullptr, 0) - 1 + WriteTnsData(ctx.tns[ch], rec.windowSequence, nullptr, 0) - 1;
  }
  if (ctx.profile == kProfileLc) {
    EXPECT_EQ(bits, counted);
  }
  ParsedFrame frame;
  std::string error;
  const size_t bytes = static_cast<size_t>(BitWriterBitsUsed(w) / 8);
  const bool ok = ctx.headerType == kHeaderAdts
                      ? test::ParseAdtsFrame(w->data, bytes, ctx.adtsHeaderBits, &frame, &error)
                      : test::ParseRawDataBlock(w->data, bytes, {ctx.profile, ctx.sampleRateIndex}, &frame, &error);
  EXPECT_TRUE(ok) << error;
  if (ok && frame.hasAdts) {
    EXPECT_EQ(frame.adts.frameLength, static_cast<int>(bytes));
    EXPECT_EQ(frame.rawBits + frame.adts.headerBits, bits);
  }
  BitWriterFree(w);
  EXPECT_EQ(frame.elements.size(), elements);
  frame.elements.resize(elements);  // callers index the expected elements
  return frame;
}

// Scalefactor data as a decoder reconstructs it: references move by the clamped difference.
std::vector<int> ExpectedScalefactors(const quant::ChannelCodingRecord& rec) {
  std::vector<int> out(rec.totalBands, 0);
  int sf = rec.globalGain, noise = rec.globalGain;
  bool first = true;
  for (int b = 0; b < rec.totalBands; ++b) {
    if (rec.codebook[b] >= 1 && rec.codebook[b] <= 11) {
      out[b] = sf += std::clamp(rec.scalefactor[b] - sf, -60, 60);
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
                   std::set<int>* books = nullptr) {
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
    if (books) books->insert(rec.codebook[b]);
  }
  EXPECT_EQ(p.pulseDataPresent, rec.pulseDataPresent);
  const int lines = rec.bandOffset[rec.totalBands];
  for (int i = 0; i < kFrameLength; ++i) ASSERT_EQ(p.qCoded[i], i < lines ? coded[i] : 0) << "line " << i;
}

TEST(BitstreamRoundTrip, RandomLongFramesAtEveryRateUseEveryBookAndDecodeExactly) {
  std::mt19937 rng(11);
  std::set<int> books;
  int pulses = 0;
  for (int trial = 0; trial < 60; ++trial) {
    const int sfIndex = trial % 12, adtsBits = trial % 2 ? 56 : 58;
    auto ctx = MakeStream(1, 0, sfIndex, kHeaderAdts, adtsBits);
    const int maxValue = trial % 3 == 0 ? 8191 : trial % 3 == 1 ? 20 : 3;
    const int maxSfb = 3 + static_cast<int>(rng() % (kNumSwbLong[sfIndex] - 2));
    const auto coded = CodeRandomChannel(*ctx, 0, rng, maxValue, maxSfb, nullptr, 1, trial % 4 == 1);
    quant::ChannelCodingRecord& rec = ctx->coding[0];
    if (trial % 8 == 1)  // noise energies far from the gain: the first one clamps to 9 bits, later ones to +-60
      for (int b = 0; b < rec.totalBands; ++b) rec.noiseEnergy[b] = rec.globalGain + (b % 2 ? 400 : -400);
    pulses += rec.pulseDataPresent;
    const ParsedFrame frame = WriteAndParse(*ctx);
    const auto& h = frame.adts;
    EXPECT_EQ(std::tuple(frame.elements[0].id, h.headerBits, h.profile, h.sfIndex, h.channelConfig, h.bufferFullness),
              std::tuple(0, adtsBits, 1, sfIndex, 1, 0x7FF));
    ExpectChannel(frame.elements[0].ch[0], rec, coded, &books);
  }
  for (int b : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13}) EXPECT_TRUE(books.count(b)) << "book " << b << " unused";
  EXPECT_GT(pulses, 0) << "no frame exercised pulse data";
}

TEST(BitstreamRoundTrip, GroupedEightShortFramesDecodeWindowByWindow) {
  std::mt19937 rng(5);
  const int groupings[][8] = {{3, 2, 3}, {1, 1, 1, 1, 1, 1, 1, 1}, {8}, {2, 6}, {1, 4, 2, 1}};
  const int counts[] = {3, 8, 1, 2, 4};
  for (int trial = 0; trial < 25; ++trial) {
    auto ctx = MakeStream(1, 0, k44100, kHeaderRaw);
    const int* groups = groupings[trial % 5];
    const auto coded = CodeRandomChannel(*ctx, 0, rng, trial % 2 ? 600 : 9, 3 + trial % 12, groups, counts[trial % 5]);
    const quant::ChannelCodingRecord& rec = ctx->coding[0];
    const ParsedFrame frame = WriteAndParse(*ctx);
    const ParsedChannel& p = frame.elements[0].ch[0];
    ExpectChannel(p, rec, coded);
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

// One book for every band: runs of exactly the escape length (31 long, 7 short) need a
// following zero length; longer runs split.  The first bands hold the escape boundaries.
TEST(BitstreamRoundTrip, SectionRunsAtTheEscapeLengthsAndEscapeValuesReadBack) {
  std::mt19937 rng(8);
  const int groups[3] = {3, 2, 3};
  for (int maxSfb : {30, 31, 32, 49, 6, 7, 8, 14}) {
    SCOPED_TRACE(maxSfb);
    const bool isShort = maxSfb <= 14;
    auto ctx = MakeStream(1, 0, k44100, kHeaderRaw);
    auto coded = CodeRandomChannel(*ctx, 0, rng, 100, maxSfb, isShort ? groups : nullptr, 3);
    quant::ChannelCodingRecord& rec = ctx->coding[0];
    const int edges[] = {15, -16, 31, 32, -63, 64, 8191, -8191, 16, 0, 1, -1};
    std::copy(std::begin(edges), std::end(edges), coded.begin());
    std::copy(coded.begin(), coded.end(), rec.q);
    rec.pulseDataPresent = 0;
    std::fill(rec.codebook, rec.codebook + rec.totalBands, kEscCodebook);
    BuildCodewordList(rec);
    const ParsedFrame frame = WriteAndParse(*ctx);
    ExpectChannel(frame.elements[0].ch[0], rec, coded);
    EXPECT_EQ(frame.elements[0].ch[0].numSections, isShort ? 3 : 1);
  }
}

TEST(BitstreamRoundTrip, SixChannelsWithLfeKeepElementOrderTagsAndMidSideMasks) {
  // Per pair: ms mode and whether every band is set; the mask must be written as 0 (none),
  // 1 (per band) or 2 (all bands).
  struct PairCase { int msMode; bool allSet; int present; };
  const PairCase cases[2][2] = {{{1, false, 1}, {1, true, 2}}, {{0, false, 0}, {2, false, 2}}};
  for (const auto& c : cases) {
    std::mt19937 rng(9);
    auto ctx = MakeStream(6, 1, 3, kHeaderAdts, 56);
    ctx->channelInfo[3].commonWindow = 1;  // stale state of an earlier frame
    ctx->channelInfo[1].msInfo.msMode = 2;
    BuildChannelMap(ctx->channelInfo, 6, 1);
    for (int ch = 0; ch < 6; ++ch) {
      EXPECT_EQ(ctx->channelInfo[ch].commonWindow, 0);
      EXPECT_EQ(ctx->channelInfo[ch].msInfo.msMode, 0);
    }
    std::vector<int> coded[6];
    coded[0] = CodeRandomChannel(*ctx, 0, rng, 30, 20);
    coded[5] = CodeRandomChannel(*ctx, 5, rng, 30, 12);
    for (int k = 0; k < 2; ++k) {
      const int pair = 1 + 2 * k;
      for (int i = 0; i < 2; ++i) {
        std::mt19937 same(pair);  // both channels of a pair share one layout
        coded[pair + i] = CodeRandomChannel(*ctx, pair + i, same, 30, 25);
      }
      ctx->channelInfo[pair].commonWindow = 1;
      MsInfo& ms = ctx->channelInfo[pair].msInfo;
      ms.msMode = c[k].msMode;
      for (int b = 0; b < 25; ++b) ms.msUsed[b] = c[k].allSet || b % 3 == 0;
    }
    const ParsedFrame frame = WriteAndParse(*ctx, 4);
    EXPECT_EQ(frame.adts.channelConfig, 6);
    const int ids[4] = {0, 1, 1, 3}, tags[4] = {0, 0, 1, 0}, first[4] = {0, 1, 3, 5};
    for (int e = 0; e < 4; ++e) {
      EXPECT_EQ(frame.elements[e].id, ids[e]);
      EXPECT_EQ(frame.elements[e].tag, tags[e]);
      for (int k = 0; k < frame.elements[e].numChannels; ++k)
        ExpectChannel(frame.elements[e].ch[k], ctx->coding[first[e] + k], coded[first[e] + k]);
    }
    for (int k = 0; k < 2; ++k) {
      const auto& e = frame.elements[1 + k];
      EXPECT_EQ(e.commonWindow, 1);
      EXPECT_EQ(e.msMaskPresent, c[k].present);
      for (int b = 0; b < 25; ++b) EXPECT_EQ(e.msUsed[b], c[k].present == 1 && b % 3 == 0) << b;
    }
  }
}

#ifdef NDEBUG
TEST(BitstreamRoundTrip, PairWithDifferentLayoutsIsWrittenWithoutCommonWindow) {
  std::mt19937 rng(3);
  auto ctx = MakeStream(2, 0, k44100, kHeaderRaw);
  const int groups[3] = {3, 2, 3};
  const auto left = CodeRandomChannel(*ctx, 0, rng, 6, 10, groups, 3);
  const auto right = CodeRandomChannel(*ctx, 1, rng, 6, 20);
  ctx->channelInfo[0].commonWindow = 1;
  ctx->channelInfo[0].msInfo.msMode = 2;
  const ParsedFrame frame = WriteAndParse(*ctx);
  EXPECT_EQ(frame.elements[0].commonWindow, 0);
  ExpectChannel(frame.elements[0].ch[0], ctx->coding[0], left);
  ExpectChannel(frame.elements[0].ch[1], ctx->coding[1], right);
}
#endif

TEST(SideInfoRoundTrip, MainPredictionFlagsAndResetGroupReadBack) {
  std::mt19937 rng(4);
  auto ctx = MakeStream(1, 0, k44100, kHeaderRaw);
  ctx->profile = kProfileMain;
  ctx->predictorBandLimit = kPredSfbMax[k44100];
  CodeRandomChannel(*ctx, 0, rng, 10, 45);
  quant::ChannelCodingRecord& rec = ctx->coding[0];
  rec.predictionUsed = 1;
  rec.resetGroup = 29;
  for (int b = 0; b < 45; ++b) rec.bandPredicted[b] = b % 3 == 1;
  const ParsedFrame frame = WriteAndParse(*ctx);
  const auto& ics = frame.elements[0].ch[0].ics;
  ASSERT_EQ(std::tuple(ics.predictorDataPresent, ics.predictorReset, ics.predictorResetGroup, ics.numPredictionUsed),
            std::tuple(1, 1, 29, kPredSfbMax[k44100]));
  for (int b = 0; b < ics.numPredictionUsed; ++b) EXPECT_EQ(ics.predictionUsed[b], b % 3 == 1) << b;
}

TEST(SideInfoRoundTrip, CommonWindowIcsInfoCarriesThePartnersLtpDataWith40Flags) {
  auto ctx = MakeStream(2, 0, k44100, kHeaderRaw);
  ctx->profile = kProfileLtp;
  for (int ch = 0; ch < 2; ++ch) {
    std::mt19937 same(1);
    CodeRandomChannel(*ctx, ch, same, 10, 49);
  }
  ctx->channelInfo[0].commonWindow = 1;
  ctx->ltp[1].present = 1;  // only the partner predicts: the flag is still set
  ctx->ltp[1].lag = 700;
  ctx->ltp[1].gainIndex = 3;
  for (int b = 0; b < 40; ++b) ctx->ltp[1].bandUsed[b] = b < 10;
  const ParsedFrame frame = WriteAndParse(*ctx);
  const auto& ics = frame.elements[0].ch[0].ics;
  const auto& ltp = ics.ltp[1];
  ASSERT_EQ(std::tuple(ics.predictorDataPresent, ics.ltp[0].present, ltp.present, ltp.lag, ltp.coef, ltp.numLongUsed),
            std::tuple(1, 0, 1, 700, 3, 40));
  for (int b = 0; b < 40; ++b) EXPECT_EQ(ltp.longUsed[b], b < 10);
}

TEST(SideInfoRoundTrip, TnsFiltersOfLongAndShortWindowsReadBackWithTheirFieldWidths) {
  const int groups[2] = {4, 4};
  for (bool isShort : {false, true}) {
    std::mt19937 rng(6);
    auto ctx = MakeStream(1, 0, k44100, kHeaderRaw);
    CodeRandomChannel(*ctx, 0, rng, 10, 14, isShort ? groups : nullptr, 2);
    TnsRecord& tns = ctx->tns[0];
    tns.present = 1;
    for (int w = 0; w < (isShort ? 8 : 1); w += 3) {
      TnsWindow& win = tns.window[w];
      win = {1, isShort ? 3 : 4, {}};
      win.filter.length = isShort ? 9 + w : 40;
      win.filter.order = isShort ? 1 + w % 7 : 12;
      const int lo = isShort ? -4 : -8, hi = isShort ? 3 : 7;  // both ends of the field
      for (int i = 1; i <= win.filter.order; ++i) win.filter.index[i] = i % 2 ? lo + (i - 1) / 2 : hi - (i - 2) / 2;
    }
    const ParsedChannel p = WriteAndParse(*ctx).elements[0].ch[0];
    ASSERT_EQ(p.tnsDataPresent, 1);
    for (int w = 0; w < (isShort ? 8 : 1); ++w) {
      SCOPED_TRACE(testing::Message() << "short " << isShort << " window " << w);
      const TnsWindow& win = tns.window[w];
      const auto& f = p.tns[w].filter[0];
      ASSERT_EQ(p.tns[w].nFilt, win.nFilt);
      if (!win.nFilt) continue;
      ASSERT_EQ(std::tuple(p.tns[w].coefRes, f.length, f.order),
                std::tuple(win.coefRes, win.filter.length, win.filter.order));
      for (int i = 0; i < f.order; ++i) EXPECT_EQ(f.coef[i], win.filter.index[i + 1] & ((1 << win.coefRes) - 1)) << i;
    }
  }
}

}  // namespace
}  // namespace aacs::enc
