// Bit budget and reservoir: stream figures, settlement (never negative, never past the size),
// the frame grant after side bits, and the per-channel ceilings at the water marks.
#include <gtest/gtest.h>

#include <tuple>

#include "quant/bit_budget.h"
#include "support/zeroed_stream.h"

namespace aacs::quant {
namespace {

test::StreamPtr Stereo128(int vbr = 0) {
  auto ctx = test::MakeZeroedStream(44100, 2, 128000);
  ctx->vbrMode = vbr;
  InitBitBudget(*ctx);
  return ctx;
}

TEST(BitBudget, ReservoirStartsFullAndSettlementKeepsItBetweenZeroAndItsSize) {
  auto ctx = Stereo128();
  EXPECT_EQ(std::tuple(ctx->meanFrameBits, ctx->reservoirSize, ctx->reservoirLowMark, ctx->reservoirHighMark,
                       ctx->reservoirBits),
            std::tuple(2972, 10240, 5120, 7680, 10240));
  ReservoirBeforeFrame(*ctx);
  EXPECT_EQ(ctx->reservoirBits, 10240 + 2972);
  ReservoirAfterFrame(*ctx, 20000);
  ReservoirBeforeFrame(*ctx);
  EXPECT_EQ(ctx->reservoirBits, 2972);  // a negative fill is raised to 0
  ctx->reservoirBits = 20000000;
  ReservoirBeforeFrame(*ctx);
  EXPECT_EQ(ctx->reservoirBits, 10000000 + 2972);
  FrameBudget b;
  ctx->reservoirBits = 30000;
  ComputeFrameBudget(*ctx, 0, b);
  EXPECT_EQ(b.lendable, 10230) << "lending stops short of the reservoir size";
  // Variable rate keeps fill and size at 24000 whatever the frames take.
  ctx = Stereo128(1);
  for (int bits : {100, 9000, 50000}) {
    ReservoirBeforeFrame(*ctx);
    EXPECT_EQ(std::tuple(ctx->reservoirBits, ctx->reservoirSize), std::tuple(24000 + 2972, 24000));
    ReservoirAfterFrame(*ctx, bits);
  }
}

TEST(BitBudget, GrantAccountsForSideBitsAlignmentAndEndMarker) {
  auto ctx = Stereo128();
  ReservoirBeforeFrame(*ctx);
  ctx->budgetPeLong[0] = 1000.0f;
  ctx->budgetPeLong[1] = 100.0f;
  FrameBudget b;
  ComputeFrameBudget(*ctx, 100, b);
  // F = floor8(10240 - 100 + 2972) - 2972 - 3.
  EXPECT_EQ(std::tuple(b.usableReservoir, b.reservoirMax, b.budget[0], b.budget[1], ctx->coding[0].fixedSideShare),
            std::tuple(10137, 10240, 1436, 1436, 50));
  // Full reservoir: T = 2872 + min(2872 / 4, ...) = 3590; demands 1358 and 300.
  EXPECT_EQ(std::tuple(b.ceilingA[0], b.ceilingA[1]), std::tuple(1358 + 966, 300 + 966));
  ApplyChannelCeilings(*ctx, b, 1);
  EXPECT_EQ(ctx->loopThresholdA, 1266);
  // Variable rate leaves the ceilings alone.
  ctx = Stereo128(1);
  ctx->loopThresholdA = 1234;
  ReservoirBeforeFrame(*ctx);
  ComputeFrameBudget(*ctx, 100, b);
  EXPECT_EQ(b.ceilingA[0], 1234);
}

TEST(BitBudget, BelowTheLowMarkStereoGives80BitsBackAndNoChannelGetsUnder300) {
  auto ctx = Stereo128();
  ctx->reservoirBits = 3000 + 2972;
  ctx->budgetPeLong[0] = ctx->budgetPeLong[1] = 400.0f;
  FrameBudget b;
  ComputeFrameBudget(*ctx, 100, b);
  EXPECT_EQ(b.usableReservoir, 2897);
  EXPECT_EQ(std::tuple(b.ceilingA[0], b.ceilingA[1]), std::tuple(1396, 1396));  // 2872 - 80 in halves
  ctx->windowSequence[0] = kEightShort;  // a short block gets the reservoir share even here
  ctx->budgetPeShort[0] = 400.0f;
  ComputeFrameBudget(*ctx, 100, b);
  EXPECT_EQ(b.ceilingA[0] + b.ceilingA[1], 2872 + 718);
  ctx->windowSequence[0] = kOnlyLong;
  ctx->budgetPeLong[0] = 5000.0f;
  ctx->budgetPeLong[1] = 0.0f;
  ComputeFrameBudget(*ctx, 100, b);
  EXPECT_EQ(std::tuple(b.ceilingA[0], b.ceilingA[1]), std::tuple(4697 - 952, 300));
}

TEST(BitBudget, LfeRuleOnlyWithAnLfeElement) {
  auto ctx = test::MakeZeroedStream(48000, 6, 320000);
  InitBitBudget(*ctx);
  EXPECT_EQ(std::tuple(ctx->meanFrameBits, ctx->reservoirSize), std::tuple(6826, 30720));
  ReservoirBeforeFrame(*ctx);
  FrameBudget b;
  ComputeFrameBudget(*ctx, 200, b);  // no channel marked LFE: equal shares
  for (int ch = 0; ch < 6; ++ch) EXPECT_EQ(b.budget[ch], 6626 / 6);
  ctx->channelInfo[5].isLfe = 1;
  ComputeFrameBudget(*ctx, 200, b);
  EXPECT_EQ(b.budget[5], 200 + 170);
  for (int ch = 0; ch < 5; ++ch) EXPECT_EQ(b.budget[ch], (6626 - 200) / 5 + 1186) << ch;
}

TEST(BitBudget, MonoLongCeilingMovesOnlyAtTheWaterMarks) {
  auto ctx = test::MakeZeroedStream(44100, 1, 64000);
  InitBitBudget(*ctx);
  ReservoirBeforeFrame(*ctx);
  FrameBudget b;
  ComputeFrameBudget(*ctx, 50, b);  // F = 5063: above the high mark
  EXPECT_EQ(std::tuple(b.ceilingA[0], b.ceilingB[0]), std::tuple(1436 + 363, 1436 + 368));
  ctx->loopThresholdA = 777;
  ctx->reservoirBits = 3000 + 1486;  // between the marks: unchanged
  ComputeFrameBudget(*ctx, 50, b);
  EXPECT_EQ(b.ceilingA[0], 777);
  ctx->reservoirBits = 1000 + 1486;  // below the low mark
  ComputeFrameBudget(*ctx, 50, b);
  EXPECT_EQ(std::tuple(b.ceilingA[0], ctx->loopThresholdA), std::tuple(1436 - 40, 1436 - 40));
}

}  // namespace
}  // namespace aacs::quant
