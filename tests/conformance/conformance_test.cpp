// Conformance matrix: every configuration that open accepts (rates x channel layouts x bit rates
// x presets x quality levels x header forms) must give a stream that FFmpeg or faad decodes
// cleanly, with the promised frame and sample counts, frames within the decoder's input buffer
// and the input's level.
//
// By default a fixed sample of the matrix runs (the same configurations on every run).  With
// AACS_CONFORMANCE_FULL=1 the whole matrix is instantiated (scripts/conformance_matrix.sh runs it
// in shards); AACS_CONFORMANCE_RESULTS=<file> appends one tab-separated line per configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>

#include "support/aac_parser.h"
#include "support/audio_support.h"

#ifndef AACS_CONFORMANCE_SAMPLE
#define AACS_CONFORMANCE_SAMPLE 400
#endif
#ifndef AACS_CONFORMANCE_BOTH_ENDS
#define AACS_CONFORMANCE_BOTH_ENDS 1
#endif

namespace aacs::testing {
namespace {

enum class HeaderForm { kAdts56Ffmpeg, kAdts58Faad, kAdifFaad };

struct MatrixConfig {
  int sampleRate = 44100, channels = 2, lfe = 0, kbps = 128, preset = 0, quality = 9;
  HeaderForm header = HeaderForm::kAdts56Ffmpeg;
};

struct MatrixOutcome {
  bool passed = false;
  std::string failure;         // first problem found, empty when passed
  int frames = 0;              // frames in the stream
  int maxChannelBits = 0;      // largest element's bits per channel
  double inputLevelDb = 0.0;
  double decodedLevelDb = 0.0;
  int payloadBits = 0;         // mean bits per channel and frame after the ADTS header
};

std::string ConfigName(const MatrixConfig& c) {
  static const char* kHeaderNames[3] = {"adts56", "adts58", "adif"};
  char name[96];
  std::snprintf(name, sizeof name, "r%d_c%d%s_k%d_p%d_q%s%d_%s", c.sampleRate, c.channels, c.lfe ? "lfe" : "",
                c.kbps, c.preset, c.quality < 0 ? "m" : "", std::abs(c.quality),
                kHeaderNames[static_cast<int>(c.header)]);
  return name;
}

constexpr int kRates[12] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000, 64000, 88200, 96000};
struct Layout {
  int channels, lfe;
};
constexpr Layout kLayouts[7] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 1}, {6, 0}};
constexpr int kQualities[5] = {-1, 0, 5, 9, 10};
constexpr HeaderForm kHeaders[3] = {HeaderForm::kAdts56Ffmpeg, HeaderForm::kAdts58Faad, HeaderForm::kAdifFaad};
constexpr int kMinChannelFrameBits = 64, kMaxChannelFrameBits = 6144;

// Half a second of the rate's clip, spread over the layout's channels in element order
// (C L R Ls Rs and LFE, or a sixth full-band channel).  The LFE channel gets a low-passed mix.
Audio ClipForLayout(int rate, int channels, int lfe) {
  static std::map<int, Audio> clips;  // one process runs a whole shard of the matrix
  Audio& stereo = clips[rate];
  if (stereo.channels == 0) ReadWav(DataPath("rates/music_1s_" + std::to_string(rate + 100000).substr(1) + ".wav"), stereo);
  Audio out{rate, channels, {}};
  const int frames = std::min(stereo.Frames(), rate / 2);
  float lowpassed = 0.0f;
  const float pole = std::exp(-2.0f * static_cast<float>(M_PI) * 120.0f / static_cast<float>(rate));
  for (int i = 0; i < frames; ++i) {
    const float l = stereo.At(i, 0), r = stereo.At(i, 1), mid = 0.5f * (l + r);
    const float lDelayed = i >= 7 ? stereo.At(i - 7, 0) : 0.0f, rDelayed = i >= 11 ? stereo.At(i - 11, 1) : 0.0f;
    lowpassed = pole * lowpassed + (1.0f - pole) * mid;
    float frame[6];
    if (channels == 1) frame[0] = mid;
    if (channels == 2) frame[0] = l, frame[1] = r;
    if (channels >= 3) frame[0] = mid, frame[1] = l, frame[2] = r;
    if (channels == 4) frame[3] = 0.6f * (l - r);
    if (channels >= 5) frame[3] = 0.6f * lDelayed, frame[4] = 0.6f * rDelayed;
    if (channels == 6) frame[5] = lfe ? 2.0f * lowpassed : 0.5f * (l - r);
    for (int c = 0; c < channels; ++c) out.samples.push_back(std::round(frame[c]));
  }
  return out;
}

