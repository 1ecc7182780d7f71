// Band offsets and per-rate limits against the validated table files.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "enc/band_tables.h"

namespace aacs::enc {
namespace {

std::vector<std::vector<std::string>> ReadTsv(const std::string& name) {
  std::ifstream in(std::string(AACS_SOURCE_DIR) + "/data/" + name);
  std::vector<std::vector<std::string>> rows;
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) { header = false; continue; }
    std::vector<std::string> cols;
    std::stringstream ss(line);
    std::string col;
    while (std::getline(ss, col, '\t')) cols.push_back(col);
    rows.push_back(cols);
  }
  return rows;
}

TEST(BandTables, OffsetsMatchTheStandardTables) {
  auto rows = ReadTsv("swb_offsets.tsv");
  ASSERT_EQ(rows.size(), 24u);
  for (const auto& r : rows) {
    const int sfi = SampleRateIndex(std::stoi(r[0]));
    ASSERT_GE(sfi, 0);
    const bool isLong = r[1] == "long";
    const int n = std::stoi(r[2]);
    EXPECT_EQ(n, isLong ? kNumSwbLong[sfi] : kNumSwbShort[sfi]) << r[0];
    std::stringstream ss(r[3]);
    std::string v;
    for (int i = 0; std::getline(ss, v, ','); ++i)
      EXPECT_EQ(std::stoi(v), isLong ? kSwbOffsetLong[sfi][i] : kSwbOffsetShort[sfi][i]) << r[0] << " " << i;
  }
}

TEST(BandTables, ToolLimitsMatchTheStandardTables) {
  for (const auto& r : ReadTsv("pred_sfb_max.tsv"))
    EXPECT_EQ(std::stoi(r[2]), kPredSfbMax[std::stoi(r[1])]);
  for (const auto& r : ReadTsv("tns_max_bands.tsv")) {
    EXPECT_EQ(std::stoi(r[2]), kTnsMaxBandsLong[std::stoi(r[1])]);
    EXPECT_EQ(std::stoi(r[3]), kTnsMaxBandsShort[std::stoi(r[1])]);
  }
}

TEST(BandTables, CbAdaptRowsSumToTheFrameAndEndWithATerminator) {
  const CbAdaptRow* row = CbAdaptTable();
  int rows = 0;
  for (; row->sampleRate != -1; ++row, ++rows) {
    int sumLong = 0, sumShort = 0;
    for (int b = 0; b < row->numLong; ++b) sumLong += row->longWidth[b];
    for (int b = 0; b < row->numShort; ++b) sumShort += row->shortWidth[b];
    EXPECT_EQ(sumLong, 1024) << row->sampleRate;
    EXPECT_EQ(sumShort, 128) << row->sampleRate;
  }
  EXPECT_EQ(rows, 12);
  const CbAdaptRow* r44 = FindCbAdaptRow(44100);
  ASSERT_NE(r44, nullptr);
  EXPECT_EQ(r44->numLong, 49);
  EXPECT_EQ(r44->numShort, 14);
  EXPECT_EQ(r44->longWidth[48], 96);
  EXPECT_EQ(FindCbAdaptRow(88200)->numLong, 41);
  EXPECT_EQ(FindCbAdaptRow(32000)->numLong, 51);
  EXPECT_EQ(FindCbAdaptRow(32000)->numShort, 14);
  EXPECT_EQ(FindCbAdaptRow(37800), nullptr);
}

}  // namespace
}  // namespace aacs::enc
