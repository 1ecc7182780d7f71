// End to end: LC streams of real clips and synthetic signals decoded by FFmpeg and faad (every
// layout, rate, header form and the extremes of bit rate and signal), the bit rate over 10 s, and
// streams on two threads giving the bytes they give alone.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <thread>

#include "support/audio_support.h"

namespace aacs::testing {
namespace {

// Frames a stream of `frames` sample frames yields: one per call plus one.
int ExpectedFrames(const Audio& in) { return (in.Frames() + 1023) / 1024 + 1; }

// Checks an FFmpeg decode of a 56-bit ADTS stream: no complaint, every frame decoded, frames
// within the decoder's buffer, the 1024-sample start delay (not for periodic signals, which have
// no unambiguous delay), the level and the SNR.  FFmpeg's channel order is brought back to the
// element order first.
void ExpectFaithfulDecode(const Audio& in, const Encoded& enc, double minSnrDb, bool periodic = false,
                          double levelDb = 1.0) {
  ASSERT_TRUE(enc.opened);
  ASSERT_EQ(enc.lastResult, 2);
  const AdtsWalk walk = WalkAdts(enc.bytes, 56);
  EXPECT_EQ(walk.frames, ExpectedFrames(in));
  EXPECT_LE(walk.maxFrameBytes * 8, 6144 * in.channels + 56);
  const Decoded raw = DecodeFfmpeg(enc.bytes);
  EXPECT_EQ(raw.status, 0);
  EXPECT_EQ(raw.errors, "");
  ASSERT_EQ(raw.audio.channels, in.channels);
  Audio dec = raw.audio;
  for (int i = 0; i < dec.Frames(); ++i)
    for (int c = 0; c < dec.channels; ++c)
      dec.samples[static_cast<size_t>(i) * dec.channels + c] = raw.audio.At(i, FfmpegChannel(dec.channels, c));
  EXPECT_EQ(dec.sampleRate, in.sampleRate);
  EXPECT_EQ(dec.Frames(), walk.frames * 1024);
  if (LevelDb(in) < -90) {
    EXPECT_LT(LevelDb(dec), -90);
    return;
  }
  // The delay is unambiguous only for a decode that resembles its input.
  if (!periodic && minSnrDb > 0.0) {
    EXPECT_EQ(FindDelay(in, dec, 4096), 1024);
  }
  EXPECT_NEAR(LevelDb(dec, 1024, in.Frames()), LevelDb(in), levelDb);
  EXPECT_GT(SnrDb(in, dec, 1024), minSnrDb);
}

TEST(LcEncoder, SignalsAndBitRatesFromEightTo320DecodeFaithfully) {
  const Audio pop = Load("music_pop_3s.wav"), speech = Load("speech_16k_mono_3s.wav");
  const Audio orchestral = Load("orchestral_3s.wav"), sine = Sine(44100, 1, 2.0, 1000.0, 16384.0);
  Audio square = Sine(44100, 2, 1.0, 441.0, 1.0);
  for (float& s : square.samples) s = s >= 0 ? 32767.0f : -32768.0f;
  SCOPED_TRACE("pop, default rate");
  ExpectFaithfulDecode(pop, EncodeAudio(pop, {}), 10.0);
  SCOPED_TRACE("speech, 8 kbit/s");
  ExpectFaithfulDecode(speech, EncodeAudio(speech, {.kbps = 8}), 3.0);
  // 4 kbit/s per channel at 44.1 kHz: a 3 kHz band and coarse steps.
  SCOPED_TRACE("orchestral, 8 kbit/s");
  ExpectFaithfulDecode(orchestral, EncodeAudio(orchestral, {.kbps = 8}), -10.0, false, 3.0);
  SCOPED_TRACE("orchestral, 320 kbit/s");
  ExpectFaithfulDecode(orchestral, EncodeAudio(orchestral, {.kbps = 320}), 15.0);
  const Audio silence = Sine(44100, 2, 1.0, 0.0, 0.0);
  ExpectFaithfulDecode(silence, EncodeAudio(silence, {}), 0.0);
  ExpectFaithfulDecode(square, EncodeAudio(square, {}), 5.0, true);
  const Encoded enc = EncodeAudio(sine, {.kbps = 64});
  ExpectFaithfulDecode(sine, enc, 20.0, true);
  EXPECT_NEAR(DominantFrequency(DecodeFfmpeg(enc.bytes).audio, 0, 4096, 32768), 1000.0, 2.0);
}

TEST(LcEncoder, EveryChannelCountDecodes) {
  const Audio in = Load("surround_5.1_48k_1.5s.wav");
  for (int channels = 1; channels <= 6; ++channels)
    for (int lfe = 0; lfe <= (channels == 6 ? 1 : 0); ++lfe) {
      Audio part{in.sampleRate, channels, {}};
      for (int i = 0; i < in.Frames(); ++i)
        for (int c = 0; c < channels; ++c) part.samples.push_back(in.At(i, c));
      SCOPED_TRACE(::testing::Message() << channels << " channels, lfe " << lfe);
      ExpectFaithfulDecode(part, EncodeAudio(part, {.kbps = 64 * channels, .lfe = lfe}), 3.0);
    }
}

TEST(LcEncoder, EverySamplingRateDecodes) {
  for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000}) {
    const Audio in = Load("rates/music_1s_" + std::to_string(rate + 100000).substr(1) + ".wav");
    SCOPED_TRACE(rate);
    ExpectFaithfulDecode(in, EncodeAudio(in, {.kbps = rate <= 12000 ? 32 : (rate <= 24000 ? 64 : 128)}), 3.0);
  }
}

