// End to end: Main and LTP streams decoded by FFmpeg and faad reproduce the encoder's own
// reconstruction (the decoder-side synthesis the encoder runs), so the prediction the encoder
// subtracts is the one the decoders add; and prediction pays on tonal material.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "aacstream/aacstream.h"
#include "api/stream_context.h"
#include "enc/decoder_mirror.h"
#include "support/aac_parser.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

constexpr int kMain = 0, kLtp = 3;

struct Mirrored {
  Encoded enc;
  Audio recon;  // the encoder's decoder-side synthesis, one 1024-sample block per coded frame
};

struct Collector {
  std::vector<std::vector<float>> channels;
  static void Sink(void* user, int channel, const float* samples) {
    auto* self = static_cast<Collector*>(user);
    self->channels[static_cast<size_t>(channel)].insert(self->channels[static_cast<size_t>(channel)].end(), samples,
                                                        samples + 1024);
  }
};

struct MirrorOptions {
  int profile = kMain;
  int kbps = 64;
  int adtsBits = 56;
  int noiseSubstitution = 0;  // decoders fill noise bands with their own noise
  // Called with the stream before every encode call (tests that corrupt the encoder's state).
  std::function<void(StreamContext&, int call)> tamper;
};

Mirrored EncodeMirrored(const Audio& in, const MirrorOptions& o) {
  Mirrored m;
  const int keys[] = {AACSTREAM_OPT_PROFILE, AACSTREAM_OPT_ADTS_HEADER_BITS, AACSTREAM_OPT_NOISE_SUBSTITUTION};
  const int values[] = {o.profile, o.adtsBits, o.noiseSubstitution};
  StreamContext* s = aacStreamOpenEx32(0, 0, in.sampleRate, o.kbps, in.channels, 0, 0, 0, 2, 0, 0, 9, nullptr,
                                       nullptr, nullptr, nullptr, nullptr, 2024, keys, values, 3);
  if (!s) return m;
  m.enc.opened = true;
  Collector collector;
  collector.channels.resize(static_cast<size_t>(in.channels));
  enc::SetReconstructionSink(*s, &Collector::Sink, &collector);
  std::vector<uint8_t> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  std::vector<short> pcm(in.samples.size());
  for (size_t i = 0; i < pcm.size(); ++i)
    pcm[i] = static_cast<short>(std::clamp(std::lround(in.samples[i]), -32768L, 32767L));
  const int perCall = 1024 * in.channels;
  const int total = static_cast<int>(pcm.size());
  for (int pos = 0, call = 0;; pos += perCall, ++call) {
    if (o.tamper) o.tamper(*s, call);
    int length = 0;
    m.enc.lastResult = aacStreamEncodeFrame32(s, pcm.data() + pos, out.data(), std::min(perCall, total - pos), &length);
    ++m.enc.calls;
    if (m.enc.lastResult == 1) break;
    m.enc.bytes.insert(m.enc.bytes.end(), out.begin(), out.begin() + length);
    if (m.enc.lastResult == 2) break;
  }
  int length = 0;
  if (aacStreamFlush32(s, out.data(), &length) == 0) m.enc.bytes.insert(m.enc.bytes.end(), out.begin(), out.begin() + length);
  aacStreamDestroy32(s);
  m.recon.sampleRate = in.sampleRate;
  m.recon.channels = in.channels;
  const size_t frames = collector.channels[0].size();
  m.recon.samples.resize(frames * static_cast<size_t>(in.channels));
  for (size_t i = 0; i < frames; ++i)
    for (int c = 0; c < in.channels; ++c)
      m.recon.samples[i * static_cast<size_t>(in.channels) + static_cast<size_t>(c)] = collector.channels[static_cast<size_t>(c)][i];
  return m;
}

