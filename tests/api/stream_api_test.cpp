// The public stream calls: what open refuses and accepts, the framing of encode calls, the end of
// a stream, and misuse, which must be refused without writing anything anywhere.
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <string>
#include <tuple>
#include <vector>

#include "aacstream/aacstream.h"
#include "api/stream_context.h"
#include "enc/band_tables.h"
#include "support/aac_parser.h"
#include "support/audio_support.h"

namespace {

constexpr unsigned char kCanary = 0xA5;

struct OpenArgs {
  int rate = 44100, kbps = 128, channels = 2, lfe = 0, headerType = 2, bandwidth = 0, read = 0, write = 0;
  const char *in = nullptr, *out = nullptr;
};

StreamContext* Open(const OpenArgs& a, const std::vector<int>& keys = {}, const std::vector<int>& values = {}) {
  return aacStreamOpenEx32(a.read, a.write, a.rate, a.kbps, a.channels, a.lfe, 0, 1, a.headerType, a.bandwidth, 0, 9,
                           a.in, a.out, nullptr, nullptr, nullptr, 2026, keys.empty() ? nullptr : keys.data(),
                           values.empty() ? nullptr : values.data(), int(keys.size()));
}

bool AllCanary(const std::vector<unsigned char>& b) {
  return std::all_of(b.begin(), b.end(), [](unsigned char v) { return v == kCanary; });
}

int ParsedFrames(const std::vector<unsigned char>& stream, int headerBits = 58) {
  std::vector<aacs::test::ParsedFrame> frames;
  std::string error;
  if (!aacs::test::ParseAdtsStream(stream.data(), stream.size(), headerBits, &frames, &error)) return -1;
  return static_cast<int>(frames.size());
}

struct EncodeRun {
  std::vector<unsigned char> bytes;
  std::vector<int> callBytes;
  bool lastWroteAFrame = false;
};

// `calls` full calls of a tone, then a last call of `lastCount` samples and the flush; empty when
// a call does not return 0, the last 2, or the flush 0.
EncodeRun Encode(StreamContext* s, int channels, int calls, int lastCount) {
  EncodeRun run;
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  std::vector<short> pcm(static_cast<size_t>(1024 * channels));
  for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<short>((i * 7919) % 20000 - 10000);
  for (int k = 0, length = -1; k <= calls; ++k) {
    out[0] = 0;
    const int result = aacStreamEncodeFrame32(s, pcm.data(), out.data(), k < calls ? 1024 * channels : lastCount, &length);
    if (result != (k < calls ? 0 : 2) || length < 0) return {};
    run.callBytes.push_back(length);
    run.lastWroteAFrame = out[0] == 0xFF;
    run.bytes.insert(run.bytes.end(), out.begin(), out.begin() + length);
  }
  int length = 0;
  if (aacStreamFlush32(s, out.data(), &length) != 0) return {};
  run.bytes.insert(run.bytes.end(), out.begin(), out.begin() + length);
  return run;
}

TEST(StreamOpen, RefusesWhatCannotBeEncoded) {
  const std::string dir = testing::TempDir();
  const OpenArgs refused[] = {
      {.rate = 0},  // memory input has no file to take the rate from
      {.rate = -44100}, {.rate = INT_MAX}, {.rate = INT_MIN}, {.rate = 37800},  // not one of the twelve rates
      {.channels = -1}, {.channels = 0}, {.channels = 7}, {.channels = INT_MAX},
      {.kbps = 0}, {.kbps = -128}, {.kbps = 7}, {.kbps = INT_MIN},
      {.kbps = INT_MAX}, {.kbps = 2147484},  // kbit/s x 1000 would wrap (to a small figure)
      {.rate = 8000, .kbps = 97},            // 6208 bits per channel and frame
      {.rate = 96000, .kbps = 577, .channels = 1},
      {.rate = 96000, .kbps = 11},           // 58 bits per channel and frame
      {.rate = 96000, .kbps = 8, .channels = 6},
      {.headerType = -1}, {.headerType = INT_MIN}, {.headerType = 3},
      {.bandwidth = 96001}, {.bandwidth = INT_MAX},  // bandwidth arithmetic would wrap
      {.kbps = 256, .channels = 4, .lfe = 1}, {.channels = 4, .lfe = INT_MIN},  // any non-zero lfe means LFE
      {.rate = 0, .read = 1}, {.rate = 0, .read = 1, .in = ""}, {.rate = 0, .read = 1, .in = dir.c_str()},
      {.rate = 0, .read = 1, .in = "/nonexistent/in.wav"},
      {.write = 1}, {.write = 1, .out = ""}, {.write = 1, .out = dir.c_str()}, {.write = 1, .out = "/nonexistent/dir/out.aac"}};
  // Each refusal returns null and names its reason in one line on stderr.
  auto expectOneLine = [](const std::string& err) {
    EXPECT_EQ(err.rfind("aacstream: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  };
  for (const OpenArgs& a : refused) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Open(a), nullptr) << a.rate << " Hz " << a.kbps << " kbit/s " << a.channels << " ch lfe " << a.lfe
                                << " header " << a.headerType << " bandwidth " << a.bandwidth;
    expectOneLine(testing::internal::GetCapturedStderr());
  }
  const std::pair<int, int> badOptions[] = {
      {0, 0}, {4, 1}, {17, 0}, {INT_MIN, 0}, {AACSTREAM_OPT_PROFILE, 2}, {AACSTREAM_OPT_BIT_RATE_KBPS, INT_MAX},
      {AACSTREAM_OPT_CHANNELS, 7}, {AACSTREAM_OPT_SAMPLE_RATE, 44101}, {AACSTREAM_OPT_BANDWIDTH, 96001},
      {AACSTREAM_OPT_INPUT_SAMPLE_RATE, 48000},  // memory input cannot resample
      {AACSTREAM_OPT_TNS, 2}, {AACSTREAM_OPT_STEREO_MODE, -2}, {AACSTREAM_OPT_ADTS_HEADER_BITS, 0},
      {AACSTREAM_OPT_ADTS_HEADER_BITS, 57}};
  for (const auto& [key, value] : badOptions) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Open({}, {key}, {value}), nullptr) << key << " = " << value;
    expectOneLine(testing::internal::GetCapturedStderr());
  }
  const int key = AACSTREAM_OPT_TNS, value = 1;
  auto openEx = [](const int* keys, const int* values, int count) {
    return aacStreamOpenEx32(0, 0, 44100, 128, 2, 0, 0, 1, 2, 0, 0, 9, nullptr, nullptr, nullptr, nullptr, nullptr,
                             2026, keys, values, count);
  };
  EXPECT_EQ(openEx(&key, &value, -1), nullptr);
  EXPECT_EQ(openEx(nullptr, nullptr, 1), nullptr);
  EXPECT_EQ(openEx(&key, nullptr, 1), nullptr);
  for (StreamContext* accepted : {openEx(nullptr, nullptr, 0), Open({.rate = 96000, .kbps = 576, .channels = 1})}) {
    EXPECT_NE(accepted, nullptr);  // no options at all; exactly 6144 bits per channel and frame
    aacStreamDestroy32(accepted);
  }
}

