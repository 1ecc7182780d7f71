// WAV header peek and ADTS splitting: the peek must count exactly the sample frames the
// library's reader delivers (the M4A edit list depends on it), and the splitter must find every
// frame the library writes in both header forms.
#include "wav_peek.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

#include "aacstream/aacstream.h"
#include "adts_frames.h"
#include "support/audio_support.h"

namespace aacs::tools {
namespace {

using Bytes = std::vector<uint8_t>;

struct WavSpec {
  int tag = 1, channels = 2, rate = 44100, bits = 16, frames = 5000;
  bool extensible = false;
  int extensibleSubFormat = 1;
  uint32_t dataSizeOverride = 0;  // written instead of the true size when non-zero
  int missingBytes = 0;           // bytes cut off the end of the data
  bool oddChunkFirst = false;     // an odd-sized chunk (with its pad byte) before fmt
};

// Little-endian fields: (value, bytes) pairs, and four-character ids as strings.
void Put(Bytes& b, std::initializer_list<std::pair<uint32_t, int>> fields) {
  for (auto [v, n] : fields)
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Put(Bytes& b, const char* text) { b.insert(b.end(), text, text + std::strlen(text)); }

Bytes BuildWav(const WavSpec& s) {
  const uint32_t align = uint32_t(s.channels * ((s.bits + 7) / 8)), dataBytes = uint32_t(s.frames) * align;
  Bytes b;
  Put(b, "RIFF----WAVE");
  if (s.oddChunkFirst) Put(b, "junk"), Put(b, {{3, 4}, {'a', 1}, {'b', 1}, {'c', 1}, {0, 1}});
  Put(b, "fmt ");
  Put(b, {{s.extensible ? 40 : 16, 4}, {s.extensible ? 0xFFFE : uint32_t(s.tag), 2}, {uint32_t(s.channels), 2},
          {uint32_t(s.rate), 4}, {uint32_t(s.rate) * align, 4}, {align, 2}, {uint32_t(s.bits), 2}});
  if (s.extensible) {
    Put(b, {{22, 2}, {uint32_t(s.bits), 2}, {0, 4}, {uint32_t(s.extensibleSubFormat), 4}, {0x00100000, 4},
            {0xAA000080, 4}, {0x719B3800, 4}});
  }
  Put(b, "data");
  Put(b, {{s.dataSizeOverride ? s.dataSizeOverride : dataBytes, 4}});
  for (uint32_t i = 0; i + s.missingBytes < dataBytes; ++i) b.push_back(uint8_t((i * 37) >> 3));
  const uint32_t riff = uint32_t(b.size() - 8);
  std::memcpy(b.data() + 4, &riff, 4);
  return b;
}

std::string WriteTemp(const Bytes& bytes) {
  const std::string path = testing::TempPath("peek.wav");
  EXPECT_TRUE(testing::WriteFile(path, bytes));
  return path;
}

// Frames the library produces for the file (ADTS in memory): one per 1024 samples, rounded up,
// plus one; -1 when it refuses the file.
int LibraryFrames(const std::string& path) {
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS}, values[] = {56};
  StreamContext* s = aacStreamOpenEx32(1, 0, 0, 32, 0, 0, 0, 1, 2, 0, 0, 0, path.c_str(), nullptr, nullptr, nullptr,
                                       nullptr, 0, keys, values, 1);
  if (!s) return -1;
  std::vector<uint8_t> out(size_t(aacStreamMaxOutputBytes32(s)));
  int frames = 0, length = 0, result;
  auto count = [&](int bytes) {
    for (size_t off = 0; off < size_t(bytes);) {
      AdtsFrame f;
      if (ReadAdtsFrame(out.data(), size_t(bytes), off, 56, f) != 0) return;
      ++frames, off += f.length;
    }
  };
  do {
    out[0] = 0;  // the last call of a whole-frame input reports a length but writes nothing
    result = aacStreamEncodeFrame32(s, nullptr, out.data(), 0, &length);
    if (out[0] == 0xFF) count(length);
  } while (result == 0);
  if (aacStreamFlush32(s, out.data(), &length) == 0) count(length);
  aacStreamDestroy32(s);
  return frames;
}

int ExpectedFrames(int64_t samples) { return int((samples + 1023) / 1024 + 1); }

TEST(WavPeek, CountsWhatTheLibraryReadsForEveryHeaderLayout) {
  const struct { const char* name; WavSpec spec; int64_t frames, declared; } cases[] = {
      {"plain", {}, 5000, 5000},
      {"multiple of 1024", {.frames = 4096}, 4096, 4096},
      {"streaming size", {.dataSizeOverride = 0xFFFFFFFFu}, 5000, 5000},
      {"cut short", {.missingBytes = 4 * 1000 + 2}, 3999, 5000},  // 1000 and a half frames missing
      {"odd chunk", {.oddChunkFirst = true}, 5000, 5000},
      {"24-bit extensible 5.1", {.channels = 6, .bits = 24, .frames = 3000, .extensible = true}, 3000, 3000},
      {"8-bit mono", {.channels = 1, .rate = 8000, .bits = 8, .frames = 1025}, 1025, 1025}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteTemp(BuildWav(c.spec));
    WavInfo info;
    std::string error;
    ASSERT_EQ(PeekWav(path, info, error), 0) << error;
    EXPECT_EQ(info.frames, c.frames);
    EXPECT_EQ(info.declaredFrames, c.declared);
    EXPECT_EQ(info.channels, c.spec.channels);
    EXPECT_EQ(info.sampleRate, c.spec.rate);
    EXPECT_EQ(LibraryFrames(path), ExpectedFrames(info.frames));
    std::remove(path.c_str());
  }
}

TEST(WavPeek, RefusesWhatTheLibraryRefusesWithAPreciseReason) {
  Bytes noData = BuildWav({});
  noData.resize(36);  // header and fmt only
  const struct { const char* name; Bytes bytes; const char* reason; } cases[] = {
      {"text", {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 'x'}, "not a WAV file"},
      {"float", BuildWav({.tag = 3, .bits = 32}), "floating-point samples are not supported"},
      {"extensible float", BuildWav({.bits = 32, .extensible = true, .extensibleSubFormat = 3}),
       "floating-point samples are not supported"},
      {"adpcm", BuildWav({.tag = 2}), "compressed or unknown sample format"},
      {"7 channels", BuildWav({.channels = 7}), "more than 6 channels"},
      {"no audio", BuildWav({.frames = 0}), "holds no audio"},
      {"no data chunk", noData, "no data chunk"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = WriteTemp(c.bytes);
    WavInfo info;
    std::string error;
    EXPECT_EQ(PeekWav(path, info, error), 1);
    EXPECT_NE(error.find(c.reason), std::string::npos) << error;
    EXPECT_EQ(LibraryFrames(path), -1) << "refused by the peek but accepted by the library";
    std::remove(path.c_str());
  }
}

// The splitter finds every frame the library writes in both header forms, and refuses lost
// sync, the wrong form and cut frames.
TEST(AdtsFrames, SplitsBothHeaderFormsIntoEveryFrameAndRefusesBrokenStreams) {
  for (int bits : {56, 58}) {
    testing::EncodeOptions options;
    options.adtsBits = bits, options.kbps = 96;
    const std::vector<uint8_t> stream = testing::EncodeAudio(testing::Sine(44100, 2, 0.5, 440, 8000), options).bytes;
    ASSERT_FALSE(stream.empty());
    size_t offset = 0;
    int frames = 0;
    AdtsFrame f;
    for (; offset < stream.size(); offset += f.length, ++frames) {
      ASSERT_EQ(ReadAdtsFrame(stream.data(), stream.size(), offset, bits, f), 0) << bits << " at " << offset;
      EXPECT_EQ(std::tuple(f.profile, f.sampleRateIndex, f.channelConfig, f.headerBytes),
                std::tuple(1, 4, 2, bits == 56 ? 7 : 0));
    }
    EXPECT_EQ(frames, ExpectedFrames(22050));
    ASSERT_EQ(ReadAdtsFrame(stream.data(), stream.size(), 0, bits, f), 0);
    const size_t firstLength = f.length;
    EXPECT_EQ(ReadAdtsFrame(stream.data(), stream.size(), 1, bits, f), 1);              // not at a header
    EXPECT_EQ(ReadAdtsFrame(stream.data(), firstLength - 1, 0, bits, f), 1);            // frame cut short
    EXPECT_EQ(ReadAdtsFrame(stream.data(), stream.size(), stream.size(), bits, f), 1);  // nothing left
    EXPECT_EQ(ReadAdtsFrame(stream.data(), stream.size(), 0, 57, f), 1);
    // The other form's reading takes the length from the wrong bits: the walk breaks.
    offset = 0;
    while (ReadAdtsFrame(stream.data(), stream.size(), offset, 114 - bits, f) == 0) offset += f.length;
    EXPECT_LT(offset, stream.size()) << bits;
  }
}

}  // namespace
}  // namespace aacs::tools
