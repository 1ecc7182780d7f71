// End to end: LC streams of real clips and synthetic signals, decoded by FFmpeg and faad.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "aacstream/aacstream.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

Audio Load(const std::string& name) {
  Audio a;
  EXPECT_TRUE(ReadWav(DataPath(name), a)) << name;
  return a;
}

// Frames a stream of `frames` sample frames yields: one per call plus one.
int ExpectedFrames(const Audio& in) { return (in.Frames() + 1023) / 1024 + 1; }

// Checks an FFmpeg decode of a 56-bit ADTS stream: no complaint, every frame decoded,
// the 1024-sample start delay, and the level.
void ExpectFaithfulDecode(const Audio& in, const Encoded& enc, double minSnrDb) {
  ASSERT_TRUE(enc.opened);
  ASSERT_EQ(enc.lastResult, 2);
  const AdtsWalk walk = WalkAdts(enc.bytes, 56);
  EXPECT_EQ(walk.frames, ExpectedFrames(in));
  EXPECT_LE(walk.maxFrameBytes * 8, 6144 * in.channels + 56);
  const Decoded dec = DecodeFfmpeg(enc.bytes);
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(dec.errors, "");
  ASSERT_EQ(dec.audio.channels, in.channels);
  EXPECT_EQ(dec.audio.sampleRate, in.sampleRate);
  EXPECT_EQ(dec.audio.Frames(), walk.frames * 1024);
  if (LevelDb(in) < -90) return;
  EXPECT_EQ(FindDelay(in, dec.audio, 4096), 1024);
  EXPECT_NEAR(LevelDb(dec.audio, 1024, in.Frames()), LevelDb(in), 1.0);
  EXPECT_GT(SnrDb(in, dec.audio, 1024), minSnrDb);
}

TEST(LcEncoder, StereoMusicAt128DecodesInFfmpeg) {
  const Audio in = Load("music_pop_3s.wav");
  ExpectFaithfulDecode(in, EncodeAudio(in, {}), 10.0);
}

TEST(LcEncoder, EveryChannelCountDecodes) {
  const Audio in = Load("surround_5.1_48k_1.5s.wav");
  for (int channels = 1; channels <= 6; ++channels) {
    for (int lfe = 0; lfe <= (channels == 6 ? 1 : 0); ++lfe) {
      Audio part;
      part.sampleRate = in.sampleRate;
      part.channels = channels;
      for (int i = 0; i < in.Frames(); ++i)
        for (int c = 0; c < channels; ++c) part.samples.push_back(in.At(i, c));
      EncodeOptions o;
      o.kbps = 64 * channels;
      o.lfe = lfe;
      SCOPED_TRACE(testing::Message() << channels << " channels, lfe " << lfe);
      ExpectFaithfulDecode(part, EncodeAudio(part, o), 3.0);
    }
  }
}

TEST(LcEncoder, EverySamplingRateDecodes) {
  for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000}) {
    char name[64];
    std::snprintf(name, sizeof name, "rates/music_1s_%05d.wav", rate);
    const Audio in = Load(name);
    EncodeOptions o;
    o.kbps = rate <= 12000 ? 32 : (rate <= 24000 ? 64 : 128);
    SCOPED_TRACE(rate);
    ExpectFaithfulDecode(in, EncodeAudio(in, o), 3.0);
  }
}

TEST(LcEncoder, SineKeepsItsFrequencyAndLevel) {
  const Audio in = Sine(44100, 1, 2.0, 1000.0, 16384.0);
  EncodeOptions o;
  o.kbps = 64;
  const Encoded enc = EncodeAudio(in, o);
  ExpectFaithfulDecode(in, enc, 20.0);
  const Decoded dec = DecodeFfmpeg(enc.bytes);
  EXPECT_NEAR(DominantFrequency(dec.audio, 0, 4096, 32768), 1000.0, 2.0);
}

TEST(LcEncoder, SilenceAndFullScaleSquareDecode) {
  const Audio silence = Sine(44100, 2, 1.0, 0.0, 0.0);
  ExpectFaithfulDecode(silence, EncodeAudio(silence, {}), 0.0);
  Audio square = Sine(44100, 2, 1.0, 441.0, 1.0);
  for (float& s : square.samples) s = s >= 0 ? 32767.0f : -32768.0f;
  const Encoded enc = EncodeAudio(square, {});
  ExpectFaithfulDecode(square, enc, 5.0);
}

