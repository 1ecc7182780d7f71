// Command-line parsing and output planning: the conventions users type and the combinations
// that must be refused before anything is encoded.
#include "cli_options.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "encode_job.h"
#include "progress.h"

namespace aacs::tools {
namespace {

struct Parsed { int status; CliOptions o; std::string error; };

Parsed Parse(std::vector<std::string> args) {
  args.insert(args.begin(), "aacstream");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  Parsed p;
  p.status = ParseCommandLine(int(argv.size()), argv.data(), p.o, p.error);
  return p;
}

TEST(CliOptions, ShortLongAttachedAndSeparateValuesAgree) {
  for (const auto& args : std::vector<std::vector<std::string>>{
           {"-b", "96", "x.wav"}, {"-b96", "x.wav"}, {"--bitrate", "96", "x.wav"}, {"x.wav", "--bitrate=96"}}) {
    const Parsed p = Parse(args);
    ASSERT_EQ(p.status, 0) << p.error;
    EXPECT_EQ(p.o.bitrateKbps, 96);
    EXPECT_EQ(p.o.inputs, std::vector<std::string>{"x.wav"});
  }
}

TEST(CliOptions, DoubleDashMakesEverythingAfterItAnInputAndStandardInputIsRefused) {
  const Parsed p = Parse({"-q", "3", "--", "-odd.wav", "--quiet"});
  ASSERT_EQ(p.status, 0) << p.error;
  EXPECT_EQ(p.o.quality, 3);
  EXPECT_FALSE(p.o.quiet);
  EXPECT_EQ(p.o.inputs, (std::vector<std::string>{"-odd.wav", "--quiet"}));
  const Parsed dash = Parse({"-"});
  EXPECT_EQ(dash.status, 1);
  EXPECT_NE(dash.error.find("standard input"), std::string::npos) << dash.error;
}

// The last rate mode given wins.
TEST(CliOptions, RateModesAndTheLastOneWins) {
  const struct { std::vector<std::string> args; int mode, level; } cases[] = {
      {{"x.wav"}, kRateModeAverage, 0}, {{"--cbr", "x.wav"}, kRateModeConstant, 0},
      {{"--vbr", "4", "x.wav"}, kRateModeQuality, 4}, {{"--cbr", "--vbr=1", "x.wav"}, kRateModeQuality, 1},
      {{"--vbr", "5", "--abr", "x.wav"}, kRateModeAverage, 5}};
  for (const auto& c : cases) {
    const Parsed p = Parse(c.args);
    ASSERT_EQ(p.status, 0) << p.error;
    EXPECT_EQ(std::pair(p.o.rateMode, p.o.vbrLevel), std::pair(c.mode, c.level)) << c.args[0];
  }
}

TEST(CliOptions, TrailerTakesThreeTextsAndYearImpliesTheTrailer) {
  Parsed p = Parse({"--trailer", "a", "b c", "", "x.wav"});
  ASSERT_EQ(p.status, 0) << p.error;
  EXPECT_TRUE(p.o.trailer && p.o.trailerTexts);
  EXPECT_EQ(p.o.text[1], "b c");
  EXPECT_EQ(p.o.text[2], "");
  p = Parse({"--year", "1999", "x.wav"});
  ASSERT_EQ(p.status, 0) << p.error;
  EXPECT_TRUE(p.o.trailer);
  EXPECT_FALSE(p.o.trailerTexts);
  EXPECT_EQ(p.o.year, 1999);
  p = Parse({"x.wav", "--trailer", "a", "b"});
  EXPECT_EQ(p.status, 1);
  EXPECT_NE(p.error.find("three values"), std::string::npos) << p.error;
}

TEST(CliOptions, ImpossibleValuesAreRefusedNamingTheOption) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"-q", "10"}, "-q: 10 is out of range (0 to 9)"},
      {{"--preset", "0"}, "--preset: 0 is out of range (1 to 9)"},
      {{"-b", "7"}, "-b: 7 kbit/s is out of range"},
      {{"-b", "12.5"}, "-b: '12.5' is not a whole number"},
      {{"--bandwidth", "1500"}, "--bandwidth: 1500 Hz is out of range"},
      {{"--rate", "44000"}, "--rate: 44000 Hz is not an AAC sampling rate"},
      {{"--profile", "he"}, "--profile: unknown profile 'he'"},
      {{"--format", "mp3"}, "--format: unknown format 'mp3'"},
      {{"-j", "0"}, "-j: 0 is out of range"},
      {{"--year", "0"}, "--year: 0 is out of range"},
      {{"--lfe=1"}, "option '--lfe' takes no value"},
      {{"--colour"}, "unknown option '--colour'"},
      {{"-Z"}, "unknown option '-Z'"},
      {{"x.wav", "-o"}, "option '-o' needs a value"},
      {{"--vbr", "0"}, "--vbr: 0 is out of range (1 to 5)"},
      {{"--vbr", "6"}, "--vbr: 6 is out of range (1 to 5)"},
  };
  for (const auto& [args, message] : cases) {
    const Parsed p = Parse(args);
    EXPECT_EQ(p.status, 1) << args[0];
    EXPECT_EQ(p.error.rfind(message, 0), 0u) << "got: " << p.error;
  }
}

