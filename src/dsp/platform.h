// dsp/platform.h — the few operating-system services the encoder needs.
//
// One large zeroed block for the stream, 32-byte aligned buffers for the SIMD kernels, the
// current UTC year for the trailer, the installed memory for sanity limits, and the way a
// primitive-binding failure is shown to the user (stderr on this platform).
#pragma once
#include <cstddef>
#include <cstdint>

namespace aacs::dsp {

constexpr std::size_t kBufferAlignment = 32;  // every sample and work buffer
constexpr std::size_t kBlockAlignment = 64;   // the stream block: a cache line

// A zero-filled block of `bytes` bytes aligned to 64 bytes, or null (also for 0 bytes).
void* AllocZeroedBlock(std::size_t bytes);
void FreeBlock(void* block);

// An uninitialised buffer aligned to 32 bytes, or null (also for 0 bytes).  Free with
// FreeAlignedBuffer; null is accepted there.
void* AllocAlignedBuffer(std::size_t bytes);
void FreeAlignedBuffer(void* p);

// The calendar year of the current UTC date (e.g. 2024).
int CurrentUtcYear();

// Physically installed memory in bytes, or 0 when the system does not say.
std::uint64_t PhysicalMemoryBytes();

// Shows a failure the user must see: "<caption>: <text>" on stderr.
void ShowFailureMessage(const char* text, const char* caption);

}  // namespace aacs::dsp
