// End to end with the library reading WAV files itself: bit depths, extensible headers, the 5.1
// channel order, resampling to another encoding rate, and the stream trailer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

struct FileEncode {
  std::vector<uint8_t> bytes;
  int result = -1;
  int calls = 0;
  bool opened = false;
};

// Encodes a WAV file with file input and file output (56-bit ADTS unless told otherwise).
FileEncode EncodeFile(const std::string& wav, int sampleRate, int kbps, int lfe = 0, int adtsBits = 56,
                      bool trailer = false) {
  FileEncode r;
  const std::string out = TempPath("file_input.aac");
  const int keys[] = {100};
  const int values[] = {adtsBits};
  StreamContext* s = aacStreamOpenEx32(1, 1, sampleRate, kbps, 0, lfe, 0, 1, 2, 0, 0, 9, wav.c_str(), out.c_str(),
                                       "ab", nullptr, "xyz", 2020, keys, values, 1);
  if (!s) return r;
  r.opened = true;
  int length = 0;
  while ((r.result = aacStreamEncodeFrame32(s, nullptr, nullptr, 0, &length)) == 0) ++r.calls;
  ++r.calls;
  aacStreamClose32(s);
  if (trailer) {
    FILE* f = std::fopen(out.c_str(), "ab");
    WriteVelmorAACHeader(s, f);
    std::fclose(f);
  }
  aacStreamDestroy32(s);
  ReadFile(out, r.bytes);
  std::remove(out.c_str());
  return r;
}

TEST(FileInput, EveryBitDepthEncodesLikeItsSixteenBitCopy) {
  Audio reference;
  ASSERT_TRUE(ReadWav(DataPath("rates/music_1s_44100.wav"), reference));
  for (const char* name : {"bitdepth/music_1s_u8.wav", "bitdepth/music_1s_s24.wav", "bitdepth/music_1s_s32.wav"}) {
    SCOPED_TRACE(name);
    const FileEncode enc = EncodeFile(DataPath(name), 0, 128);
    ASSERT_TRUE(enc.opened);
    EXPECT_EQ(enc.result, 2);
    const AdtsWalk walk = WalkAdts(enc.bytes, 56);
    EXPECT_EQ(walk.frames, enc.calls + 1);
    const Decoded dec = DecodeFfmpeg(enc.bytes);
    EXPECT_EQ(dec.errors, "");
    ASSERT_EQ(dec.audio.channels, 2);
    const bool eightBit = std::strstr(name, "u8") != nullptr;
    // 8-bit samples are delivered unscaled (-128..127): 48 dB below their 16-bit copy.
    EXPECT_NEAR(LevelDb(dec.audio, 1024, reference.Frames()), LevelDb(reference) - (eightBit ? 48.2 : 0.0), 1.5);
    if (!eightBit) {
      EXPECT_GT(SnrDb(reference, dec.audio, 1024), 10.0);
    }
  }
}

// A WAV file whose channels carry distinct tones, written by the test.
Audio DistinctTones(int sampleRate, int channels, double seconds) {
  Audio a;
  a.sampleRate = sampleRate;
  a.channels = channels;
  const int frames = static_cast<int>(seconds * sampleRate);
  a.samples.resize(static_cast<size_t>(frames) * channels);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      a.samples[static_cast<size_t>(i) * channels + c] =
          static_cast<float>(std::lround(8000.0 * std::sin(2 * M_PI * (300.0 + 150.0 * c) * i / sampleRate)));
  return a;
}

// FFmpeg's output order for 5.1 is the WAV order (FL FR FC LFE BL BR): every tone must come back
// in its own channel, the LFE's through its 120 Hz-limited element.
TEST(FileInput, SurroundWavKeepsEveryChannelInItsPlace) {
  Audio tones = DistinctTones(48000, 6, 1.5);
  for (int i = 0; i < tones.Frames(); ++i)  // the LFE channel carries a 60 Hz tone
    tones.samples[static_cast<size_t>(i) * 6 + 3] = static_cast<float>(std::lround(8000.0 * std::sin(2 * M_PI * 60.0 * i / 48000)));
  const std::string wav = TempPath("tones51.wav");
  ASSERT_TRUE(WriteWav(wav, tones));
  const FileEncode enc = EncodeFile(wav, 0, 384, 1);
  std::remove(wav.c_str());
  ASSERT_TRUE(enc.opened);
  const Decoded dec = DecodeFfmpeg(enc.bytes);
  EXPECT_EQ(dec.errors, "");
  ASSERT_EQ(dec.audio.channels, 6);
  for (int c = 0; c < 6; ++c) {
    const double expected = c == 3 ? 60.0 : 300.0 + 150.0 * c;
    EXPECT_NEAR(DominantFrequency(dec.audio, c, 8192, 32768), expected, 2.0) << "channel " << c;
  }
}

