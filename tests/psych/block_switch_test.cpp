// Window-sequence state machine, the attack detectors (time-domain and entropy-based), window
// grouping, analysis windows and the default bandwidth rule.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

#include "enc/filterbank.h"
#include "psych/attack.h"
#include "psych/block_switch.h"
#include "psy_test_util.h"

namespace aacs::psych {
namespace {

int Next(int seq, int prev, int now, int tda) {
  test::Stream s;
  s->numChannels = 1;
  s->timeDomainAttack = tda;
  s->windowSequence[0] = seq;
  s->prevBlockType[0] = prev;
  s->blockType[0] = now;
  UpdateWindowSequence(*s);
  EXPECT_EQ(s->prevBlockType[0], now);
  return s->windowSequence[0];
}

TEST(WindowSequence, TransitionsOfBothDetectors) {
  for (int tda : {0, 1}) {
    for (int prev : {0, 2}) {
      EXPECT_EQ(Next(kOnlyLong, prev, 0, tda), kOnlyLong);
      EXPECT_EQ(Next(kOnlyLong, prev, 2, tda), kLongStart);
      EXPECT_EQ(Next(kLongStop, prev, 0, tda), kOnlyLong);
      EXPECT_EQ(Next(kLongStop, prev, 2, tda), kLongStart);
    }
  }
  // Entropy detector: leave the short run only after two long decisions.
  EXPECT_EQ(Next(kEightShort, 0, 0, 0), kLongStop);
  EXPECT_EQ(Next(kEightShort, 0, 2, 0), kEightShort);
  EXPECT_EQ(Next(kEightShort, 2, 0, 0), kEightShort);
  EXPECT_EQ(Next(kLongStart, 2, 0, 0), kEightShort);
  EXPECT_EQ(Next(kLongStart, 0, 0, 0), kLongStop);
  // Time-domain detector: only the older decision counts.
  EXPECT_EQ(Next(kEightShort, 2, 0, 1), kEightShort);
  EXPECT_EQ(Next(kEightShort, 0, 2, 1), kLongStop);
  EXPECT_EQ(Next(kLongStart, 2, 2, 1), kEightShort);
}

TEST(WindowSequence, AnAttackWalksThroughStartShortStop) {
  test::Stream s;
  s->numChannels = 2;
  const int decisions[] = {0, 2, 0, 0, 0};
  const int expected[] = {kOnlyLong, kLongStart, kEightShort, kLongStop, kOnlyLong};
  for (int i = 0; i < 5; ++i) {
    s->blockType[0] = decisions[i];
    s->blockType[1] = 0;
    UpdateWindowSequence(*s);
    EXPECT_EQ(s->windowSequence[0], expected[i]) << i;
    EXPECT_EQ(s->windowSequence[1], kOnlyLong) << i;
  }
}

TEST(DefaultBandwidth, InterpolatesTheRateTable) {
  EXPECT_EQ(DefaultBandwidth(96000), 22050);
  EXPECT_EQ(DefaultBandwidth(95999), 19955);  // trunc(19255 + 15998 * 700 / 16000) + 1
  EXPECT_EQ(DefaultBandwidth(3999), 4000);
  EXPECT_EQ(DefaultBandwidthAlt(100000), 20217);  // trunc(19955 + 3999 * 2095 / 32000) + 1
  EXPECT_EQ(DefaultBandwidthAlt(128000), 22050);
  EXPECT_EQ(DefaultBandwidth(8000), 3400);  // trunc(3000 + 3999 * 400 / 4000) + 1
}

TEST(AnalysisWindows, KbdKindIsTheSymmetricFilterbankWindowAndUnknownKindsFallBackToHann) {
  std::vector<float> lw(2048), sw(256);
  GenerateWindow(3, 3, lw.data(), sw.data());
  for (int n = 0; n < 1024; ++n)
    ASSERT_EQ(std::tuple(lw[n], lw[2047 - n]), std::tuple(enc::KbdWindowLong()[n], lw[n])) << n;
  for (int n = 0; n < 128; ++n)
    ASSERT_EQ(std::tuple(sw[n], sw[255 - n]), std::tuple(enc::KbdWindowShort()[n], sw[n])) << n;
  testing::internal::CaptureStderr();
  GenerateWindow(0, 1, lw.data(), sw.data());
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("unknown window type for short blocks, defaulting to HANN window!"), std::string::npos);
  EXPECT_NE(err.find("unknown window type for long blocks, defaulting to HANN window!"), std::string::npos);
  EXPECT_FLOAT_EQ(sw[0], 0.0f);
  EXPECT_FLOAT_EQ(sw[255], 0.0f);
  EXPECT_NEAR(lw[1024], 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * 1024 / 2047), 1e-6);
  for (int n = 0; n < 128; ++n) ASSERT_NEAR(sw[n], sw[255 - n], 1e-6f);
}

// One partition of one line inside every attack range; its entropy per window is ln(E / T).
struct AwsFixture {
  PsyTables t{};
  PsyChannelState st{};
  PsyWorkArea w{};
  test::Stream s;
  AwsFixture() {
    t.shortPart.numPartitions = 1;
    t.shortPart.start[0] = 20;
    t.shortPart.end[0] = 21;
    t.shortPart.width[0] = 1;
    s->switchThreshold = 128.0f;
  }
  void SetPe(const float* pe) {
    for (int win = 0; win < kNumShortWindows; ++win) {
      st.preEchoThreshold[win][0] = 1.0f;
      w.shortPartEnergy[win][0] = std::exp(pe[win]);
    }
  }
  float Run(const float* pe, bool variantB) {
    SetPe(pe);
    if (variantB) PerformAwsB(t, st, w, kAwsDecide, *s);
    else PerformAwsA(t, st, w, 10, 100, kAwsDecide, *s);
    return w.attackFlag;
  }
  float RunA(const float* pe) { return Run(pe, false); }
  float RunB(const float* pe) { return Run(pe, true); }
};

