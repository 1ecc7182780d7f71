// Speed of the encoder's hot paths on real music (tests/data/music_pop_3s.wav, 128 kbit/s
// stereo): the quantiser over a whole channel, the bit count of the rate loops (cold: every
// band recounted), section merging, the long and short MDCT, the psychoacoustic model per
// frame and a whole encoded frame, each with the generic column and with the column this
// processor binds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "api/stream_context.h"
#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"
#include "enc/filterbank.h"
#include "enc/huffman.h"
#include "psych/psy_model.h"
#include "quant/quantiser.h"

namespace {

using aacs::kFrameLength;

struct Clip {
  std::vector<short> pcm;  // interleaved stereo
  int frames = 0;
};

// 16-bit PCM of a WAV file (the data chunk after the header chunks).
const Clip& Music() {
  static const Clip clip = [] {
    Clip c;
    const std::string path = std::string(AACS_SOURCE_DIR) + "/tests/data/music_pop_3s.wav";
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return c;
    std::vector<unsigned char> bytes;
    unsigned char buf[65536];
    for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;) bytes.insert(bytes.end(), buf, buf + n);
    std::fclose(f);
    for (size_t pos = 12; pos + 8 <= bytes.size();) {
      const uint32_t size = bytes[pos + 4] | bytes[pos + 5] << 8 | bytes[pos + 6] << 16 | uint32_t{bytes[pos + 7]} << 24;
      if (std::memcmp(&bytes[pos], "data", 4) == 0) {
        c.pcm.resize(std::min<size_t>(size, bytes.size() - pos - 8) / 2);
        std::memcpy(c.pcm.data(), &bytes[pos + 8], c.pcm.size() * 2);
        break;
      }
      pos += 8 + size + (size & 1);
    }
    c.frames = static_cast<int>(c.pcm.size() / (2 * kFrameLength));
    return c;
  }();
  return clip;
}

// Binds the column of the benchmark's second argument (0 generic, 1 the detected column) for
// its run, after the once-per-process binding of the first stream open.
struct Column {
  explicit Column(benchmark::State& state) {
    aacs::dsp::BindPrimitivesOnce();
    const bool generic = state.range(0) == 0;
    aacs::dsp::BindPrimitives(generic ? aacs::dsp::kCpuGeneric : aacs::dsp::DetectCpuClass());
    state.SetLabel(generic ? "generic" : "bound class " + std::to_string(aacs::dsp::DetectCpuClass()));
  }
  ~Column() { aacs::dsp::BindPrimitives(aacs::dsp::DetectCpuClass()); }
};

struct Stream {
  StreamContext* ctx = nullptr;
  std::vector<unsigned char> out;
  int next = 0;  // next clip frame
  explicit Stream(int quality) {
    const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS};
    const int values[] = {56};
    ctx = aacStreamOpenEx32(0, 0, 44100, 128, 2, 0, 0, 1, 2, 0, 0, quality, nullptr, nullptr, nullptr, nullptr,
                            nullptr, 2024, keys, values, 1);
    out.resize(static_cast<size_t>(aacStreamMaxOutputBytes32(ctx)));
  }
  ~Stream() {
    aacStreamClose32(ctx);
    aacStreamDestroy32(ctx);
  }
  void EncodeFrame() {
    const Clip& clip = Music();
    int length = 0;
    aacStreamEncodeFrame32(ctx, clip.pcm.data() + static_cast<size_t>(next) * 2 * kFrameLength, out.data(),
                           2 * kFrameLength, &length);
    next = (next + 1) % clip.frames;
  }
};

// The coding record of channel 0 after some frames of music, quantised at a gain where no
// line overflows (magnitudes in q, as inside the rate loops).
std::unique_ptr<aacs::quant::ChannelCodingRecord> CodedRecord() {
  Stream s(9);
  for (int i = 0; i < 60; ++i) s.EncodeFrame();
  auto rec = std::make_unique<aacs::quant::ChannelCodingRecord>(s.ctx->coding[0]);
  for (int b = 0; b < rec->totalBands; ++b) rec->scalefactor[b] = 0;
  rec->globalGain = 0;
  while (aacs::quant::QuantiseChecked(*rec, rec->y, rec->q) != 0) ++rec->globalGain;
  rec->globalGain += 12;  // a gain the loops would settle near
  aacs::quant::QuantiseChecked(*rec, rec->y, rec->q);
  return rec;
}

