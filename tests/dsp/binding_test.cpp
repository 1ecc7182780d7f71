// Processor class choice and the binding walk of the primitive table.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"

namespace aacs::dsp {
namespace {

constexpr std::uint32_t kMmx = 1u << 23, kSse = 1u << 25, kSse2 = 1u << 26;
const char* const kIntel = "GenuineIntel";
const char* const kAmd = "AuthenticAMD";
const char* const kAlmostIntel = "GenuineInteL";
const char* const kBindFailure = " No primitive set matching the CPU was found during the Waterfall";

// Only Intel gets the SSE columns; other vendors at most MMX; no identification means generic.
TEST(CpuClass, FeatureWordsAndVendorPickTheColumn) {
  const struct { int hasCpuid; const char* vendor; std::uint32_t features; int want; } cases[] = {
      {1, kIntel, kMmx | kSse | kSse2, kCpuSse2}, {1, kIntel, kMmx | kSse, kCpuSse},
      {1, kIntel, kMmx, kCpuMmx},                 {1, kIntel, 0, kCpuGeneric},
      {1, kIntel, kSse2, kCpuSse2},               {1, kIntel, ~(kMmx | kSse | kSse2), kCpuGeneric},
      {1, kAmd, kMmx | kSse | kSse2, kCpuMmx},    {1, kAmd, kSse | kSse2, kCpuGeneric},
      {1, kAlmostIntel, kMmx | kSse | kSse2, kCpuMmx},
      {0, kIntel, kMmx | kSse | kSse2, kCpuGeneric}, {0, nullptr, kMmx | kSse | kSse2, kCpuGeneric}};
  for (const auto& c : cases)
    EXPECT_EQ(ChooseCpuClass(c.hasCpuid, c.vendor, c.features), c.want) << (c.vendor ? c.vendor : "null") << std::hex
                                                                         << " " << c.features;
}

class Binding : public ::testing::Test {
 protected:
  void TearDown() override { BindPrimitives(DetectCpuClass()); }
  std::vector<PrimitiveVariants> Copy() const { return {VariantTable(), VariantTable() + kNumPrimitiveSlots}; }
};

TEST_F(Binding, EveryClassInstallsItsOwnColumnAndOthersFailWithTheMessage) {
  for (int c = kCpuGeneric; c <= kCpuSse2; ++c) {
    ASSERT_EQ(BindPrimitives(c), 1) << c;
    EXPECT_EQ(BoundCpuClass(), c);
    for (int slot = 0; slot < kNumPrimitiveSlots; ++slot)
      EXPECT_EQ(gPrimitiveSlots[slot].load(), VariantTable()[slot].impl[c]) << "class " << c << " slot " << slot;
  }
  for (int bad : {4, -1}) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(BindPrimitives(bad), 0);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), std::string("Primitive library error: ") + kBindFailure + "\n");
    EXPECT_EQ(BoundCpuClass(), kCpuSse2);
  }
}

TEST_F(Binding, WaterfallFallsBackToTheFirstCompleteColumn) {
  std::vector<PrimitiveVariants> rows = Copy();
  rows[10].impl[kCpuSse2] = nullptr;
  rows[20].impl[kCpuSse] = nullptr;
  ASSERT_EQ(BindPrimitives(kCpuGeneric), 1);
  ASSERT_EQ(BindPrimitivesFrom(rows.data(), kNumPrimitiveSlots, kCpuSse2), 1);
  EXPECT_EQ(BoundCpuClass(), kCpuMmx);
  for (int slot = 0; slot < kNumPrimitiveSlots; ++slot)
    EXPECT_EQ(gPrimitiveSlots[slot].load(), rows[slot].impl[kCpuMmx]) << slot;
}

TEST_F(Binding, NoCompleteColumnFailsButKeepsWhatTheWalkStored) {
  std::vector<PrimitiveVariants> rows = Copy();
  for (int c = 0; c < 4; ++c) rows[30].impl[c] = nullptr;
  ASSERT_EQ(BindPrimitives(kCpuSse2), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(BindPrimitivesFrom(rows.data(), kNumPrimitiveSlots, kCpuSse2), 0);
  EXPECT_NE(::testing::internal::GetCapturedStderr().find(kBindFailure), std::string::npos);
  EXPECT_EQ(BoundCpuClass(), kCpuSse2);
  // The last walk (generic) stored slots 0..29 before it hit the hole; slot 30 is untouched.
  EXPECT_EQ(gPrimitiveSlots[29].load(), rows[29].impl[kCpuGeneric]);
  EXPECT_EQ(gPrimitiveSlots[30].load(), VariantTable()[30].impl[kCpuSse2]);
}

// In a fresh process (other tests of this binary may already have used the once flag):
// the first call binds the detected class, a later call leaves a rebinding alone.
TEST_F(Binding, OnceBindsTheDetectedClassOnlyOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int detected = DetectCpuClass();
#if defined(__x86_64__)
  EXPECT_GE(detected, kCpuMmx);  // every x86-64 processor has MMX
#endif
  EXPECT_EXIT(
      {
        BindPrimitives(kCpuGeneric);
        BindPrimitivesOnce();
        const int first = BoundCpuClass();
        BindPrimitives(kCpuGeneric);
        BindPrimitivesOnce();
        std::exit(10 * first + BoundCpuClass());
      },
      ::testing::ExitedWithCode(10 * detected + kCpuGeneric), "");
}

}  // namespace
}  // namespace aacs::dsp