TEST(PerformAws, BothVariantsSwitchOnRisesOnlyAndUnknownModesWarn) {
  const float flat[8] = {40, 40, 40, 40, 40, 40, 40, 40};
  const float fall[8] = {40, 40, 40, 40, 0, 0, 0, 0};   // pair sums 80 -> 0
  const float rise[8] = {0, 0, 0, 0, 50, 50, 0, 0};     // pair sums 0 -> 100
  AwsFixture a;
  EXPECT_EQ(a.RunA(flat), 0.0f);
  EXPECT_EQ(a.RunA(flat), 0.0f);
  EXPECT_FLOAT_EQ(a.st.peTotal, 320.0f);
  a.s->switchThreshold = 70.0f;
  EXPECT_EQ(a.RunA(fall), 0.0f);  // a fall of 80 needs no short blocks
  EXPECT_EQ(a.RunA(rise), 1.0f);  // a rise of 100 does
  AwsFixture b;
  b.RunB(flat);
  EXPECT_EQ(b.RunB(fall), 0.0f);   // variant B ignores falls
  EXPECT_EQ(b.RunB(rise), 1.0f);   // 100 > 80
  b.s->preEchoLimit = 1;
  const float smallRise[8] = {0, 0, 0, 0, 35, 35, 0, 0};  // 70: only with the pre-echo limit
  b.RunB(flat);
  b.RunB(fall);
  EXPECT_EQ(b.RunB(smallRise), 1.0f);
  b.s->preEchoLimit = 0;
  b.RunB(fall);
  EXPECT_EQ(b.RunB(smallRise), 0.0f);
  b.w.attackFlag = 0.0f;
  testing::internal::CaptureStderr();
  PerformAwsB(b.t, b.st, b.w, 3, *b.s);
  EXPECT_NE(testing::internal::GetCapturedStderr().find("PerformAWS(): Unknown block switching mode"),
            std::string::npos);
  EXPECT_EQ(b.w.attackFlag, 0.0f);
}

// A frame that is quiet up to `at` and then holds `level` (a step).
std::vector<float> Step(int at, float level) {
  std::vector<float> x(kFrameLength, 0.0f);
  for (int i = at; i < kFrameLength; ++i) x[i] = (i % 2 ? level : -level);
  return x;
}

TEST(AttackDetector, FiresAbovePeak100OnASegmentTenTimesTheOneBefore) {
  test::Stream s(44100, 1);
  ASSERT_EQ(PsyModelAllocate(*s), 0);
  EXPECT_EQ(DetectAttackSimple(*s, 0, Step(600, 100.0f).data()), 0);
  EXPECT_EQ(DetectAttackSimple(*s, 1, Step(600, 101.0f).data()), 1);
  // The filter's history carries over: a frame that stays at the level is no new attack.
  EXPECT_EQ(DetectAttackSimple(*s, 1, Step(0, 101.0f).data()), 0);
  // Segment maxima jump at sample 512 for all three segment lengths; the loosest ratio is the
  // 128-sample one (10x).
  auto jumpTo = [](float level) {
    std::vector<float> f(kFrameLength, 1.0f);
    for (int i = 512; i < 544; ++i) f[i] = level;
    return f;
  };
  EXPECT_EQ(AttackInSegments(jumpTo(9.0f).data(), 1000.0f), 0);
  EXPECT_EQ(AttackInSegments(jumpTo(11.0f).data(), 1000.0f), 1);
  EXPECT_EQ(AttackInSegments(jumpTo(11.0f).data(), 100.0f), 0);
}

TEST(Grouping, ClassesFromTheChangeMeasuresWithStrictComparisonsCoverEightWindows) {
  struct Case { float d1, d2, d3; int cls; };
  const Case cases[] = {
      {200, 160, 151, 1}, {0, 0, 0, 2},      {10, 20, 60, 3},  {60, 20, 10, 4},   {10, 60, 60, 5},
      {60, 10, 60, 6},    {60, 60, 10, 7},   {100, 60, 60, 8}, {60, 100, 60, 9},  {60, 60, 100, 10},
      {10, 60, 10, 2},    {200, 200, 100, 8}, {151, 151, 150, 8},
      {50, 50, 50, 2},    {50, 20, 60, 2},   {20, 50, 60, 2},  // exactly 50 fails every rule
      {60.5f, 60.7f, 55.0f, 9}, {60.5f, 60.0f, 60.2f, 10}};  // the maximum is truncated: (int)60.5 = 60
  for (const Case& c : cases)
    EXPECT_EQ(ChooseGroupClass(c.d1, c.d2, c.d3), c.cls) << c.d1 << " " << c.d2 << " " << c.d3;
  const int groups[10] = {4, 2, 2, 2, 3, 3, 3, 3, 3, 3};
  for (int cls = 1; cls <= 10; ++cls) {
    PsyChannelState st{};
    SetGrouping(st, cls);
    EXPECT_EQ(st.groupClassMinus1, cls - 1);
    ASSERT_EQ(st.numGroups, groups[cls - 1]);
    int sum = 0;
    for (int g = 0; g < kNumShortWindows; ++g) {
      sum += st.groupLength[g];
      EXPECT_TRUE(g < st.numGroups ? st.groupLength[g] > 0 : st.groupLength[g] == 0) << cls << " " << g;
    }
    EXPECT_EQ(sum, 8) << cls;
  }
}

}  // namespace
}  // namespace aacs::psych
