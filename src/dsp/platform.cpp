// dsp/platform.cpp — POSIX implementations of the platform services.
#include "dsp/platform.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace aacs::dsp {
namespace {

// aligned_alloc wants a size that is a multiple of the alignment.
void* AllocRounded(std::size_t bytes, std::size_t alignment) {
  if (bytes == 0 || bytes > SIZE_MAX - alignment) return nullptr;
  const std::size_t rounded = (bytes + alignment - 1) & ~(alignment - 1);
  return std::aligned_alloc(alignment, rounded);
}

}  // namespace

void* AllocZeroedBlock(std::size_t bytes) {
  void* block = AllocRounded(bytes, kBlockAlignment);
  if (block != nullptr) std::memset(block, 0, bytes);
  return block;
}

void FreeBlock(void* block) { std::free(block); }

void* AllocAlignedBuffer(std::size_t bytes) { return AllocRounded(bytes, kBufferAlignment); }

void FreeAlignedBuffer(void* p) { std::free(p); }

int CurrentUtcYear() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  if (now == static_cast<std::time_t>(-1) || gmtime_r(&now, &utc) == nullptr) return 1970;
  return utc.tm_year + 1900;
}

std::uint64_t PhysicalMemoryBytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize);
}

void ShowFailureMessage(const char* text, const char* caption) {
  std::fflush(stdout);
  std::fprintf(stderr, "%s: %s\n", caption, text);
  std::fflush(stderr);
}

}  // namespace aacs::dsp
