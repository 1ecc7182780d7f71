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

// Encodes with the profile and collects the encoder's reconstruction; `tamper` runs before every
// encode call (tests that corrupt the encoder's state).  Noise substitution stays off: decoders
// fill noise bands with their own noise.
Mirrored EncodeMirrored(const Audio& in, int profile, int kbps, int adtsBits = 56,
                        std::function<void(StreamContext*, int)> tamper = {}) {
  std::vector<std::vector<float>> channels(static_cast<size_t>(in.channels));
  EncodeOptions o{.kbps = kbps, .adtsBits = adtsBits, .lcOnly = 0};
  o.extra = {{AACSTREAM_OPT_PROFILE, profile}, {AACSTREAM_OPT_NOISE_SUBSTITUTION, 0}};
  o.configure = [&channels](StreamContext* s) {
    enc::SetReconstructionSink(*s, [](void* user, int ch, const float* x) {
      auto& out = (*static_cast<std::vector<std::vector<float>>*>(user))[static_cast<size_t>(ch)];
      out.insert(out.end(), x, x + 1024);
    }, &channels);
  };
  o.beforeCall = std::move(tamper);
  Mirrored m{EncodeAudio(in, o), {in.sampleRate, in.channels, {}}};
  for (size_t i = 0; i < channels[0].size(); ++i)
    for (const auto& channel : channels) m.recon.samples.push_back(channel[i]);
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
  Usage u;
  for (const test::ParsedFrame& f : ParseFrames(stream, headerBits))
    for (const test::ParsedElement& e : f.elements)
      for (int c = 0; c < e.numChannels; ++c) {
        const test::ParsedIcsInfo& ics = e.commonWindow ? e.ch[0].ics : e.ch[c].ics;
        if (ics.windowSequence == 2) continue;
        ++u.longFrames;
        bool used = ics.ltp[e.commonWindow ? c : 0].present;  // stays 0 in Main streams
        for (int b = 0; b < ics.numPredictionUsed; ++b) used = used || ics.predictionUsed[b];
        u.predicted += ics.predictorDataPresent && used;
      }
  return u;
}

struct Agreement {
  double ffmpeg = 1e9, faad = 1e9;
};

Agreement DecodeAndCompare(const Mirrored& m, int adtsBits) {
  Agreement a;
  if (adtsBits == 56) {
    const Decoded ff = DecodeFfmpeg(m.enc.bytes);
    EXPECT_EQ(ff.status, 0) << ff.errors;
    EXPECT_EQ(ff.errors, "");
    a.ffmpeg = MaxDeviation(m.recon, ff.audio);
  }
  // faad treats streams at 24 kHz and below as carrying implicit SBR and doubles their rate.
  if (m.recon.sampleRate <= 24000) return {a.ffmpeg, 0.0};
  const Decoded fa = DecodeFaad(m.enc.bytes, adtsBits == 58);
  EXPECT_EQ(fa.status, 0) << fa.errors;
  return {a.ffmpeg, MaxDeviation(m.recon, fa.audio)};
}

// Decoders round to 16 bits and run their own float transforms: a couple of LSB at most.
constexpr double kMaxLsb = 2.0;

