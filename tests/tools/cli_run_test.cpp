// The aacstream binary end to end: every option's effect in the files it writes (as ffprobe,
// FFmpeg and faad see them), every error path with its message and exit status, and the
// guarantee that a failure never leaves a partial file or destroys an existing one.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "aacstream/aacstream.h"
#include "cli_support.h"
#include "mp4_writer.h"
#include "support/audio_support.h"

namespace aacs::testing {
namespace {

constexpr int kOrchestralFrames = 132300;  // orchestral_3s.wav: 3 s at 44.1 kHz, stereo

int CountLines(const std::string& s) { return int(std::count(s.begin(), s.end(), '\n')); }
bool Contains(const std::string& haystack, const std::string& needle) { return haystack.find(needle) != std::string::npos; }

// Frames of a stream of `samples` input samples per channel: one per 1024, rounded up, plus one.
int ExpectedFrames(int64_t samples) { return int((samples + 1023) / 1024 + 1); }

// The lowest SNR over the frames of 1024 samples after the first two (the encoder's start-up):
// one wrong or repeated frame shows here even when the SNR of the whole clip hides it.
double WorstFrameSnrDb(const Audio& reference, const Audio& decoded) {
  double worst = 1e9;
  for (int start = 2048; start + 1024 <= std::min(reference.Frames(), decoded.Frames()); start += 1024) {
    double signal = 0, noise = 0;
    for (int i = start; i < start + 1024; ++i)
      for (int c = 0; c < reference.channels; ++c) {
        const double r = reference.At(i, c), d = decoded.At(i, c);
        signal += r * r;
        noise += (d - r) * (d - r);
      }
    if (signal > 1e6) worst = std::min(worst, 10 * std::log10(signal / (noise + 1e-9)));
  }
  return worst;
}

void ExpectProbe(const std::string& path, const std::map<std::string, std::string>& want) {
  const auto probe = Probe(path);
  for (const auto& [key, value] : want) {
    const auto it = probe.find(key);
    EXPECT_EQ(it == probe.end() ? "(missing)" : it->second, value) << key << " of " << path;
  }
}

double Kbps(size_t bytes, double seconds) { return double(bytes) * 8.0 / seconds / 1000.0; }

class Cli : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
  }
  void TearDown() override { std::system(("rm -rf " + ShellQuote(dir_)).c_str()); }

  std::string P(const std::string& name) const { return dir_ + "/" + name; }

  static CliRun Ok(const std::vector<std::string>& args) {
    CliRun run = RunCli(args);
    EXPECT_EQ(run.status, 0) << run.err;
    return run;
  }

  Decoded DecodeM4a(const std::string& name) const { return DecodeFfmpeg(ReadBytes(P(name)), ".m4a"); }

  // Copies a clip of tests/data into the test directory (outputs land beside their input).
  std::string Clip(const std::string& name, const std::string& as = "") {
    const std::string path = P(as.empty() ? name : as);
    EXPECT_TRUE(WriteFile(path, ReadBytes(DataPath(name)))) << name;
    return path;
  }

  std::string dir_;
};

TEST_F(Cli, M4aOfWholeFramesDecodesToExactlyTheInputSamples) {
  Audio in;
  ASSERT_TRUE(ReadWav(DataPath("orchestral_3s.wav"), in));
  in.samples.resize(size_t(100 * 1024 * in.channels));  // a whole number of frames: no end padding
  ASSERT_TRUE(WriteWav(P("whole.wav"), in));
  Ok({P("whole.wav")});
  ExpectProbe(P("whole.m4a"), {{"codec_name", "aac"}, {"profile", "LC"}, {"sample_rate", "44100"}, {"channels", "2"},
                               {"duration_ts", "102400"}});
  const Decoded dec = DecodeM4a("whole.m4a");
  EXPECT_EQ(dec.status, 0);
  EXPECT_EQ(dec.errors, "");
  EXPECT_EQ(dec.audio.Frames(), 102400);
  EXPECT_EQ(FindDelay(in, dec.audio, 2048), 0) << "the priming is not hidden exactly";
  EXPECT_GT(SnrDb(in, dec.audio, 0), 12.0);
  EXPECT_GT(WorstFrameSnrDb(in, dec.audio), 8.0) << "a frame is missing, repeated or out of place";
}

