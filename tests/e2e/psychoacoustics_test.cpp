// End to end: what the psychoacoustic model decides, seen in the bitstream and in the decode —
// short blocks around attacks with legal transitions and TNS, less pre-echo than long blocks
// only, steady tones kept long, mid/side for correlated stereo.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "api/stream_context.h"
#include "support/aac_parser.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

using aacs::test::ParsedFrame;

// Window sequence of the first channel of every frame (0 long, 1 start, 2 short, 3 stop).
std::vector<int> WindowSequences(const std::vector<ParsedFrame>& frames) {
  std::vector<int> seq;
  for (const ParsedFrame& f : frames) seq.push_back(f.elements.at(0).ch[0].ics.windowSequence);
  return seq;
}

// Sample positions where the original's 2.5 ms energy jumps by more than 20 dB over the 20 ms
// before it (one per attack, at least 100 ms apart).
std::vector<int> FindAttacks(const Audio& a) {
  const int step = a.sampleRate / 400;
  std::vector<double> energy;
  for (int i = 0; i + step <= a.Frames(); i += step) {
    double e = 0;
    for (int k = i; k < i + step; ++k)
      for (int c = 0; c < a.channels; ++c) e += static_cast<double>(a.At(k, c)) * a.At(k, c);
    energy.push_back(e / step + 1.0);
  }
  std::vector<int> attacks;
  for (size_t j = 8; j < energy.size(); ++j) {
    double before = 0;
    for (size_t k = j - 8; k < j; ++k) before = std::max(before, energy[k]);
    if (energy[j] > 100.0 * before && energy[j] > 1e5 &&
        (attacks.empty() || static_cast<int>(j) * step - attacks.back() > a.sampleRate / 10))
      attacks.push_back(static_cast<int>(j) * step);
  }
  return attacks;
}

// Pre-echo: error energy in the 20 ms before each attack relative to the signal energy of the
// 20 ms after it, averaged in dB over the attacks.
double PreEchoDb(const Audio& in, const Audio& dec, int delay, const std::vector<int>& attacks) {
  const int span = in.sampleRate / 50;
  double sum = 0;
  int counted = 0;
  for (int t : attacks) {
    if (t < span || t + span > in.Frames()) continue;
    double err = 0, sig = 0;
    for (int k = 0; k < span; ++k)
      for (int c = 0; c < in.channels; ++c) {
        const double d = dec.At(t - span + k + delay, c) - in.At(t - span + k, c);
        err += d * d;
        sig += static_cast<double>(in.At(t + k, c)) * in.At(t + k, c);
      }
    sum += 10.0 * std::log10((err + 1.0) / (sig + 1.0));
    ++counted;
  }
  return counted ? sum / counted : 0.0;
}

// Transients also carry TNS filters, and their streams decode cleanly in both decoders.
TEST(BlockSwitching, AttacksGetShortBlocksThroughLegalTransitionsAndTns) {
  for (const char* clip : {"castanets_3s.wav", "drums_3s.wav"}) {
    SCOPED_TRACE(clip);
    const Audio in = Load(clip);
    const Encoded enc = EncodeAudio(in, {});
    const std::vector<ParsedFrame> frames = ParseFrames(enc.bytes);
    const std::vector<int> seq = WindowSequences(frames);
    int withTns = 0;
    for (const ParsedFrame& f : frames)
      for (const auto& e : f.elements) withTns += e.ch[0].tnsDataPresent + (e.numChannels == 2 && e.ch[1].tnsDataPresent);
    std::printf("[ tns      ] %s: %d channel frames with TNS\n", clip, withTns);
    EXPECT_GT(withTns, 5);
    ExpectBothDecodersClean(in, enc.bytes, 10.0);
    ASSERT_FALSE(seq.empty());
    int shortFrames = 0;
    for (size_t i = 0; i < seq.size(); ++i) {
      const int prev = i ? seq[i - 1] : 0;
      if (seq[i] == 2) ++shortFrames;
      // A short run is entered only through LONG_START and left only through LONG_STOP.
      EXPECT_TRUE(seq[i] != 2 || prev == 1 || prev == 2) << "frame " << i;
      EXPECT_TRUE(seq[i] != 1 || prev == 0 || prev == 3) << "frame " << i;
      EXPECT_TRUE(prev != 1 || seq[i] == 2) << "frame " << i;
      EXPECT_TRUE(prev != 2 || seq[i] == 2 || seq[i] == 3) << "frame " << i;
    }
    EXPECT_GT(shortFrames, 3);
    // Every attack of the original lies in the short-window span (samples 448..1599) of a block
    // coded with short windows.  Block i of the stream spans input frames i-1 and i, so sample
    // t = 1024 k + r falls in that span of block k + 1 when r >= 448 and of block k when r < 576.
    for (int t : FindAttacks(in)) {
      const int k = t / 1024, r = t % 1024;
      const bool early = r < 576 && static_cast<size_t>(k) < seq.size() && seq[static_cast<size_t>(k)] == 2;
      const bool late = r >= 448 && static_cast<size_t>(k + 1) < seq.size() && seq[static_cast<size_t>(k + 1)] == 2;
      EXPECT_TRUE(early || late) << "attack at sample " << t;
    }
  }
}

