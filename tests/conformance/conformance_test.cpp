// Conformance matrix: every configuration that open accepts must give a stream that FFmpeg or
// faad decodes cleanly, with the promised frame and sample counts, frames within the decoder's
// input buffer and the input's level.
//
// By default a fixed sample of the matrix runs (the same configurations on every run).  With
// AACS_CONFORMANCE_FULL=1 the whole matrix is instantiated (scripts/conformance_matrix.sh runs it
// in shards); AACS_CONFORMANCE_RESULTS=<file> appends one tab-separated line per configuration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "conformance/conformance_matrix.h"

#ifndef AACS_CONFORMANCE_SAMPLE
#define AACS_CONFORMANCE_SAMPLE 400
#endif
#ifndef AACS_CONFORMANCE_BOTH_ENDS
#define AACS_CONFORMANCE_BOTH_ENDS 1
#endif

namespace aacs::testing {
namespace {

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

}  // namespace

void PrintTo(const MatrixConfig& c, std::ostream* os) { *os << ConfigName(c); }

namespace {

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
