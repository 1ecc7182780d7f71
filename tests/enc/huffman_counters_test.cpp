// Codebook choice, band cache, section and scalefactor counters, and section merging.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "enc/huffman.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

using test::MakeLongRecord;
using test::MakeShortRecord;

constexpr int k44100 = 4;

// Reads the bits a writer produced, most significant first.
struct Bits {
  const BitWriter* w;
  int pos = 0;
  uint32_t Get(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++pos) v = (v << 1) | ((w->data[pos >> 3] >> (7 - (pos & 7))) & 1u);
    return v;
  }
};

int Length(int book, int index) { return static_cast<int>(SpectralCodebook(book)[index].length); }
int SfLength(int diff) { return static_cast<int>(ScalefactorCodebook()[diff + 60].length); }

TEST(HuffmanChooser, AllZeroBandGetsBookZeroAndNoBits) {
  auto rec = MakeLongRecord(k44100, 4);
  rec->q[rec->bandOffset[2]] = 3;
  for (int b = 0; b < 4; ++b) rec->recompute[b] = 1;
  const int bits = ChooseBandCodebooks(*rec, 0);
  EXPECT_EQ(rec->cache[0].codebook, 0);
  EXPECT_EQ(rec->cache[0].bits, 0);
  EXPECT_EQ(rec->cache[3].codebook, 0);
  EXPECT_NE(rec->cache[2].codebook, 0);
  EXPECT_EQ(bits, rec->cache[2].bits);
  EXPECT_EQ(rec->bandMax[2], 3);
}

TEST(HuffmanChooser, BandMaximumOneTriesBooks1To3AndTiesGoToTheLowerBook) {
  int ties = 0;
  for (int idx = 0; idx < 81; ++idx) {
    const int v[4] = {idx / 27 - 1, idx / 9 % 3 - 1, idx / 3 % 3 - 1, idx % 3 - 1};
    int nonzero = 0, unsignedIdx = 0;
    for (int i = 0; i < 4; ++i) {
      nonzero += v[i] != 0;
      unsignedIdx = unsignedIdx * 3 + std::abs(v[i]);
    }
    if (nonzero == 0) continue;
    const int cost[3] = {Length(1, idx), Length(2, idx), Length(3, unsignedIdx) + nonzero};
    int expected = 0;
    for (int k = 1; k < 3; ++k)
      if (cost[k] < cost[expected]) expected = k;
    for (int k = 0; k < 3; ++k) ties += k != expected && cost[k] == cost[expected] && k > expected;

    auto rec = MakeLongRecord(k44100, 1);  // band 0 is 4 lines wide
    for (int i = 0; i < 4; ++i) rec->q[i] = v[i];
    rec->recompute[0] = 1;
    EXPECT_EQ(ChooseBandCodebooks(*rec, 0), cost[expected]) << idx;
    EXPECT_EQ(rec->cache[0].codebook, expected + 1) << idx;
  }
  EXPECT_GT(ties, 0) << "no tie exercised";
}

TEST(HuffmanChooser, CandidateBooksFollowTheBandMaximum) {
  struct Case {
    int max, lowest, highest;
  } cases[] = {{2, 3, 5}, {3, 5, 7}, {4, 5, 7}, {5, 7, 9}, {7, 7, 9}, {8, 9, 10}, {12, 9, 10}, {13, 11, 11}, {8191, 11, 11}};
  for (const auto& c : cases) {
    auto rec = MakeLongRecord(k44100, 1);
    rec->q[1] = -c.max;
    rec->recompute[0] = 1;
    ChooseBandCodebooks(*rec, 0);
    EXPECT_GE(rec->cache[0].codebook, c.lowest) << c.max;
    EXPECT_LE(rec->cache[0].codebook, c.highest) << c.max;
  }
}