// The 58-bit ADTS header in faad -t, and ADIF from memory output and from file output in faad.
TEST(LcEncoder, LegacyAdtsAndAdifDecodeInFaad) {
  const Audio in = Load("orchestral_3s.wav");
  const Encoded legacy = EncodeAudio(in, {.adtsBits = 58});
  const AdtsWalk walk = WalkAdts(legacy.bytes, 58);
  EXPECT_EQ(walk.frames, ExpectedFrames(in));
  const Decoded dec = DecodeFaad(legacy.bytes, true);
  EXPECT_EQ(dec.status, 0) << dec.errors;
  ASSERT_EQ(dec.audio.channels, 2);
  // faad drops the first frame: the decode starts without the 1024-sample delay.
  EXPECT_EQ(dec.audio.Frames(), (walk.frames - 1) * 1024);
  EXPECT_EQ(FindDelay(in, dec.audio, 4096), 0);
  EXPECT_GT(SnrDb(in, dec.audio, 0), 10.0);

  const std::string wav = TempPath("adif_in.wav");
  ASSERT_TRUE(WriteWav(wav, in));
  for (const Encoded& adif : {EncodeAudio(in, {.headerType = 1}), EncodeFile(wav, {.headerType = 1})}) {
    ASSERT_EQ(adif.lastResult, 2);
    ASSERT_GT(adif.bytes.size(), 17u);
    EXPECT_EQ(std::string(adif.bytes.begin(), adif.bytes.begin() + 4), "ADIF");
    const Decoded faad = DecodeFaad(adif.bytes, false, ".adif");
    EXPECT_EQ(faad.status, 0) << faad.errors;
    ASSERT_EQ(faad.audio.channels, 2);
    EXPECT_GT(SnrDb(in, faad.audio, FindDelay(in, faad.audio, 4096)), 10.0);
  }
  std::remove(wav.c_str());
}