TEST(StreamOpen, DocumentedOddArgumentsStillGiveAStream) {
  const struct { int read, write, lfe, preset, lcOnly, quality, psyOption, year; } cases[] = {
      {2, 2, 0, 0, 0, INT_MIN, INT_MIN, INT_MIN},  // flags other than 1 mean memory I/O
      {-1, -1, 0, INT_MAX, INT_MAX, INT_MAX, INT_MAX, INT_MAX},
      {0, 0, 0, INT_MIN, -5, -3, 2, -1},
      {0, 0, 0, -256, 1, 12, 1, 0},  // negative preset with bit 8: the alternative bandwidth rule
      {0, 0, 0, 256, 1, 10, 0, 0},
      {0, 0, INT_MIN, 10, 1, -1, 0, 0},  // five channels: lfe has nothing to act on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "preset " << c.preset << " quality " << c.quality);
    StreamContext* s = aacStreamOpen32(c.read, c.write, 32000, 160, 5, c.lfe, c.preset, c.lcOnly, 2, 0, c.psyOption,
                                       c.quality, nullptr, nullptr, nullptr, nullptr, nullptr, c.year);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(ParsedFrames(Encode(s, 5, 3, 500).bytes), 5);
    aacStreamDestroy32(s);
  }
}

TEST(StreamOpen, OptionsOverrideTheArgumentsAndReachTheConfig) {
  StreamContext* s = Open({}, {AACSTREAM_OPT_BIT_RATE_KBPS, AACSTREAM_OPT_QUALITY, AACSTREAM_OPT_ADTS_HEADER_BITS,
                               AACSTREAM_OPT_TNS, AACSTREAM_OPT_CHANNELS},
                          {96, 5, 56, 0, 1});
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::tuple(s->bitRate, s->quality, s->adtsHeaderBits, s->tnsEnabled), std::tuple(96000, 5, 56, 0));
  unsigned char asc[2];
  int ascLength = 0;
  ASSERT_EQ(aacStreamAudioSpecificConfig32(s, asc, &ascLength), 0);
  EXPECT_EQ(ascLength, 2);
  EXPECT_EQ(asc[0] << 8 | asc[1], 0x1208);  // object type 2 (LC), rate index 4 (44100), 1 channel
  aacStreamDestroy32(s);
}