void BM_QuantiseChannel(benchmark::State& state) {
  Column column(state);
  auto rec = CodedRecord();
  for (auto _ : state) {
    rec->quantValid = 0;  // the whole channel, as after a gain step
    benchmark::DoNotOptimize(aacs::quant::QuantiseAndMark(*rec));
    benchmark::ClobberMemory();
  }
  state.SetItemsProcessed(state.iterations() * rec->bandOffset[rec->totalBands]);
}

void BM_CountChannelBits(benchmark::State& state) {
  Column column(state);
  auto rec = CodedRecord();
  for (int b = 0; b < rec->totalBands; ++b) rec->bandNonzero[b] = 1;
  int bits = 0;
  for (auto _ : state) {
    std::memset(rec->recompute, 1, sizeof rec->recompute);  // every band recounted
    bits = aacs::enc::CountChannelSpectralBits(*rec, 1) + aacs::enc::CountSectionBits(*rec) +
           aacs::enc::CountScaleFactorBits(*rec, 1);
    benchmark::DoNotOptimize(bits);
  }
  state.counters["bits"] = bits;
}

void BM_MergeSections(benchmark::State& state) {
  Column column(state);
  auto rec = CodedRecord();
  for (auto _ : state) {
    std::memset(rec->recompute, 1, sizeof rec->recompute);
    aacs::enc::MergeSections(*rec, 1);
    benchmark::DoNotOptimize(rec->trialCodebook[0]);
  }
}

void BM_Mdct(benchmark::State& state) {
  Column column(state);
  const bool isLong = state.range(1) == 1;
  aacs::enc::FilterbankState fb{};
  aacs::enc::FilterbankInit(fb);
  const Clip& clip = Music();
  std::vector<float> block(2048), buffer(2048);
  for (int i = 0; i < 2048; ++i) block[i] = clip.pcm[2 * (20000 + i)];
  for (auto _ : state) {
    std::copy(block.begin(), block.end(), buffer.begin());
    if (isLong)
      aacs::enc::LongMdct(buffer.data(), fb);
    else
      aacs::enc::ShortMdct(buffer.data(), fb);
    benchmark::DoNotOptimize(buffer.data());
    benchmark::ClobberMemory();
  }
  aacs::enc::FilterbankRelease(fb);
}

// One frame of the model for a stereo pair (both channels, mid and side).
void BM_ModelFrame(benchmark::State& state) {
  Column column(state);
  Stream s(static_cast<int>(state.range(1)));
  for (int i = 0; i < 4; ++i) s.EncodeFrame();
  const Clip& clip = Music();
  std::vector<float> left(kFrameLength), right(kFrameLength);
  int frame = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const short* pcm = clip.pcm.data() + static_cast<size_t>(frame) * 2 * kFrameLength;
    for (int i = 0; i < kFrameLength; ++i) left[i] = pcm[2 * i], right[i] = pcm[2 * i + 1];
    frame = (frame + 1) % clip.frames;
    const float* inputs[2] = {left.data(), right.data()};
    state.ResumeTiming();
    aacs::psych::AnalyseFrame(*s.ctx, inputs, s.ctx->psyLong[0], s.ctx->psyShort[0], 0, 2972);
  }
}

// One whole frame through the public interface: model, filterbank, rate loops, syntax.
void BM_EncodeFrame(benchmark::State& state) {
  Column column(state);
  Stream s(static_cast<int>(state.range(1)));
  for (auto _ : state) s.EncodeFrame();
  state.SetItemsProcessed(state.iterations() * kFrameLength);  // samples per channel
}

double Minimum(const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); }

BENCHMARK(BM_QuantiseChannel)->Arg(0)->Arg(1)->ComputeStatistics("min", Minimum);
BENCHMARK(BM_CountChannelBits)->Arg(0)->Arg(1)->ComputeStatistics("min", Minimum);
BENCHMARK(BM_MergeSections)->Arg(0)->Arg(1)->ComputeStatistics("min", Minimum);
BENCHMARK(BM_Mdct)->ArgsProduct({{0, 1}, {1, 0}})->ArgNames({"column", "long"})->ComputeStatistics("min", Minimum);
BENCHMARK(BM_ModelFrame)->ArgsProduct({{0, 1}, {9, 5}})->ArgNames({"column", "quality"})->ComputeStatistics("min", Minimum);
BENCHMARK(BM_EncodeFrame)->ArgsProduct({{0, 1}, {9, 5}})->ArgNames({"column", "quality"})->ComputeStatistics("min", Minimum);

}  // namespace