// Returns the channel frames that carried a used prediction.
int ExpectDecodersAgree(const std::string& clip, int profile, int kbps, int adtsBits = 56) {
  SCOPED_TRACE(clip + (profile == kMain ? " Main" : " LTP"));
  const Mirrored m = EncodeMirrored(Load(clip), profile, kbps, adtsBits);
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

// Each profile over tonal stereo, short blocks, speech at 16 kHz (another predictor band limit),
// dense pop music (mostly unpredicted) and the 58-bit header in faad; the tonal and transient
// cases must cover frames that really carry a prediction.
void ExpectDecodersAgreeOnEveryClip(int profile) {
  EXPECT_GT(ExpectDecodersAgree("harpsichord_3s.wav", profile, 64), 100);
  EXPECT_GT(ExpectDecodersAgree("castanets_3s.wav", profile, 64) + ExpectDecodersAgree("drums_3s.wav", profile, 96), 10);
  ExpectDecodersAgree("speech_16k_mono_3s.wav", profile, 24);
  ExpectDecodersAgree("music_pop_3s.wav", profile, 128);
  EXPECT_GT(ExpectDecodersAgree("harpsichord_3s.wav", profile, 96, 58), 100);
}
TEST(MainProfile, DecodersReproduceTheReconstruction) { ExpectDecodersAgreeOnEveryClip(kMain); }
TEST(LtpProfile, DecodersReproduceTheReconstruction) { ExpectDecodersAgreeOnEveryClip(kLtp); }

// The comparison itself must catch an encoder whose state leaves the decoder's: corrupting
// the predictors (or the long-term history) in the middle of a stream makes the encoder
// subtract predictions no decoder forms, and the decoded output leaves the reconstruction.
TEST(Prediction, CorruptedPredictorStateOrHistoryShowsAsDecoderMismatch) {
  for (int profile : {kMain, kLtp}) {
    const Mirrored m = EncodeMirrored(Load("harpsichord_3s.wav"), profile, 64, 56, [profile](StreamContext* ctx, int call) {
      for (int c = 0; c < 2 && call == 60; ++c) {
        if (profile == kMain)
          for (int n = 0; n < 200; ++n) ctx->predictor[c].cor1[n] *= 1.5f;
        else
          for (float& v : ctx->ltp[c].history) v *= 1.1f;
      }
    });
    const Agreement a = DecodeAndCompare(m, 56);
    EXPECT_GT(a.ffmpeg, 20.0) << profile;
    EXPECT_GT(a.faad, 20.0) << profile;
  }
}

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
  Audio a{44100, 2, {}};
  auto chord = [](int i) {
    double x = 0.0;
    for (double f0 : {220.0, 277.18, 329.63})
      for (int h = 1; h <= 8; ++h) x += (0.5 / h) * std::sin(2.0 * M_PI * f0 * h * i / 44100 + h);
    return x * 1400.0;
  };
  for (int i = 0; i < 3 * 44100; ++i) a.samples.insert(a.samples.end(), {float(chord(i)), float(0.9 * chord(i - 37))});
  return a;
}

void ExpectPredictionPays(int profile, int kbps, double minGainDb) {
  const Audio in = SteadyChord();
  const Mirrored m = EncodeMirrored(in, profile, kbps);
  const Usage u = PredictionUsage(m.enc.bytes, 56);
  ASSERT_GT(u.longFrames, 0);
  const Encoded lcEnc = EncodeAudio(in, {.kbps = kbps});
  const double snr = SnrDb(in, DecodeFfmpeg(m.enc.bytes).audio, 1024);
  const double snrLc = SnrDb(in, DecodeFfmpeg(lcEnc.bytes).audio, 1024);
  std::printf("    profile %d at %d kbit/s: prediction in %d of %d long channel frames, SNR %.2f dB (LC %.2f dB), "
              "%zu bytes (LC %zu)\n", profile, kbps, u.predicted, u.longFrames, snr, snrLc, m.enc.bytes.size(),
              lcEnc.bytes.size());
  EXPECT_GE(u.predicted * 10, u.longFrames * 8);
  EXPECT_GT(snr, snrLc + minGainDb);
  EXPECT_LE(m.enc.bytes.size(), lcEnc.bytes.size() * 102 / 100);
}

TEST(Prediction, MainAndLtpPayOnASteadyChord) {
  ExpectPredictionPays(kMain, 32, 2.0);
  ExpectPredictionPays(kMain, 64, 0.5);
  ExpectPredictionPays(kLtp, 32, 1.0);
  ExpectPredictionPays(kLtp, 64, 0.3);
}

}  // namespace
}  // namespace aacs::testing