TEST(HuffmanChooser, EscapeValuesCostCodewordSignAndEscapeSequence) {
  auto rec = MakeLongRecord(k44100, 1);
  rec->q[0] = 16;
  rec->q[3] = -8191;
  rec->recompute[0] = 1;
  // pair (16, 0): codeword + 1 sign + 5-bit escape; pair (0, 8191): codeword + sign + 21 bits
  const int expected = Length(11, 17 * 16) + 1 + 5 + Length(11, 16) + 1 + 21;
  EXPECT_EQ(ChooseBandCodebooks(*rec, 0), expected);
  EXPECT_EQ(rec->cache[0].codebook, 11);
}

TEST(HuffmanChooser, CachedChoiceIsReusedUntilBandGainOrVariantChanges) {
  auto rec = MakeLongRecord(k44100, 3);
  rec->q[4] = 1;
  for (int b = 0; b < 3; ++b) rec->recompute[b] = 1;
  const int first = ChooseBandCodebooks(*rec, 0);
  rec->q[5] = 9;  // not marked: the cache still answers
  EXPECT_EQ(ChooseBandCodebooks(*rec, 0), first);
  rec->recompute[1] = 1;
  const int marked = ChooseBandCodebooks(*rec, 0);
  EXPECT_GT(marked, first);
  EXPECT_EQ(rec->recompute[1], 0);
  rec->q[9] = 9;  // band 2, unmarked, but a new gain invalidates every band
  rec->globalGain += 1;
  EXPECT_GT(ChooseBandCodebooks(*rec, 0), marked);
  EXPECT_EQ(rec->cacheGain, rec->globalGain);
  rec->q[10] = 9;
  rec->bandNonzero[2] = 1;
  const int withTen = ChooseBandCodebooks(*rec, 0);
  EXPECT_EQ(withTen, ChooseBandCodebooks(*rec, 0));
  EXPECT_NE(ChooseBandCodebooks(*rec, 1), withTen) << "switching variant must recount";
}

TEST(HuffmanChooser, LoopVariantSkipsBandsWithoutPreparedMagnitudesAndPricesValuesAsPositive) {
  auto rec = MakeLongRecord(k44100, 2);
  rec->q[0] = 1;  // band 0 flagged empty: book 0 whatever q holds
  rec->q[4] = 1;
  rec->q[6] = 1;
  rec->bandNonzero[1] = 1;
  rec->recompute[0] = rec->recompute[1] = 1;
  const int bits = ChooseBandCodebooks(*rec, 1);
  EXPECT_EQ(rec->cache[0].codebook, 0);
  EXPECT_EQ(rec->cache[0].bits, 0);
  const int idx = 27 * 1 + 9 * 0 + 3 * 1 + 0;
  const int expected = std::min({Length(1, idx + 40), Length(2, idx + 40), Length(3, idx) + 2});
  EXPECT_EQ(bits, expected);
}

TEST(HuffmanChooser, ChannelSpectralBitsKeepNoiseAndIntensityBooks) {
  auto rec = MakeLongRecord(k44100, 4);
  for (int b = 0; b < 4; ++b) {
    rec->q[rec->bandOffset[b]] = 5;
    rec->recompute[b] = 1;
  }
  rec->codebook[1] = kNoiseCodebook;
  rec->codebook[2] = kIntensityInPhase;
  const int all = ChooseBandCodebooks(*rec, 0);
  for (int b = 0; b < 4; ++b) rec->recompute[b] = 1;
  const int bits = CountChannelSpectralBits(*rec, 0);
  EXPECT_EQ(bits, rec->cache[0].bits + rec->cache[3].bits);
  EXPECT_LT(bits, all);
  EXPECT_EQ(rec->codebook[1], kNoiseCodebook);
  EXPECT_EQ(rec->codebook[2], kIntensityInPhase);
  EXPECT_EQ(rec->codebook[0], rec->cache[0].codebook);
}