// Largest difference between a decoder's 16-bit output and the (unrounded, clipped)
// reconstruction: 0.5 from the decoder's rounding plus whatever the two synthesis and
// prediction paths differ by; a huge value when the lengths differ.
double MaxDeviation(Audio recon, const Audio& decoded) {
  // faad drops the first frame of its output.
  const size_t frameSamples = 1024 * static_cast<size_t>(recon.channels);
  if (decoded.samples.size() + frameSamples == recon.samples.size())
    recon.samples.erase(recon.samples.begin(), recon.samples.begin() + static_cast<long>(frameSamples));
  if (recon.samples.size() != decoded.samples.size() || recon.channels != decoded.channels) return 1e9;
  double worst = 0.0;
  for (size_t i = 0; i < recon.samples.size(); ++i) {
    const double r = std::clamp(static_cast<double>(recon.samples[i]), -32768.0, 32767.0);
    worst = std::max(worst, std::fabs(r - decoded.samples[i]));
  }
  return worst;
}

struct Usage {
  int longFrames = 0;  // channel frames
  int predicted = 0;   // of which carry a used prediction (Main: any band flag; LTP: ltp_data_present)
};

Usage PredictionUsage(const std::vector<uint8_t>& stream, int headerBits) {
  std::vector<test::ParsedFrame> frames;
  std::string error;
  Usage u;
  if (!test::ParseAdtsStream(stream.data(), stream.size(), headerBits, &frames, &error)) {
    ADD_FAILURE() << error;
    return u;
  }
  for (const test::ParsedFrame& f : frames)
    for (const test::ParsedElement& e : f.elements)
      for (int c = 0; c < e.numChannels; ++c) {
        const test::ParsedIcsInfo& ics = e.commonWindow ? e.ch[0].ics : e.ch[c].ics;
        if (ics.windowSequence == 2) continue;
        ++u.longFrames;
        bool used = false;
        if (f.adts.profile == kMain) {
          for (int b = 0; b < ics.numPredictionUsed; ++b) used = used || (ics.predictorDataPresent && ics.predictionUsed[b]);
        } else {
          const test::ParsedLtp& ltp = e.commonWindow ? ics.ltp[c] : ics.ltp[0];
          used = ics.predictorDataPresent && ltp.present;
        }
        u.predicted += used;
      }
  return u;
}

Audio Load(const std::string& name) {
  Audio a;
  EXPECT_TRUE(ReadWav(DataPath(name), a)) << name;
  return a;
}

struct Agreement {
  double ffmpeg = 1e9, faad = 1e9;
};

Agreement DecodeAndCompare(const Mirrored& m, int adtsBits) {
  Agreement a;
  if (adtsBits == 56) {
    const Decoded ff = DecodeFfmpeg(m.enc.bytes);
    EXPECT_EQ(ff.status, 0);
    EXPECT_EQ(ff.errors, "");
    a.ffmpeg = MaxDeviation(m.recon, ff.audio);
  }
  // faad treats streams at 24 kHz and below as carrying implicit SBR and doubles their rate.
  if (m.recon.sampleRate <= 24000) {
    a.faad = 0.0;
    return a;
  }
  const Decoded fa = DecodeFaad(m.enc.bytes, adtsBits == 58);
  EXPECT_EQ(fa.status, 0) << fa.errors;
  a.faad = MaxDeviation(m.recon, fa.audio);
  return a;
}

// Decoders round to 16 bits and run their own float transforms: a couple of LSB at most.
constexpr double kMaxLsb = 2.0;