TEST_F(Cli, M4aDeclaresDelayPaddingAndTagsAndStartsGapFree) {
  const std::string input = Clip("orchestral_3s.wav");
  Ok({"--title", "Desert Night", "--artist", "S. P.", "--album", "Hyperrogue", "--comment", "take 2", input});
  const int padding = ExpectedFrames(kOrchestralFrames) * 1024 - 1024 - kOrchestralFrames;
  ExpectProbe(P("orchestral_3s.m4a"),
              {{"duration_ts", std::to_string(kOrchestralFrames)}, {"duration", "3.000000"},
               {"TAG:iTunSMPB", aacs::tools::ITunSmpbText(1024, padding, kOrchestralFrames)},
               {"TAG:title", "Desert Night"}, {"TAG:artist", "S. P."}, {"TAG:album", "Hyperrogue"}, {"TAG:comment", "take 2"}});
  EXPECT_EQ(Probe(P("orchestral_3s.m4a"))["TAG:encoder"].rfind("aacstream ", 0), 0u);
  Audio in;
  ASSERT_TRUE(ReadWav(input, in));
  const Decoded dec = DecodeM4a("orchestral_3s.m4a");
  EXPECT_EQ(dec.errors, "");
  EXPECT_EQ(FindDelay(in, dec.audio, 2048), 0);
  // A decoder that applies the whole edit gives exactly the input's length; FFmpeg 5.1 applies
  // its start but keeps the declared padding at the end.
  EXPECT_TRUE(dec.audio.Frames() == kOrchestralFrames || dec.audio.Frames() == kOrchestralFrames + padding)
      << dec.audio.Frames();
  EXPECT_NEAR(Kbps(ReadBytes(P("orchestral_3s.m4a")).size(), 3.0), 120, 20);  // default: 64 kbit/s per channel
}

// --rate resamples keeping the duration; mono stays mono and --lfe makes six channels 5.1.
TEST_F(Cli, RateAndChannelLayoutsReachTheFile) {
  Ok({"--rate", "32000", Clip("speech_16k_mono_3s.wav")});
  ExpectProbe(P("speech_16k_mono_3s.m4a"), {{"channels", "1"}, {"sample_rate", "32000"}, {"duration_ts", "96000"}});
  Decoded dec = DecodeM4a("speech_16k_mono_3s.m4a");
  EXPECT_EQ(dec.errors, "");
  EXPECT_EQ(dec.audio.sampleRate, 32000);
  EXPECT_NEAR(dec.audio.Frames(), 96000 + 511.5, 512);

  Ok({"--rate", "22050", Clip("orchestral_3s.wav"), "-o", P("r.aac")});
  const AdtsWalk walk = WalkAdts(ReadBytes(P("r.aac")), 56);
  EXPECT_EQ(std::pair(walk.sampleRateIndex, walk.frames), std::pair(7, ExpectedFrames(66150)));

  const CliRun run = Ok({"--lfe", Clip("surround_5.1_48k_1.5s.wav", "surround.wav")});
  ExpectProbe(P("surround.m4a"), {{"channels", "6"}, {"channel_layout", "5.1"}, {"sample_rate", "48000"}});
  dec = DecodeM4a("surround.m4a");
  EXPECT_EQ(dec.errors, "");
  EXPECT_EQ(dec.audio.channels, 6);
  EXPECT_TRUE(Contains(run.out, "5.1")) << run.out;
}

uint32_t Le32At(const std::vector<uint8_t>& b, size_t at) {
  return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 | uint32_t(b[at + 3]) << 24;
}

// Splits a file into the stream and the trailer record (whose second-last word is its size).
bool SplitTrailer(const std::vector<uint8_t>& file, std::vector<uint8_t>& stream, std::vector<uint8_t>& trailer) {
  if (file.size() < 8 || Le32At(file, file.size() - 4) != 0xABCCABCCu) return false;
  const size_t size = Le32At(file, file.size() - 8) + size_t{8};
  if (size > file.size()) return false;
  stream.assign(file.begin(), file.end() - long(size));
  trailer.assign(file.end() - long(size), file.end());
  return true;
}