std::vector<uint32_t> WrittenSections(const quant::ChannelCodingRecord& rec, int lenBits, int* count) {
  BitWriter* w = BitWriterCreate(4096);
  const int bits = WriteSectionData(rec, w, 1);
  *count = CountSectionBits(rec);
  EXPECT_EQ(bits, *count);
  EXPECT_EQ(BitWriterBitsUsed(w), bits);
  std::vector<uint32_t> fields;
  Bits r{w};
  while (r.pos < bits) {
    fields.push_back(r.Get(4));
    uint32_t len;
    do fields.push_back(len = r.Get(lenBits));
    while (len == static_cast<uint32_t>((1 << lenBits) - 1));
  }
  BitWriterFree(w);
  return fields;
}

TEST(HuffmanSections, RunOf31EqualBooksIsCodedAs31ThenZero) {
  auto rec = MakeLongRecord(5, 31);  // 32 kHz has 51 long bands
  for (int b = 0; b < 31; ++b) rec->codebook[b] = 7;
  int count = 0;
  EXPECT_EQ(WrittenSections(*rec, 5, &count), (std::vector<uint32_t>{7, 31, 0}));
  EXPECT_EQ(count, 14);
}

TEST(HuffmanSections, RunOf32EqualBooksSplitsIntoEscapeAndOne) {
  auto rec = MakeLongRecord(5, 34);
  for (int b = 0; b < 32; ++b) rec->codebook[b] = 7;
  rec->codebook[32] = rec->codebook[33] = 0;
  int count = 0;
  EXPECT_EQ(WrittenSections(*rec, 5, &count), (std::vector<uint32_t>{7, 31, 1, 0, 2}));
  EXPECT_EQ(count, 4 + 10 + 4 + 5);
}

TEST(HuffmanSections, EightShortGroupsCodeThreeIndependentSectionLists) {
  const int groups[3] = {3, 2, 3};
  auto rec = MakeShortRecord(k44100, 12, groups, 3);
  ASSERT_EQ(rec->totalBands, 36);
  for (int b = 0; b < 36; ++b) rec->codebook[b] = 1;
  rec->codebook[24 + 11] = 2;
  int count = 0;
  const std::vector<uint32_t> expected = {1, 7, 5, 1, 7, 5, 1, 7, 4, 2, 1};
  EXPECT_EQ(WrittenSections(*rec, 3, &count), expected);
  EXPECT_EQ(count, 3 * (4 + 6) + 4 + 3);
}

TEST(HuffmanScalefactors, NoiseEnergiesClampAndTheReferenceFollowsTheCodedValue) {
  auto rec = MakeLongRecord(k44100, 5);
  rec->globalGain = 100;
  rec->codebook[0] = 1;
  rec->scalefactor[0] = 100;
  const int energies[4] = {500, 300, 400, 360};
  for (int b = 1; b < 5; ++b) {
    rec->codebook[b] = kNoiseCodebook;
    rec->noiseEnergy[b] = energies[b - 1];
  }
  // 500 - 100 + 256 = 656 clamps to 511, so the reference becomes 355; then -55 (300),
  // +100 clamped to +60 (reference 360), 0.
  BitWriter* w = BitWriterCreate(1024);
  const int bits = WriteScaleFactorData(*rec, w, 1);
  const int expected = SfLength(0) + 9 + SfLength(-55) + SfLength(60) + SfLength(0);
  EXPECT_EQ(bits, expected);
  EXPECT_EQ(CountScaleFactorBits(*rec, 0), expected);
  Bits r{w};
  EXPECT_EQ(r.Get(SfLength(0)), ScalefactorCodebook()[60].codeword);
  EXPECT_EQ(r.Get(9), 511u);
  EXPECT_EQ(r.Get(SfLength(-55)), ScalefactorCodebook()[5].codeword);
  EXPECT_EQ(r.Get(SfLength(60)), ScalefactorCodebook()[120].codeword);
  EXPECT_EQ(r.Get(SfLength(0)), ScalefactorCodebook()[60].codeword);
  BitWriterFree(w);
}

