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
constexpr char kIntel[12] = {'G', 'e', 'n', 'u', 'i', 'n', 'e', 'I', 'n', 't', 'e', 'l'};
constexpr char kAmd[12] = {'A', 'u', 't', 'h', 'e', 'n', 't', 'i', 'c', 'A', 'M', 'D'};

TEST(CpuClass, IntelFeatureWordsPickTheBestColumn) {
  EXPECT_EQ(ChooseCpuClass(1, kIntel, kMmx | kSse | kSse2), kCpuSse2);
  EXPECT_EQ(ChooseCpuClass(1, kIntel, kMmx | kSse), kCpuSse);
  EXPECT_EQ(ChooseCpuClass(1, kIntel, kMmx), kCpuMmx);
  EXPECT_EQ(ChooseCpuClass(1, kIntel, 0), kCpuGeneric);
  EXPECT_EQ(ChooseCpuClass(1, kIntel, kSse2), kCpuSse2);  // SSE2 alone still counts
  EXPECT_EQ(ChooseCpuClass(1, kIntel, ~(kMmx | kSse | kSse2)), kCpuGeneric);  // other bits ignored
}

TEST(CpuClass, OtherVendorsGetOnlyTheMmxColumn) {
  EXPECT_EQ(ChooseCpuClass(1, kAmd, kMmx | kSse | kSse2), kCpuMmx);
  EXPECT_EQ(ChooseCpuClass(1, kAmd, kSse | kSse2), kCpuGeneric);
  char almostIntel[12];
  std::memcpy(almostIntel, kIntel, 12);
  almostIntel[11] = 'L';
  EXPECT_EQ(ChooseCpuClass(1, almostIntel, kMmx | kSse | kSse2), kCpuMmx);
}

TEST(CpuClass, MissingIdentificationInstructionMeansGeneric) {
  EXPECT_EQ(ChooseCpuClass(0, kIntel, kMmx | kSse | kSse2), kCpuGeneric);
  EXPECT_EQ(ChooseCpuClass(0, nullptr, kMmx | kSse | kSse2), kCpuGeneric);
}

TEST(CpuClass, DetectedClassIsAValidColumn) {
  const int c = DetectCpuClass();
  EXPECT_GE(c, kCpuGeneric);
  EXPECT_LE(c, kCpuSse2);
#if defined(__x86_64__)
  EXPECT_GE(c, kCpuMmx);  // every x86-64 processor has MMX
#endif
}

class Binding : public ::testing::Test {
 protected:
  void TearDown() override { BindPrimitives(DetectCpuClass()); }
};

TEST_F(Binding, EveryClassInstallsItsOwnColumn) {
  for (int c = kCpuGeneric; c <= kCpuSse2; ++c) {
    ASSERT_EQ(BindPrimitives(c), 1) << c;
    EXPECT_EQ(BoundCpuClass(), c);
    const PrimitiveVariants* rows = VariantTable();
    for (int slot = 0; slot < kNumPrimitiveSlots; ++slot) {
      EXPECT_EQ(rows[slot].slot, slot);
      EXPECT_EQ(gPrimitiveSlots[slot].load(), rows[slot].impl[c]) << "class " << c << " slot " << slot;
    }
  }
}

TEST_F(Binding, ClassesOutsideTheTableFailWithTheMessage) {
  ASSERT_EQ(BindPrimitives(kCpuSse2), 1);
  for (int bad : {4, -1}) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(BindPrimitives(bad), 0);
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find(" No primitive set matching the CPU was found during the Waterfall"), std::string::npos);
    EXPECT_NE(err.find("Primitive library error"), std::string::npos);
    EXPECT_EQ(BoundCpuClass(), kCpuSse2);
  }
}

TEST_F(Binding, WaterfallFallsBackToTheFirstCompleteColumn) {
  // A copy of the table whose SSE2 and SSE columns each miss one entry.
  std::vector<PrimitiveVariants> rows(VariantTable(), VariantTable() + kNumPrimitiveSlots);
  rows[10].impl[kCpuSse2] = nullptr;
  rows[20].impl[kCpuSse] = nullptr;
  ASSERT_EQ(BindPrimitives(kCpuGeneric), 1);
  ASSERT_EQ(BindPrimitivesFrom(rows.data(), kNumPrimitiveSlots, kCpuSse2), 1);
  EXPECT_EQ(BoundCpuClass(), kCpuMmx);
  for (int slot = 0; slot < kNumPrimitiveSlots; ++slot) {
    EXPECT_EQ(gPrimitiveSlots[slot].load(), rows[slot].impl[kCpuMmx]) << slot;
  }
}

TEST_F(Binding, NoCompleteColumnFailsButKeepsWhatTheWalkStored) {
  std::vector<PrimitiveVariants> rows(VariantTable(), VariantTable() + kNumPrimitiveSlots);
  for (int c = 0; c < 4; ++c) rows[30].impl[c] = nullptr;
  ASSERT_EQ(BindPrimitives(kCpuSse2), 1);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(BindPrimitivesFrom(rows.data(), kNumPrimitiveSlots, kCpuSse2), 0);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find(" No primitive set matching the CPU was found during the Waterfall"), std::string::npos);
  EXPECT_EQ(BoundCpuClass(), kCpuSse2);
  // The last walk (generic) stored slots 0..29 before it hit the hole; slot 30 is untouched.
  EXPECT_EQ(gPrimitiveSlots[29].load(), rows[29].impl[kCpuGeneric]);
  EXPECT_EQ(gPrimitiveSlots[30].load(), VariantTable()[30].impl[kCpuSse2]);
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(BindPrimitivesFrom(rows.data(), 0, kCpuGeneric), 0);
  ::testing::internal::GetCapturedStderr();
}

#if AACS_HAVE_X86
TEST(VariantTable, SimdColumnsHoldTheirOwnKernels) {
  const PrimitiveVariants* rows = VariantTable();
  for (int slot : {kSlotFftComplexForward, kSlotFftRealForward, kSlotVecDotProduct, kSlotVecMagnitude}) {
    EXPECT_EQ(rows[slot].impl[kCpuMmx], rows[slot].impl[kCpuGeneric]);
    EXPECT_NE(rows[slot].impl[kCpuSse], rows[slot].impl[kCpuGeneric]);
    EXPECT_EQ(rows[slot].impl[kCpuSse2] != rows[slot].impl[kCpuSse], HasAvx2AndFma()) << slot;
  }
  // Kernels that give the generic bits serve the MMX column as well.
  for (int slot : {kSlotFirFilter, kSlotQuantiseBands, kSlotBandError, kSlotBandSums, kSlotRowDots}) {
    EXPECT_EQ(rows[slot].impl[kCpuMmx], rows[slot].impl[kCpuSse2]) << slot;
    EXPECT_NE(rows[slot].impl[kCpuSse], rows[slot].impl[kCpuGeneric]) << slot;
  }
  // Table management has one implementation.
  for (int slot : {kSlotAlignedAlloc, kSlotFftComplexSpecCreate, kSlotFirStateCreate}) {
    EXPECT_EQ(rows[slot].impl[kCpuSse2], rows[slot].impl[kCpuGeneric]);
  }
}
#endif

// In a fresh process (other tests of this binary may already have used the once flag):
// the first call binds the detected class, a later call leaves a rebinding alone.
TEST_F(Binding, OnceBindsTheDetectedClassOnlyOnce) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const int detected = DetectCpuClass();
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
