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
    {"castanets_3s.wav", 64, 0xdc931bf7af68d52bull, 22947},
    {"harpsichord_3s.wav", 64, 0x5ef0c05f39a7c99aull, 24634},
    {"music_pop_3s.wav", 128, 0x548331d431cffae7ull, 49493},
    {"speech_16k_mono_3s.wav", 24, 0xa6508cf7df70b773ull, 9897},
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
     "dfe8d808297e81ad8cf3527c98d84d2328d19ae2ae9a2a0b3f362c6c53f09902", 49493},
    {"pop q5", "music_pop_3s.wav", 128, 5, 1, 0, 0, false, 0,
     "5c9da0b1b5e50f3f327172c677bdef087c0fa7ad43e18ba79788713e02d6ec05", 49150},
    {"pop q0", "music_pop_3s.wav", 128, 0, 1, 0, 0, false, 0,
     "2744e65a1d83eb65a72ef418732f031af4f3cb34b01e48b64907a1a69047cdc5", 49009},
    {"orchestral q9 96", "orchestral_3s.wav", 96, 9, 1, 0, 0, false, 0,
     "8542428c8efb082cc2deb6e1446614541e894f043e3ca0a1bc41f41ca63874f8", 36424},
    {"castanets q9 (short blocks)", "castanets_3s.wav", 128, 9, 1, 0, 0, false, 0,
     "01361222326de95642b53460524076d6cf157c92a3a145ee39a45de69915f75a", 43071},
    {"castanets q5 64", "castanets_3s.wav", 64, 5, 1, 0, 0, false, 0,
     "493fd05666697061d62d55db0a7d4bb3965e2defde5bc499cf25067fbb7be0c7", 22933},
    {"drums q7 160", "drums_3s.wav", 160, 7, 1, 0, 0, false, 0,
     "b0223fd5bd791fb93f4ff7630ebc21396b7e251b74d4dac572a5ccda7a0be83f", 59413},
    {"pop mono q9 64", "music_pop_3s.wav", 64, 9, 1, 0, 0, true, 0,
     "1b7eaf31745066b7e50a373aac3b9b487191f2e0469a8b902223bb7dd8f2936e", 26109},
    {"speech 16k mono q9 24", "speech_16k_mono_3s.wav", 24, 9, 1, 0, 0, false, 0,
     "7a8225993291932de4db0ed76216ed48bfa1174a43c154c628eed67866ef88fa", 9897},
    {"5.1 q9 384", "surround_5.1_48k_1.5s.wav", 384, 9, 1, 0, 0, false, 0,
     "5c329e17633ec8b7acb00ef23bc67557e5644c427070b81b8e0dbe60e59f39a8", 79137},
    {"5.1 q5 256", "surround_5.1_48k_1.5s.wav", 256, 5, 1, 0, 0, false, 0,
     "b062c0a00ccc0f4bbda68ad391fca9ce0452020dfdc2f2b91d0aaebdbc5af098", 56231},
    {"Main q9", "music_pop_3s.wav", 128, 9, 0, 0, 0, false, 0,
     "b746994767a89ae1c5f2deb38bd76e23b163739e6efacd9db686497e30d56487", 49499},
    {"LTP q9", "harpsichord_3s.wav", 64, 9, 3, 0, 0, false, 0,
     "fb828de53e7f52802db3b30d75168a912e00b4f90a8df6c58cfd3dfc35113979", 24643},
    {"LTP q5 short blocks", "castanets_3s.wav", 96, 5, 3, 0, 0, false, 0,
     "9c36b786bbe1fcf0191bfdc3ae6a9e2b51b7e29969c2a04b31c2084c448f5c79", 33324},
    {"VBR preset 1", "orchestral_3s.wav", 128, 9, 1, 1, 0, false, 0,
     "44e484454c50f16b38c6e9e07ad6138bb4b4c00d193ad854b90a4203a965a5bc", 48739},
    {"noise substitution", "drums_3s.wav", 64, 9, 1, 0, 1, false, 0,
     "620c44f37e2e6bac3f8c4cb8e67bfff8720122459737e900ae7a6125302418a4", 24103},
    {"resampled to 32 kHz", "music_pop_3s.wav", 96, 9, 1, 0, 0, false, 32000,
     "4cee60ebb52b069775c112a6e3cf33373cafe08c4c4cbbe892e00fe139bfa278", 36664},
    {"speech resampled to 22.05 kHz", "speech_16k_mono_3s.wav", 32, 5, 1, 0, 0, false, 22050,
     "23e9f0cfde249825fe11ab546a38c264d7e765f7a6ed38c525d6f43935eea333", 13173},
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