TEST(HuffmanScalefactors, InternalAndBitstreamScalefactorsCostTheSame) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    auto rec = MakeLongRecord(k44100, 40);
    const int g = 60 + static_cast<int>(rng() % 100);
    int internal[64];
    for (int b = 0; b < 40; ++b) {
      internal[b] = static_cast<int>(rng() % 60);
      rec->codebook[b] = static_cast<int>(rng() % 12);
      if (rng() % 8 == 0) rec->codebook[b] = kNoiseCodebook;
      rec->noiseEnergy[b] = 50 + static_cast<int>(rng() % 200);
      rec->scalefactor[b] = internal[b];
    }
    rec->globalGain = g;
    const int counted = CountScaleFactorBits(*rec, 1);
    for (int b = 0; b < 40; ++b) rec->scalefactor[b] = g - internal[b] + 100;
    rec->globalGain = rec->scalefactor[0];
    EXPECT_EQ(counted, CountScaleFactorBits(*rec, 0)) << trial;
    EXPECT_EQ(counted, CountScaleFactorBitsFor(*rec, rec->codebook, 0));
  }
}

int SectionCount(const quant::ChannelCodingRecord& rec, const int* books) {
  int n = 1;
  for (int b = 1; b < rec.totalBands; ++b) n += books[b] != books[b - 1];
  return n;
}

TEST(HuffmanMerge, MergingNeverCostsMoreThanThePlainChoice) {
  std::mt19937 rng(3);
  for (int trial = 0; trial < 40; ++trial) {
    auto rec = trial % 2 ? MakeLongRecord(k44100, 20 + trial) : [&] {
      const int groups[3] = {3, 2, 3};
      return MakeShortRecord(k44100, 3 + trial % 12, groups, 3);
    }();
    test::FillRandomSpectrum(*rec, rng, 40);
    for (int b = 0; b < rec->totalBands; ++b) {
      rec->scalefactor[b] = static_cast<int>(rng() % 60);
      rec->codebook[b] = 0;
    }
    const int plain = CountChannelSpectralBits(*rec, 0) + CountSectionBits(*rec) + CountScaleFactorBits(*rec, 1);
    MergeSections(*rec, 1);
    for (int b = 0; b < rec->totalBands; ++b) {
      rec->codebook[b] = rec->trialCodebook[b];
      ASSERT_GE(rec->codebook[b], 0);
    }
    // The merged books must hold every band's values; price them with the coding pass.
    BuildCodewordList(*rec);
    for (int b = 0; b < rec->totalBands; ++b) ASSERT_EQ(rec->codebook[b], rec->trialCodebook[b]) << b;
    const int merged = WriteSpectralData(*rec, nullptr, 0) + CountSectionBits(*rec) + CountScaleFactorBits(*rec, 1);
    EXPECT_LE(merged, plain) << trial;
  }
}

TEST(HuffmanMerge, AlternatingBooksMergeButAPartialBlockKeepsItsChoice) {
  auto rec = MakeLongRecord(k44100, 9);
  // 4-line bands alternate between a single 2 (book 5 alone) and a single 1 (book 2), every
  // band its own section; band 7 holds a 2 as well.  Band 8 (a 1) is a partial block at every
  // level, so it keeps book 2 although joining the section before it would pay.
  for (int b = 0; b < 9; ++b) {
    rec->q[rec->bandOffset[b]] = (b % 2 && b != 7) || b == 8 ? 1 : 2;
    rec->scalefactor[b] = 10;
  }
  CountChannelSpectralBits(*rec, 0);
  const int plainSections = SectionCount(*rec, rec->codebook);
  MergeSections(*rec, 1);
  EXPECT_LT(SectionCount(*rec, rec->trialCodebook), plainSections);
  for (int b = 1; b < 8; ++b) EXPECT_EQ(rec->trialCodebook[b], rec->trialCodebook[0]) << b;
  EXPECT_EQ(rec->trialCodebook[0], 5);
  ASSERT_NE(rec->codebook[8], rec->trialCodebook[0]) << "band 8 would merge if it could";
  EXPECT_EQ(rec->trialCodebook[8], rec->codebook[8]);
}

}  // namespace
}  // namespace aacs::enc