// Raw data blocks, split with the test parser and wrapped in ADTS headers by the test, decode.
TEST(LcEncoder, RawBlocksDecodeOnceWrapped) {
  const Audio in = Load("orchestral_3s.wav");
  const Encoded enc = EncodeAudio(in, {.headerType = 0});
  ASSERT_EQ(enc.lastResult, 2);
  ASSERT_NE(enc.bytes[0], 0xFF);  // no header: the first element starts at once
  Encoded wrapped = enc;
  wrapped.bytes.clear();
  int frames = 0;
  for (size_t pos = 0; pos < enc.bytes.size(); ++frames) {
    aacs::test::ParsedFrame frame;
    std::string error;
    ASSERT_TRUE(aacs::test::ParseRawDataBlock(&enc.bytes[pos], enc.bytes.size() - pos, {1, 4}, &frame, &error))
        << "frame " << frames << ": " << error;
    const size_t bytes = static_cast<size_t>(frame.totalBits / 8), length = bytes + 7;
    const uint8_t header[7] = {0xFF, 0xF1, (1 << 6) | (4 << 2), static_cast<uint8_t>((2 << 6) | (length >> 11)),
                               static_cast<uint8_t>(length >> 3), static_cast<uint8_t>(((length & 7) << 5) | 0x1F), 0xFC};
    wrapped.bytes.insert(wrapped.bytes.end(), header, header + 7);
    wrapped.bytes.insert(wrapped.bytes.end(), enc.bytes.begin() + static_cast<long>(pos),
                         enc.bytes.begin() + static_cast<long>(pos + bytes));
    pos += bytes;
  }
  EXPECT_EQ(frames, ExpectedFrames(in));
  ExpectFaithfulDecode(in, wrapped, 10.0);
}

// 10 s of music averages its target within 5 %, and no frame passes the decoder's 6144-bit
// input buffer per channel.
TEST(BitRate, MonoAndStereoMusicMeetTheirTargets) {
  Audio stereo;
  ASSERT_TRUE(ReadWav(std::string(AACS_SOURCE_DIR) + "/samples/orchestral_desert.wav", stereo));
  Audio mono = Downmix(stereo);
  for (const auto& [in, rates] : {std::pair{&stereo, std::vector{64, 96, 128, 192, 256}},
                                  std::pair{&mono, std::vector{32, 64, 96, 128}}})
    for (int kbps : rates) {
      const Encoded enc = EncodeAudio(*in, {.kbps = kbps});
      const AdtsWalk walk = WalkAdts(enc.bytes, 56);
      ASSERT_GT(walk.frames, 0);
      const double seconds = walk.frames * 1024.0 / in->sampleRate, bits = enc.bytes.size() * 8.0;
      const double targetBits = kbps * 1000.0 * seconds;
      std::printf("[ rate     ] %d ch %3d kbit/s -> %.1f kbit/s, largest frame %d bytes\n", in->channels, kbps,
                  bits / seconds / 1000.0, walk.maxFrameBytes);
      EXPECT_NEAR(bits / targetBits, 1.0, 0.05) << "the average rate is the target within 5 %";
      EXPECT_LE(walk.maxFrameBytes * 8, 6144 * in->channels);
    }
}

// Streams share no mutable state: three streams encoding at once on three threads produce
// exactly the bytes each produces alone.
TEST(Concurrency, StreamsOnSeparateThreadsMatchTheirSoloBytes) {
  const Audio clips[3] = {Load("music_pop_3s.wav"), Load("drums_3s.wav"), Load("speech_16k_mono_3s.wav")};
  // Quality 5 takes other paths of the model (peak tonality, time-domain attacks).
  const EncodeOptions options[3] = {{}, {.kbps = 96, .quality = 5}, {.kbps = 24, .headerType = 1}};
  Encoded solo[3], together[3];
  for (int i = 0; i < 3; ++i) solo[i] = EncodeAudio(clips[i], options[i]);
  ASSERT_FALSE(solo[0].bytes.empty());
  for (int round = 0; round < 2; ++round) {
    std::thread threads[3];
    for (int i = 0; i < 3; ++i) threads[i] = std::thread([&, i] { together[i] = EncodeAudio(clips[i], options[i]); });
    for (int i = 0; i < 3; ++i) {
      threads[i].join();
      EXPECT_EQ(together[i].bytes, solo[i].bytes) << i;
    }
  }
}

}  // namespace
}  // namespace aacs::testing
