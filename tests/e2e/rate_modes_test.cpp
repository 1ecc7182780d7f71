// Rate modes end to end: constant-rate streams keep the decoder's buffer model (checked by an
// independent walk over their ADTS headers), every mode decodes in FFmpeg and faad, and the
// ADIF header says which kind of stream follows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "support/aac_parser.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

constexpr int kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};

struct Frame {
  int bytes, fullness, channels, sfIndex;
};

std::vector<Frame> AdtsFrames(const std::vector<uint8_t>& s) {
  std::vector<Frame> frames;
  for (size_t pos = 0; pos + 7 <= s.size();) {
    const uint8_t* h = &s[pos];
    if (h[0] != 0xFF || (h[1] & 0xF0) != 0xF0) return {};
    const int length = (h[3] & 3) << 11 | h[4] << 3 | h[5] >> 5;
    if (length < 7) return {};
    frames.push_back({length, (h[5] & 31) << 6 | h[6] >> 2, (h[2] & 1) << 2 | h[3] >> 6, h[2] >> 2 & 15});
    pos += static_cast<size_t>(length);
  }
  return frames;
}

// The decoder's buffer model, walked from the headers alone: frame n adds the rate's share of
// one frame (bitRate x 1024 / fs, remainders carried) and removes its own bits; the buffer
// fullness field (32-bit words per channel) must describe the same reservoir every frame, and
// the reservoir must stay between 0 and 6144 bits per channel less one mean frame.
struct BufferWalk {
  bool consistent = false;
  int64_t lowest = 0, highest = 0, size = 0;
};

BufferWalk WalkBuffer(const std::vector<Frame>& frames, int bitRate) {
  BufferWalk w;
  if (frames.empty()) return w;
  const int fs = kRates[frames[0].sfIndex], channels = frames[0].channels, word = 32 * channels;
  w.size = int64_t{6144} * channels - int64_t{bitRate} * 1024 / fs;
  // The first frame's reservoir is known only to a word: keep every start the fields allow.
  int64_t startLo = INT64_MIN / 4, startHi = INT64_MAX / 4, change = 0, remainder = 0;
  std::vector<int64_t> changes;
  for (size_t i = 0; i < frames.size(); ++i) {
    remainder += int64_t{bitRate} * 1024;
    const int64_t share = remainder / fs;
    remainder -= share * fs;
    if (i > 0) change += share - int64_t{frames[i].bytes} * 8;
    changes.push_back(change);
    startLo = std::max(startLo, int64_t{frames[i].fullness} * word - change);
    startHi = std::min(startHi, int64_t{frames[i].fullness} * word + word - 1 - change);
  }
  w.consistent = startLo <= startHi;
  w.lowest = startLo + *std::min_element(changes.begin(), changes.end());
  w.highest = startLo + *std::max_element(changes.begin(), changes.end());
  return w;
}

// Music at `rate`, or (rate 0) three seconds of digital silence, which can only pad.
Audio Clip(int rate, int channels) {
  if (rate == 0) return Sine(44100, channels, 3.0, 440.0, 0.0);
  const Audio pop = Load(channels == 6 ? "surround_5.1_48k_1.5s.wav" : "music_pop_3s.wav");
  if (channels == 6) return pop;
  Audio a{rate, channels, {}};
  const int frames = std::min(pop.Frames(), 3 * rate);  // the clip's samples, played at `rate`
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) a.samples.push_back(pop.At(i, c));
  return a;
}

