// ics_info, prediction, long-term-prediction and TNS data: sizes, field values, and what the
// independent parser reads back.
#include <gtest/gtest.h>

#include <random>

#include "api/stream_context.h"
#include "enc/band_tables.h"
#include "enc/side_info.h"
#include "enc/syntax.h"
#include "support/aac_parser.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

constexpr int k44100 = 4;

struct Reader {
  const BitWriter* w;
  int pos = 0;
  int Get(int n) {
    int v = 0;
    for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((w->data[pos >> 3] >> (7 - (pos & 7))) & 1);
    return v;
  }
};

test::ParsedFrame WriteAndParse(StreamContext& ctx) {
  BitWriter* w = BitWriterCreate(200000);
  WriteFrame(ctx, w);
  test::ParsedFrame frame;
  std::string error;
  EXPECT_TRUE(test::ParseRawDataBlock(w->data, static_cast<size_t>(BitWriterBitsUsed(w) / 8),
                                      {ctx.profile, ctx.sampleRateIndex}, &frame, &error))
      << error;
  BitWriterFree(w);
  return frame;
}

TEST(SideInfo, GroupLengths323GiveGroupingBits1101011InA15BitIcsInfo) {
  auto ctx = test::MakeStream(1, 0, k44100, 0);
  const int groups[3] = {3, 2, 3};
  test::SetShortLayout(ctx->coding[0], k44100, 12, groups, 3);
  ctx->coding[0].windowShape = 1;
  ctx->ltp[0].present = 1;  // an eight-short ics_info never carries predictor data
  ctx->profile = kProfileLtp;
  BitWriter* w = BitWriterCreate(64);
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, w, 1), 15);
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, nullptr, 0), 15);
  Reader r{w};
  EXPECT_EQ(r.Get(1), 0);
  EXPECT_EQ(r.Get(2), kEightShort);
  EXPECT_EQ(r.Get(1), 1);
  EXPECT_EQ(r.Get(4), 12);
  EXPECT_EQ(r.Get(7), 0b1101011);
  BitWriterFree(w);
}

TEST(SideInfo, LongIcsInfoIs11BitsInLowComplexityAndMainWithoutPrediction) {
  auto ctx = test::MakeStream(1, 0, k44100, 0);
  test::SetLongLayout(ctx->coding[0], k44100, 49);
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, nullptr, 0), 11);
  ctx->ltp[0].present = 1;  // LC never carries prediction, whatever the tool state says
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, nullptr, 0), 11);
  ctx->profile = kProfileLtp;
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, nullptr, 0), 11 + 15 + 40);
  ctx->profile = kProfileMain;
  ctx->predictorBandLimit = kPredSfbMax[k44100];
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, nullptr, 0), 11);
  ctx->coding[0].predictionUsed = 1;
  ctx->coding[0].resetGroup = -1;
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, nullptr, 0), 10 + 2 + kPredSfbMax[k44100]);
  ctx->coding[0].resetGroup = 7;
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 0, 0, nullptr, 0), 10 + 2 + 5 + kPredSfbMax[k44100]);
}

TEST(SideInfo, MainPredictionRoundTripsThroughTheParser) {
  std::mt19937 rng(4);
  auto ctx = test::MakeStream(1, 0, k44100, 0);
  ctx->profile = kProfileMain;
  ctx->predictorBandLimit = kPredSfbMax[k44100];
  test::CodeRandomChannel(*ctx, 0, rng, 10, 45);
  quant::ChannelCodingRecord& rec = ctx->coding[0];
  rec.predictionUsed = 1;
  rec.resetGroup = 29;
  for (int b = 0; b < 45; ++b) rec.bandPredicted[b] = b % 3 == 1;
  const auto frame = WriteAndParse(*ctx);
  ASSERT_EQ(frame.elements.size(), 1u);
  const auto& ics = frame.elements[0].ch[0].ics;
  EXPECT_EQ(ics.predictorDataPresent, 1);
  EXPECT_EQ(ics.predictorReset, 1);
  EXPECT_EQ(ics.predictorResetGroup, 29);
  ASSERT_EQ(ics.numPredictionUsed, kPredSfbMax[k44100]);
  for (int b = 0; b < ics.numPredictionUsed; ++b) EXPECT_EQ(ics.predictionUsed[b], b % 3 == 1) << b;
}

TEST(SideInfo, LtpDataWith49BandsCarries40Flags) {
  LtpRecord ltp{};
  ltp.present = 1;
  ltp.lag = 1234;
  ltp.gainIndex = 5;
  for (int b = 0; b < 49; ++b) ltp.bandUsed[b] = b % 2;
  EXPECT_EQ(WriteLtpData(ltp, kOnlyLong, 49, nullptr, 0), 15 + 40);
  EXPECT_EQ(WriteLtpData(ltp, kOnlyLong, 12, nullptr, 0), 15 + 12);
  EXPECT_EQ(WriteLtpData(ltp, kEightShort, 49, nullptr, 0), 1);
  ltp.present = 0;
  EXPECT_EQ(WriteLtpData(ltp, kOnlyLong, 49, nullptr, 0), 1);
}

