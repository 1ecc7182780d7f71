// Window grouping classes and the time-domain attack detector.
#include <gtest/gtest.h>

#include "psych/attack.h"
#include "psych/psy_model.h"
#include "psy_test_util.h"

namespace aacs::psych {
namespace {

TEST(Grouping, EveryClassFromItsChangeMeasures) {
  struct Case {
    float d1, d2, d3;
    int cls;
  };
  const Case cases[] = {
      {200, 160, 151, 1}, {0, 0, 0, 2},      {10, 20, 60, 3},  {60, 20, 10, 4},   {10, 60, 60, 5},
      {60, 10, 60, 6},    {60, 60, 10, 7},   {100, 60, 60, 8}, {60, 100, 60, 9},  {60, 60, 100, 10},
      {10, 60, 10, 2},    {200, 200, 100, 8}, {151, 151, 150, 8}};
  for (const Case& c : cases)
    EXPECT_EQ(ChooseGroupClass(c.d1, c.d2, c.d3), c.cls) << c.d1 << " " << c.d2 << " " << c.d3;
}

TEST(Grouping, ComparisonsAreStrictAndTheMaximumIsTruncated) {
  // Exactly 50 fails every rule.
  EXPECT_EQ(ChooseGroupClass(50, 50, 50), 2);
  EXPECT_EQ(ChooseGroupClass(50, 20, 60), 2);
  EXPECT_EQ(ChooseGroupClass(20, 50, 60), 2);
  // (int)60.5 = 60 < 60.7, and 60 < 55 fails: the second measure wins.
  EXPECT_EQ(ChooseGroupClass(60.5f, 60.7f, 55.0f), 9);
  EXPECT_EQ(ChooseGroupClass(60.5f, 60.0f, 60.2f), 10);  // 60 < 60.2 after keeping d1
}

TEST(Grouping, ClassLayoutsCoverEightWindows) {
  const int groups[10] = {4, 2, 2, 2, 3, 3, 3, 3, 3, 3};
  for (int cls = 1; cls <= 10; ++cls) {
    PsyChannelState st{};
    SetGrouping(st, cls);
    EXPECT_EQ(st.groupClassMinus1, cls - 1);
    EXPECT_EQ(st.numGroups, groups[cls - 1]);
    int sum = 0;
    for (int g = 0; g < kNumShortWindows; ++g) {
      sum += st.groupLength[g];
      if (g >= st.numGroups) {
        EXPECT_EQ(st.groupLength[g], 0);
      }
    }
    EXPECT_EQ(sum, 8) << cls;
  }
  PsyChannelState st{};
  SetGrouping(st, 5);
  EXPECT_EQ(st.groupLength[0], 4);
  EXPECT_EQ(st.groupLength[1], 2);
  EXPECT_EQ(st.groupLength[2], 2);
}

// A frame that is quiet up to `at` and then holds `level` (a step).
std::vector<float> Step(int at, float level) {
  std::vector<float> x(kFrameLength, 0.0f);
  for (int i = at; i < kFrameLength; ++i) x[i] = (i % 2 ? level : -level);
  return x;
}

TEST(AttackDetector, NeverFiresAtOrBelowPeak100) {
  test::Stream s;
  test::SetModelDefaults(*s, 44100, 1);
  ASSERT_EQ(PsyModelAllocate(*s), 0);
  EXPECT_EQ(DetectAttackSimple(*s, 0, Step(600, 100.0f).data()), 0);
  EXPECT_EQ(DetectAttackSimple(*s, 1, Step(600, 101.0f).data()), 1);
  // The filter's history carries over: a frame that stays at the level is no new attack.
  EXPECT_EQ(DetectAttackSimple(*s, 1, Step(0, 101.0f).data()), 0);
}

TEST(AttackDetector, ASegmentTenTimesTheOneBeforeIsAnAttack) {
  // Segment maxima jump at sample 512 for all three segment lengths; the loosest ratio is the
  // 128-sample one (10x).
  auto jumpTo = [](float level) {
    std::vector<float> f(kFrameLength, 1.0f);
    for (int i = 512; i < 544; ++i) f[i] = level;
    return f;
  };
  EXPECT_EQ(AttackInSegments(jumpTo(1.0f).data(), 1000.0f), 0);
  EXPECT_EQ(AttackInSegments(jumpTo(9.0f).data(), 1000.0f), 0);
  EXPECT_EQ(AttackInSegments(jumpTo(11.0f).data(), 1000.0f), 1);
  EXPECT_EQ(AttackInSegments(jumpTo(11.0f).data(), 100.0f), 0);
}

}  // namespace
}  // namespace aacs::psych