TEST(FrameDriver, KCallsGiveKPlusOneFramesTheFirstPrimesAndTheShortLastWritesItsFrame) {
  StreamContext* s = Open({}, {AACSTREAM_OPT_ADTS_HEADER_BITS}, {56});
  ASSERT_NE(s, nullptr);
  const EncodeRun run = Encode(s, 2, 5, 200);
  ASSERT_EQ(run.callBytes.size(), 6u);
  EXPECT_EQ(run.callBytes[0], 0);
  EXPECT_GT(*std::min_element(run.callBytes.begin() + 1, run.callBytes.end()), 0);
  EXPECT_TRUE(run.lastWroteAFrame) << "the tool counts the frame of a short last call";
  EXPECT_EQ(ParsedFrames(run.bytes, 56), 7);
  EXPECT_EQ(s->pipelineFrameCount, 8);
  aacStreamDestroy32(s);
  // A last call of no samples writes nothing and says so: a host that trusts the length must not
  // write a stale count of bytes.
  s = Open({});
  const EncodeRun empty = Encode(s, 2, 3, 0);
  ASSERT_EQ(empty.callBytes.size(), 4u);
  EXPECT_EQ(empty.callBytes[3], 0);
  aacStreamDestroy32(s);
}

TEST(FrameDriver, BadEncodeArgumentsAreRefusedWithoutWritingAndTheStreamGoesOn) {
  StreamContext* s = Open({});
  ASSERT_NE(s, nullptr);
  ASSERT_GE(aacStreamMaxOutputBytes32(s), s->maxFrameBytes + 100);
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)), kCanary);
  std::vector<short> pcm(2048, 1000);
  int length = 12345;
  EXPECT_EQ(aacStreamEncodeFrame32(nullptr, pcm.data(), out.data(), 2048, &length), 1);
  for (int count : {-1, INT_MIN, 2049, INT_MAX}) EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), count, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, out.data(), 1, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), nullptr, 2048, &length), 1);
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 2048, nullptr), 1);
  EXPECT_EQ(length, 12345);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);  // not ended yet
  EXPECT_TRUE(AllCanary(out));
  EXPECT_EQ(s->frameCount, -2);  // nothing ran
  EXPECT_EQ(ParsedFrames(Encode(s, 2, 3, 200).bytes), 5);
  aacStreamDestroy32(s);
}

