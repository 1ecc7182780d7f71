// Bit budget, reservoir and the average-rate offset, as properties: the fill stays within the
// reservoir, grants never hand out more than the frame's share plus what the reservoir holds,
// channels split the grant by demand, and the offset rises when bits pile up and falls back when
// they run short.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "quant/rate_control.h"
#include "quant/bit_budget.h"
#include "support/zeroed_stream.h"

namespace aacs::quant {
namespace {

test::StreamPtr Stream(int channels, int bitRate, int vbr = 0) {
  auto ctx = test::MakeZeroedStream(44100, channels, bitRate);
  ctx->vbrMode = vbr;
  InitBitBudget(*ctx);
  return ctx;
}

TEST(BitBudget, FillStaysWithinTheReservoirWhateverTheFramesTake) {
  for (const int vbr : {0, 1}) {
    auto ctx = Stream(2, 128000, vbr);
    const int capacity = vbr ? 24000 : RateReservoirCapacity(*ctx);
    EXPECT_GE(capacity, ctx->reservoirSize);
    for (const int bits : {0, 100, 50000, 0, 0, 0, 20000, 3000, 0}) {
      ReservoirBeforeFrame(*ctx);
      EXPECT_GE(ctx->reservoirBits, ctx->meanFrameBits) << vbr;
      EXPECT_LE(ctx->reservoirBits, capacity + ctx->meanFrameBits + 1) << vbr;  // the share carries a remainder
      ReservoirAfterFrame(*ctx, bits);
    }
  }
}

TEST(BitBudget, GrantIsTheShareAndAtMostWhatTheReservoirHolds) {
  auto ctx = Stream(2, 128000);
  ctx->budgetPeLong[0] = 3000.0f;
  ctx->budgetPeLong[1] = 30.0f;
  for (const int fill : {0, 2000, 20000, 200000}) {
    ctx->reservoirBits = fill;
    ReservoirBeforeFrame(*ctx);
    FrameBudget b;
    ComputeFrameBudget(*ctx, 100, b);
    const int share = ctx->frameShareBits - 100;
    const int granted = b.ceilingA[0] + b.ceilingA[1];
    EXPECT_EQ(b.budget[0] + b.budget[1], share - share % 2);
    EXPECT_GE(granted, share + std::min(b.usableReservoir, 0) - 1) << fill;
    EXPECT_LE(granted, share + std::max(b.usableReservoir, 0)) << fill;
    EXPECT_LE(b.lendable, b.reservoirMax);
    EXPECT_GT(b.ceilingA[0], b.ceilingA[1]) << "the channel with the higher demand gets more";
    EXPECT_GE(b.ceilingA[1], 300);
  }
}

TEST(BitBudget, LfeKeepsASmallBudgetAndTheOthersShareTheRest) {
  auto ctx = test::MakeZeroedStream(48000, 6, 320000);
  InitBitBudget(*ctx);
  ReservoirBeforeFrame(*ctx);
  FrameBudget b;
  ComputeFrameBudget(*ctx, 200, b);  // no LFE element: equal shares
  for (int ch = 1; ch < 6; ++ch) EXPECT_EQ(b.budget[ch], b.budget[0]);
  ctx->channelInfo[5].isLfe = 1;
  ComputeFrameBudget(*ctx, 200, b);
  EXPECT_LT(b.budget[5] * 4, b.budget[0]);
  EXPECT_EQ(b.ceilingA[5], b.budget[5]);
  for (int ch = 0; ch < 5; ++ch) EXPECT_GT(b.ceilingA[ch], b.budget[5]) << ch;
}

// Frames that leave bits unspent push the offset up (coding below the model's thresholds);
// frames that overspend bring it back down, never below 0 dB.
TEST(AverageRate, OffsetFollowsTheReservoir) {
  auto ctx = Stream(2, 128000);
  float last = 0.0f;
  for (int frame = 0; frame < 40; ++frame) {
    ReservoirBeforeFrame(*ctx);
    ReservoirAfterFrame(*ctx, 200);  // a nearly silent frame
    EXPECT_GE(ctx->rateOffsetDb, last) << frame;
    last = ctx->rateOffsetDb;
  }
  EXPECT_GT(last, 10.0f);
  for (int frame = 0; frame < 200; ++frame) {
    ReservoirBeforeFrame(*ctx);
    ReservoirAfterFrame(*ctx, 2 * ctx->meanFrameBits);
  }
  EXPECT_EQ(ctx->rateOffsetDb, 0.0f);
  // Variable rate has no offset.
  auto vbr = Stream(2, 128000, 1);
  for (int frame = 0; frame < 10; ++frame) {
    ReservoirBeforeFrame(*vbr);
    ReservoirAfterFrame(*vbr, 10);
  }
  EXPECT_EQ(vbr->rateOffsetDb, 0.0f);
}

}  // namespace
}  // namespace aacs::quant