// ADTS with the 56-bit header (FFmpeg) or the legacy 58-bit one (faad), the trailer after the last
// frame, ADIF (faad) and raw blocks at the asked bit rate.
TEST_F(Cli, AdtsAdifAndRawOutputsDecodeAndCarryTheTrailer) {
  const std::string input = Clip("harpsichord_3s.wav");
  Ok({input, "-o", P("new.aac")});
  const std::vector<uint8_t> modern = ReadBytes(P("new.aac"));
  const AdtsWalk walk = WalkAdts(modern, 56);
  EXPECT_EQ(std::tuple(walk.frames, walk.profile, walk.channelConfig), std::tuple(ExpectedFrames(kOrchestralFrames), 1, 2));
  EXPECT_EQ(DecodeFfmpeg(modern).errors, "");

  Ok({"--adts-legacy", input, "-o", P("old.aac")});
  const std::vector<uint8_t> legacy = ReadBytes(P("old.aac"));
  EXPECT_EQ(WalkAdts(legacy, 58).frames, ExpectedFrames(kOrchestralFrames));
  EXPECT_EQ(WalkAdts(legacy, 56).frames, -1);
  const Decoded faad = DecodeFaad(legacy, true);
  EXPECT_EQ(faad.status, 0) << faad.errors;
  EXPECT_EQ(faad.audio.channels, 2);

  Ok({input, "-o", P("t.aac"), "--trailer", "one", "two", "three", "--year", "2001"});
  std::vector<uint8_t> stream, trailer;
  ASSERT_TRUE(SplitTrailer(ReadBytes(P("t.aac")), stream, trailer));
  EXPECT_EQ(WalkAdts(stream, 56).frames, ExpectedFrames(kOrchestralFrames)) << "the trailer is not after the last frame";
  EXPECT_EQ(Le32At(trailer, 0), 44100u);
  const std::string text(trailer.begin(), trailer.end());
  EXPECT_TRUE(Contains(text, std::string("\x04\0\0\0one\0", 8)));
  EXPECT_TRUE(Contains(text, std::string("\x06\0\0\0three\0", 10)));
  EXPECT_EQ(Le32At(trailer, trailer.size() - 20), 2001u);  // year, two zero words, size, magic

  Ok({input, "-o", P("o.adif"), "-b", "96"});
  const std::vector<uint8_t> adif = ReadBytes(P("o.adif"));
  ASSERT_GT(adif.size(), 4u);
  EXPECT_EQ(std::string(adif.begin(), adif.begin() + 4), "ADIF");
  const Decoded faadAdif = DecodeFaad(adif, false, ".adif");
  EXPECT_EQ(faadAdif.status, 0) << faadAdif.errors;
  EXPECT_GT(faadAdif.audio.Frames(), kOrchestralFrames - 1024);

  // Raw blocks with only a year: no header, three empty texts in the trailer.
  Ok({input, "-f", "raw", "-o", P("o.bin"), "-b", "96", "--year", "1990"});
  ASSERT_TRUE(SplitTrailer(ReadBytes(P("o.bin")), stream, trailer));
  EXPECT_EQ(trailer.size(), 48u);
  EXPECT_EQ(Le32At(trailer, 28), 1990u);
  EXPECT_NE(std::string(stream.begin(), stream.begin() + 4), "ADIF");
  EXPECT_EQ(WalkAdts(stream, 56).frames, -1);
  EXPECT_NEAR(Kbps(stream.size(), 3.0), 96, 15);
}

TEST_F(Cli, EncoderChoicesChangeTheStreamAndStillDecode) {
  const std::string input = Clip("music_pop_3s.wav");
  Ok({input, "-o", P("default.aac")});
  const std::vector<uint8_t> reference = ReadBytes(P("default.aac"));
  const std::vector<std::vector<std::string>> variants = {
      {"-q", "0"}, {"--preset", "5"}, {"--bandwidth", "5000"}, {"--psy-noise"}, {"--cbr"}, {"--vbr", "2"}};
  for (const auto& v : variants) {
    std::vector<std::string> args = v;
    args.insert(args.end(), {input, "-o", P("variant.aac"), "-y"});
    const CliRun run = RunCli(args);
    ASSERT_EQ(run.status, 0) << v[0] << ": " << run.err;
    const std::vector<uint8_t> bytes = ReadBytes(P("variant.aac"));
    EXPECT_NE(bytes, reference) << v[0] << " made no difference";
    const Decoded dec = DecodeFfmpeg(bytes);
    EXPECT_EQ(dec.errors, "") << v[0];
    if (v[0] == "--bandwidth") {
      EXPECT_LT(BandwidthHz(dec.audio), 6500) << "bandwidth option ignored";
      EXPECT_GT(BandwidthHz(DecodeFfmpeg(reference).audio), 9000);
    }
  }
}