TEST(SideInfo, CommonWindowIcsInfoCarriesBothChannelsLtpData) {
  std::mt19937 rng(8);
  auto ctx = test::MakeStream(2, 0, k44100, 0);
  ctx->profile = kProfileLtp;
  for (int ch = 0; ch < 2; ++ch) {
    std::mt19937 same(1);
    test::CodeRandomChannel(*ctx, ch, same, 10, 49);
  }
  ctx->channelInfo[0].commonWindow = 1;
  ctx->ltp[1].present = 1;  // only the partner predicts: the flag is still set
  ctx->ltp[1].lag = 700;
  ctx->ltp[1].gainIndex = 3;
  for (int b = 0; b < 40; ++b) ctx->ltp[1].bandUsed[b] = b < 10;
  EXPECT_EQ(WriteIcsInfo(*ctx, 0, 1, 1, nullptr, 0), 11 + 1 + 55);
  const auto frame = WriteAndParse(*ctx);
  ASSERT_EQ(frame.elements.size(), 1u);
  const auto& ics = frame.elements[0].ch[0].ics;
  EXPECT_EQ(ics.predictorDataPresent, 1);
  EXPECT_EQ(ics.ltp[0].present, 0);
  EXPECT_EQ(ics.ltp[1].present, 1);
  EXPECT_EQ(ics.ltp[1].lag, 700);
  EXPECT_EQ(ics.ltp[1].coef, 3);
  ASSERT_EQ(ics.ltp[1].numLongUsed, 40);
  for (int b = 0; b < 40; ++b) EXPECT_EQ(ics.ltp[1].longUsed[b], b < 10);
}

TEST(SideInfo, TnsFieldsUseWindowWidthsAndMaskedCoefficients) {
  TnsRecord tns{};
  EXPECT_EQ(WriteTnsData(tns, kOnlyLong, nullptr, 0), 1);
  tns.present = 1;
  tns.window[0] = {1, 4, {}};
  tns.window[0].filter.length = 20;
  tns.window[0].filter.order = 0;  // order 0: length and order only
  EXPECT_EQ(WriteTnsData(tns, kOnlyLong, nullptr, 0), 1 + 2 + 1 + 6 + 5);
  tns.window[0].filter.order = 3;
  const int idx[4] = {0, -3, 7, -8};
  for (int i = 1; i <= 3; ++i) tns.window[0].filter.index[i] = idx[i];
  EXPECT_EQ(WriteTnsData(tns, kOnlyLong, nullptr, 0), 15 + 2 + 3 * 4);
  BitWriter* w = BitWriterCreate(256);
  WriteTnsData(tns, kOnlyLong, w, 1);
  Reader r{w};
  r.Get(1 + 2 + 1 + 6 + 5 + 2);
  EXPECT_EQ(r.Get(4), 0xD);  // -3
  EXPECT_EQ(r.Get(4), 0x7);
  EXPECT_EQ(r.Get(4), 0x8);  // -8
  BitWriterFree(w);
  // Eight windows of 1-bit n_filt, 4-bit length, 3-bit order.
  tns.window[0].filter.order = 2;
  EXPECT_EQ(WriteTnsData(tns, kEightShort, nullptr, 0), 1 + 8 + 1 + 4 + 3 + 2 + 2 * 4);
}

TEST(SideInfo, TnsDataRoundTripsThroughTheParser) {
  std::mt19937 rng(6);
  auto ctx = test::MakeStream(1, 0, k44100, 0);
  const int groups[2] = {4, 4};
  test::CodeRandomChannel(*ctx, 0, rng, 10, 14, groups, 2);
  TnsRecord& tns = ctx->tns[0];
  tns.present = 1;
  for (int w = 0; w < 8; w += 3) {
    tns.window[w].nFilt = 1;
    tns.window[w].coefRes = 3;
    tns.window[w].filter.length = 9 + w;
    tns.window[w].filter.order = 1 + w % 7;
    for (int i = 1; i <= tns.window[w].filter.order; ++i) tns.window[w].filter.index[i] = i % 2 ? -i % 4 : i % 4;
  }
  const auto frame = WriteAndParse(*ctx);
  ASSERT_EQ(frame.elements.size(), 1u);
  const auto& p = frame.elements[0].ch[0];
  ASSERT_EQ(p.tnsDataPresent, 1);
  for (int w = 0; w < 8; ++w) {
    ASSERT_EQ(p.tns[w].nFilt, tns.window[w].nFilt) << w;
    if (!p.tns[w].nFilt) continue;
    EXPECT_EQ(p.tns[w].coefRes, 3);
    EXPECT_EQ(p.tns[w].filter[0].length, tns.window[w].filter.length);
    ASSERT_EQ(p.tns[w].filter[0].order, tns.window[w].filter.order);
    for (int i = 0; i < p.tns[w].filter[0].order; ++i)
      EXPECT_EQ(p.tns[w].filter[0].coef[i], tns.window[w].filter.index[i + 1] & 7);
  }
}

}  // namespace
}  // namespace aacs::enc
