// Test helpers: channel coding records with the real band layouts.
#include "support/coding_records.h"

#include <algorithm>
#include <cstring>

#include "enc/band_tables.h"
#include "enc/channel_info.h"
#include "enc/huffman.h"

namespace aacs::test {
namespace {

// Band layouts in place (the record is cleared first).
void SetLongLayout(quant::ChannelCodingRecord& r, int sfIndex, int maxSfb, int seq = 0) {
  std::memset(static_cast<void*>(&r), 0, sizeof r);
  r.windowSequence = seq;
  r.numWindowGroups = 1;
  r.groupLength[0] = 1;
  r.maxSfb = maxSfb;
  r.totalBands = maxSfb;
  r.sampleRateIndex = sfIndex;
  for (int b = 0; b <= enc::kNumSwbLong[sfIndex]; ++b) r.bandOffset[b] = enc::kSwbOffsetLong[sfIndex][b];
  r.cacheGain = -1;
}

void SetShortLayout(quant::ChannelCodingRecord& r, int sfIndex, int maxSfb, const int* groupLengths, int numGroups) {
  std::memset(static_cast<void*>(&r), 0, sizeof r);
  r.windowSequence = kEightShort;
  r.numWindowGroups = numGroups;
  r.maxSfb = maxSfb;
  r.totalBands = maxSfb * numGroups;
  r.sampleRateIndex = sfIndex;
  int offset = 0, band = 0;
  for (int g = 0; g < numGroups; ++g) {
    r.groupLength[g] = groupLengths[g];
    for (int b = 0; b < maxSfb; ++b) {
      r.bandOffset[band++] = offset;
      offset += (enc::kSwbOffsetShort[sfIndex][b + 1] - enc::kSwbOffsetShort[sfIndex][b]) * groupLengths[g];
    }
  }
  r.bandOffset[band] = offset;
  r.cacheGain = -1;
}

// Bitstream scalefactors: random walk within +-20 per band around gain, codebooks from the
// plain chooser, noise energies for codebook-13 bands.
void ChooseFinalCodebooks(quant::ChannelCodingRecord& rec, std::mt19937& rng, int globalGain) {
  rec.globalGain = globalGain;
  for (int b = 0; b < rec.totalBands; ++b)
    if (rec.codebook[b] != kNoiseCodebook) rec.codebook[b] = 0;
  enc::CountChannelSpectralBits(rec, 0);
  int sf = globalGain;
  for (int b = 0; b < rec.totalBands; ++b) {
    sf = std::clamp(sf + static_cast<int>(rng() % 41) - 20, 0, 255);
    rec.scalefactor[b] = sf;
    rec.noiseEnergy[b] = globalGain + static_cast<int>(rng() % 201) - 100;
  }
}

}  // namespace

RecordPtr MakeLongRecord(int sfIndex, int maxSfb, int seq) {
  auto rec = std::make_unique<quant::ChannelCodingRecord>();
  SetLongLayout(*rec, sfIndex, maxSfb, seq);
  return rec;
}

RecordPtr MakeShortRecord(int sfIndex, int maxSfb, const int* groupLengths, int numGroups) {
  auto rec = std::make_unique<quant::ChannelCodingRecord>();
  SetShortLayout(*rec, sfIndex, maxSfb, groupLengths, numGroups);
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

StreamPtr MakeStream(int numChannels, int lastChannelIsLfe, int sfIndex, int headerType, int adtsBits) {
  auto ctx = std::make_unique<StreamContext>();
  ctx->numChannels = numChannels;
  ctx->lastChannelIsLfe = lastChannelIsLfe;
  ctx->sampleRateIndex = sfIndex;
  ctx->sampleRate = kSampleRates[sfIndex];
  ctx->profile = kProfileLc;
  ctx->headerType = headerType;
  ctx->adtsHeaderBits = adtsBits;
  ctx->mpeg4Signalling = 1;
  enc::BuildChannelMap(ctx->channelInfo, numChannels, lastChannelIsLfe);
  return ctx;
}

std::vector<int> CodeRandomChannel(StreamContext& ctx, int ch, std::mt19937& rng, int maxValue, int maxSfb,
                                   const int* groups, int numGroups, bool noise) {
  quant::ChannelCodingRecord& rec = ctx.coding[ch];
  if (groups)
    SetShortLayout(rec, ctx.sampleRateIndex, maxSfb, groups, numGroups);
  else
    SetLongLayout(rec, ctx.sampleRateIndex, maxSfb);
  rec.windowShape = 1;
  FillRandomSpectrum(rec, rng, maxValue);
  if (!groups && rng() % 2) {  // a lone spike among small values: where pulse data pays
    const int b = rec.totalBands / 2 + static_cast<int>(rng() % (rec.totalBands - rec.totalBands / 2));
    for (int i = rec.bandOffset[b]; i < rec.bandOffset[b + 1]; ++i) rec.q[i] = static_cast<int>(rng() % 3) - 1;
    rec.q[rec.bandOffset[b] + static_cast<int>(rng() % 4)] = 2 + static_cast<int>(rng() % 15);
  }
  if (noise && !groups)
    for (int b = 0; b < rec.totalBands; ++b)
      if (rng() % 6 == 0) {
        rec.codebook[b] = kNoiseCodebook;
        std::fill(rec.q + rec.bandOffset[b], rec.q + rec.bandOffset[b + 1], 0);
      }
  ChooseFinalCodebooks(rec, rng, 100 + static_cast<int>(rng() % 60));
  std::vector<int> coded(rec.q, rec.q + kFrameLength);
  enc::SelectPulses(rec, 0);
  enc::BuildCodewordList(rec);
  return coded;
}

}  // namespace aacs::test