TEST(FrameDriver, CallsAfterTheEndAndAfterCloseTouchNoBuffer) {
  StreamContext* s = Open({.rate = 48000, .kbps = 96, .channels = 1});
  ASSERT_NE(s, nullptr);
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)), kCanary);
  std::vector<short> pcm(1024, 500);
  int length = -1;
  ASSERT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 1024, &length), 0);
  ASSERT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 10, &length), 2);
  std::fill(out.begin(), out.end(), kCanary);
  // Ended: every call returns 2 with no bytes, whatever it passes.
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 1024, &length), 2);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, out.data(), INT_MAX, &length), 2);
  // The flush is delivered once, only with its arguments.
  EXPECT_EQ(aacStreamFlush32(s, nullptr, &length), 1);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), nullptr), 1);
  EXPECT_TRUE(AllCanary(out));
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 0);
  EXPECT_GT(length, 0);
  std::fill(out.begin(), out.end(), kCanary);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);
  EXPECT_EQ(length, 0);
  aacStreamClose32(s);
  aacStreamClose32(s);  // a second close does nothing
  // Closed: encode and flush are refused, the small queries still answer.
  EXPECT_EQ(aacStreamEncodeFrame32(s, pcm.data(), out.data(), 1024, &length), 1);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);
  EXPECT_TRUE(AllCanary(out));
  unsigned char asc[2];
  EXPECT_EQ(aacStreamAudioSpecificConfig32(s, asc, &length), 0);
  EXPECT_EQ(aacStreamAudioSpecificConfig32(s, nullptr, &length), 1);
  EXPECT_EQ(aacStreamAudioSpecificConfig32(s, asc, nullptr), 1);
  EXPECT_EQ(aacStreamAudioSpecificConfig32(nullptr, asc, &length), 1);
  EXPECT_GT(aacStreamMaxOutputBytes32(s), 0);
  EXPECT_EQ(aacStreamMaxOutputBytes32(nullptr), 0);
  WriteVelmorAACHeader(s, nullptr);
  WriteVelmorAACHeader(nullptr, stdout);
  aacStreamDestroy32(s);
  aacStreamClose32(nullptr);
  aacStreamDestroy32(nullptr);
  EXPECT_EQ(aacStreamFlush32(nullptr, out.data(), &length), 1);
}

TEST(FrameDriver, CloseWithoutEncodingLeavesAValidEmptyFile) {
  for (int header : {0, 1, 2}) {
    const std::string path = aacs::testing::TempPath("close_without_encode.aac");
    StreamContext* s = Open({.rate = 22050, .kbps = 64, .headerType = header, .write = 1, .out = path.c_str()});
    ASSERT_NE(s, nullptr);
    int length = -1;
    EXPECT_EQ(aacStreamFlush32(s, nullptr, &length), 1);
    aacStreamDestroy32(s);  // closes first
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(aacs::testing::ReadFile(path, bytes));
    std::remove(path.c_str());
    if (header == 1) {  // the ADIF header, with a bit rate of 0 for no frames
      aacs::test::AdifHeader adif;
      std::string error;
      ASSERT_TRUE(aacs::test::ParseAdifHeader(bytes.data(), bytes.size(), &adif, &error)) << error;
      EXPECT_EQ(static_cast<size_t>(adif.headerBytes), bytes.size());
      EXPECT_EQ(adif.bitRate, 0);
    } else {
      EXPECT_EQ(bytes.size(), 0u) << header;
    }
  }
}