TEST(LcEncoder, LowestAndHighestBitRates) {
  const Audio stereo = Load("orchestral_3s.wav");
  EncodeOptions low;
  low.kbps = 8;
  ExpectFaithfulDecode(stereo, EncodeAudio(stereo, low), -10.0);
  EncodeOptions high;
  high.kbps = 320;
  ExpectFaithfulDecode(stereo, EncodeAudio(stereo, high), 15.0);
}

TEST(LcEncoder, LegacyAdtsHeaderDecodesInFaad) {
  const Audio in = Load("orchestral_3s.wav");
  EncodeOptions o;
  o.adtsBits = 58;
  const Encoded enc = EncodeAudio(in, o);
  const AdtsWalk walk = WalkAdts(enc.bytes, 58);
  EXPECT_EQ(walk.frames, ExpectedFrames(in));
  const Decoded dec = DecodeFaad(enc.bytes, true);
  EXPECT_EQ(dec.status, 0) << dec.errors;
  ASSERT_EQ(dec.audio.channels, 2);
  // faad drops the first frame: the decode starts without the 1024-sample delay.
  EXPECT_EQ(dec.audio.Frames(), (walk.frames - 1) * 1024);
  EXPECT_EQ(FindDelay(in, dec.audio, 4096), 0);
  EXPECT_GT(SnrDb(in, dec.audio, 0), 10.0);
}

TEST(LcEncoder, AdifFileDecodesInFaad) {
  const Audio in = Load("orchestral_3s.wav");
  const std::string wav = TempPath("adif_in.wav"), out = TempPath("out.adif");
  ASSERT_TRUE(WriteWav(wav, in));
  StreamContext* s = aacStreamOpen32(1, 1, 0, 128, 0, 0, 0, 1, 1, 0, 0, 9, wav.c_str(), out.c_str(), nullptr,
                                     nullptr, nullptr, 0);
  ASSERT_NE(s, nullptr);
  int length = 0, result = 0;
  while ((result = aacStreamEncodeFrame32(s, nullptr, nullptr, 0, &length)) == 0) {
  }
  EXPECT_EQ(result, 2);
  aacStreamClose32(s);
  aacStreamDestroy32(s);
  std::vector<uint8_t> bytes;
  ASSERT_TRUE(ReadFile(out, bytes));
  ASSERT_GT(bytes.size(), 17u);
  EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "ADIF");
  const Decoded dec = DecodeFaad(bytes, false, ".adif");
  EXPECT_EQ(dec.status, 0) << dec.errors;
  ASSERT_EQ(dec.audio.channels, 2);
  const int delay = FindDelay(in, dec.audio, 4096);
  EXPECT_GT(SnrDb(in, dec.audio, delay), 10.0);
  std::remove(wav.c_str());
  std::remove(out.c_str());
}

// Raw data blocks wrapped in ADTS headers by the test decode like the encoder's own ADTS.
TEST(LcEncoder, RawBlocksDecodeOnceWrapped) {
  const Audio in = Load("orchestral_3s.wav");
  EncodeOptions raw;
  raw.headerType = 0;
  EncodeOptions adts;
  const Encoded rawEnc = EncodeAudio(in, raw), adtsEnc = EncodeAudio(in, adts);
  // Same audio, same frames: the ADTS stream is the raw stream with a 7-byte header per frame.
  const AdtsWalk walk = WalkAdts(adtsEnc.bytes, 56);
  ASSERT_EQ(walk.frames, ExpectedFrames(in));
  EXPECT_EQ(rawEnc.bytes.size() + 7u * walk.frames, adtsEnc.bytes.size());
  std::vector<uint8_t> wrapped;
  size_t pos = 0, rawPos = 0;
  while (pos < adtsEnc.bytes.size()) {
    const uint8_t* h = &adtsEnc.bytes[pos];
    const size_t length = ((h[3] & 3u) << 11) | (h[4] << 3) | (h[5] >> 5);
    wrapped.insert(wrapped.end(), h, h + 7);
    wrapped.insert(wrapped.end(), rawEnc.bytes.begin() + rawPos, rawEnc.bytes.begin() + rawPos + length - 7);
    rawPos += length - 7;
    pos += length;
  }
  EXPECT_EQ(wrapped, adtsEnc.bytes);
  ExpectFaithfulDecode(in, adtsEnc, 10.0);
}

}  // namespace
}  // namespace aacs::testing