// Parses the stream with the independent parser: ADTS frames, or the ADIF header and its raw
// blocks.  Returns false with a message when it does not parse.
bool ParseStream(const std::vector<uint8_t>& bytes, const MatrixConfig& c, std::vector<test::ParsedFrame>* frames,
                 std::string* error) {
  if (c.header != HeaderForm::kAdifFaad)
    return test::ParseAdtsStream(bytes.data(), bytes.size(), c.header == HeaderForm::kAdts58Faad ? 58 : 56, frames,
                                 error);
  test::AdifHeader header;
  if (!test::ParseAdifHeader(bytes.data(), bytes.size(), &header, error)) return false;
  for (size_t pos = static_cast<size_t>(header.headerBytes); pos < bytes.size();
       pos += static_cast<size_t>((frames->back().totalBits + 7) / 8)) {
    std::string e;
    frames->emplace_back();
    if (!test::ParseRawDataBlock(&bytes[pos], bytes.size() - pos, {1, header.sfIndex}, &frames->back(), &e))
      return *error = "raw block " + std::to_string(frames->size() - 1) + ": " + e, false;
  }
  return true;
}

std::string Fail(const char* what, double got, double want) {
  char text[160];
  std::snprintf(text, sizeof text, "%s: %g, expected %g", what, got, want);
  return text;
}

// Decoder output channel that carries element-order channel `ch`: faad keeps the element order,
// except for the 5.1 layout (channel configuration 6, or an ADIF program with an LFE), which it
// outputs in FFmpeg's order.
int DecoderChannel(const MatrixConfig& c, int ch) {
  const bool ffmpegOrder = c.header == HeaderForm::kAdts56Ffmpeg ||
                           (c.channels == 6 && (c.lfe || c.header == HeaderForm::kAdts58Faad));
  return ffmpegOrder ? FfmpegChannel(c.channels, ch) : ch;
}

// The bit rates (kbit/s) tried for a rate and channel count: the lowest and highest that open
// accepts and three in between.
std::vector<int> BitRateSpread(int sampleRate, int channels) {
  const int64_t low = std::max<int64_t>(8, (static_cast<int64_t>(kMinChannelFrameBits) * channels * sampleRate + 1024 * 1000 - 1) /
                                               (1024 * 1000));
  const int64_t high = static_cast<int64_t>(kMaxChannelFrameBits) * channels * sampleRate / (1024 * 1000);
  std::set<int> rates;
  for (int i = 0; i <= 4; ++i) {
    const double k = static_cast<double>(low) * std::pow(static_cast<double>(high) / static_cast<double>(low), i / 4.0);
    rates.insert(static_cast<int>(std::clamp<int64_t>(std::llround(k), low, high)));
  }
  return {rates.begin(), rates.end()};
}

// The whole matrix, in a fixed order.
std::vector<MatrixConfig> FullMatrix() {
  std::vector<MatrixConfig> all;
  for (int rate : kRates)
    for (const Layout& layout : kLayouts)
      for (int kbps : BitRateSpread(rate, layout.channels))
        for (int preset = 0; preset <= 9; ++preset)
          for (int quality : kQualities)
            for (HeaderForm header : kHeaders)
              all.push_back(MatrixConfig{rate, layout.channels, layout.lfe, kbps, preset, quality, header});
  return all;
}

