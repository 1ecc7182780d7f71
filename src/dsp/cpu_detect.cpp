// dsp/cpu_detect.cpp — processor identification and the one-time binding.
#include "dsp/cpu_detect.h"

#include <cstring>
#include <mutex>

#include "dsp/primitives.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace aacs::dsp {
namespace {

constexpr std::uint32_t kMmxBit = 1u << 23;
constexpr std::uint32_t kSseBit = 1u << 25;
constexpr std::uint32_t kSse2Bit = 1u << 26;

}  // namespace

int ChooseCpuClass(int idInstructionAvailable, const char vendor[12], std::uint32_t featureWord) {
  if (!idInstructionAvailable) featureWord = 0;
  const bool intel = idInstructionAvailable && vendor != nullptr &&
                     std::memcmp(vendor, "GenuineIntel", 12) == 0;
  const bool mmx = (featureWord & kMmxBit) != 0;
  const bool sse = intel && (featureWord & kSseBit) != 0;
  const bool sse2 = intel && (featureWord & kSse2Bit) != 0;
  if (sse2) return kCpuSse2;
  if (sse) return kCpuSse;
  if (mmx) return kCpuMmx;
  return kCpuGeneric;
}

int DetectCpuClass() {
#if defined(__x86_64__) || defined(__i386__)
  // __get_cpuid_max does the flags-register ID-bit toggle test on 32-bit processors; it
  // returns 0 when the identification instruction is missing.  A processor whose highest
  // leaf is 0 has no feature word either, which also gives class 0.
  if (__get_cpuid_max(0, nullptr) == 0) return ChooseCpuClass(0, nullptr, 0);
  unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
  __cpuid(0, eax, ebx, ecx, edx);
  char vendor[12];
  std::memcpy(vendor + 0, &ebx, 4);  // the vendor string comes in EBX, EDX, ECX order
  std::memcpy(vendor + 4, &edx, 4);
  std::memcpy(vendor + 8, &ecx, 4);
  std::uint32_t features = 0;
  if (eax >= 1) {
    unsigned int a1 = 0, b1 = 0, c1 = 0, d1 = 0;
    __cpuid(1, a1, b1, c1, d1);
    features = d1;
  }
  return ChooseCpuClass(1, vendor, features);
#else
  return ChooseCpuClass(0, nullptr, 0);
#endif
}

bool HasAvx2AndFma() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

void BindPrimitivesOnce() {
  static std::once_flag once;
  std::call_once(once, [] { BindPrimitives(DetectCpuClass()); });
}

}  // namespace aacs::dsp
