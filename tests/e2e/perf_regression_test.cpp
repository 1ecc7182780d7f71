// End to end: streams pinned to the byte, all with the primitive table bound to the generic
// column (which every processor can bind; the SIMD columns differ from it by float rounding).
// The LC streams of a few clips are pinned by an FNV-1a hash: the profile tools share the
// pipeline and the rate loops with LC, so any change that alters an LC stream by one bit shows.
// Speed work must not change what the encoder decides: the streams of many configurations (LC at
// quality 9/5/0, stereo, mono, 5.1, short blocks, Main and LTP, VBR, noise substitution,
// resampling) are pinned by their SHA-256, and the column the processor binds must decode close
// to the generic one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"
#include "support/audio_support.h"
#include "support/sha256.h"

namespace aacs::testing {
namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& bytes) {
  uint64_t h = 1469598103934665603ull;
  for (uint8_t b : bytes) h = (h ^ b) * 1099511628211ull;
  return h;
}

struct Pinned {
  const char* clip;
  int kbps;
  uint64_t hash;
  size_t size;
};

// Recorded from the LC encoder with the generic column; re-recorded (scripts/
// rerecord_pinned_streams.py) whenever a commit changes the output on purpose, which says why.
constexpr Pinned kPinned[] = {
    {"castanets_3s.wav", 64, 0x0dd44c9093914b09ull, 22776},
    {"harpsichord_3s.wav", 64, 0x4f54256633129202ull, 24381},
    {"music_pop_3s.wav", 128, 0x00f33bb3eec109ffull, 48444},
    {"speech_16k_mono_3s.wav", 24, 0x47ae1d05e1773572ull, 9893},
    {"surround_5.1_48k_1.5s.wav", 256, 0x82ce3e2cbd12dc49ull, 55764},
};

struct Case {
  const char* name;
  const char* clip;
  int kbps;
  int quality;
  int profile;      // 0 Main, 1 LC, 3 LTP
  int preset;
  int psyOption;
  bool mono;        // encode the average of the clip's two channels
  int fileRate;     // > 0: the library reads the clip itself and resamples to this rate
  const char* sha256;
  size_t size;
};

// Recorded from the mainline encoder (generic primitives); re-recorded like the table above.
constexpr Case kCases[] = {
    {"pop q9", "music_pop_3s.wav", 128, 9, 1, 0, 0, false, 0,
     "5de2a899e0e802172cd5f20d8ed56b421fca222949c2657a32cd7ad7c1bf931e", 48444},
    {"pop q5", "music_pop_3s.wav", 128, 5, 1, 0, 0, false, 0,
     "3b03de6fc728e2ef5683e1fabb8e0cabadadc04faf102d4f121a983010af0e9e", 48339},
    {"pop q0", "music_pop_3s.wav", 128, 0, 1, 0, 0, false, 0,
     "660cffda8454835ec60af220e60f546c890a04d5092bd9e15cb6953fbea45a98", 48380},
    {"orchestral q9 96", "orchestral_3s.wav", 96, 9, 1, 0, 0, false, 0,
     "592f9390a49257b17fa058b583814c426de33b09f3674f246eded06dece580df", 36308},
    {"castanets q9 (short blocks)", "castanets_3s.wav", 128, 9, 1, 0, 0, false, 0,
     "9cd55c9bf4a9c42aa977b7890fa02d9a862017937a2004b0f9286af1a9ae0ef4", 44447},
    {"castanets q5 64", "castanets_3s.wav", 64, 5, 1, 0, 0, false, 0,
     "8612d024ff219ec941999efbd6560f3b8db823e7f829492f50178637cd7ef4b2", 22791},
    {"drums q7 160", "drums_3s.wav", 160, 7, 1, 0, 0, false, 0,
     "d4c6189794c0df0f524d36ec73bbf9e3647e7f6c68aa46372a290042811ed02e", 59955},
    {"pop mono q9 64", "music_pop_3s.wav", 64, 9, 1, 0, 0, true, 0,
     "dc86aaee5fb22d05f8adacb37a1928b20ba7e2226b3840e240720a490210ba9f", 26089},
    {"speech 16k mono q9 24", "speech_16k_mono_3s.wav", 24, 9, 1, 0, 0, false, 0,
     "7280fca66ff365aed8f44a742c27c62014b087b9e65f81c4962adea00faec7de", 9893},
    {"5.1 q9 384", "surround_5.1_48k_1.5s.wav", 384, 9, 1, 0, 0, false, 0,
     "cf881ba8a80bbc28accb018570afa420a0cbcbf8046e6052811a76062d4f32ab", 79175},
    {"5.1 q5 256", "surround_5.1_48k_1.5s.wav", 256, 5, 1, 0, 0, false, 0,
     "b062c0a00ccc0f4bbda68ad391fca9ce0452020dfdc2f2b91d0aaebdbc5af098", 56231},
    {"Main q9", "music_pop_3s.wav", 128, 9, 0, 0, 0, false, 0,
     "577e924d745a4bbb86ea94bf0a72d44c1cde3c0e3178d4de52b1394d43f13fe8", 48443},
    {"LTP q9", "harpsichord_3s.wav", 64, 9, 3, 0, 0, false, 0,
     "95624cad543a9af1e2f3fe406b5fcff57a0791b87bf43ab2aa57d92fd43ef711", 24315},
    {"LTP q5 short blocks", "castanets_3s.wav", 96, 5, 3, 0, 0, false, 0,
     "666256201e12c20e35131aee3ca4a0204a1d248370b8f7f3f9320a383275d851", 33852},
    {"VBR preset 1", "orchestral_3s.wav", 128, 9, 1, 1, 0, false, 0,
     "44e484454c50f16b38c6e9e07ad6138bb4b4c00d193ad854b90a4203a965a5bc", 48739},
    {"noise substitution", "drums_3s.wav", 64, 9, 1, 0, 1, false, 0,
     "5d820cbb4b32910445927b699e29902fd17d2582c20038e3f7159b7e3311bb2b", 24220},
    {"resampled to 32 kHz", "music_pop_3s.wav", 96, 9, 1, 0, 0, false, 32000,
     "782b6e3a9605a3cfbae519f5d7002e8a0d332ffd65c9c884584375a0078813d7", 36216},
    {"speech resampled to 22.05 kHz", "speech_16k_mono_3s.wav", 32, 5, 1, 0, 0, false, 22050,
     "f99be0baa8745be88f4373abc1f103c973aee7c651b37972dbd9624885e21ece", 13162},
};