// A fixed-seed sample of `count` configurations (the same sample on every run); with `bothEnds`
// the lowest and highest bit rate of every rate and layout are always among them (168
// configurations, so the sample has at least that many).
std::vector<MatrixConfig> SampledMatrix(int count, bool bothEnds = true) {
  // mt19937's sequence is fixed by the standard; distributions are not, so plain modulo is used.
  std::mt19937 rng(20261205u);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  std::vector<MatrixConfig> sample;
  std::set<std::string> names;
  auto add = [&](const MatrixConfig& c) {
    if (names.insert(ConfigName(c)).second) sample.push_back(c);
  };
  for (int rate : kRates)
    for (const Layout& layout : kLayouts) {
      if (!bothEnds) break;
      const std::vector<int> spread = BitRateSpread(rate, layout.channels);
      for (int kbps : {spread.front(), spread.back()})
        add(MatrixConfig{rate, layout.channels, layout.lfe, kbps, pick(10), kQualities[pick(5)], kHeaders[pick(3)]});
    }
  const std::vector<MatrixConfig> all = FullMatrix();
  while (static_cast<int>(sample.size()) < count && sample.size() < all.size())
    add(all[static_cast<size_t>(pick(static_cast<int>(all.size())))]);
  return sample;
}

// How far (dB) the decoded level may fall under or rise over the input's for a stream with
// `payloadBits` mean bits per channel and frame after the ADTS header.
struct LevelBounds {
  double belowDb, aboveDb;
};
LevelBounds LevelTolerance(int payloadBits) {
  // A channel element with its side information takes 30 to 60 bits before any spectral value,
  // so below 100 bits per channel the rate loops can keep a few lines of the lowest bands at
  // best, or none: the decode may fall to silence (a fifth of the full matrix's runs there do),
  // and the few coarse lines it keeps can come out up to 3 dB loud.  Above that the rate loops
  // keep the strong low bands, which carry the level: the full matrix stays within -0.95 and
  // +1.6 dB from 100 bits up and within 0.6 dB from 600 up; the bounds leave room for other
  // material.
  if (payloadBits >= 1500) return {1.5, 1.5};
  if (payloadBits >= 600) return {2.0, 2.0};
  if (payloadBits >= 250) return {3.0, 3.0};
  if (payloadBits >= 100) return {4.0, 3.0};
  return {200.0, 4.0};
}

// Encodes the clip and walks the stream: result codes, calls, frames and frame sizes.
bool CheckStream(const MatrixConfig& c, const Audio& in, Encoded* enc, MatrixOutcome& o) {
  *enc = EncodeAudio(in, {.kbps = c.kbps, .headerType = c.header == HeaderForm::kAdifFaad ? 1 : 2,
                          .adtsBits = c.header == HeaderForm::kAdts58Faad ? 58 : 56, .quality = c.quality,
                          .preset = c.preset, .lfe = c.lfe});
  if (!enc->opened) return o.failure = "open refused an accepted configuration", false;
  if (enc->lastResult != 2) return o.failure = Fail("last encode result", enc->lastResult, 2), false;
  const int calls = (in.Frames() + 1023) / 1024;
  if (enc->calls != calls) return o.failure = Fail("encode calls", enc->calls, calls), false;
  std::string error;
  std::vector<test::ParsedFrame> frames;
  if (!ParseStream(enc->bytes, c, &frames, &error)) return o.failure = "parser: " + error, false;
  o.frames = static_cast<int>(frames.size());
  // The decoder's input buffer holds 6144 bits for every channel of an element.
  for (const auto& f : frames)
    for (const auto& e : f.elements) o.maxChannelBits = std::max(o.maxChannelBits, (e.bits + e.numChannels - 1) / e.numChannels);
  if (o.frames != calls + 1) return o.failure = Fail("frames", o.frames, calls + 1), false;
  if (o.maxChannelBits > kMaxChannelFrameBits)
    return o.failure = Fail("element bits per channel", o.maxChannelBits, kMaxChannelFrameBits), false;
  return true;
}

