// libFuzzer target for the public stream calls: every input chooses the 18 open arguments (most
// of the time within their accepted ranges, so that streams really encode), extension options,
// an optional WAV file for file input, then a few encode calls with fuzzed PCM and sample counts,
// the flush, the trailer, close and calls after close.  File names only ever point into one
// temporary directory.  The output buffer is exactly aacStreamMaxOutputBytes32 bytes on the
// heap, so a write past it is caught by AddressSanitizer.
#include <fuzzer/FuzzedDataProvider.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"

namespace {

constexpr int kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

std::string gDir;

void RemoveTempDir() {
  for (const char* name : {"/in.wav", "/out.aac", "/trailer.bin"}) unlink((gDir + name).c_str());
  rmdir(gDir.c_str());
}

const std::string& TempDir() {
  if (gDir.empty()) {
    const char* base = std::getenv("TMPDIR");
    std::string name = std::string(base && *base ? base : "/tmp") + "/aacs_api_fuzz_XXXXXX";
    if (mkdtemp(name.data()) == nullptr) std::abort();
    gDir = name;
    std::atexit(RemoveTempDir);
  }
  return gDir;
}

// Mostly one of the given values, sometimes any integer.
int Pick(FuzzedDataProvider& in, std::initializer_list<int> usual) {
  if (in.ConsumeIntegralInRange<int>(0, 15) == 0) return in.ConsumeIntegral<int>();
  const int i = in.ConsumeIntegralInRange<int>(0, static_cast<int>(usual.size()) - 1);
  return usual.begin()[i];
}

int Range(FuzzedDataProvider& in, int lo, int hi) {
  if (in.ConsumeIntegralInRange<int>(0, 15) == 0) return in.ConsumeIntegral<int>();
  return in.ConsumeIntegralInRange<int>(lo, std::max(lo, hi));
}

// Appends little-endian fields given as (value, bytes) pairs, or four-character ids.
void Put(std::vector<uint8_t>& b, std::initializer_list<std::pair<uint32_t, int>> fields) {
  for (auto [v, n] : fields)
    for (int i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}
void Put(std::vector<uint8_t>& b, const char* id) { b.insert(b.end(), id, id + 4); }

// A WAV file with a plausible or fuzzed header and a few frames of fuzzed samples, or raw bytes.
void WriteInputFile(FuzzedDataProvider& in, const std::string& path) {
  std::vector<uint8_t> b;
  if (in.ConsumeIntegralInRange<int>(0, 7) == 0) {
    b = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<int>(0, 256));
  } else {
    const int channels = Range(in, 1, 7);
    const int bits = Pick(in, {8, 16, 24, 32});
    const int rate = in.ConsumeBool() ? kRates[in.ConsumeIntegralInRange<int>(0, 11)] : Range(in, 1000, 200000);
    const int frames = in.ConsumeIntegralInRange<int>(0, 3 * 1024 + 100);
    const uint32_t align = static_cast<uint32_t>(channels) * static_cast<uint32_t>(bits / 8);
    const uint32_t dataBytes = align * static_cast<uint32_t>(frames);
    Put(b, "RIFF"), Put(b, {{36 + dataBytes, 4}}), Put(b, "WAVE"), Put(b, "fmt ");
    Put(b, {{16, 4}, {1, 2}, {static_cast<uint32_t>(channels), 2}, {static_cast<uint32_t>(rate), 4},
            {static_cast<uint32_t>(rate) * align, 4}, {align, 2}, {static_cast<uint32_t>(bits), 2}});
    Put(b, "data"), Put(b, {{dataBytes, 4}});
    const std::vector<uint8_t> pattern = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<int>(1, 64));
    for (uint32_t i = 0; i < dataBytes && dataBytes < (1u << 22); ++i)
      b.push_back(pattern.empty() ? 0 : static_cast<uint8_t>(pattern[i % pattern.size()] + i / pattern.size()));
  }
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr || (!b.empty() && std::fwrite(b.data(), 1, b.size(), f) != b.size())) std::abort();
  std::fclose(f);
}