TEST(ConstantRate, EveryFrameKeepsTheDecoderBufferModel) {
  const struct { int rate, channels, kbps; } cases[] = {
      {44100, 2, 128}, {44100, 2, 64}, {8000, 1, 16}, {96000, 2, 256}, {48000, 6, 384}, {22050, 1, 32}, {0, 2, 128}};
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.rate << " Hz, " << c.channels << " ch, " << c.kbps << " kbit/s");
    const Audio in = Clip(c.rate, c.channels);
    const Encoded enc = EncodeAudio(in, {.kbps = c.kbps, .lfe = c.channels == 6,
                                         .extra = {{AACSTREAM_OPT_RATE_MODE, AACSTREAM_RATE_CONSTANT}}});
    ASSERT_TRUE(enc.opened);
    const std::vector<Frame> frames = AdtsFrames(enc.bytes);
    ASSERT_EQ(static_cast<int>(frames.size()), (in.Frames() + 1023) / 1024 + 1);
    EXPECT_TRUE(std::none_of(frames.begin(), frames.end(), [](const Frame& f) { return f.fullness == 0x7FF; }));
    const BufferWalk w = WalkBuffer(frames, c.kbps * 1000);
    EXPECT_TRUE(w.consistent) << "the fullness fields do not follow the frame sizes";
    EXPECT_GE(w.lowest, 0) << "the decoder's buffer would run dry";
    EXPECT_LE(w.highest, w.size) << "the reservoir passed its size";
    // Any run of frames is the target's size within one frame's worth of buffer.
    EXPECT_LE(w.highest - w.lowest, w.size);
    const Decoded ffmpeg = DecodeFfmpeg(enc.bytes), faad = DecodeFaad(enc.bytes, false);
    EXPECT_EQ(ffmpeg.errors, "");
    EXPECT_EQ(faad.status, 0) << faad.errors;
  }
}

// Average rate and the quality levels signal a variable-rate stream and decode everywhere; the
// levels' rates rise with the level.
TEST(RateModes, VariableRateStreamsDecodeAndLevelsRiseInRate) {
  const Audio in = Load("orchestral_3s.wav");
  size_t previous = 0;
  for (int level = 0; level <= 5; ++level) {
    SCOPED_TRACE(::testing::Message() << "level " << level);
    const Encoded enc = EncodeAudio(in, {.extra = {{AACSTREAM_OPT_VBR_LEVEL, level}}});
    ASSERT_TRUE(enc.opened);
    const std::vector<Frame> frames = AdtsFrames(enc.bytes);
    ASSERT_FALSE(frames.empty());
    EXPECT_TRUE(std::all_of(frames.begin(), frames.end(), [](const Frame& f) { return f.fullness == 0x7FF; }));
    EXPECT_EQ(DecodeFfmpeg(enc.bytes).errors, "");
    EXPECT_EQ(DecodeFaad(enc.bytes, false).status, 0);
    if (level == 0) continue;  // the average rate at the default 128 kbit/s
    EXPECT_GT(enc.bytes.size(), previous) << "a higher level must spend more";
    previous = enc.bytes.size();
  }
  // Conflicting modes are refused at open.
  ::testing::internal::CaptureStderr();
  EXPECT_FALSE(EncodeAudio(in, {.extra = {{AACSTREAM_OPT_RATE_MODE, AACSTREAM_RATE_CONSTANT},
                                          {AACSTREAM_OPT_VBR_LEVEL, 3}}}).opened);
  EXPECT_FALSE(EncodeAudio(in, {.preset = 2, .extra = {{AACSTREAM_OPT_VBR_LEVEL, 3}}}).opened);
  EXPECT_NE(::testing::internal::GetCapturedStderr(), "");
}

TEST(RateModes, AdifHeaderSaysConstantOrVariable) {
  const Audio in = Load("harpsichord_3s.wav");
  for (const int mode : {AACSTREAM_RATE_AVERAGE, AACSTREAM_RATE_CONSTANT}) {
    const Encoded enc = EncodeAudio(in, {.kbps = 96, .headerType = 1, .extra = {{AACSTREAM_OPT_RATE_MODE, mode}}});
    test::AdifHeader h{};
    std::string error;
    ASSERT_TRUE(test::ParseAdifHeader(enc.bytes.data(), enc.bytes.size(), &h, &error)) << error;
    EXPECT_EQ(h.bitstreamType, mode == AACSTREAM_RATE_CONSTANT ? 0 : 1);
    // Constant: the target; variable (memory output, frames unknown): the channels' highest rate.
    EXPECT_EQ(h.bitRate, mode == AACSTREAM_RATE_CONSTANT ? 96000 : 2 * 6144 * 44100 / 1024);
    const Decoded faad = DecodeFaad(enc.bytes, false, ".adif");
    EXPECT_EQ(faad.status, 0) << faad.errors;
  }
}

}  // namespace
}  // namespace aacs::testing