// What each decoder makes of a clean stream: faad plays mono as two equal channels (it allows
// for parametric stereo), outputs twice the rate below 32 kHz (it allows for implicit SBR) and
// leaves out the first frame (the encoder's one-frame delay), which FFmpeg outputs.
struct DecoderShape {
  int channels, upsampling, delay, frames;
};

bool CheckDecode(const MatrixConfig& c, const Decoded& dec, const DecoderShape& want, MatrixOutcome& o) {
  // FFmpeg at -v error and faad -q print nothing on a clean decode.
  if (dec.status != 0 || !dec.errors.empty()) return o.failure = "decoder: status " + std::to_string(dec.status) + ": " + dec.errors, false;
  if (dec.audio.channels != want.channels) return o.failure = Fail("decoded channels", dec.audio.channels, want.channels), false;
  if (dec.audio.sampleRate != c.sampleRate * want.upsampling)
    return o.failure = Fail("decoded rate", dec.audio.sampleRate, c.sampleRate * want.upsampling), false;
  if (dec.audio.Frames() != want.frames * 1024 * want.upsampling)
    return o.failure = Fail("decoded samples per channel", dec.audio.Frames(), want.frames * 1024 * want.upsampling), false;
  return true;
}

// Level of the mix and of every channel in its place (a sixth full-band channel comes out in the
// LFE position); single channels get a dB more room than the mix.
bool CheckLevels(const MatrixConfig& c, const Audio& in, const Audio& dec, const DecoderShape& shape, MatrixOutcome& o) {
  const int count = in.Frames() * shape.upsampling;
  o.inputLevelDb = LevelDb(in);
  o.decodedLevelDb = LevelDb(dec, shape.delay, count);
  const int headerBits = c.header == HeaderForm::kAdifFaad ? 0 : (c.header == HeaderForm::kAdts58Faad ? 58 : 56);
  o.payloadBits = static_cast<int>((int64_t{c.kbps} * 1000 * 1024 / c.sampleRate - headerBits) / c.channels);
  const LevelBounds bounds = LevelTolerance(o.payloadBits);
  auto outside = [&bounds](double got, double want, double slack) {
    return got < want - bounds.belowDb - slack || got > want + bounds.aboveDb + slack;
  };
  if (outside(o.decodedLevelDb, o.inputLevelDb, 0.0))
    return o.failure = Fail("decoded level (dB)", o.decodedLevelDb, o.inputLevelDb), false;
  for (int ch = 0; ch < c.channels; ++ch) {
    const double want = LevelDb(in, 0, in.Frames(), ch);
    const double got = LevelDb(dec, shape.delay, count, DecoderChannel(c, ch));
    if (outside(got, want, 1.0))
      return o.failure = Fail(("channel " + std::to_string(ch) + " level (dB)").c_str(), got, want), false;
  }
  return true;
}

// Encodes 0.5 s of the rate's music clip in the configuration's layout, decodes it with the
// decoder of its header form and checks counts, frame sizes and level.
MatrixOutcome RunMatrixConfig(const MatrixConfig& c) {
  MatrixOutcome o;
  const Audio in = ClipForLayout(c.sampleRate, c.channels, c.lfe);
  if (in.Frames() == 0) return o.failure = "no input clip", o;
  Encoded enc;
  if (!CheckStream(c, in, &enc, o)) return o;
  const bool ffmpeg = c.header == HeaderForm::kAdts56Ffmpeg;
  const Decoded dec = ffmpeg ? DecodeFfmpeg(enc.bytes)
                             : DecodeFaad(enc.bytes, c.header == HeaderForm::kAdts58Faad,
                                          c.header == HeaderForm::kAdifFaad ? ".adif" : ".aac");
  const DecoderShape shape = ffmpeg ? DecoderShape{c.channels, 1, 1024, o.frames}
                                    : DecoderShape{c.channels == 1 ? 2 : c.channels, c.sampleRate <= 24000 ? 2 : 1, 0,
                                                   o.frames - 1};
  o.passed = CheckDecode(c, dec, shape, o) && CheckLevels(c, in, dec.audio, shape, o);
  return o;
}

