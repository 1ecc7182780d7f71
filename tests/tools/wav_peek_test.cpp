// WAV header peek and ADTS splitting: the peek must count exactly the sample frames the
// library's reader delivers (the M4A edit list depends on it), and the splitter must find every
// frame the library writes in both header forms.
#include "wav_peek.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "adts_frames.h"
#include "support/audio_support.h"

namespace aacs::tools {
namespace {

using Bytes = std::vector<uint8_t>;

void Le(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
}
void Id(Bytes& b, const char* id) {
  for (int i = 0; i < 4; ++i) b.push_back(uint8_t(id[i]));
}

struct WavSpec {
  int tag = 1, channels = 2, rate = 44100, bits = 16;
  int frames = 5000;
  bool extensible = false;
  int extensibleSubFormat = 1;
  uint32_t dataSizeOverride = 0;  // written instead of the true size when non-zero
  int missingBytes = 0;           // bytes cut off the end of the data
  bool oddChunkFirst = false;     // an odd-sized chunk (with its pad byte) before fmt
};

Bytes BuildWav(const WavSpec& s) {
  const int bytesPerSample = (s.bits + 7) / 8;
  const uint32_t dataBytes = uint32_t(s.frames * s.channels * bytesPerSample);
  Bytes b;
  Id(b, "RIFF");
  Le(b, 0, 4);
  Id(b, "WAVE");
  if (s.oddChunkFirst) {
    Id(b, "junk");
    Le(b, 3, 4);
    b.insert(b.end(), {'a', 'b', 'c', 0});
  }
  Id(b, "fmt ");
  Le(b, s.extensible ? 40 : 16, 4);
  Le(b, s.extensible ? 0xFFFE : uint32_t(s.tag), 2);
  Le(b, uint32_t(s.channels), 2);
  Le(b, uint32_t(s.rate), 4);
  Le(b, uint32_t(s.rate * s.channels * bytesPerSample), 4);
  Le(b, uint32_t(s.channels * bytesPerSample), 2);
  Le(b, uint32_t(s.bits), 2);
  if (s.extensible) {
    Le(b, 22, 2);
    Le(b, uint32_t(s.bits), 2);
    Le(b, 0, 4);
    const uint8_t guid[16] = {0, 0, 0, 0, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    Bytes g(guid, guid + 16);
    g[0] = uint8_t(s.extensibleSubFormat);
    b.insert(b.end(), g.begin(), g.end());
  }
  Id(b, "data");
  Le(b, s.dataSizeOverride ? s.dataSizeOverride : dataBytes, 4);
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
  struct Case { const char* name; WavSpec spec; int64_t frames; int64_t declared; };
  WavSpec plain;
  WavSpec exact;
  exact.frames = 4096;
  WavSpec streaming;
  streaming.dataSizeOverride = 0xFFFFFFFFu;
  WavSpec cut;
  cut.missingBytes = 4 * 1000 + 2;  // 1000 frames and half a frame missing
  WavSpec odd;
  odd.oddChunkFirst = true;
  WavSpec ext24;
  ext24.extensible = true, ext24.bits = 24, ext24.channels = 6, ext24.frames = 3000;
  WavSpec mono8;
  mono8.bits = 8, mono8.channels = 1, mono8.rate = 8000, mono8.frames = 1025;
  const Case cases[] = {{"plain", plain, 5000, 5000},        {"multiple of 1024", exact, 4096, 4096},
                        {"streaming size", streaming, 5000, 5000}, {"cut short", cut, 3999, 5000},
                        {"odd chunk", odd, 5000, 5000},      {"24-bit extensible 5.1", ext24, 3000, 3000},
                        {"8-bit mono", mono8, 1025, 1025}};
  for (const Case& c : cases) {
    const std::string path = WriteTemp(BuildWav(c.spec));
    WavInfo info;
    std::string error;
    ASSERT_EQ(PeekWav(path, info, error), 0) << c.name << ": " << error;
    EXPECT_EQ(info.frames, c.frames) << c.name;
    EXPECT_EQ(info.declaredFrames, c.declared) << c.name;
    EXPECT_EQ(info.channels, c.spec.channels) << c.name;
    EXPECT_EQ(info.sampleRate, c.spec.rate) << c.name;
    EXPECT_EQ(LibraryFrames(path), ExpectedFrames(info.frames)) << c.name;
    std::remove(path.c_str());
  }
}

TEST(WavPeek, RefusesWhatTheLibraryRefusesWithAPreciseReason) {
  struct Case { const char* name; Bytes bytes; const char* reason; };
  WavSpec flt;
  flt.tag = 3, flt.bits = 32;
  WavSpec extFloat;
  extFloat.extensible = true, extFloat.extensibleSubFormat = 3, extFloat.bits = 32;
  WavSpec adpcm;
  adpcm.tag = 2;
  WavSpec seven;
  seven.channels = 7;
  WavSpec empty;
  empty.frames = 0;
  const Bytes text = {'h', 'e', 'l', 'l', 'o', ' ', 'w', 'o', 'r', 'l', 'd', '\n', 'x'};
  Bytes noData = BuildWav(WavSpec{});
  noData.resize(36);  // header and fmt only
  const Case cases[] = {{"text", text, "not a WAV file"},
                        {"float", BuildWav(flt), "floating-point samples are not supported"},
                        {"extensible float", BuildWav(extFloat), "floating-point samples are not supported"},
                        {"adpcm", BuildWav(adpcm), "compressed or unknown sample format"},
                        {"7 channels", BuildWav(seven), "more than 6 channels"},
                        {"no audio", BuildWav(empty), "holds no audio"},
                        {"no data chunk", noData, "no data chunk"}};
  for (const Case& c : cases) {
    const std::string path = WriteTemp(c.bytes);
    WavInfo info;
    std::string error;
    EXPECT_EQ(PeekWav(path, info, error), 1) << c.name;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.name << ": " << error;
    EXPECT_EQ(LibraryFrames(path), -1) << c.name << " is refused by the peek but accepted by the library";
    std::remove(path.c_str());
  }
}

std::vector<uint8_t> EncodeSine(int headerBits) {
  testing::EncodeOptions options;
  options.adtsBits = headerBits;
  options.kbps = 96;
  return testing::EncodeAudio(testing::Sine(44100, 2, 0.5, 440, 8000), options).bytes;
}

// The splitter finds every frame the library writes in both header forms, and refuses lost
// sync, the wrong form and cut frames.
TEST(AdtsFrames, SplitsBothHeaderFormsIntoEveryFrameAndRefusesBrokenStreams) {
  for (int bits : {56, 58}) {
    const std::vector<uint8_t> stream = EncodeSine(bits);
    ASSERT_FALSE(stream.empty());
    size_t offset = 0;
    int frames = 0;
    AdtsFrame f;
    while (offset < stream.size()) {
      ASSERT_EQ(ReadAdtsFrame(stream.data(), stream.size(), offset, bits, f), 0) << bits << " at " << offset;
      EXPECT_EQ(f.profile, 1);
      EXPECT_EQ(f.sampleRateIndex, 4);
      EXPECT_EQ(f.channelConfig, 2);
      EXPECT_EQ(f.headerBytes, bits == 56 ? 7 : 0);
      offset += f.length;
      ++frames;
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