TEST(BlockSwitching, ShortBlocksCutPreEchoByAtLeast6Db) {
  const Audio in = Load("castanets_3s.wav");
  const std::vector<int> attacks = FindAttacks(in);
  ASSERT_GE(attacks.size(), 3u);
  const Encoded longOnly = EncodeAudio(in, {.configure = [](StreamContext* s) { s->forceLong = 1; }});
  const double a = PreEchoDb(in, DecodeFfmpeg(EncodeAudio(in, {}).bytes).audio, 1024, attacks);
  const double b = PreEchoDb(in, DecodeFfmpeg(longOnly.bytes).audio, 1024, attacks);
  std::printf("[ pre-echo ] block switching %.1f dB, long blocks only %.1f dB\n", a, b);
  EXPECT_LE(a, b - 6.0);
}

TEST(BlockSwitching, SteadyChordStaysLong) {
  Audio chord = Sine(44100, 2, 3.0, 261.63, 6000.0);
  const Audio third = Sine(44100, 2, 3.0, 329.63, 5000.0), fifth = Sine(44100, 2, 3.0, 392.0, 5000.0);
  for (size_t i = 0; i < chord.samples.size(); ++i) chord.samples[i] += third.samples[i] + fifth.samples[i];
  // Fade in over 50 ms so that the onset itself is not an attack.
  for (int i = 0; i < 2205; ++i)
    for (int c = 0; c < 2; ++c) chord.samples[static_cast<size_t>(i) * 2 + c] *= static_cast<float>(i) / 2205.0f;
  const std::vector<int> seq = WindowSequences(ParseFrames(EncodeAudio(chord, {}).bytes));
  // The abrupt end of the chord (the last three frames) may switch: a fall of the level is a
  // change the detector sees.  Everything before it stays long.
  ASSERT_GT(seq.size(), 10u);
  EXPECT_EQ(std::count(seq.begin(), seq.end() - 3, 0), static_cast<long>(seq.size() - 3));
}

// Every channel forced to eight short windows from the second frame on: grouped section and
// scalefactor data, short ics_info and the LONG_START entry decode in both decoders.
TEST(BlockSwitching, ForcedShortBlocksDecode) {
  const Audio in = Load("orchestral_3s.wav");
  const Encoded enc = EncodeAudio(in, {.configure = [](StreamContext* s) { s->forceBlockType[0] = s->forceBlockType[1] = 2; }});
  const std::vector<int> seq = WindowSequences(ParseFrames(enc.bytes));
  ASSERT_GT(seq.size(), 4u);
  EXPECT_EQ(seq[0], 1);
  EXPECT_EQ(std::count(seq.begin() + 1, seq.end(), 2), static_cast<long>(seq.size() - 1));
  ExpectBothDecodersClean(in, enc.bytes, 10.0);
}

// Share of the bands coded mid/side in a stereo stream.
double MidSideShare(const Encoded& enc) {
  long bands = 0, midSide = 0;
  for (const ParsedFrame& f : ParseFrames(enc.bytes)) {
    const auto& e = f.elements.at(0);
    EXPECT_EQ(e.id, 1);
    bands += e.ch[0].numBands;
    for (int b = 0; b < e.ch[0].numBands; ++b) midSide += e.msMaskPresent == 2 || (e.msMaskPresent == 1 && e.msUsed[b]);
  }
  return bands ? static_cast<double>(midSide) / static_cast<double>(bands) : 0.0;
}

// Correlated channels (the mix and 0.9 of it) are mostly mid/side; independent ones (left and a
// delayed, unrelated right) mostly left/right.
TEST(Stereo, CorrelatedChannelsAreCodedMidSide) {
  const Audio music = Load("orchestral_3s.wav");
  Audio wide = music, apart = music;
  for (int i = 0; i < music.Frames(); ++i) {
    const float mono = 0.5f * (music.At(i, 0) + music.At(i, 1));
    wide.samples[static_cast<size_t>(i) * 2] = mono;
    wide.samples[static_cast<size_t>(i) * 2 + 1] = 0.9f * mono;
    apart.samples[static_cast<size_t>(i) * 2 + 1] = i >= 20000 ? music.At(i - 20000, 0) * 0.3f : 0.0f;
  }
  const double correlated = MidSideShare(EncodeAudio(wide, {})), independent = MidSideShare(EncodeAudio(apart, {}));
  std::printf("[ stereo   ] mid/side in %.0f%% of bands, %.0f%% when independent\n", 100 * correlated, 100 * independent);
  EXPECT_GT(correlated, 0.5);
  EXPECT_LT(independent, 0.5);
}

}  // namespace
}  // namespace aacs::testing