std::vector<MatrixConfig> Configurations() {
  const char* full = std::getenv("AACS_CONFORMANCE_FULL");
  if (full != nullptr && std::string(full) == "1") return FullMatrix();
  return SampledMatrix(AACS_CONFORMANCE_SAMPLE, AACS_CONFORMANCE_BOTH_ENDS != 0);
}

void Record(const MatrixConfig& c, const MatrixOutcome& o) {
  const char* path = std::getenv("AACS_CONFORMANCE_RESULTS");
  if (path == nullptr) return;
  FILE* f = std::fopen(path, "a");
  if (f == nullptr) return;
  std::string failure = o.failure;
  std::replace_if(failure.begin(), failure.end(), [](char ch) { return ch == '\n' || ch == '\t'; }, ' ');
  std::fprintf(f, "%s\t%d\t%d\t%d\t%d\t%d\t%d\t%d\t%s\t%d\t%d\t%.2f\t%.2f\t%d\t%s\n", ConfigName(c).c_str(),
               c.sampleRate, c.channels, c.lfe, c.kbps, c.preset, c.quality, static_cast<int>(c.header),
               o.passed ? "pass" : "FAIL", o.frames, o.maxChannelBits, o.inputLevelDb, o.decodedLevelDb,
               o.payloadBits, failure.c_str());
  std::fclose(f);
}

void PrintTo(const MatrixConfig& c, std::ostream* os) { *os << ConfigName(c); }

class Conformance : public ::testing::TestWithParam<MatrixConfig> {};

TEST_P(Conformance, StreamDecodesWithCountsAndLevel) {
  const MatrixConfig& c = GetParam();
  const MatrixOutcome o = RunMatrixConfig(c);
  Record(c, o);
  EXPECT_TRUE(o.passed) << ConfigName(c) << ": " << o.failure;
}

INSTANTIATE_TEST_SUITE_P(Matrix, Conformance, ::testing::ValuesIn(Configurations()),
                         [](const ::testing::TestParamInfo<MatrixConfig>& info) { return ConfigName(info.param); });

TEST(ConformanceMatrix, SpreadRunsFromTheLowestToTheHighestAcceptedRate) {
  // 8 kHz stereo: 64 bits per channel and frame is 1000 bit/s, 6144 bits is 96 kbit/s, and no
  // rate below 8 kbit/s is ever tried.
  EXPECT_EQ(BitRateSpread(8000, 2), (std::vector<int>{8, 15, 28, 52, 96}));
  // 96 kHz six channels: 36 to 3456 kbit/s.
  const std::vector<int> wide = BitRateSpread(96000, 6);
  EXPECT_EQ(wide.front(), 36);
  EXPECT_EQ(wide.back(), 3456);
  EXPECT_EQ(wide.size(), 5u);
}

TEST(ConformanceMatrix, SampleIsFixedAndCoversEveryRateAndLayoutAtBothEnds) {
  const std::vector<MatrixConfig> a = SampledMatrix(300), b = SampledMatrix(300);
  ASSERT_EQ(a.size(), 300u);
  for (size_t i = 0; i < a.size(); ++i) EXPECT_EQ(ConfigName(a[i]), ConfigName(b[i]));
  int extremes = 0;
  for (const MatrixConfig& c : a) {
    const std::vector<int> spread = BitRateSpread(c.sampleRate, c.channels);
    extremes += c.kbps == spread.front() || c.kbps == spread.back();
  }
  EXPECT_GE(extremes, 12 * 7 * 2);
}

}  // namespace
}  // namespace aacs::testing
