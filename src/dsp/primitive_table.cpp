// dsp/primitive_table.cpp — the slot table, the variant table and the binding walk.
//
// The slots start out holding the generic code, so the encoder works before (and without)
// a successful binding.  Binding walks the "Waterfall": the requested class first, then each
// lesser class, until one column fills all slots (the 31 primitives and the kernels).
#include <cstdio>

#include "dsp/cpu_detect.h"
#include "dsp/generic_primitives.h"
#include "dsp/platform.h"
#if AACS_HAVE_X86
#include "dsp/x86/simd_primitives.h"
#endif

namespace aacs::dsp {
namespace {

template <typename Fn>
inline PrimitiveFn Erase(Fn fn) {
  return reinterpret_cast<PrimitiveFn>(fn);
}

constexpr int kEndOfCandidates = 4;
constexpr int kWaterfall[4][5] = {
    {0, kEndOfCandidates},
    {1, 0, kEndOfCandidates},
    {2, 1, 0, kEndOfCandidates},
    {3, 2, 1, 0, kEndOfCandidates},
};

constexpr char kBindFailureText[] = " No primitive set matching the CPU was found during the Waterfall";
constexpr char kBindFailureCaption[] = "Primitive library error";

std::atomic<int> gBoundClass{kCpuGeneric};

// The generic column in slot order.
#define AACS_GENERIC_COLUMN                                                                    \
  Erase(&generic::AlignedAlloc), Erase(&generic::AlignedFree), Erase(&generic::FirStateFree),  \
      Erase(&generic::VecMaxAbs), Erase(&generic::FftRealSpecCreate),                          \
      Erase(&generic::VecMulInPlace), Erase(&generic::FftRealForward), Erase(&generic::VecZero), \
      Erase(&generic::VecMagnitude), Erase(&generic::VecSum),                                  \
      Erase(&generic::VecMulConstInPlace), Erase(&generic::VecSquareInPlace),                  \
      Erase(&generic::VecAbs), Erase(&generic::VecCopy), Erase(&generic::FftComplexForward),   \
      Erase(&generic::FftComplexInverse), Erase(&generic::FftComplexSpecCreate),               \
      Erase(&generic::FftComplexSpecFree), Erase(&generic::FftRealSpecFree),                   \
      Erase(&generic::VecSet), Erase(&generic::VecMul), Erase(&generic::VecSub),               \
      Erase(&generic::VecAdd), Erase(&generic::VecAddInPlace), Erase(&generic::VecMulConst),   \
      Erase(&generic::FirFilter), Erase(&generic::FirStateCreate),                             \
      Erase(&generic::VecAbsInPlace), Erase(&generic::VecDotProduct),                          \
      Erase(&generic::VecMaxIndex), Erase(&generic::VecSubInPlace),                            \
      Erase(&generic::QuantiseBands), Erase(&generic::BandError), Erase(&generic::BandSums),   \
      Erase(&generic::RowDots)

const PrimitiveFn kGenericColumn[kNumTableSlots] = {AACS_GENERIC_COLUMN};

#if AACS_HAVE_X86
// The vectorised slots of one SIMD namespace; null where the generic code stays.
#define AACS_SIMD_COLUMN(ns)                                                            \
  {                                                                                     \
    nullptr, nullptr, nullptr, Erase(&ns::VecMaxAbs), nullptr, Erase(&ns::VecMulInPlace), \
        Erase(&ns::FftRealForward), Erase(&ns::VecZero), Erase(&ns::VecMagnitude),      \
        Erase(&ns::VecSum), Erase(&ns::VecMulConstInPlace), Erase(&ns::VecSquareInPlace), \
        Erase(&ns::VecAbs), Erase(&ns::VecCopy), Erase(&ns::FftComplexForward),         \
        Erase(&ns::FftComplexInverse), nullptr, nullptr, nullptr, Erase(&ns::VecSet),   \
        Erase(&ns::VecMul), Erase(&ns::VecSub), Erase(&ns::VecAdd),                     \
        Erase(&ns::VecAddInPlace), Erase(&ns::VecMulConst), Erase(&ns::FirFilter), nullptr, \
        Erase(&ns::VecAbsInPlace), Erase(&ns::VecDotProduct), nullptr,                  \
        Erase(&ns::VecSubInPlace), Erase(&ns::QuantiseBands), Erase(&ns::BandError),     \
        Erase(&ns::BandSums), Erase(&ns::RowDots)                                       \
  }
#endif

struct VariantTableStorage {
  PrimitiveVariants rows[kNumTableSlots];
};

#if AACS_HAVE_X86
// Slots whose SIMD kernels give the generic column's bits: the MMX column (every x86-64
// processor has SSE2 as well) takes them too, which changes no output of that column.
bool SameBitsAsGeneric(int slot) {
  return slot == kSlotFirFilter || slot == kSlotQuantiseBands || slot == kSlotBandError || slot == kSlotBandSums ||
         slot == kSlotRowDots;
}
#endif

VariantTableStorage BuildVariantTable() {
  VariantTableStorage table{};
#if AACS_HAVE_X86
  const PrimitiveFn sse2Column[kNumTableSlots] = AACS_SIMD_COLUMN(sse2);
  const PrimitiveFn avx2Column[kNumTableSlots] = AACS_SIMD_COLUMN(avx2);
  const bool avx2 = HasAvx2AndFma();
#endif
  for (int slot = 0; slot < kNumTableSlots; ++slot) {
    PrimitiveVariants& row = table.rows[slot];
    row.slot = slot;
    row.impl[kCpuGeneric] = kGenericColumn[slot];
    row.impl[kCpuMmx] = kGenericColumn[slot];  // MMX has no float arithmetic worth using
    row.impl[kCpuSse] = kGenericColumn[slot];
    row.impl[kCpuSse2] = kGenericColumn[slot];
#if AACS_HAVE_X86
    if (sse2Column[slot] != nullptr) {
      row.impl[kCpuSse] = sse2Column[slot];  // x86-64 always has SSE2
      row.impl[kCpuSse2] = avx2 ? avx2Column[slot] : sse2Column[slot];
      if (SameBitsAsGeneric(slot)) row.impl[kCpuMmx] = row.impl[kCpuSse2];
    }
#endif
  }
  return table;
}

void ShowBindingFailure() {
  char text[256];
  std::snprintf(text, sizeof text, "%s", kBindFailureText);
  ShowFailureMessage(text, kBindFailureCaption);
}

}  // namespace

// Constant-initialised by clang; g++ emits a dynamic initialiser for the casts, which the
// priority runs before any other initialiser that could call a primitive.
std::atomic<PrimitiveFn> gPrimitiveSlots[kNumTableSlots] __attribute__((init_priority(101))) = {
    AACS_GENERIC_COLUMN};

const PrimitiveVariants* VariantTable() {
  static const VariantTableStorage table = BuildVariantTable();
  return table.rows;
}

int BindPrimitivesFrom(const PrimitiveVariants* rows, int rowCount, int cpuClass) {
  if (rows == nullptr || rowCount <= 0 || cpuClass < kCpuGeneric || cpuClass > kCpuSse2) {
    ShowBindingFailure();
    return 0;
  }
  for (const int* candidate = kWaterfall[cpuClass]; *candidate != kEndOfCandidates; ++candidate) {
    const int c = *candidate;
    int stored = 0;
    for (; stored < rowCount; ++stored) {
      const PrimitiveVariants& row = rows[stored];
      if (row.impl[c] == nullptr || row.slot < 0 || row.slot >= kNumTableSlots) break;
      gPrimitiveSlots[row.slot].store(row.impl[c], std::memory_order_relaxed);
    }
    if (stored == rowCount) {
      gBoundClass.store(c, std::memory_order_relaxed);
      return 1;
    }
  }
  ShowBindingFailure();
  return 0;
}

int BindPrimitives(int cpuClass) { return BindPrimitivesFrom(VariantTable(), kNumTableSlots, cpuClass); }

int BoundCpuClass() { return gBoundClass.load(std::memory_order_relaxed); }

}  // namespace aacs::dsp
