// Channel element map, element and header writers, frame assembly and the fixed side bits.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "api/stream_context.h"
#include "enc/channel_info.h"
#include "enc/huffman.h"
#include "enc/syntax.h"
#include "support/aac_parser.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

constexpr int k44100 = 4;

std::vector<uint8_t> WriteBytes(StreamContext& ctx, int* frameBits = nullptr) {
  BitWriter* w = BitWriterCreate(200000);
  const int bits = WriteFrame(ctx, w);
  if (frameBits) *frameBits = bits;
  std::vector<uint8_t> out(w->data, w->data + BitWriterBitsUsed(w) / 8);
  BitWriterFree(w);
  return out;
}

// A mono frame whose channel has all-zero spectrum in 3 bands.
test::StreamPtr SilentMono(int headerType, int adtsBits) {
  auto ctx = test::MakeStream(1, 0, k44100, headerType, adtsBits);
  test::SetLongLayout(ctx->coding[0], k44100, 3);
  BuildCodewordList(ctx->coding[0]);
  return ctx;
}

TEST(ChannelMap, LayoutsForOneToSixChannelsWithAndWithoutLfe) {
  struct Expect {
    const char* kinds;  // per channel: S single, L lfe, P first of pair, p second
    int tags[6];
  } cases[2][6] = {
      {{"S", {0}}, {"Pp", {0}}, {"SPp", {0, 0}}, {"SPpS", {0, 0, 0, 1}}, {"SPpPp", {0, 0, 0, 1}},
       {"SPpPpS", {0, 0, 0, 1, 1, 1}}},
      {{"S", {0}}, {"Pp", {0}}, {"SPp", {0, 0}}, {"SPpL", {0, 0, 0, 0}}, {"SPpPp", {0, 0, 0, 1}},
       {"SPpPpL", {0, 0, 0, 1, 1, 0}}},
  };
  for (int lfe = 0; lfe < 2; ++lfe)
    for (int n = 1; n <= 6; ++n) {
      ChannelInfo info[kMaxPsySlots] = {};
      info[3].commonWindow = 1;  // stale state from a previous frame
      info[0].msInfo.msMode = 2;
      BuildChannelMap(info, n, lfe);
      const Expect& e = cases[lfe][n - 1];
      for (int ch = 0; ch < 6; ++ch) {
        SCOPED_TRACE(testing::Message() << n << " channels, lfe " << lfe << ", channel " << ch);
        if (ch >= n) {
          EXPECT_EQ(info[ch].present, 0);
          continue;
        }
        const char k = e.kinds[ch];
        EXPECT_EQ(info[ch].present, 1);
        EXPECT_EQ(info[ch].isPair, k == 'P' || k == 'p');
        EXPECT_EQ(info[ch].isLfe, k == 'L');
        EXPECT_EQ(info[ch].isFirstOfPair, k == 'P');
        EXPECT_EQ(info[ch].commonWindow, 0);
        EXPECT_EQ(info[ch].msInfo.msMode, 0);
        if (k != 'p') {
          EXPECT_EQ(info[ch].tag, e.tags[ch]);
        }
        if (k == 'P' || k == 'p') {
          EXPECT_EQ(info[ch].pairedChannel, k == 'P' ? ch + 1 : ch - 1);
        }
      }
    }
}