// The library may not code Main and LTP yet: then the tool must say so; once it does, the
// profile must reach the stream headers.
bool LibraryCodes(int profile) {
  const int keys[] = {AACSTREAM_OPT_PROFILE}, values[] = {profile};
  StreamContext* s = aacStreamOpenEx32(0, 0, 44100, 128, 2, 0, 0, 0, 2, 0, 0, 9, nullptr, nullptr, nullptr, nullptr,
                                       nullptr, 0, keys, values, 1);
  aacStreamDestroy32(s);
  return s != nullptr;
}

TEST_F(Cli, ProfileReachesTheHeadersOrIsRefusedClearly) {
  const std::string input = Clip("drums_3s.wav");
  // The ADTS profile field is also the library's profile option value.
  const struct { std::string name; int field; std::string said; } profiles[] = {{"main", 0, "Main"}, {"ltp", 3, "LTP"}};
  for (const auto& p : profiles) {
    const CliRun run = RunCli({"--profile", p.name, input, "-o", P(p.name + ".aac")});
    if (LibraryCodes(p.field)) {
      ASSERT_EQ(run.status, 0) << run.err;
      EXPECT_EQ(WalkAdts(ReadBytes(P(p.name + ".aac")), 56).profile, p.field);
      Ok({"--profile", p.name, input, "-o", P(p.name + ".m4a")});
      ExpectProbe(P(p.name + ".m4a"), {{"profile", p.said}});
    } else {
      EXPECT_EQ(run.status, 1);
      EXPECT_EQ(run.err, "aacstream: the " + p.said + " profile is not available: this libaacstream refuses to open " +
                             p.said + " streams (use --profile lc)\n");
      EXPECT_FALSE(FileExists(P(p.name + ".aac")));
    }
  }
  Ok({"--profile", "LC", input, "-o", P("lc.m4a")});
  ExpectProbe(P("lc.m4a"), {{"profile", "LC"}});
}