// Returns the channel frames that carried a used prediction.
int ExpectDecodersAgree(const std::string& clip, int profile, int kbps, int adtsBits = 56) {
  SCOPED_TRACE(clip + (profile == kMain ? " Main" : " LTP"));
  const Audio in = Load(clip);
  MirrorOptions o;
  o.profile = profile;
  o.kbps = kbps;
  o.adtsBits = adtsBits;
  const Mirrored m = EncodeMirrored(in, o);
  EXPECT_TRUE(m.enc.opened);
  EXPECT_EQ(m.enc.lastResult, 2);
  if (!m.enc.opened) return 0;
  const Usage u = PredictionUsage(m.enc.bytes, adtsBits);
  const Agreement a = DecodeAndCompare(m, adtsBits);
  std::printf("    %s profile %d %d kbit/s: prediction in %d/%d long channel frames, deviation FFmpeg %.2f faad %.2f LSB\n",
              clip.c_str(), profile, kbps, u.predicted, u.longFrames, adtsBits == 56 ? a.ffmpeg : -1.0, a.faad);
  if (adtsBits == 56) {
    EXPECT_LE(a.ffmpeg, kMaxLsb);
  }
  EXPECT_LE(a.faad, kMaxLsb);
  return u.predicted;
}

// Each case must cover frames that really carry a prediction.
TEST(MainProfile, DecodersReproduceTheReconstructionOfTonalStereo) {
  EXPECT_GT(ExpectDecodersAgree("harpsichord_3s.wav", kMain, 64), 100);
}
TEST(MainProfile, DecodersReproduceTheReconstructionAcrossShortBlocks) {
  const int predicted = ExpectDecodersAgree("castanets_3s.wav", kMain, 64) + ExpectDecodersAgree("drums_3s.wav", kMain, 96);
  EXPECT_GT(predicted, 10);
}
TEST(MainProfile, DecodersReproduceTheReconstructionOfOtherMaterial) {
  // Speech at 16 kHz (another predictor band limit) and dense pop music, mostly unpredicted.
  ExpectDecodersAgree("speech_16k_mono_3s.wav", kMain, 24);
  ExpectDecodersAgree("music_pop_3s.wav", kMain, 128);
}
TEST(MainProfile, LegacyAdtsHeaderDecodesInFaad) { EXPECT_GT(ExpectDecodersAgree("harpsichord_3s.wav", kMain, 96, 58), 100); }
TEST(LtpProfile, DecodersReproduceTheReconstructionOfTonalStereo) {
  EXPECT_GT(ExpectDecodersAgree("harpsichord_3s.wav", kLtp, 64), 100);
}
TEST(LtpProfile, DecodersReproduceTheReconstructionAcrossShortBlocks) {
  const int predicted = ExpectDecodersAgree("castanets_3s.wav", kLtp, 64) + ExpectDecodersAgree("drums_3s.wav", kLtp, 96);
  EXPECT_GT(predicted, 10);
}
TEST(LtpProfile, DecodersReproduceTheReconstructionOfOtherMaterial) {
  ExpectDecodersAgree("speech_16k_mono_3s.wav", kLtp, 24);
  ExpectDecodersAgree("music_pop_3s.wav", kLtp, 128);
}
TEST(LtpProfile, LegacyAdtsHeaderDecodesInFaad) { EXPECT_GT(ExpectDecodersAgree("harpsichord_3s.wav", kLtp, 96, 58), 100); }

// The comparison itself must catch an encoder whose state leaves the decoder's: corrupting
// the predictors (or the long-term history) in the middle of a stream makes the encoder
// subtract predictions no decoder forms, and the decoded output leaves the reconstruction.
void ExpectCorruptionDetected(int profile) {
  const Audio in = Load("harpsichord_3s.wav");
  MirrorOptions o;
  o.profile = profile;
  o.tamper = [profile](StreamContext& ctx, int call) {
    if (call != 60) return;
    for (int c = 0; c < 2; ++c) {
      if (profile == kMain)
        for (int n = 0; n < 200; ++n) ctx.predictor[c].cor1[n] *= 1.5f;
      else
        for (float& v : ctx.ltp[c].history) v *= 1.1f;
    }
  };
  const Mirrored m = EncodeMirrored(in, o);
  const Agreement a = DecodeAndCompare(m, 56);
  EXPECT_GT(a.ffmpeg, 20.0);
  EXPECT_GT(a.faad, 20.0);
}