// PCM for one call: a fuzzed pattern repeated with drift, or the extremes.
void FillPcm(FuzzedDataProvider& in, std::vector<short>& pcm) {
  const int kind = in.ConsumeIntegralInRange<int>(0, 3);
  std::vector<uint8_t> pattern = in.ConsumeBytes<uint8_t>(in.ConsumeIntegralInRange<int>(1, 32));
  if (pattern.empty()) pattern.push_back(0);  // the input ran out
  for (size_t i = 0; i < pcm.size(); ++i) {
    const uint8_t p = pattern[i % pattern.size()];
    switch (kind) {
      case 0: pcm[i] = static_cast<short>((p << 8) | static_cast<uint8_t>(i / pattern.size())); break;
      case 1: pcm[i] = (p & 1) ? SHRT_MAX : SHRT_MIN; break;
      case 2: pcm[i] = static_cast<short>(p - 128); break;
      default: pcm[i] = static_cast<short>(((i / (p + 1)) & 1) ? 32767 : -32768); break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  const std::string& dir = TempDir();
  const std::string inPath = dir + "/in.wav", outPath = dir + "/out.aac";

  const int readInputFile = Pick(in, {0, 0, 0, 1, 2});
  const int writeOutputFile = Pick(in, {0, 0, 1, -1});
  const int sampleRate = in.ConsumeIntegralInRange<int>(0, 15) ? kRates[in.ConsumeIntegralInRange<int>(0, 11)] : Pick(in, {0, 7350, 1});
  const int numChannels = Range(in, 1, 6);
  const int channelsForRate = numChannels >= 1 && numChannels <= 6 ? numChannels : 2;
  const int rateForBits = sampleRate > 0 ? sampleRate : 44100;
  const int lowKbps = static_cast<int>((64LL * channelsForRate * rateForBits + 1023999) / 1024000);
  const int highKbps = static_cast<int>(6144LL * channelsForRate * rateForBits / 1024000);
  const int bitRateKbps = Range(in, std::max(lowKbps, 8) - 2, highKbps + 2);
  const int lfe = Pick(in, {0, 1, -7});
  const int preset = Range(in, -300, 300);
  const int lcOnly = Pick(in, {1, 0, 3});
  const int headerType = Range(in, -1, 3);
  const int bandwidthHz = Pick(in, {0, 0, 1500, 2001, 8000, 16000, 20000, 48000, 96000, 96001});
  const int psyOption = Pick(in, {0, 1, 2});
  const int quality = Range(in, -3, 12);
  const std::string text = in.ConsumeRandomLengthString(40);
  const int year = in.ConsumeIntegral<int>();

  int keys[8], values[8];
  const int optionCount = in.ConsumeIntegralInRange<int>(0, 8);
  for (int i = 0; i < optionCount; ++i) {
    keys[i] = Pick(in, {1, 2, 3, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 100, 0, 4, 17});
    values[i] = Pick(in, {0, 1, 2, 3, -1, 56, 58, 8000, 44100, 128, 16000});
  }

  // File names: the temp dir's input (written or missing), its output, or degenerate names.
  const int inChoice = in.ConsumeIntegralInRange<int>(0, 7);
  if (readInputFile == 1 && inChoice < 6) WriteInputFile(in, inPath);
  else unlink(inPath.c_str());
  const char* inputName = inChoice < 7 ? inPath.c_str() : (in.ConsumeBool() ? nullptr : "");
  const int outChoice = in.ConsumeIntegralInRange<int>(0, 7);
  const char* outputName = outChoice < 6 ? outPath.c_str() : (outChoice == 6 ? dir.c_str() : nullptr);
  const char* text1 = in.ConsumeBool() ? text.c_str() : nullptr;

  StreamContext* s = aacStreamOpenEx32(readInputFile, writeOutputFile, sampleRate, bitRateKbps, numChannels, lfe,
                                       preset, lcOnly, headerType, bandwidthHz, psyOption, quality, inputName,
                                       outputName, text1, nullptr, text1, year, optionCount ? keys : nullptr,
                                       optionCount ? values : nullptr, optionCount);
  if (s == nullptr) return 0;

  const int maxOut = aacStreamMaxOutputBytes32(s);
  if (maxOut <= 0) std::abort();
  std::vector<unsigned char> out(static_cast<size_t>(maxOut));
  // The most samples a memory-input call takes; the library refuses more.
  const int perCall = 1024 * channelsForRate;
  std::vector<short> pcm(static_cast<size_t>(perCall) + 64);
  const int calls = in.ConsumeIntegralInRange<int>(0, 6);
  for (int k = 0; k < calls; ++k) {
    FillPcm(in, pcm);
    const int countKind = in.ConsumeIntegralInRange<int>(0, 7);
    int count = countKind < 5 ? perCall : (countKind == 5 ? in.ConsumeIntegralInRange<int>(0, perCall) : Range(in, -5, perCall + 5));
    if (count > static_cast<int>(pcm.size())) count = static_cast<int>(pcm.size());  // the host's own buffer
    const bool nullPcm = in.ConsumeIntegralInRange<int>(0, 31) == 0, nullOut = in.ConsumeIntegralInRange<int>(0, 31) == 0;
    int length = -1;
    const int result = aacStreamEncodeFrame32(s, nullPcm ? nullptr : pcm.data(), nullOut ? nullptr : out.data(),
                                              count, in.ConsumeIntegralInRange<int>(0, 31) == 0 ? nullptr : &length);
    if (result < 0 || result > 2) std::abort();
    if (result != 1 && length > maxOut) std::abort();
    if (result == 2 && in.ConsumeBool()) break;
  }
  int length = -1;
  if (aacStreamFlush32(s, out.data(), &length) == 0 && (length < 0 || length > maxOut)) std::abort();
  unsigned char asc[2];
  aacStreamAudioSpecificConfig32(s, asc, &length);
  aacStreamClose32(s);
  if (in.ConsumeBool()) {
    FILE* f = std::fopen((dir + "/trailer.bin").c_str(), "wb");
    if (f == nullptr) std::abort();
    WriteVelmorAACHeader(s, f);
    std::fclose(f);
  }
  if (aacStreamEncodeFrame32(s, pcm.data(), out.data(), perCall, &length) != 1) std::abort();
  aacStreamClose32(s);
  aacStreamDestroy32(s);
  return 0;
}