TEST_F(Cli, BadInputsAndValuesFailWithOneLineAndLeaveNothing) {
  const std::string stereo = Clip("orchestral_3s.wav", "stereo.wav"), mono = Clip("speech_16k_mono_3s.wav", "mono.wav"),
                    surround = Clip("surround_5.1_48k_1.5s.wav", "surround.wav");
  ASSERT_TRUE(WriteFile(P("notes.wav"), std::vector<uint8_t>{'h', 'e', 'l', 'l', 'o', '\n'}));
  // A mono 32-bit float WAV of two samples.
  const std::string floatWav =
      std::string("RIFF,\0\0\0WAVEfmt \x10\0\0\0\3\0\1\0\x44\xAC\0\0\x10\xB1\2\0\4\0 \0data\x08\0\0\0", 44) +
      std::string(8, '\0');
  ASSERT_TRUE(WriteFile(P("float.wav"), std::vector<uint8_t>(floatWav.begin(), floatWav.end())));
  ASSERT_EQ(std::system(("mkdir " + ShellQuote(P("folder.wav"))).c_str()), 0);
  ASSERT_TRUE(WriteWav(P("7000hz.wav"), Sine(7000, 1, 0.5, 440.0, 8000.0)));
  std::vector<uint8_t> wav = ReadBytes(stereo);
  std::copy_n("RF64", 4, wav.begin());
  ASSERT_TRUE(WriteFile(P("rf64.wav"), wav));
  wav = ReadBytes(mono);  // 44-byte header: fmt at 12, data at 36; move fmt behind the data
  std::vector<uint8_t> moved(wav.size());
  std::copy(wav.begin(), wav.begin() + 12, moved.begin());
  std::copy(wav.begin() + 36, wav.end(), moved.begin() + 12);
  std::copy(wav.begin() + 12, wav.begin() + 36, moved.end() - 24);
  ASSERT_TRUE(WriteFile(P("data_first.wav"), moved));
  const std::vector<std::string> before = ListDir(dir_);

  const struct { std::vector<std::string> args; int status; std::string message; } cases[] = {
      {{P("missing.wav")}, 1, "aacstream: cannot open '" + P("missing.wav") + "': No such file or directory"},
      {{P("notes.wav")}, 1, "aacstream: cannot encode '" + P("notes.wav") + "': not a WAV file (no RIFF/WAVE header)"},
      {{P("float.wav")}, 1, "floating-point samples are not supported"},
      {{P("folder.wav")}, 1, "is a directory, not a WAV file"},
      {{"-"}, 2, "aacstream: reading from standard input ('-') is not supported"},
      {{"-q", "10", stereo}, 2, "aacstream: -q: 10 is out of range (0 to 9)"},
      {{"--rate", "44000", stereo}, 2, "is not an AAC sampling rate"},
      {{P("7000hz.wav")}, 1, "cannot encode '" + P("7000hz.wav") + "': its sampling rate 7000 Hz is not one AAC codes: "
                              "resample it with --rate 8000 (or another AAC rate)"},
      {{P("rf64.wav")}, 1, "cannot encode '" + P("rf64.wav") + "': RF64 (64-bit WAV) files are not supported"},
      {{P("data_first.wav")}, 1, "its data chunk comes before its fmt chunk"},
      {{"--bandwidth", "100", stereo}, 2, "--bandwidth: 100 Hz is out of range"},
      {{"-b", "1000", mono}, 1, "cannot encode '" + mono + "' at 1000 kbit/s: the most for 1 channel at 16000 Hz is "
                                 "96 kbit/s (use -b 96 or less)"},
      {{"-b", "16", surround}, 1, "cannot encode '" + surround + "' at 16 kbit/s: the least for 6 channels at 48000 Hz "
                                  "is 18 kbit/s (use -b 18 or more)"},
      {{"--lfe", stereo}, 1, "--lfe applies to 6-channel (5.1) input"},
      {{stereo, "-o", P("nodir/out.m4a")}, 1, "directory '" + P("nodir") + "' does not exist"},
      {{stereo, "-o", P("out.ogg")}, 2, "cannot tell the output format"},
      {{stereo, "--title", "x", "-o", P("x.aac")}, 2, "aacstream: --title, --artist"},
      {{"--bogus", stereo}, 2, "aacstream: unknown option '--bogus'"},
  };
  for (const auto& c : cases) {
    const CliRun run = RunCli(c.args);
    EXPECT_EQ(run.status, c.status) << c.message << "\n" << run.err;
    EXPECT_TRUE(Contains(run.err, c.message)) << "expected: " << c.message << "\ngot: " << run.err;
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(ListDir(dir_), before) << "a failed run left a file behind: " << c.message;
  }
}

TEST_F(Cli, ExistingOutputIsKeptUnlessOverwriteIsGiven) {
  const std::string input = Clip("drums_3s.wav");
  const std::vector<uint8_t> precious = {'p', 'r', 'e', 'c', 'i', 'o', 'u', 's'};
  ASSERT_TRUE(WriteFile(P("drums_3s.m4a"), precious));
  CliRun run = RunCli({input});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.err, "aacstream: '" + P("drums_3s.m4a") + "' already exists (use -y to overwrite it)\n");
  EXPECT_EQ(ReadBytes(P("drums_3s.m4a")), precious);

  Ok({"-y", input});
  const std::vector<uint8_t> replaced = ReadBytes(P("drums_3s.m4a"));
  ASSERT_GT(replaced.size(), 8u);
  EXPECT_EQ(std::string(replaced.begin() + 4, replaced.begin() + 8), "ftyp");
  EXPECT_EQ(ListDir(dir_), (std::vector<std::string>{"drums_3s.m4a", "drums_3s.wav"}));
}