TEST(AdtsHeader, MonoLc44100In56And58BitForms) {
  for (int bits : {56, 58}) {
    auto ctx = SilentMono(kHeaderAdts, bits);
    int frameBits = 0;
    const auto bytes = WriteBytes(*ctx, &frameBits);
    const int length = static_cast<int>(bytes.size());
    ASSERT_EQ(length, (frameBits + 7) / 8);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xF1);  // MPEG-4, layer 0, no CRC
    EXPECT_EQ(bytes[2], 0x50);  // profile 1 (LC), index 4, private 0, channel config high bit 0
    if (bits == 56) {
      EXPECT_EQ(bytes[3], 0x40 | (length >> 11));  // channel config 1, then length bits 12-11
      EXPECT_EQ(bytes[4], (length >> 3) & 0xFF);
      EXPECT_EQ(bytes[5], ((length & 7) << 5) | 0x1F);
      EXPECT_EQ(bytes[6], 0xFC);
    } else {
      EXPECT_EQ(bytes[3], 0x40);  // emphasis and copyright bits follow, all 0
      EXPECT_EQ(bytes[4], length >> 5);
      EXPECT_EQ(bytes[5], ((length & 0x1F) << 3) | 0x07);
      EXPECT_EQ(bytes[6], 0xFF);
      EXPECT_EQ(bytes[7] >> 6, 0);  // number_of_raw_data_blocks; the SCE id starts at bit 58
    }
    test::ParsedFrame frame;
    std::string error;
    ASSERT_TRUE(test::ParseAdtsFrame(bytes.data(), bytes.size(), bits, &frame, &error)) << error;
    EXPECT_EQ(frame.adts.headerBits, bits);
    EXPECT_EQ(frame.adts.frameLength, length);
    EXPECT_EQ(frame.adts.bufferFullness, 0x7FF);
    EXPECT_EQ(frame.adts.channelConfig, 1);
    EXPECT_EQ(frame.elements[0].ch[0].ics.maxSfb, 3);
    EXPECT_EQ(frameBits, bits + 7 + 8 + 11 + 9 + 1 + 1 + 1 + 3) << "header, SCE, END";
  }
}

TEST(FrameSyntax, RawFramesStartWithTheElementId) {
  auto ctx = SilentMono(kHeaderRaw, 56);
  const auto bytes = WriteBytes(*ctx);
  EXPECT_EQ(bytes[0] >> 5, 0);  // SCE
  ctx = test::MakeStream(2, 0, k44100, kHeaderRaw);
  for (int ch = 0; ch < 2; ++ch) {
    test::SetLongLayout(ctx->coding[ch], k44100, 3);
    BuildCodewordList(ctx->coding[ch]);
  }
  EXPECT_EQ(WriteBytes(*ctx)[0] >> 5, 1);  // CPE
}

test::StreamPtr CommonWindowPair(int msMode, bool allSet) {
  std::mt19937 rng(3);
  auto ctx = test::MakeStream(2, 0, k44100, kHeaderRaw);
  const int groups[3] = {3, 2, 3};
  for (int ch = 0; ch < 2; ++ch) {
    std::mt19937 same(12);
    test::CodeRandomChannel(*ctx, ch, same, 6, 10, groups, 3);
  }
  ctx->channelInfo[0].commonWindow = 1;
  ctx->channelInfo[0].msInfo.msMode = msMode;
  for (int b = 0; b < 30; ++b) ctx->channelInfo[0].msInfo.msUsed[b] = allSet || b != 17;
  return ctx;
}

TEST(FrameSyntax, MidSideMaskPresentFollowsTheFlags) {
  struct Case {
    int msMode;
    bool allSet;
    int present;
    int maskBits;
  } cases[] = {{1, true, 2, 0}, {1, false, 1, 30}, {0, true, 0, 0}, {2, true, 2, 0}};
  for (const auto& c : cases) {
    auto ctx = CommonWindowPair(c.msMode, c.allSet);
    const auto bytes = WriteBytes(*ctx);
    test::ParsedFrame frame;
    std::string error;
    ASSERT_TRUE(test::ParseRawDataBlock(bytes.data(), bytes.size(), {1, k44100}, &frame, &error)) << error;
    ASSERT_EQ(frame.elements.size(), 1u);
    EXPECT_EQ(frame.elements[0].commonWindow, 1);
    EXPECT_EQ(frame.elements[0].msMaskPresent, c.present) << c.msMode << c.allSet;
    for (int b = 0; b < 30; ++b) {
      EXPECT_EQ(frame.elements[0].msUsed[b], c.present == 1 && b != 17);
    }
    // Fixed side bits: ids, common_window, one 15-bit ics_info, the mask, and per channel
    // global_gain and three flags; END and worst-case alignment.
    EXPECT_EQ(CountFixedSideBits(*ctx), 7 + 1 + 15 + 2 + c.maskBits + 2 * (8 + 3) + 3 + 7);
  }
}

