// Huffman coding: pulse selection, the counters' shortcuts against the plain walks and the
// writers (whose output the round-trip tests read back), section merging, and the band cache
// the rate loops carry across gain steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>
#include <vector>

#include "dsp/cpu_detect.h"
#include "dsp/primitives.h"
#include "enc/huffman.h"
#include "enc/huffman_internal.h"
#include "quant/quantiser.h"
#include "support/coding_records.h"

namespace aacs::enc {
namespace {

using test::MakeLongRecord;
using test::MakeShortRecord;

constexpr int k44100 = 4;

test::RecordPtr RandomLayout(std::mt19937& rng, int trial) {
  if (trial % 3 != 0) return MakeLongRecord(trial % 2 ? k44100 : 11, 10 + static_cast<int>(rng() % 30));
  const int groups[4] = {1, 3, 2, 2};
  return MakeShortRecord(k44100, 2 + static_cast<int>(rng() % 13), groups, 4);
}

// Band 29 at 44.1 kHz spans lines 320..351: small values plus the spikes of each case.
TEST(HuffmanPulses, SpikesBecomePulsesOnlyWhereTheFieldsCanCarryThem) {
  struct Spike { int line, value, left; };  // left: the value once its pulse is split off
  struct Case { std::vector<Spike> spikes; int numPulse; std::vector<int> offsets, amps; };
  const Case cases[] = {
      {{{333, -9, -1}}, 1, {13}, {8}},                       // a lone spike
      {{{330, 7, 1}, {350, -12, -1}}, 2, {10, 20}, {6, 11}},  // listed in ascending line order
      {{{340, 17, 17}}, 0, {}, {}},                          // pulse_amp cannot carry 16
      {{{290, 9, 9}, {350, 9, 1}}, 1, {30}, {8}},            // 60 lines apart: only the second
  };
  for (const Case& c : cases) {
    auto rec = MakeLongRecord(k44100, 40);
    for (int i = 0; i < rec->bandOffset[40]; ++i) rec->q[i] = (i % 5 == 0) - (i % 7 == 0);
    std::fill(rec->scalefactor, rec->scalefactor + 40, 100);
    rec->globalGain = 100;
    for (const Spike& s : c.spikes) rec->q[s.line] = s.value;
    SelectPulses(*rec, 0);
    SCOPED_TRACE(c.spikes[0].line);
    ASSERT_EQ(rec->pulseDataPresent, c.numPulse > 0);
    for (const Spike& s : c.spikes) EXPECT_EQ(rec->q[s.line], s.left) << "rejected trials restore the values";
    if (!c.numPulse) continue;
    ASSERT_EQ(rec->numPulse, c.numPulse);
    EXPECT_EQ(rec->pulseStartSfb, 29);
    EXPECT_EQ(std::vector<int>(rec->pulseOffset, rec->pulseOffset + c.numPulse), c.offsets);
    EXPECT_EQ(std::vector<int>(rec->pulseAmp, rec->pulseAmp + c.numPulse), c.amps);
    EXPECT_EQ(WritePulseData(*rec, nullptr, 0), 1 + 2 + 6 + 9 * c.numPulse);
  }
  const int groups[1] = {8};
  auto rec = MakeShortRecord(k44100, 14, groups, 1);
  rec->q[100] = 12;
  rec->pulseDataPresent = 1;
  SelectPulses(*rec, 0);
  EXPECT_EQ(rec->pulseDataPresent, 0) << "eight-short frames never carry pulses";
  EXPECT_EQ(rec->q[100], 12);
}

TEST(HuffmanCodewords, ABookTooSmallForItsBandIsReplacedNotOverrun) {
  auto rec = MakeLongRecord(k44100, 1);
  rec->q[0] = 5;
  rec->codebook[0] = 1;  // cannot hold 5
  BuildCodewordList(*rec);
  EXPECT_GE(rec->codebook[0], 7);
}

// Every band's cached choice is the cheapest candidate priced one book at a time, the packed
// candidate costs are those prices, and the chosen bits are what the writer then writes.
TEST(HuffmanCounters, SpectralChoicesEqualEachBookPricedAloneAndTheWritersBits) {
  const auto& t = detail::Lengths();
  const int largest[5] = {1, 2, 4, 7, 12};
  std::mt19937 rng(11);
  for (int trial = 0; trial < 120; ++trial) {
    auto rec = RandomLayout(rng, trial);
    test::FillRandomSpectrum(*rec, rng, trial % 4 == 0 ? 8191 : largest[trial % 5]);
    const int chosen = CountChannelSpectralBits(*rec, 0);
    int sum = 0;
    for (int b = 0; b < rec->totalBands; ++b) {
      const int32_t* q = rec->q + rec->bandOffset[b];
      const int n = rec->bandOffset[b + 1] - rec->bandOffset[b];
      int m = 0;
      for (int i = 0; i < n; ++i) m = std::max(m, std::abs(q[i]));
      sum += rec->cache[b].bits;
      const auto cached = std::tuple(rec->cache[b].bits, rec->cache[b].codebook);
      if (m == 0) {
        ASSERT_EQ(cached, std::tuple(0, 0));
        continue;
      }
      int books[3];
      detail::BookChoice best{1 << 30, 0};
      for (int k = 0, c = detail::CandidateBooks(m, books); k < c; ++k) {
        const int bits = detail::BandCost(t, q, n, books[k]);
        if (bits < best.bits) best = {bits, books[k]};
      }
      ASSERT_EQ(cached, std::tuple(best.bits, best.book)) << trial << " band " << b;
      const detail::BookChoice got = detail::BestBook(t, q, n, m);
      ASSERT_EQ(std::tuple(got.bits, got.book), cached);
      const int group = static_cast<int>(std::lower_bound(largest, largest + 5, m) - largest);
      if (group == 5) continue;
      const uint64_t packed = detail::PackedBandCosts(t, q, n, group);
      for (int k = 0, c = detail::CandidateBooks(largest[group], books); k < c; ++k)
        ASSERT_EQ(detail::PackedField(packed, k), detail::BandCost(t, q, n, books[k])) << group << " " << k;
    }
    EXPECT_EQ(chosen, sum);
    BuildCodewordList(*rec);
    EXPECT_EQ(WriteSpectralData(*rec, nullptr, 0), chosen) << trial;
  }
}

// Books and scalefactors of every kind: spectral, zero, noise and intensity bands, and values
// that sometimes span more than the 120 scalefactor codes (so the clamps matter).
void RandomSideInfo(quant::ChannelCodingRecord& rec, std::mt19937& rng, bool wideSpan) {
  rec.globalGain = 80 + static_cast<int>(rng() % 80);
  for (int b = 0; b < rec.totalBands; ++b) {
    const int r = static_cast<int>(rng() % 20);
    rec.codebook[b] = r < 2 ? kNoiseCodebook : r < 3 ? kIntensityInPhase + static_cast<int>(rng() % 2) - 1
                                             : r < 8 ? 0 : 1 + static_cast<int>(rng() % 11);
    rec.scalefactor[b] = static_cast<int>(rng() % (wideSpan ? 200 : 60));
    rec.noiseEnergy[b] = rec.globalGain + static_cast<int>(rng() % 300) - 150;
  }
}

// Section and scalefactor counters against the writers.
TEST(HuffmanCounters, SideBitCountsEqualTheWriters) {
  std::mt19937 rng(13);
  for (int trial = 0; trial < 400; ++trial) {
    auto rec = RandomLayout(rng, trial);
    RandomSideInfo(*rec, rng, trial % 4 == 0);
    if (trial % 5 == 0)  // long runs of one book: section length escapes
      for (int b = 0; b < rec->totalBands; ++b) rec->codebook[b] = b < rec->totalBands - 2 ? 3 : 0;
    BitWriter* w = BitWriterCreate(1 << 16);
    const int sections = WriteSectionData(*rec, w, 1);
    EXPECT_EQ(CountSectionBits(*rec), sections) << trial;
    BitWriterReset(*w);
    const int scalefactors = WriteScaleFactorData(*rec, w, 1);
    EXPECT_EQ(CountScaleFactorBits(*rec, 0), scalefactors) << trial;
    EXPECT_EQ(CountSideBitsFor(*rec, rec->codebook, 0), sections + scalefactors) << trial;
    BitWriterFree(w);
  }
}

TEST(HuffmanCounters, InternalAndBitstreamScalefactorsCostTheSame) {
  std::mt19937 rng(7);
  for (int trial = 0; trial < 50; ++trial) {
    auto rec = MakeLongRecord(k44100, 40);
    const int g = 60 + static_cast<int>(rng() % 100);
    for (int b = 0; b < 40; ++b) {
      rec->scalefactor[b] = static_cast<int>(rng() % 60);  // internal: offsets below the gain
      rec->codebook[b] = rng() % 8 == 0 ? kNoiseCodebook : static_cast<int>(rng() % 12);
      rec->noiseEnergy[b] = 50 + static_cast<int>(rng() % 200);
    }
    rec->globalGain = g;
    const int counted = CountScaleFactorBits(*rec, 1);
    for (int b = 0; b < 40; ++b) rec->scalefactor[b] = g - rec->scalefactor[b] + 100;
    rec->globalGain = rec->scalefactor[0];
    EXPECT_EQ(counted, CountScaleFactorBits(*rec, 0)) << trial;
  }
}

TEST(HuffmanMerge, MergedSectionsHoldEveryBandAndNeverCostMoreThanThePlainChoice) {
  std::mt19937 rng(3);
  int fewerSections = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const int groups[3] = {3, 2, 3};
    auto rec = trial % 2 ? MakeLongRecord(k44100, 20 + trial) : MakeShortRecord(k44100, 3 + trial % 12, groups, 3);
    test::FillRandomSpectrum(*rec, rng, 40);
    for (int b = 0; b < rec->totalBands; ++b) {
      rec->scalefactor[b] = static_cast<int>(rng() % 60);
      rec->codebook[b] = 0;
    }
    const int plain = CountChannelSpectralBits(*rec, 0) + CountSectionBits(*rec) + CountScaleFactorBits(*rec, 1);
    int plainSections = 1, mergedSections = 1;
    for (int b = 1; b < rec->totalBands; ++b) plainSections += rec->codebook[b] != rec->codebook[b - 1];
    MergeSections(*rec, 1);
    for (int b = 1; b < rec->totalBands; ++b) mergedSections += rec->trialCodebook[b] != rec->trialCodebook[b - 1];
    fewerSections += mergedSections < plainSections;
    std::copy(rec->trialCodebook, rec->trialCodebook + rec->totalBands, rec->codebook);
    // The coding pass keeps books that hold their bands' values; price them with it.
    BuildCodewordList(*rec);
    for (int b = 0; b < rec->totalBands; ++b) ASSERT_EQ(rec->codebook[b], rec->trialCodebook[b]) << b;
    const int merged = WriteSpectralData(*rec, nullptr, 0) + CountSectionBits(*rec) + CountScaleFactorBits(*rec, 1);
    EXPECT_LE(merged, plain) << trial;
  }
  EXPECT_GT(fewerSections, 20) << "merging hardly ever merged";
}

// After any sequence of gain steps and band amplifications, the choice the rate loops carry
// over from earlier counts equals a count from scratch, with every primitive column.
TEST(HuffmanCache, CarriedBandChoicesEqualAFreshCountAfterGainSteps) {
  dsp::BindPrimitivesOnce();
  std::mt19937 rng(14);
  std::uniform_real_distribution<float> level(0.0f, 1.0f);
  for (int trial = 0; trial < 40; ++trial) {
    ASSERT_EQ(dsp::BindPrimitives(trial % 4), 1);
    auto rec = RandomLayout(rng, trial);
    rec->blocks32 = (rec->bandOffset[rec->totalBands] + 31) / 32;
    for (int i = 0; i < rec->bandOffset[rec->totalBands]; ++i) {
      const float u = level(rng);
      rec->y[i] = u < 0.4f ? 0.0f : 3000.0f * u * u * u * u;
    }
    for (int b = 0; b < rec->totalBands; ++b) rec->bandNonzero[b] = rec->recompute[b] = 1;
    rec->globalGain = 20;
    for (int step = 0; step < 40; ++step) {
      if (rng() % 4 == 0) {
        const int b = static_cast<int>(rng() % rec->totalBands);
        for (int i = rec->bandOffset[b]; i < rec->bandOffset[b + 1]; ++i) rec->y[i] *= quant::kAmplifyStep;
      }
      rec->globalGain += static_cast<int>(rng() % 3);
      if (quant::QuantiseAndMark(*rec) != 0) continue;
      const int carried = ChooseBandCodebooks(*rec, kLoopVariantKnownMax);
      std::vector<quant::BandCodebookCache> cache(rec->cache, rec->cache + rec->totalBands);
      for (int b = 0; b < rec->totalBands; ++b) rec->recompute[b] = 1;
      ASSERT_EQ(ChooseBandCodebooks(*rec, 1), carried) << trial << " " << step;
      for (int b = 0; b < rec->totalBands; ++b)
        ASSERT_EQ(std::tuple(rec->cache[b].bits, rec->cache[b].codebook), std::tuple(cache[b].bits, cache[b].codebook));
    }
  }
  dsp::BindPrimitives(dsp::DetectCpuClass());
}

}  // namespace
}  // namespace aacs::enc