// With file input and output, pcm, out and the sample count are ignored (null, negative, huge),
// and every frame, the flush's included, lands in the file.
TEST(FrameDriver, FileInputIgnoresPcmAndCountsAndFileOutputIgnoresOut) {
  const std::string wav = aacs::testing::TempPath("bad_input_in.wav"), aac = aacs::testing::TempPath("bad_input_out.aac");
  aacs::testing::Audio tone = aacs::testing::Sine(16000, 1, 0.2, 440, 8000);
  tone.samples.resize(2560);  // two and a half frames
  ASSERT_TRUE(aacs::testing::WriteWav(wav, tone));
  StreamContext* s = Open({.rate = 0, .kbps = 32, .channels = 0, .read = 1, .write = 1, .in = wav.c_str(), .out = aac.c_str()},
                          {AACSTREAM_OPT_ADTS_HEADER_BITS}, {56});
  ASSERT_NE(s, nullptr);
  int length = 0, result = 0, calls = 0;
  const int counts[] = {-1, INT_MAX, INT_MIN, 0};
  while ((result = aacStreamEncodeFrame32(s, nullptr, nullptr, counts[calls % 4], &length)) == 0) ++calls;
  EXPECT_EQ(result, 2);
  EXPECT_EQ(calls, 2);  // two full frames, then the half frame ends the stream
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, nullptr, 0, nullptr), 2);
  aacStreamDestroy32(s);
  std::vector<uint8_t> stream;
  EXPECT_TRUE(aacs::testing::ReadFile(aac, stream));
  std::remove(wav.c_str()), std::remove(aac.c_str());
  EXPECT_EQ(ParsedFrames(stream, 56), 4);
}

// The library's own files.  Input and output must differ: writing would destroy the input.
TEST(FileIo, TheInputIsNeverItsOwnOutput) {
  const std::string wav = aacs::testing::TempPath("same.wav"), link = aacs::testing::TempPath("same_link.wav");
  ASSERT_TRUE(aacs::testing::WriteWav(wav, aacs::testing::Sine(44100, 2, 0.5, 440, 8000)));
  ASSERT_EQ(::link(wav.c_str(), link.c_str()), 0);
  std::vector<uint8_t> before, after;
  ASSERT_TRUE(aacs::testing::ReadFile(wav, before));
  for (const std::string& out : {wav, link}) {
    testing::internal::CaptureStderr();
    EXPECT_EQ(Open({.rate = 0, .read = 1, .write = 1, .in = wav.c_str(), .out = out.c_str()}), nullptr) << out;
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "aacstream: '" + out + "' is both the input and the output: writing the stream would destroy the input\n");
  }
  ASSERT_TRUE(aacs::testing::ReadFile(wav, after));
  EXPECT_EQ(after, before);
  testing::internal::CaptureStderr();
  EXPECT_EQ(Open({.write = 1, .out = "/nonexistent/dir/out.aac"}), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "aacstream: cannot create '/nonexistent/dir/out.aac': No such file or directory\n");
  std::remove(wav.c_str()), std::remove(link.c_str());
}

