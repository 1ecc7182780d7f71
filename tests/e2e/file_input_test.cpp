// End to end with the library reading WAV files itself: bit depths, extensible headers, the 5.1
// channel order, resampling to another encoding rate, and the stream trailer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "support/audio_support.h"

namespace aacs::testing {
namespace {

// Rewrites a plain PCM WAV file's 16-byte fmt chunk as a 40-byte WAVE_FORMAT_EXTENSIBLE one with
// the PCM GUID and the given speaker mask.
std::function<void(std::vector<uint8_t>&)> Extensible(uint32_t mask) {
  return [mask](std::vector<uint8_t>& b) {
    uint8_t fmt[48] = {'f', 'm', 't', ' ', 40, 0, 0, 0};
    std::memcpy(fmt + 8, &b[20], 16);  // tag, channels, rate, bytes per second, block, bits
    const uint8_t tail[24] = {22, 0, 16, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
    std::memcpy(fmt + 24, tail, sizeof tail);
    std::memcpy(fmt + 28, &mask, 4);
    fmt[8] = 0xFE, fmt[9] = 0xFF;
    b.erase(b.begin() + 12, b.begin() + 36);
    b.insert(b.begin() + 12, fmt, fmt + 48);
    const uint32_t riff = static_cast<uint32_t>(b.size() - 8);
    std::memcpy(&b[4], &riff, 4);
  };
}

// Writes `audio` to a temporary WAV file (rewritten by `edit` when given) and encodes it.
Encoded EncodeThroughFile(const Audio& audio, const EncodeOptions& o, int rate = 0,
                          const std::function<void(std::vector<uint8_t>&)>& edit = {}) {
  const std::string wav = TempPath("input.wav");
  std::vector<uint8_t> b;
  EXPECT_TRUE(WriteWav(wav, audio));
  if (edit && ReadFile(wav, b)) edit(b), WriteFile(wav, b);
  Encoded enc = EncodeFile(wav, o, rate);
  std::remove(wav.c_str());
  return enc;
}

TEST(FileInput, EveryBitDepthEncodesLikeItsSixteenBitCopy) {
  const Audio reference = Load("rates/music_1s_44100.wav");
  for (const char* name : {"bitdepth/music_1s_u8.wav", "bitdepth/music_1s_s24.wav", "bitdepth/music_1s_s32.wav"}) {
    SCOPED_TRACE(name);
    const Encoded enc = EncodeFile(DataPath(name), {});
    ASSERT_TRUE(enc.opened);
    EXPECT_EQ(enc.lastResult, 2);
    EXPECT_EQ(WalkAdts(enc.bytes, 56).frames, enc.calls + 1);
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

// FFmpeg's output order for 5.1 is the WAV order (FL FR FC LFE BL BR): every tone must come back
// in its own channel, the LFE's (60 Hz) through its 120 Hz-limited element.  The same tones with a
// 40-byte WAVE_FORMAT_EXTENSIBLE fmt chunk (PCM GUID) are read as well.
TEST(FileInput, SurroundAndExtensibleWavKeepEveryChannelInItsPlace) {
  Audio tones = Sine(48000, 6, 1.5, 300.0, 8000.0, 150.0);
  for (int i = 0; i < tones.Frames(); ++i)
    tones.samples[static_cast<size_t>(i) * 6 + 3] = static_cast<float>(std::lround(8000.0 * std::sin(2 * M_PI * 60.0 * i / 48000)));
  const Decoded dec = DecodeFfmpeg(EncodeThroughFile(tones, {.kbps = 384, .lfe = 1}).bytes);
  EXPECT_EQ(dec.errors, "");
  ASSERT_EQ(dec.audio.channels, 6);
  for (int c = 0; c < 6; ++c)
    EXPECT_NEAR(DominantFrequency(dec.audio, c, 8192, 32768), c == 3 ? 60.0 : 300.0 + 150.0 * c, 2.0) << c;

  const Encoded extensible = EncodeThroughFile(Sine(44100, 2, 0.5, 300.0, 8000.0, 150.0), {}, 0, Extensible(0x3));
  ASSERT_TRUE(extensible.opened);
  const Decoded ext = DecodeFfmpeg(extensible.bytes);
  EXPECT_EQ(ext.errors, "");
  EXPECT_NEAR(DominantFrequency(ext.audio, 1, 4096, 8192), 450.0, 2.0);
}

// Four WAV channels are front left, right, centre and back centre (mask 0x107, or none): a tone
// only in the first comes back from the front left.  Quad (0x33) has no AAC layout and is refused.
// Six channels with a 5.1 mask get their LFE element without being asked.
TEST(FileInput, SpeakerMasksDecideFourAndSixChannelLayouts) {
  Audio left = Sine(44100, 4, 1.0, 500.0, 8000.0);
  for (size_t i = 0; i < left.samples.size(); ++i)
    if (i % 4 != 0) left.samples[i] = 0;
  for (const uint32_t mask : {0u, 0x107u}) {
    const Encoded enc = EncodeThroughFile(left, {.kbps = 192}, 0, mask ? Extensible(mask) : nullptr);
    ASSERT_TRUE(enc.opened) << mask;
    const Decoded dec = DecodeFfmpeg(enc.bytes);
    ASSERT_EQ(dec.audio.channels, 4);
    const int frontLeft = FfmpegChannel(4, 1);  // element order C L R S
    for (int c = 0; c < 4; ++c)
      EXPECT_TRUE(c == frontLeft ? LevelDb(dec.audio, 2048, -1, c) > -20 : LevelDb(dec.audio, 2048, -1, c) < -60)
          << "mask " << mask << ": decoder channel " << c << " at " << LevelDb(dec.audio, 2048, -1, c) << " dBFS";
  }
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(EncodeThroughFile(left, {.kbps = 192}, 0, Extensible(0x33)).opened);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("mask 0x33, which AAC cannot carry"), std::string::npos) << err;

  const Audio six = Sine(48000, 6, 0.5, 300.0, 8000.0, 150.0);
  for (const uint32_t mask : {0x3Fu, 0x60Fu}) {
    const Encoded enc = EncodeThroughFile(six, {.kbps = 384}, 0, Extensible(mask));
    ASSERT_TRUE(enc.opened);
    const std::vector<test::ParsedFrame> frames = ParseFrames(enc.bytes);
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames[0].elements.back().id, 3) << "mask " << mask << ": no LFE element";
  }
}

TEST(FileInput, UnreadableFilesAreRefusedAtOpen) {
  const std::string bad = TempPath("not_a_wave.wav");
  ASSERT_TRUE(WriteFile(bad, std::vector<uint8_t>(100, 'x')));
  EXPECT_FALSE(EncodeFile(bad, {}).opened);
  std::remove(bad.c_str());
  EXPECT_FALSE(EncodeThroughFile(Sine(44100, 7, 0.1, 300.0, 8000.0, 150.0), {}).opened);
}

TEST(Resampling, ToneKeepsFrequencyLevelAndDuration) {
  struct Conversion {
    int from, to, channels;
  };
  for (const Conversion& conv : {Conversion{48000, 44100, 2}, Conversion{44100, 48000, 2}, Conversion{22050, 44100, 1},
                                 Conversion{96000, 48000, 2}, Conversion{8000, 16000, 1}, Conversion{48000, 44100, 6}}) {
    SCOPED_TRACE(::testing::Message() << conv.from << " -> " << conv.to << ", " << conv.channels << " ch");
    const Audio in = Sine(conv.from, conv.channels, 2.0, 1000.0, 10000.0);
    const Encoded enc = EncodeThroughFile(in, {.kbps = 48 * conv.channels + 32}, conv.to);
    ASSERT_TRUE(enc.opened);
    EXPECT_EQ(enc.lastResult, 2);
    EXPECT_EQ(WalkAdts(enc.bytes, 56).sampleRateIndex, conv.to == 44100 ? 4 : conv.to == 48000 ? 3 : 8);
    const Decoded dec = DecodeFfmpeg(enc.bytes);
    EXPECT_EQ(dec.errors, "");
    EXPECT_EQ(dec.audio.sampleRate, conv.to);
    ASSERT_EQ(dec.audio.channels, conv.channels);
    // The decode is the input's duration at the new rate, plus the 1024-sample decoder delay,
    // within one frame (the last frame is completed with silence).
    EXPECT_GE(dec.audio.Frames(), 2 * conv.to + 1024);
    EXPECT_LE(dec.audio.Frames(), 2 * conv.to + 2048);
    EXPECT_NEAR(DominantFrequency(dec.audio, 0, conv.to / 4, conv.to), 1000.0, 1.0);
    EXPECT_NEAR(LevelDb(dec.audio, 1024 + conv.to / 4, conv.to), LevelDb(in, conv.from / 4, conv.from), 0.5);
  }
}

TEST(Trailer, AppendedRecordEndsTheFile) {
  const Encoded enc = EncodeFile(DataPath("rates/music_1s_44100.wav"), {}, 0, true);
  ASSERT_TRUE(enc.opened);
  const std::vector<uint8_t>& b = enc.bytes;
  ASSERT_GT(b.size(), 64u);
  const uint8_t magic[4] = {0xCC, 0xAB, 0xCC, 0xAB};
  EXPECT_EQ(std::memcmp(&b[b.size() - 4], magic, 4), 0);
  int32_t size = 0, fields[3] = {};
  std::memcpy(&size, &b[b.size() - 8], 4);
  // Four words, "ab" (4 + 3 bytes), null (4), "xyz" (4 + 4), year and two reserved words: 47 bytes.
  EXPECT_EQ(size, 47);
  const size_t start = b.size() - 8 - static_cast<size_t>(size);
  std::memcpy(fields, &b[start], sizeof fields);
  EXPECT_EQ(fields[0], 44100);  // rate, channels, frames
  EXPECT_EQ(fields[1], 2);
  EXPECT_EQ(fields[2], enc.calls - 1);
  // The stream before the trailer still walks as whole ADTS frames.
  EXPECT_EQ(WalkAdts(std::vector<uint8_t>(b.begin(), b.begin() + static_cast<long>(start)), 56).frames, enc.calls + 1);
}

}  // namespace
}  // namespace aacs::testing