#ifdef NDEBUG
TEST(FrameSyntax, PairWithDifferentLayoutsIsWrittenWithoutCommonWindow) {
  auto ctx = CommonWindowPair(1, false);
  test::SetLongLayout(ctx->coding[1], k44100, 20);
  BuildCodewordList(ctx->coding[1]);
  const auto bytes = WriteBytes(*ctx);
  test::ParsedFrame frame;
  std::string error;
  ASSERT_TRUE(test::ParseRawDataBlock(bytes.data(), bytes.size(), {1, k44100}, &frame, &error)) << error;
  EXPECT_EQ(frame.elements[0].commonWindow, 0);
  EXPECT_EQ(frame.elements[0].ch[1].ics.maxSfb, 20);
}
#endif

TEST(FrameSyntax, FixedSideBitsOfA51LayoutWithAdts) {
  auto ctx = test::MakeStream(6, 1, k44100, kHeaderAdts, 58);
  for (int ch = 0; ch < 6; ++ch) test::SetLongLayout(ctx->coding[ch], k44100, 10);
  // SCE, CPE, CPE, LFE elements; no common windows: every channel has its own 11-bit ics_info.
  EXPECT_EQ(CountFixedSideBits(*ctx), 58 + 4 * 7 + 2 * 1 + 6 * (8 + 11 + 3) + 3 + 7);
}

TEST(AdifHeader, StereoIsTheClassic17ByteHeader) {
  auto ctx = test::MakeStream(2, 0, k44100, kHeaderAdif);
  uint8_t bytes[64];
  ASSERT_EQ(BuildAdifHeader(*ctx, 128000, bytes), 17);
  EXPECT_EQ(AdifHeaderBytes(*ctx), 17);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(bytes), 4), "ADIF");
  test::AdifHeader h;
  std::string error;
  ASSERT_TRUE(test::ParseAdifHeader(bytes, 17, &h, &error)) << error;
  EXPECT_EQ(h.headerBytes, 17);
  EXPECT_EQ(h.bitstreamType, 0);
  EXPECT_EQ(h.bitRate, 128000);
  EXPECT_EQ(h.numProgramConfigs, 1);
  EXPECT_EQ(h.pce.objectType, 1);
  EXPECT_EQ(h.pce.sfIndex, k44100);
  ASSERT_EQ(h.pce.numFront, 1);
  EXPECT_EQ(h.pce.frontIsCpe[0], 1);
  EXPECT_EQ(h.pce.numBack + h.pce.numSide + h.pce.numLfe, 0);
  EXPECT_EQ(h.pce.commentBytes, 0);
  EXPECT_EQ(bytes[16], 0);  // comment_field_bytes after the alignment
}

TEST(AdifHeader, MultichannelProgramConfigDescribesTheElements) {
  auto ctx = test::MakeStream(6, 1, 3, kHeaderAdif);
  uint8_t bytes[64];
  const int n = BuildAdifHeader(*ctx, 384000, bytes);
  EXPECT_EQ(n, AdifHeaderBytes(*ctx));
  test::AdifHeader h;
  std::string error;
  ASSERT_TRUE(test::ParseAdifHeader(bytes, static_cast<size_t>(n), &h, &error)) << error;
  EXPECT_EQ(h.headerBytes, n);
  ASSERT_EQ(h.pce.numFront, 2);
  EXPECT_EQ(h.pce.frontIsCpe[0], 0);
  EXPECT_EQ(h.pce.frontIsCpe[1], 1);
  ASSERT_EQ(h.pce.numBack, 1);
  EXPECT_EQ(h.pce.backIsCpe[0], 1);
  EXPECT_EQ(h.pce.backTag[0], 1);
  EXPECT_EQ(h.pce.numLfe, 1);

  ctx = test::MakeStream(1, 0, 11, kHeaderAdif);
  EXPECT_EQ(BuildAdifHeader(*ctx, 8000, bytes), 17);
  ctx->sampleRate = 44000;
  EXPECT_EQ(BuildAdifHeader(*ctx, 8000, bytes), 0) << "unknown sampling rate";
}

}  // namespace
}  // namespace aacs::enc