TEST(MainProfile, CorruptedPredictorStateShowsAsDecoderMismatch) { ExpectCorruptionDetected(kMain); }
TEST(LtpProfile, CorruptedHistoryShowsAsDecoderMismatch) { ExpectCorruptionDetected(kLtp); }

TEST(Profiles, SsrIsRefusedAtOpenAndMainLtpAccepted) {
  for (int profile : {0, 1, 2, 3}) {
    const int keys[] = {AACSTREAM_OPT_PROFILE};
    const int values[] = {profile};
    StreamContext* s = aacStreamOpenEx32(0, 0, 44100, 128, 2, 0, 0, 0, 2, 0, 0, 5, nullptr, nullptr, nullptr, nullptr,
                                         nullptr, 2024, keys, values, 1);
    EXPECT_EQ(s != nullptr, profile != 2) << profile;
    if (!s) continue;
    unsigned char asc[2];
    int length = 0;
    ASSERT_EQ(aacStreamAudioSpecificConfig32(s, asc, &length), 0);
    EXPECT_EQ(asc[0] >> 3, profile + 1);  // audio object type
    EXPECT_EQ(s->ltpEnabled, profile == 3 ? 1 : 0);
    aacStreamDestroy32(s);
  }
}

// A sustained chord (three notes with eight harmonics each, the right channel delayed): the
// prediction is used in most long frames and the decoded signal is closer to the input than
// LC's at the same bit rate.
Audio SteadyChord() {
  Audio a;
  a.sampleRate = 44100;
  a.channels = 2;
  const int frames = 3 * a.sampleRate;
  a.samples.resize(static_cast<size_t>(frames) * 2);
  auto chord = [&a](int i) {
    double x = 0.0;
    for (double f0 : {220.0, 277.18, 329.63})
      for (int h = 1; h <= 8; ++h) x += (0.5 / h) * std::sin(2.0 * M_PI * f0 * h * i / a.sampleRate + h);
    return x * 1400.0;
  };
  for (int i = 0; i < frames; ++i) {
    a.samples[static_cast<size_t>(i) * 2] = static_cast<float>(chord(i));
    a.samples[static_cast<size_t>(i) * 2 + 1] = static_cast<float>(0.9 * chord(i - 37));
  }
  return a;
}

void ExpectPredictionPays(int profile, int kbps, double minGainDb) {
  const Audio in = SteadyChord();
  MirrorOptions o;
  o.profile = profile;
  o.kbps = kbps;
  const Mirrored m = EncodeMirrored(in, o);
  const Usage u = PredictionUsage(m.enc.bytes, 56);
  ASSERT_GT(u.longFrames, 0);
  EncodeOptions lc;
  lc.kbps = kbps;
  const Encoded lcEnc = EncodeAudio(in, lc);
  const double snr = SnrDb(in, DecodeFfmpeg(m.enc.bytes).audio, 1024);
  const double snrLc = SnrDb(in, DecodeFfmpeg(lcEnc.bytes).audio, 1024);
  std::printf("    profile %d at %d kbit/s: prediction in %d of %d long channel frames, SNR %.2f dB (LC %.2f dB), "
              "%zu bytes (LC %zu)\n", profile, kbps, u.predicted, u.longFrames, snr, snrLc, m.enc.bytes.size(),
              lcEnc.bytes.size());
  EXPECT_GE(u.predicted * 10, u.longFrames * 8);
  EXPECT_GT(snr, snrLc + minGainDb);
  EXPECT_LE(m.enc.bytes.size(), lcEnc.bytes.size() * 102 / 100);
}

TEST(MainProfile, PredictionPaysOnASteadyChord) {
  ExpectPredictionPays(kMain, 32, 2.0);
  ExpectPredictionPays(kMain, 64, 1.0);
}
TEST(LtpProfile, PredictionPaysOnASteadyChord) {
  ExpectPredictionPays(kLtp, 32, 1.0);
  ExpectPredictionPays(kLtp, 64, 0.3);
}

}  // namespace
}  // namespace aacs::testing
