// End to end: LC streams of real clips and synthetic signals, decoded by FFmpeg and faad.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "aacstream/aacstream.h"
#include "support/aac_parser.h"
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

struct DecodeChecks {
  bool delay = true;        // a periodic signal has no unambiguous delay
  double levelDb = 1.0;     // level tolerance
};

// FFmpeg outputs its own channel order (FL FR FC LFE BL BR): the element order C L R Ls Rs LFE
// is brought back before comparing.
Audio ToElementOrder(const Audio& decoded, int lfe) {
  static const int kFromFfmpeg[7][6] = {{0}, {0}, {0, 1}, {2, 0, 1}, {2, 0, 1, 3}, {2, 0, 1, 3, 4}, {2, 0, 1, 4, 5, 3}};
  if (decoded.channels < 3) return decoded;
  Audio out = decoded;
  const int* map = kFromFfmpeg[decoded.channels];
  static const int kSixWithoutLfe[6] = {2, 0, 1, 4, 5, 3};
  if (decoded.channels == 6 && !lfe) map = kSixWithoutLfe;
  for (int i = 0; i < decoded.Frames(); ++i)
    for (int c = 0; c < decoded.channels; ++c)
      out.samples[static_cast<size_t>(i) * decoded.channels + c] = decoded.At(i, map[c]);
  return out;
}

// Checks an FFmpeg decode of a 56-bit ADTS stream: no complaint, every frame decoded,
// the 1024-sample start delay, and the level.
void ExpectFaithfulDecode(const Audio& in, const Encoded& enc, double minSnrDb, DecodeChecks checks = {},
                          int lfe = 0) {
  ASSERT_TRUE(enc.opened);
  ASSERT_EQ(enc.lastResult, 2);
  const AdtsWalk walk = WalkAdts(enc.bytes, 56);
  EXPECT_EQ(walk.frames, ExpectedFrames(in));
  EXPECT_LE(walk.maxFrameBytes * 8, 6144 * in.channels + 56);
  const Decoded raw = DecodeFfmpeg(enc.bytes);
  EXPECT_EQ(raw.status, 0);
  EXPECT_EQ(raw.errors, "");
  ASSERT_EQ(raw.audio.channels, in.channels);
  const Audio dec = ToElementOrder(raw.audio, lfe);
  EXPECT_EQ(dec.sampleRate, in.sampleRate);
  EXPECT_EQ(dec.Frames(), walk.frames * 1024);
  if (LevelDb(in) < -90) {
    EXPECT_LT(LevelDb(dec), -90);
    return;
  }
  if (checks.delay) {
    EXPECT_EQ(FindDelay(in, dec, 4096), 1024);
  }
  EXPECT_NEAR(LevelDb(dec, 1024, in.Frames()), LevelDb(in), checks.levelDb);
  EXPECT_GT(SnrDb(in, dec, 1024), minSnrDb);
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
      SCOPED_TRACE(::testing::Message() << channels << " channels, lfe " << lfe);
      ExpectFaithfulDecode(part, EncodeAudio(part, o), 3.0, {}, lfe);
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
  DecodeChecks periodic;
  periodic.delay = false;
  ExpectFaithfulDecode(in, enc, 20.0, periodic);
  const Decoded dec = DecodeFfmpeg(enc.bytes);
  EXPECT_NEAR(DominantFrequency(dec.audio, 0, 4096, 32768), 1000.0, 2.0);
}

TEST(LcEncoder, SilenceAndFullScaleSquareDecode) {
  const Audio silence = Sine(44100, 2, 1.0, 0.0, 0.0);
  ExpectFaithfulDecode(silence, EncodeAudio(silence, {}), 0.0);
  Audio square = Sine(44100, 2, 1.0, 441.0, 1.0);
  for (float& s : square.samples) s = s >= 0 ? 32767.0f : -32768.0f;
  DecodeChecks periodic;
  periodic.delay = false;
  ExpectFaithfulDecode(square, EncodeAudio(square, {}), 5.0, periodic);
}

TEST(LcEncoder, LowestAndHighestBitRates) {
  const Audio speech = Load("speech_16k_mono_3s.wav");
  EncodeOptions low;
  low.kbps = 8;
  ExpectFaithfulDecode(speech, EncodeAudio(speech, low), 3.0);
  const Audio stereo = Load("orchestral_3s.wav");
  DecodeChecks rough;
  rough.levelDb = 3.0;  // 4 kbit/s per channel at 44.1 kHz: a 3 kHz band and coarse steps
  ExpectFaithfulDecode(stereo, EncodeAudio(stereo, low), -10.0, rough);
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

// Raw data blocks, split with the test parser and wrapped in ADTS headers by the test, decode.
TEST(LcEncoder, RawBlocksDecodeOnceWrapped) {
  const Audio in = Load("orchestral_3s.wav");
  EncodeOptions raw;
  raw.headerType = 0;
  const Encoded enc = EncodeAudio(in, raw);
  ASSERT_EQ(enc.lastResult, 2);
  ASSERT_NE(enc.bytes[0], 0xFF);  // no header: the first element starts at once
  std::vector<uint8_t> wrapped;
  size_t pos = 0;
  int frames = 0;
  aacs::test::StreamFormat format;
  format.sfIndex = 4;
  while (pos < enc.bytes.size()) {
    aacs::test::ParsedFrame frame;
    std::string error;
    ASSERT_TRUE(aacs::test::ParseRawDataBlock(&enc.bytes[pos], enc.bytes.size() - pos, format, &frame, &error))
        << "frame " << frames << ": " << error;
    const size_t bytes = static_cast<size_t>(frame.totalBits / 8);
    const size_t length = bytes + 7;
    const uint8_t header[7] = {0xFF, 0xF1, static_cast<uint8_t>((1 << 6) | (4 << 2)),
                               static_cast<uint8_t>((2 << 6) | (length >> 11)), static_cast<uint8_t>(length >> 3),
                               static_cast<uint8_t>(((length & 7) << 5) | 0x1F), 0xFC};
    wrapped.insert(wrapped.end(), header, header + 7);
    wrapped.insert(wrapped.end(), enc.bytes.begin() + static_cast<long>(pos), enc.bytes.begin() + static_cast<long>(pos + bytes));
    pos += bytes;
    ++frames;
  }
  EXPECT_EQ(frames, ExpectedFrames(in));
  Encoded asAdts = enc;
  asAdts.bytes = wrapped;
  ExpectFaithfulDecode(in, asAdts, 10.0);
}

}  // namespace
}  // namespace aacs::testing