TEST_F(Cli, AFailedWriteLeavesNoPartialFileAndKeepsTheOldOne) {
  const std::string input = Clip("orchestral_3s.wav");
  const std::vector<uint8_t> precious = {'o', 'l', 'd'};
  for (const char* name : {"orchestral_3s.m4a", "orchestral_3s.aac"}) {
    ASSERT_TRUE(WriteFile(P(name), precious));
    // A 10 KiB file-size limit: the output (about 45 KB) cannot be written whole.
    const CliRun run = RunCli({"-y", input, "-o", P(name)}, "ulimit -f 20;");
    EXPECT_EQ(run.status, 1) << name;
    EXPECT_TRUE(Contains(run.err, "cannot write '" + P(name) + "': File too large")) << run.err;
    EXPECT_EQ(CountLines(run.err), 1) << run.err;
    EXPECT_EQ(ReadBytes(P(name)), precious) << name;
  }
  EXPECT_EQ(ListDir(dir_), (std::vector<std::string>{"orchestral_3s.aac", "orchestral_3s.m4a", "orchestral_3s.wav"}));
}

// -y never replaces what is not a regular file: devices and FIFOs are written through (an M4A
// through an anonymous file copied at the end), /dev/stdout is the standard output itself (the
// summary then goes to stderr), a link is followed and its target replaced, other kinds are
// refused.  Also a name so long that the usual temporary name would not fit.
TEST_F(Cli, NonRegularTargetsAreWrittenThroughAndLinksAreFollowed) {
  if (::geteuid() != 0) GTEST_SKIP() << "device nodes need root (CI runs as root)";
  const std::string input = Clip("harpsichord_3s.wav");
  ASSERT_EQ(::mknod(P("null").c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);  // a private /dev/null
  ASSERT_EQ(::mknod(P("block").c_str(), S_IFBLK | 0600, makedev(7, 0)), 0);
  ASSERT_EQ(::mkfifo(P("fifo").c_str(), 0600), 0);
  for (const char* format : {"adts", "m4a"}) Ok({"-y", "-f", format, input, "-o", P("null")});
  struct stat st;
  ASSERT_EQ(::stat(P("null").c_str(), &st), 0);
  EXPECT_TRUE(S_ISCHR(st.st_mode)) << "the device was replaced";

  // The reader of the FIFO runs beside the encoder and keeps what it reads.
  const CliRun fifo = RunCli({"-f", "adts", input, "-o", P("fifo")},
                             "(timeout 30 cat " + ShellQuote(P("fifo")) + " > " + ShellQuote(P("from_fifo.aac")) + "; touch " +
                                 ShellQuote(P("fifo_done")) + ") &");
  EXPECT_EQ(fifo.status, 0) << fifo.err;
  for (int i = 0; i < 500 && !FileExists(P("fifo_done")); ++i) ::usleep(10000);
  EXPECT_EQ(WalkAdts(ReadBytes(P("from_fifo.aac")), 56).frames, ExpectedFrames(kOrchestralFrames));

  const CliRun piped = RunCli({"-f", "m4a", input, "-o", "/dev/stdout"});
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out.substr(4, 4), "ftyp");
  EXPECT_TRUE(Contains(piped.err, " -> /dev/stdout: 0:03.0")) << piped.err;
  EXPECT_EQ(DecodeFfmpeg(std::vector<uint8_t>(piped.out.begin(), piped.out.end()), ".m4a").errors, "");

  ASSERT_TRUE(WriteFile(P("real.aac"), std::vector<uint8_t>{'o', 'l', 'd'}));
  ASSERT_EQ(::symlink("real.aac", P("link.aac").c_str()), 0);
  EXPECT_EQ(RunCli({input, "-o", P("link.aac")}).status, 1) << "an existing link target needs -y";
  Ok({"-y", input, "-o", P("link.aac")});
  ASSERT_EQ(::lstat(P("link.aac").c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode)) << "the link was replaced";
  EXPECT_EQ(WalkAdts(ReadBytes(P("real.aac")), 56).frames, ExpectedFrames(kOrchestralFrames));

  const CliRun block = RunCli({"-y", "-f", "adts", input, "-o", P("block")});
  EXPECT_EQ(block.status, 1);
  EXPECT_EQ(block.err, "aacstream: cannot write '" + P("block") + "': it is a block device\n");
  ASSERT_EQ(::stat(P("block").c_str(), &st), 0);
  EXPECT_TRUE(S_ISBLK(st.st_mode));

  const std::string longName(251, 'n');
  Ok({input, "-o", P(longName + ".aac")});
  EXPECT_EQ(WalkAdts(ReadBytes(P(longName + ".aac")), 56).frames, ExpectedFrames(kOrchestralFrames));
  for (const std::string& name : ListDir(dir_)) EXPECT_NE(name[0], '.') << "a temporary file was left: " << name;
}

