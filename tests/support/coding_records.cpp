// Test helpers: channel coding records with the real band layouts.
#include "support/coding_records.h"

#include <algorithm>

#include "enc/band_tables.h"
#include "enc/huffman.h"

namespace aacs::test {

RecordPtr MakeLongRecord(int sfIndex, int maxSfb, int seq) {
  auto rec = std::make_unique<quant::ChannelCodingRecord>();
  rec->windowSequence = seq;
  rec->numWindowGroups = 1;
  rec->groupLength[0] = 1;
  rec->maxSfb = maxSfb;
  rec->totalBands = maxSfb;
  rec->sampleRateIndex = sfIndex;
  for (int b = 0; b <= enc::kNumSwbLong[sfIndex]; ++b) rec->bandOffset[b] = enc::kSwbOffsetLong[sfIndex][b];
  rec->cacheGain = -1;
  return rec;
}

RecordPtr MakeShortRecord(int sfIndex, int maxSfb, const int* groupLengths, int numGroups) {
  auto rec = std::make_unique<quant::ChannelCodingRecord>();
  rec->windowSequence = kEightShort;
  rec->numWindowGroups = numGroups;
  rec->maxSfb = maxSfb;
  rec->totalBands = maxSfb * numGroups;
  rec->sampleRateIndex = sfIndex;
  int offset = 0, band = 0;
  for (int g = 0; g < numGroups; ++g) {
    rec->groupLength[g] = groupLengths[g];
    for (int b = 0; b < maxSfb; ++b) {
      rec->bandOffset[band++] = offset;
      offset += (enc::kSwbOffsetShort[sfIndex][b + 1] - enc::kSwbOffsetShort[sfIndex][b]) * groupLengths[g];
    }
  }
  rec->bandOffset[band] = offset;
  rec->cacheGain = -1;
  return rec;
}

void FillRandomSpectrum(quant::ChannelCodingRecord& rec, std::mt19937& rng, int maxValue) {
  static const int kLimits[] = {0, 1, 2, 4, 7, 12, 15, 16, 40, 300};
  std::fill(rec.q, rec.q + kFrameLength, 0);
  for (int b = 0; b < rec.totalBands; ++b) {
    int limit = std::min(maxValue, kLimits[rng() % 10]);
    if (rng() % 16 == 0) limit = maxValue;
    std::uniform_int_distribution<int> value(-limit, limit);
    for (int i = rec.bandOffset[b]; i < rec.bandOffset[b + 1]; ++i) rec.q[i] = rng() % 3 ? value(rng) : 0;
    rec.recompute[b] = 1;
  }
}

void ChooseFinalCodebooks(quant::ChannelCodingRecord& rec, std::mt19937& rng, int globalGain) {
  rec.globalGain = globalGain;
  for (int b = 0; b < rec.totalBands; ++b) rec.codebook[b] = 0;
  enc::CountChannelSpectralBits(rec, 0);
  int sf = globalGain;
  for (int b = 0; b < rec.totalBands; ++b) {
    sf = std::clamp(sf + static_cast<int>(rng() % 41) - 20, 0, 255);
    rec.scalefactor[b] = sf;
    rec.noiseEnergy[b] = globalGain + static_cast<int>(rng() % 201) - 100;
  }
}

}  // namespace aacs::test