TEST(FileInput, ExtensiblePcmHeaderIsAccepted) {
  Audio tones = DistinctTones(44100, 2, 0.5);
  const std::string wav = TempPath("extensible.wav");
  ASSERT_TRUE(WriteWav(wav, tones));
  std::vector<uint8_t> b;
  ASSERT_TRUE(ReadFile(wav, b));
  // Rewrite the 16-byte fmt chunk as a 40-byte WAVE_FORMAT_EXTENSIBLE one with the PCM GUID.
  std::vector<uint8_t> x;
  x.reserve(b.size() + 24);
  for (size_t i = 0; i < 12; ++i) x.push_back(b[i]);
  const uint8_t fmt[48] = {'f', 'm', 't', ' ', 40, 0, 0, 0, 0xFE, 0xFF, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0,
                           4, 0, 16, 0, 22, 0, 16, 0, 3, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA,
                           0, 0x38, 0x9B, 0x71};
  for (uint8_t v : fmt) x.push_back(v);
  for (size_t i = 36; i < b.size(); ++i) x.push_back(b[i]);
  const uint32_t riff = static_cast<uint32_t>(x.size() - 8);
  std::memcpy(&x[4], &riff, 4);
  ASSERT_TRUE(WriteFile(wav, x));
  const FileEncode enc = EncodeFile(wav, 0, 128);
  std::remove(wav.c_str());
  ASSERT_TRUE(enc.opened);
  const Decoded dec = DecodeFfmpeg(enc.bytes);
  EXPECT_EQ(dec.errors, "");
  EXPECT_NEAR(DominantFrequency(dec.audio, 1, 4096, 8192), 450.0, 2.0);
}

TEST(FileInput, UnreadableFilesAreRefusedAtOpen) {
  const std::string bad = TempPath("not_a_wave.wav");
  ASSERT_TRUE(WriteFile(bad, std::vector<uint8_t>(100, 'x')));
  EXPECT_FALSE(EncodeFile(bad, 0, 128).opened);
  std::remove(bad.c_str());
  Audio seven = DistinctTones(44100, 7, 0.1);
  const std::string wide = TempPath("seven.wav");
  ASSERT_TRUE(WriteWav(wide, seven));
  EXPECT_FALSE(EncodeFile(wide, 0, 128).opened);
  std::remove(wide.c_str());
}

struct Conversion {
  int from, to, channels;
};

TEST(Resampling, ToneKeepsFrequencyLevelAndDuration) {
  for (const Conversion& conv : {Conversion{48000, 44100, 2}, Conversion{44100, 48000, 2}, Conversion{22050, 44100, 1},
                                 Conversion{96000, 48000, 2}, Conversion{8000, 16000, 1}, Conversion{48000, 44100, 6}}) {
    SCOPED_TRACE(::testing::Message() << conv.from << " -> " << conv.to << ", " << conv.channels << " ch");
    const double seconds = 2.0;
    const double hz = 1000.0;
    Audio in = Sine(conv.from, conv.channels, seconds, hz, 10000.0);
    const std::string wav = TempPath("resample_in.wav");
    ASSERT_TRUE(WriteWav(wav, in));
    const FileEncode enc = EncodeFile(wav, conv.to, 48 * conv.channels + 32);
    std::remove(wav.c_str());
    ASSERT_TRUE(enc.opened);
    EXPECT_EQ(enc.result, 2);
    const AdtsWalk walk = WalkAdts(enc.bytes, 56);
    EXPECT_EQ(walk.sampleRateIndex, conv.to == 44100 ? 4 : conv.to == 48000 ? 3 : 8);
    const Decoded dec = DecodeFfmpeg(enc.bytes);
    EXPECT_EQ(dec.errors, "");
    EXPECT_EQ(dec.audio.sampleRate, conv.to);
    ASSERT_EQ(dec.audio.channels, conv.channels);
    // The decode is the input's duration at the new rate, plus the 1024-sample decoder delay,
    // within one frame (the last frame is completed with silence).
    const double expected = seconds * conv.to + 1024;
    EXPECT_GE(dec.audio.Frames(), expected);
    EXPECT_LE(dec.audio.Frames(), expected + 1024);
    const double f = DominantFrequency(dec.audio, 0, conv.to / 4, conv.to);
    EXPECT_NEAR(f, hz, hz * 0.001);
    const double inLevel = LevelDb(in, conv.from / 4, conv.from);
    EXPECT_NEAR(LevelDb(dec.audio, 1024 + conv.to / 4, conv.to), inLevel, 0.5);
  }
}

TEST(Trailer, AppendedRecordEndsTheFile) {
  const FileEncode enc = EncodeFile(DataPath("rates/music_1s_44100.wav"), 0, 128, 0, 56, true);
  ASSERT_TRUE(enc.opened);
  const std::vector<uint8_t>& b = enc.bytes;
  ASSERT_GT(b.size(), 64u);
  const uint8_t magic[4] = {0xCC, 0xAB, 0xCC, 0xAB};
  EXPECT_EQ(std::memcmp(&b[b.size() - 4], magic, 4), 0);
  int32_t size = 0, rate = 0, channels = 0, frames = 0;
  std::memcpy(&size, &b[b.size() - 8], 4);
  // Four words, "ab" (4 + 3 bytes), null (4), "xyz" (4 + 4), year and two reserved words: 47 bytes.
  EXPECT_EQ(size, 47);
  const size_t start = b.size() - 8 - static_cast<size_t>(size);
  std::memcpy(&rate, &b[start], 4);
  std::memcpy(&channels, &b[start + 4], 4);
  std::memcpy(&frames, &b[start + 8], 4);
  EXPECT_EQ(rate, 44100);
  EXPECT_EQ(channels, 2);
  EXPECT_EQ(frames, enc.calls - 1);
  // The stream before the trailer still walks as whole ADTS frames.
  const std::vector<uint8_t> stream(b.begin(), b.begin() + static_cast<long>(start));
  EXPECT_EQ(WalkAdts(stream, 56).frames, enc.calls + 1);
}

}  // namespace
}  // namespace aacs::testing
