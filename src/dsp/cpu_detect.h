// dsp/cpu_detect.h — which primitive column this processor gets.
//
// MMX (feature bit 23) counts on every vendor; SSE (bit 25) and SSE2 (bit 26) count only
// when the vendor string is exactly "GenuineIntel", so other vendors get the MMX column.
#pragma once
#include <cstdint>

namespace aacs::dsp {

// The class for a processor: 3 with SSE2, else 2 with SSE, else 1 with MMX, else 0.
// `vendor` holds the 12 characters of the identification leaf 0 (not terminated; may be
// null when the identification instruction is unavailable, which means class 0).
int ChooseCpuClass(int idInstructionAvailable, const char vendor[12], std::uint32_t featureWord);

// Reads the processor identification (x86) and chooses the class; 0 on other processors.
int DetectCpuClass();

// True on an x86 processor with AVX2 and FMA (and an OS that saves their registers): the
// SSE2 column then runs the AVX2 kernels.
bool HasAvx2AndFma();

// Binds the primitive table to DetectCpuClass() once per process; later calls do nothing.
void BindPrimitivesOnce();

}  // namespace aacs::dsp
