// End to end: the bit rate of 10 s of music meets its target within one reservoir, and no frame
// passes the decoder's 6144-bit input buffer per channel.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "support/audio_support.h"

namespace aacs::testing {
namespace {

Audio TenSecondsOfMusic(int channels) {
  Audio stereo;
  EXPECT_TRUE(ReadWav(std::string(AACS_SOURCE_DIR) + "/samples/orchestral_desert.wav", stereo));
  if (channels == 2) return stereo;
  Audio mono;
  mono.sampleRate = stereo.sampleRate;
  mono.channels = 1;
  for (int i = 0; i < stereo.Frames(); ++i) mono.samples.push_back(0.5f * (stereo.At(i, 0) + stereo.At(i, 1)));
  return mono;
}

void ExpectRateWithinReservoir(const Audio& in, int kbps) {
  EncodeOptions o;
  o.kbps = kbps;
  const Encoded enc = EncodeAudio(in, o);
  ASSERT_TRUE(enc.opened);
  const AdtsWalk walk = WalkAdts(enc.bytes, 56);
  ASSERT_GT(walk.frames, 0);
  const double seconds = walk.frames * 1024.0 / in.sampleRate;
  const double targetBits = kbps * 1000.0 * seconds;
  const double reservoirBits = (6.0 * in.channels - kbps * 1000 / in.sampleRate) * 1024;
  const double achieved = enc.bytes.size() * 8.0 / seconds / 1000.0;
  std::printf("[ rate     ] %d ch %3d kbit/s -> %.1f kbit/s, largest frame %d bytes\n", in.channels, kbps, achieved,
              walk.maxFrameBytes);
  EXPECT_LE(enc.bytes.size() * 8.0, targetBits + reservoirBits);
  EXPECT_GE(enc.bytes.size() * 8.0, 0.8 * targetBits);
  EXPECT_LE(walk.maxFrameBytes * 8, 6144 * in.channels);
}

TEST(BitRate, StereoMusicMeetsItsTarget) {
  const Audio in = TenSecondsOfMusic(2);
  for (int kbps : {64, 96, 128, 192, 256}) ExpectRateWithinReservoir(in, kbps);
}

TEST(BitRate, MonoMusicMeetsItsTarget) {
  const Audio in = TenSecondsOfMusic(1);
  for (int kbps : {32, 64, 96, 128}) ExpectRateWithinReservoir(in, kbps);
}

}  // namespace
}  // namespace aacs::testing