std::vector<uint8_t> EncodeCase(const Case& c) {
  EncodeOptions o{.kbps = c.kbps, .quality = c.quality, .preset = c.preset, .psyOption = c.psyOption};
  o.extra = {{AACSTREAM_OPT_PROFILE, c.profile}};
  if (c.fileRate > 0) return EncodeFile(DataPath(c.clip), o, c.fileRate).bytes;  // the path that resamples
  Audio in = Load(c.clip);
  if (c.mono) in = Downmix(in);
  o.lfe = in.channels == 6;
  return EncodeAudio(in, o).bytes;
}

// Binds one column for the test's lifetime; the process binding happens first so that no
// stream open replaces it.
struct BoundColumn {
  explicit BoundColumn(int cpuClass) : bound((dsp::BindPrimitivesOnce(), dsp::BindPrimitives(cpuClass) == 1)) {}
  ~BoundColumn() { dsp::BindPrimitives(dsp::DetectCpuClass()); }
  bool bound;
};

TEST(LcRegression, StreamsOfPinnedClipsAreUnchangedToTheByte) {
  BoundColumn column(dsp::kCpuGeneric);
  ASSERT_TRUE(column.bound);
  for (const Pinned& p : kPinned) {
    const Audio in = Load(p.clip);
    const Encoded e = EncodeAudio(in, {.kbps = p.kbps, .lfe = in.channels == 6});
    ASSERT_TRUE(e.opened) << p.clip;
    EXPECT_EQ(e.bytes.size(), p.size) << p.clip;
    EXPECT_EQ(Fnv1a(e.bytes), p.hash) << p.clip;
  }
}

TEST(Sha256, KnownAnswers) {
  auto hex = [](const std::string& text) { return Sha256Hex(std::vector<uint8_t>(text.begin(), text.end())); };
  EXPECT_EQ(hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_EQ(hex("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),  // two blocks after padding
            "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
}

// The MMX column runs the generic code except for kernels that give the generic bits (on x86
// their SIMD versions): its streams must be the generic column's.
TEST(PerfRegression, GenericAndMmxColumnStreamsAreUnchangedToTheByte) {
  for (int cpuClass : {dsp::kCpuGeneric, dsp::kCpuMmx}) {
    BoundColumn column(cpuClass);
    ASSERT_TRUE(column.bound);
    for (const Case& c : kCases) {
      const std::vector<uint8_t> bytes = EncodeCase(c);
      EXPECT_EQ(bytes.size(), c.size) << c.name << ", column " << cpuClass;
      EXPECT_EQ(Sha256Hex(bytes), c.sha256) << c.name << ", column " << cpuClass;
    }
  }
}

// The SIMD column computes the same functions to float accuracy; where a rounding difference
// tips a decision the streams part, but what a listener hears must stay the same.
TEST(PerfRegression, BoundColumnDecodesCloseToTheGenericColumn) {
  const int detected = dsp::DetectCpuClass();
  if (detected == dsp::kCpuGeneric) GTEST_SKIP() << "this processor binds the generic column: nothing to compare";
  for (const int index : {0, 1, 4, 7, 9, 12}) {
    const Case& c = kCases[index];
    auto encodeWith = [&c](int cpuClass) {
      BoundColumn column(cpuClass);
      return EncodeCase(c);
    };
    const std::vector<uint8_t> generic = encodeWith(dsp::kCpuGeneric), simd = encodeWith(detected);
    const Decoded a = DecodeFfmpeg(generic), b = DecodeFfmpeg(simd);
    ASSERT_EQ(a.errors + b.errors, "") << c.name;
    ASSERT_EQ(a.audio.samples.size(), b.audio.samples.size()) << c.name;
    const double snr = SnrDb(a.audio, b.audio, 0);
    std::printf("%-28s identical %-3s SNR %6.1f dB\n", c.name, generic == simd ? "yes" : "no", snr);
    // Independent encodes of the same clip by two good encoders differ by far more than this.
    EXPECT_GT(snr, 30.0) << c.name;
  }
}

}  // namespace
}  // namespace aacs::testing