std::vector<EncodeJob> Plan(std::vector<std::string> args, std::string& error, int expect = 0) {
  Parsed p = Parse(args);
  EXPECT_EQ(p.status, 0) << p.error;
  std::vector<EncodeJob> jobs;
  EXPECT_EQ(PlanJobs(p.o, jobs, error), expect) << error;
  return jobs;
}

TEST(PlanJobs, OutputNameAndFormatFollowEachOther) {
  std::string error;
  EXPECT_EQ(Plan({"dir/song.wav"}, error)[0].output, "dir/song.m4a");
  EXPECT_EQ(Plan({"song.WAV", "-f", "adts"}, error)[0].output, "song.aac");
  const struct { const char* name; int format; } cases[] = {
      {"a.m4a", kFormatM4a}, {"a.MP4", kFormatM4a}, {"a.aac", kFormatAdts}, {"a.adif", kFormatAdif}, {"a.raw", kFormatRaw}};
  for (const auto& c : cases) {
    const auto jobs = Plan({"s.wav", "-o", c.name}, error);
    ASSERT_EQ(jobs.size(), 1u);
    EXPECT_EQ(jobs[0].format, c.format) << c.name;
    EXPECT_EQ(jobs[0].output, c.name);
  }
  EXPECT_EQ(Plan({"s.wav", "-o", "s.aac", "--format", "raw"}, error)[0].format, kFormatRaw);
  const auto jobs = Plan({"a/x.wav", "b/y.wav", "-o", "out/"}, error);
  ASSERT_EQ(jobs.size(), 2u);
  EXPECT_EQ(jobs[0].output, "out/x.m4a");
  EXPECT_EQ(jobs[1].output, "out/y.m4a");
  EXPECT_EQ(Plan({"s.wav", "--adts-legacy", "--trailer", "a", "b", "c", "-o", "s.aac"}, error).size(), 1u);
}

TEST(PlanJobs, ImpossibleCombinationsAreRefusedWithTheReason) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"s.wav", "-o", "s.mp3"}, "cannot tell the output format from 's.mp3'"},
      {{"x.wav", "y.wav", "-o", "single.m4a"}, "-o must name an existing directory"},
      {{"a/x.wav", "b/x.wav", "-o", "out/"}, "both be written to 'out/x.m4a'"},
      {{"s.wav", "--title", "T", "-o", "s.aac"}, "apply to M4A output only"},
      {{"s.wav", "--trailer", "a", "b", "c"}, "--trailer and --year apply to ADTS, ADIF and raw output only"},
      {{"s.wav", "--adts-legacy", "-o", "s.adif"}, "--adts-legacy applies to ADTS output only"},
      {{"s.aac", "-f", "adts"}, "would be overwritten by its own output"},
      {{"s.wav", "-o", "-"}, "standard output"},
      {{"s.wav", "--vbr", "3", "-b", "96"}, "--vbr 3 chooses the quality and the rate follows it: leave out -b"},
      {{"s.wav", "--preset", "4", "--cbr"}, "--preset 4 has its own variable rate: no --cbr with it"},
      {{"s.wav", "--vbr", "2", "--preset", "1"}, "no --vbr with it"}};
  for (const auto& [args, message] : cases) {
    std::string error;
    Plan(args, error, 1);
    EXPECT_NE(error.find(message), std::string::npos) << error;
  }
}

TEST(DefaultBitrate, SixtyFourPerChannelWithinTheLibraryLimits) {
  // 6144 bits per channel and frame caps 8 kHz at 48 kbit/s per channel.
  const struct { int channels, rate, kbps; } cases[] = {{2, 44100, 128}, {1, 16000, 64}, {1, 8000, 48}, {6, 8000, 288}, {6, 96000, 384}};
  for (const auto& c : cases) EXPECT_EQ(DefaultBitrateKbps(c.channels, c.rate), c.kbps) << c.channels << " x " << c.rate;
}

TEST(ProgressLine, ShowsBarPercentSpeedAndTimeLeft) {
  const std::string line = ProgressLine("song.wav", 0, 1, 30.0, 120.0, 2.0, 79), many = ProgressLine("", 3, 10, 10.0, 10.0, 1.0, 60);
  EXPECT_EQ(line.rfind("song.wav [", 0), 0u) << line;
  for (const char* part : {" 25%", "15.0x", "ETA 0:06"}) EXPECT_NE(line.find(part), std::string::npos) << part << ": " << line;
  EXPECT_LE(line.size(), 79u);
  EXPECT_EQ(many.rfind("3/10 files [", 0), 0u) << many;
  EXPECT_NE(many.find("100%"), std::string::npos) << many;
  EXPECT_EQ(FormatDuration(65.3), "1:05.3");
  EXPECT_EQ(FormatDuration(3725), "1:02:05");
}

}  // namespace
}  // namespace aacs::tools