// Encodes a WAV file through the library's file input and output under a file-size limit;
// returns every call's result and the status after close, with what the library printed.
struct LimitedRun {
  std::vector<int> results;
  int status = -1;
  std::string err;
};
LimitedRun EncodeUnderSizeLimit(const std::string& wav, const std::string& out, rlim_t limitBytes) {
  LimitedRun run;
  rlimit saved{}, limited{};
  getrlimit(RLIMIT_FSIZE, &saved);
  limited = {limitBytes, saved.rlim_max};
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  testing::internal::CaptureStderr();
  setrlimit(RLIMIT_FSIZE, &limited);
  StreamContext* s = Open({.rate = 0, .read = 1, .write = 1, .in = wav.c_str(), .out = out.c_str()});
  if (s != nullptr) {
    int length = 0;
    do run.results.push_back(aacStreamEncodeFrame32(s, nullptr, nullptr, 0, &length));
    while (run.results.back() == 0 && run.results.size() < 1000);
    run.results.push_back(aacStreamEncodeFrame32(s, nullptr, nullptr, 0, &length));  // after the end or the failure
    aacStreamClose32(s);
    run.status = aacStreamStatus32(s);
    aacStreamDestroy32(s);
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  run.err = testing::internal::GetCapturedStderr();
  std::signal(SIGXFSZ, previous);
  return run;
}

// A failed write stops the stream with result 3 (mid-stream, or at the flush that ends it), says
// so once on stderr, and the status query tells the host after close.  A stream that fits is
// untouched by the same limit.
TEST(FileIo, AFailedWriteStopsTheStreamAndIsReported) {
  const std::string wav = aacs::testing::TempPath("limited_in.wav"), out = aacs::testing::TempPath("limited_out.aac");
  const std::string tooLarge = "aacstream: cannot write '" + out + "': File too large\n";
  ASSERT_TRUE(aacs::testing::WriteWav(wav, aacs::testing::Load("orchestral_3s.wav")));  // about 45 KB of stream
  LimitedRun run = EncodeUnderSizeLimit(wav, out, 16384);
  ASSERT_GE(run.results.size(), 3u);
  EXPECT_EQ(run.results.end()[-2], AACSTREAM_RESULT_IO_ERROR);
  EXPECT_EQ(run.results.back(), AACSTREAM_RESULT_IO_ERROR) << "the stream went on after a failed write";
  EXPECT_LT(run.results.size(), 100u) << "the failure was noticed late";
  EXPECT_EQ(run.status, AACSTREAM_STATUS_WRITE_FAILED);
  EXPECT_EQ(run.err, tooLarge);
  // Under 4 KB of stream (0.15 s): everything sits in the file buffer until the end flushes it.
  aacs::testing::Audio start = aacs::testing::Load("orchestral_3s.wav");
  start.samples.resize(2 * 6615);
  ASSERT_TRUE(aacs::testing::WriteWav(wav, start));
  run = EncodeUnderSizeLimit(wav, out, 1024);
  EXPECT_EQ(run.results.end()[-2], AACSTREAM_RESULT_IO_ERROR);
  EXPECT_EQ(run.status, AACSTREAM_STATUS_WRITE_FAILED);
  EXPECT_EQ(run.err, tooLarge);
  run = EncodeUnderSizeLimit(wav, out, 1 << 20);
  EXPECT_EQ(run.results.end()[-2], 2);
  EXPECT_EQ(run.status, AACSTREAM_STATUS_OK);
  EXPECT_EQ(run.err, "");
  std::remove(wav.c_str()), std::remove(out.c_str());
}

// An input that shrinks while it is encoded is a failed read, not a shorter stream.
TEST(FileIo, AnInputThatShrinksMidStreamIsAFailedRead) {
  const std::string wav = aacs::testing::TempPath("shrinking.wav");
  ASSERT_TRUE(aacs::testing::WriteWav(wav, aacs::testing::Sine(44100, 2, 3.0, 440, 8000)));
  StreamContext* s = Open({.rate = 0, .read = 1, .in = wav.c_str()});
  ASSERT_NE(s, nullptr);
  std::vector<unsigned char> out(static_cast<size_t>(aacStreamMaxOutputBytes32(s)));
  int length = -1, result = 0, calls = 0;
  testing::internal::CaptureStderr();
  for (; result == 0 && calls < 200; ++calls) {
    if (calls == 3) {
      ASSERT_EQ(::truncate(wav.c_str(), 44 + 40000), 0);
    }
    result = aacStreamEncodeFrame32(s, nullptr, out.data(), 0, &length);
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "aacstream: reading '" + wav + "' failed: the file ended before its audio data did (did it change while "
            "being encoded?)\n");
  EXPECT_EQ(result, AACSTREAM_RESULT_IO_ERROR);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(aacStreamStatus32(s), AACSTREAM_STATUS_READ_FAILED);
  EXPECT_EQ(aacStreamEncodeFrame32(s, nullptr, out.data(), 0, &length), AACSTREAM_RESULT_IO_ERROR);
  EXPECT_EQ(aacStreamFlush32(s, out.data(), &length), 1);
  aacStreamDestroy32(s);
  EXPECT_EQ(aacStreamStatus32(nullptr), -1);
  std::remove(wav.c_str());
}

// Every rate that open accepts has the psychoacoustic band table the model needs at its first
// frame (its absence would end the process).
TEST(BadInput, EveryAcceptedRateHasItsModelBandTable) {
  for (int rate : {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000})
    EXPECT_NE(aacs::enc::FindCbAdaptRow(rate), nullptr) << rate;
}

}  // namespace
