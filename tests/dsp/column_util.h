// Helpers of the primitive tests: one variant-table entry as a typed function, test signals.
#pragma once
#include <random>
#include <string>
#include <vector>

#include "dsp/primitives.h"

namespace aacs::dsp::test {

// The implementation of `slot` in `column` (0 generic, 1 MMX, 2 SSE, 3 SSE2).
template <typename Fn>
Fn Impl(int slot, int column) {
  return reinterpret_cast<Fn>(VariantTable()[slot].impl[column]);
}

inline std::vector<float> RandomSignal(std::size_t count, unsigned seed, float range = 1.0f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-range, range);
  std::vector<float> v(count);
  for (float& x : v) x = dist(rng);
  return v;
}

inline std::string ColumnName(int column) {
  static const char* const kNames[4] = {"Generic", "Mmx", "Sse", "Sse2"};
  return kNames[column];
}

// Lengths around register widths and blocks, odd and aligned.
inline const std::vector<int>& TestLengths() {
  static const std::vector<int> lengths = {1, 2, 3, 4, 5, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 1024, 1027};
  return lengths;
}

}  // namespace aacs::dsp::test