// A reader that goes away (SIGPIPE on the summary) neither kills the batch nor leaves a temporary
// file: every file is encoded, and the lost summary is reported.
TEST_F(Cli, AClosedStandardOutputLosesNoFile) {
  const std::vector<std::string> inputs = {Clip("orchestral_3s.wav"), Clip("drums_3s.wav"), Clip("castanets_3s.wav")};
  ASSERT_EQ(::mkdir(P("out").c_str(), 0755), 0);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // nobody will ever read
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    const int err = ::open(P("err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(err, STDERR_FILENO);
    std::vector<char*> argv = {const_cast<char*>(AACS_CLI_BINARY), const_cast<char*>("-j"), const_cast<char*>("2")};
    for (const std::string& in : inputs) argv.push_back(const_cast<char*>(in.c_str()));
    const std::string out = P("out/");
    argv.insert(argv.end(), {const_cast<char*>("-o"), const_cast<char*>(out.c_str()), nullptr});
    ::execv(AACS_CLI_BINARY, argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 1);
  const std::vector<uint8_t> err = ReadBytes(P("err.txt"));
  EXPECT_EQ(std::string(err.begin(), err.end()),
            "aacstream: standard output was closed: the summary could not be written (every output is complete)\n");
  EXPECT_EQ(ListDir(P("out")), (std::vector<std::string>{"castanets_3s.m4a", "drums_3s.m4a", "orchestral_3s.m4a"}));
}

// An input that shrinks while it is being encoded fails the encode in every output form, the
// resampled raw and ADIF streams (which have no frame count to check) included.
TEST_F(Cli, AnInputThatShrinksWhileEncodedFailsEveryOutputForm) {
  Audio in = Sine(44100, 2, 120.0, 440.0, 8000.0, 110.0);  // 21 MB: long enough to catch mid-read
  ASSERT_TRUE(WriteWav(P("long.wav"), in));
  const struct { std::vector<std::string> args; std::string output; } forms[] = {
      {{"-f", "raw", "--rate", "32000"}, "long.raw"}, {{"-f", "adif", "--rate", "32000"}, "long.adif"},
      {{"-f", "m4a"}, "long.m4a"}};
  for (const auto& form : forms) {
    ASSERT_EQ(std::system(("cp " + ShellQuote(P("long.wav")) + " " + ShellQuote(P("in.wav"))).c_str()), 0);
    // Cuts the file once the encoder (the watcher's parent, after its exec) has read 2 MB of it.
    const std::string in = ShellQuote(P("in.wav"));
    const std::string watcher =
        "(read _ _ _ pid _ < /proc/self/stat; for i in $(seq 5000); do [ -d /proc/$pid ] || exit; "
        "for f in /proc/$pid/fd/*; do if [ \"$(readlink $f)\" = " + in + " ]; then "
        "pos=$(awk '/^pos/ {print $2}' /proc/$pid/fdinfo/${f##*/}); "
        "if [ \"${pos:-0}\" -gt 2000000 ]; then truncate -s 1000000 " + in + "; exit; fi; fi; done; sleep 0.002; "
        "done) >/dev/null 2>&1 &";
    std::vector<std::string> args = form.args;
    args.insert(args.end(), {P("in.wav"), "-o", P(form.output)});
    const CliRun run = RunCli(args, watcher);
    EXPECT_EQ(run.status, 1) << form.output << ": " << run.err;
    EXPECT_TRUE(Contains(run.err, "reading '" + P("in.wav") + "' failed")) << run.err;
    EXPECT_FALSE(FileExists(P(form.output)));
  }
}

TEST_F(Cli, CutShortInputIsEncodedWithAWarning) {
  std::vector<uint8_t> bytes = ReadBytes(DataPath("orchestral_3s.wav"));
  bytes.resize(bytes.size() - 4 * 32300);  // the header still promises 132300 sample frames
  ASSERT_TRUE(WriteFile(P("cut.wav"), bytes));
  const CliRun run = Ok({P("cut.wav")});
  EXPECT_TRUE(Contains(run.err, "warning: '" + P("cut.wav") + "' is cut short: its header promises 132300 sample "
                       "frames, the file holds 100000")) << run.err;
  ExpectProbe(P("cut.m4a"), {{"duration_ts", "100000"}});
  EXPECT_EQ(RunCli({"--quiet", "-y", P("cut.wav")}).err, "");
}

// A batch goes on past a file that fails and reports it; two jobs write the bytes of one.
TEST_F(Cli, ParallelJobsWriteTheSameBytesAsOneAtATimeAndGoOnPastAFailure) {
  const std::vector<std::string> inputs = {Clip("orchestral_3s.wav"), Clip("drums_3s.wav"), P("bad.wav"),
                                           Clip("castanets_3s.wav"), Clip("harpsichord_3s.wav")};
  ASSERT_TRUE(WriteFile(P("bad.wav"), std::vector<uint8_t>{'n', 'o', 'p', 'e'}));
  ASSERT_EQ(std::system(("mkdir " + ShellQuote(P("one")) + " " + ShellQuote(P("two"))).c_str()), 0);
  for (const char* jobs : {"1", "2"}) {
    std::vector<std::string> args = inputs;
    args.insert(args.end(), {"-j", jobs, "-o", P(jobs[0] == '1' ? "one" : "two/")});
    const CliRun run = RunCli(args);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_TRUE(Contains(run.err, "not a WAV file") && Contains(run.err, "aacstream: 1 of 5 files failed")) << run.err;
    EXPECT_EQ(CountLines(run.out), 4) << run.out;
  }
  ASSERT_EQ(ListDir(P("one")), ListDir(P("two")));
  ASSERT_EQ(ListDir(P("one")).size(), 4u);
  for (const std::string& name : ListDir(P("one")))
    EXPECT_EQ(ReadBytes(P("one/" + name)), ReadBytes(P("two/" + name))) << name;
}

TEST_F(Cli, SummaryOnStdoutNothingElseAndQuietSilencesIt) {
  const std::string input = Clip("orchestral_3s.wav");
  CliRun run = Ok({input, "-b", "96"});
  EXPECT_EQ(run.err, "");  // not a terminal: no progress line
  EXPECT_EQ(CountLines(run.out), 1);
  EXPECT_EQ(run.out.rfind(input + " -> " + P("orchestral_3s.m4a") + ": 0:03.0, M4A AAC-LC 44100 Hz stereo, ", 0), 0u)
      << run.out;
  EXPECT_TRUE(Contains(run.out, " kbit/s, ") && Contains(run.out, "x realtime\n")) << run.out;

  run = Ok({"--quiet", "-y", input});
  EXPECT_EQ(run.out + run.err, "");

  // The bit rate is over the stream's own duration: one input sample is not thousands of kbit/s.
  ASSERT_TRUE(WriteWav(P("one.wav"), Sine(44100, 2, 1.0 / 44100, 440.0, 8000.0)));
  run = Ok({P("one.wav"), "-o", P("one.aac")});
  const size_t at = run.out.find(" kbit/s");
  ASSERT_NE(at, std::string::npos) << run.out;
  EXPECT_LT(std::stod(run.out.substr(run.out.rfind(", ", at) + 2)), 64.0) << run.out;
}

TEST_F(Cli, DemoHelpAndVersion) {
  CliRun run = Ok({"--demo", "-o", P("demo.m4a")});
  EXPECT_TRUE(Contains(run.out, "orchestral_desert.wav -> " + P("demo.m4a") + ": 0:10.0")) << run.out;
  EXPECT_TRUE(Contains(run.out, "demo: the encoded sample is " + P("demo.m4a"))) << run.out;
  ExpectProbe(P("demo.m4a"), {{"duration", "10.000000"}});
  EXPECT_EQ(RunCli({"--demo", P("x.wav")}).status, 2);
  EXPECT_EQ(Ok({"--help"}).out.rfind("Usage: aacstream [options] INPUT.wav... [-o OUTPUT]", 0), 0u);
  EXPECT_EQ(Ok({"-V"}).out.rfind("aacstream 0.", 0), 0u);
}

}  // namespace
}  // namespace aacs::testing
