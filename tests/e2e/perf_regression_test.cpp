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

// Recorded from the LC encoder before the Main and LTP profiles were opened, and again from the
// LC encoder of the mainline after it changed the first frame's analysis (the same bytes with
// and without the prediction tools); with the generic column from the mainline once more.
constexpr Pinned kPinned[] = {
    {"castanets_3s.wav", 64, 0x27c395182c6538dcull, 12401},
    {"harpsichord_3s.wav", 64, 0x74c9dcfda11a75a1ull, 19798},
    {"music_pop_3s.wav", 128, 0x3e8bc5ee15896117ull, 48229},
    {"speech_16k_mono_3s.wav", 24, 0x3244bc263f3f389full, 9546},
    {"surround_5.1_48k_1.5s.wav", 256, 0x5a3110c5981077a2ull, 51424},
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

// Recorded from the mainline encoder (generic primitives) before the speed work began, and again
// from the mainline after its robustness fixes (the same bytes).
constexpr Case kCases[] = {
    {"pop q9", "music_pop_3s.wav", 128, 9, 1, 0, 0, false, 0,
     "cea58822e5a966a9c932187e53f0e1f12c12103efad8c43a25917053d24f1e26", 48229},
    {"pop q5", "music_pop_3s.wav", 128, 5, 1, 0, 0, false, 0,
     "50038b4da43510cee6926e629f4e9bba5e3a35a38ede9cf2cb577b4e017bd682", 48553},
    {"pop q0", "music_pop_3s.wav", 128, 0, 1, 0, 0, false, 0,
     "8f67e8add84c533e95d9cc141d0e419b1cdfbc8dd11b5df50598b3db613e71e7", 48616},
    {"orchestral q9 96", "orchestral_3s.wav", 96, 9, 1, 0, 0, false, 0,
     "9b3ce175c4596469618315864d876410c57a76736d4b38b5d9598c89ea19ef8e", 34998},
    {"castanets q9 (short blocks)", "castanets_3s.wav", 128, 9, 1, 0, 0, false, 0,
     "8ec69a580a53bd1b0b10dfe38bd5f8f12491b9ef670ba3f1b8e8dff4679ac9d6", 21272},
    {"castanets q5 64", "castanets_3s.wav", 64, 5, 1, 0, 0, false, 0,
     "9fe5d0b3ce786bedc6cfe6ae3532024e850a5e66aca554f033d9d8b44a92d079", 12478},
    {"drums q7 160", "drums_3s.wav", 160, 7, 1, 0, 0, false, 0,
     "ab4b6cc4941c34f44a3ea80fa526eb4fff704a62755a4df71bbd24241361e46d", 60418},
    {"pop mono q9 64", "music_pop_3s.wav", 64, 9, 1, 0, 0, true, 0,
     "888459b14afa13523ee4ab3afd2b5dedf75bf792d0158ad7baf3ebac4cc78490", 24371},
    {"speech 16k mono q9 24", "speech_16k_mono_3s.wav", 24, 9, 1, 0, 0, false, 0,
     "1d88b79e6a7a79a44807fb218652e1fdd686f327a24ccf21e47034a66b75e2bd", 9546},
    {"5.1 q9 384", "surround_5.1_48k_1.5s.wav", 384, 9, 1, 0, 0, false, 0,
     "ab6594cee83e6492947089959b70698c8b292e821b3c2dbf28994ddea658e44b", 74373},
    {"5.1 q5 256", "surround_5.1_48k_1.5s.wav", 256, 5, 1, 0, 0, false, 0,
     "31c536268822d955e66bfe2f8d3c69e130cc4654bf3df524018deacfb54a6945", 51828},
    {"Main q9", "music_pop_3s.wav", 128, 9, 0, 0, 0, false, 0,
     "3e08da90ed34fce816b601d88d290aed1e6d5dff853cf52d034de68ae7f4a69a", 48226},
    {"LTP q9", "harpsichord_3s.wav", 64, 9, 3, 0, 0, false, 0,
     "4de98756136ec4dee84ca89845820ae990d76b2bf0176caaba3a8ca11350ffb0", 19707},
    {"LTP q5 short blocks", "castanets_3s.wav", 96, 5, 3, 0, 0, false, 0,
     "ad36605ee882d209bb307eaf785223992d5812c8bf191554dc2a1c345f1bd072", 16851},
    {"VBR preset 1", "orchestral_3s.wav", 128, 9, 1, 1, 0, false, 0,
     "6dd516ce5e0c9eb6a0509320cf5810f84752bcf7765565b422fb9dda6ee3dcff", 51763},
    {"noise substitution", "drums_3s.wav", 64, 9, 1, 0, 1, false, 0,
     "334eeafa8fe376229ad3f659e2e969efd609ad0c84d4811e8fa73496123700ae", 24319},
    {"resampled to 32 kHz", "music_pop_3s.wav", 96, 9, 1, 0, 0, false, 32000,
     "64063689177c79afecc15a47251ca6c28328665800c49a0c28d019e7198beb46", 36401},
    {"speech resampled to 22.05 kHz", "speech_16k_mono_3s.wav", 32, 5, 1, 0, 0, false, 22050,
     "2a7bf6f91d11e85044349296d13a713cfeed531001cf914d37854c3305590476", 12413},
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
