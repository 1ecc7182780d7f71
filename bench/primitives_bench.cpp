// Speed of the hot primitives, generic column against the column the processor binds
// (and the SSE column):
// the FFT sizes the encoder runs every frame (complex 64 and 512, real 256 and 2048) and
// the 1024-element dot product and magnitude.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"

namespace aacs::dsp {
namespace {

// Second argument: 0 the generic column, 1 the column DetectCpuClass() binds, 2 the SSE
// column (the 128-bit kernels, for comparison with AVX2 in the SSE2 column).
int ColumnOf(const benchmark::State& state) {
  const int which = static_cast<int>(state.range(1));
  return which == 0 ? kCpuGeneric : which == 1 ? DetectCpuClass() : kCpuSse;
}

template <typename Fn>
Fn Entry(int slot, int column) {
  return reinterpret_cast<Fn>(VariantTable()[slot].impl[column]);
}

std::vector<float> Signal(std::size_t count) {
  std::mt19937 rng(1);
  std::uniform_real_distribution<float> dist(-1.0f, 1.0f);
  std::vector<float> v(count);
  for (float& x : v) x = dist(rng);
  return v;
}

void Label(benchmark::State& state) {
  const int which = static_cast<int>(state.range(1));
  state.SetLabel(which == 0 ? "generic" : which == 1 ? "bound class " + std::to_string(DetectCpuClass()) : "sse column");
}

void BM_FftComplexForward(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  FftSpec* spec = nullptr;
  FftComplexSpecCreate(&spec, order, kFftDivInvByN, 0);
  const auto fft = Entry<FftTransformFn>(kSlotFftComplexForward, ColumnOf(state));
  const std::size_t n = std::size_t{1} << order;
  auto x = Signal(2 * n);
  std::vector<float> y(2 * n), work(FftWorkBufferFloats(spec));
  for (auto _ : state) {
    fft(x.data(), y.data(), spec, work.data());
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  FftComplexSpecFree(spec);
  Label(state);
}

void BM_FftRealForward(benchmark::State& state) {
  const int order = static_cast<int>(state.range(0));
  FftSpec* spec = nullptr;
  FftRealSpecCreate(&spec, order, kFftDivInvByN, 0);
  const auto fft = Entry<FftTransformFn>(kSlotFftRealForward, ColumnOf(state));
  const std::size_t n = std::size_t{1} << order;
  auto x = Signal(n);
  std::vector<float> y(n), work(FftWorkBufferFloats(spec));
  for (auto _ : state) {
    fft(x.data(), y.data(), spec, work.data());
    benchmark::DoNotOptimize(y.data());
    benchmark::ClobberMemory();
  }
  FftRealSpecFree(spec);
  Label(state);
}

void BM_VecDotProduct(benchmark::State& state) {
  const int len = static_cast<int>(state.range(0));
  const auto dot = Entry<VecDotProductFn>(kSlotVecDotProduct, ColumnOf(state));
  auto a = Signal(len), b = Signal(len);
  float result = 0;
  for (auto _ : state) {
    dot(a.data(), b.data(), len, &result);
    benchmark::DoNotOptimize(result);
  }
  Label(state);
}

void BM_VecMagnitude(benchmark::State& state) {
  const int len = static_cast<int>(state.range(0));
  const auto magnitude = Entry<VecSrcToDstFn>(kSlotVecMagnitude, ColumnOf(state));
  auto pairs = Signal(2 * len);
  std::vector<float> out(len);
  for (auto _ : state) {
    magnitude(pairs.data(), out.data(), len);
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  Label(state);
}

// With --benchmark_repetitions the minimum is the figure least disturbed by other load.
double Minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_FftComplexForward)->ArgsProduct({{6, 9}, {0, 1, 2}})->ComputeStatistics("min", Minimum);
BENCHMARK(BM_FftRealForward)->ArgsProduct({{8, 11}, {0, 1, 2}})->ComputeStatistics("min", Minimum);
BENCHMARK(BM_VecDotProduct)->ArgsProduct({{1024}, {0, 1, 2}})->ComputeStatistics("min", Minimum);
BENCHMARK(BM_VecMagnitude)->ArgsProduct({{1024}, {0, 1, 2}})->ComputeStatistics("min", Minimum);

}  // namespace
}  // namespace aacs::dsp
