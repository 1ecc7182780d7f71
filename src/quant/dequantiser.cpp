// quant/dequantiser.cpp — decoder-exact inverse quantisation for the prediction tools.
#include "quant/dequantiser.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "quant/quantiser.h"

namespace aacs::quant {
namespace {

struct DecoderTables {
  float power43[kMaxDequantisedMagnitude + 1];
  float scale[256];
};

DecoderTables BuildDecoderTables() {
  DecoderTables t;
  // i * cbrt(i) in double, then rounded once to float: the value every decoder's table holds.
  for (int i = 0; i <= kMaxDequantisedMagnitude; ++i) {
    const double v = static_cast<double>(i);
    t.power43[i] = static_cast<float>(v * std::cbrt(v));
  }
  for (int sf = 0; sf < 256; ++sf) t.scale[sf] = static_cast<float>(std::pow(2.0, (sf - 100) / 4.0));
  return t;
}

const DecoderTables& Tables() {
  static const DecoderTables tables = BuildDecoderTables();
  return tables;
}

}  // namespace

float DecoderPower43(int magnitude) {
  return Tables().power43[std::clamp(magnitude, 0, kMaxDequantisedMagnitude)];
}

float DecoderScale(int scalefactor) { return Tables().scale[std::clamp(scalefactor, 0, 255)]; }

void DequantiseLikeDecoder(const ChannelCodingRecord& rec, float* out) {
  const DecoderTables& t = Tables();
  float lines[kFrameLength] = {};
  auto value = [&t](int32_t q, float scale) {
    const float r = t.power43[std::min(std::abs(q), kMaxDequantisedMagnitude)] * scale;
    return q < 0 ? -r : r;
  };
  const int bands = std::clamp(rec.totalBands, 0, kMaxCodedBands);
  for (int b = 0; b < bands; ++b) {
    const int cb = rec.codebook[b];
    if (cb == kZeroCodebook || cb >= kNoiseCodebook) continue;
    const float scale = t.scale[std::clamp(rec.scalefactor[b], 0, 255)];
    for (int i = rec.bandOffset[b]; i < rec.bandOffset[b + 1] && i < kFrameLength; ++i) lines[i] = value(rec.q[i], scale);
  }
  if (rec.pulseDataPresent && rec.pulseStartSfb >= 0 && rec.pulseStartSfb < bands) {
    // The decoder adds each pulse amplitude to |q| before the power law.
    int line = rec.bandOffset[rec.pulseStartSfb];
    int band = rec.pulseStartSfb;
    for (int k = 0; k < rec.numPulse && k < 4; ++k) {
      line += rec.pulseOffset[k];
      if (line >= rec.bandOffset[bands]) break;
      while (rec.bandOffset[band + 1] <= line) ++band;
      const int cb = rec.codebook[band];
      if (cb == kZeroCodebook || cb >= kNoiseCodebook) continue;
      const int32_t q = rec.q[line];
      lines[line] = value(q < 0 ? q - rec.pulseAmp[k] : q + rec.pulseAmp[k],
                          t.scale[std::clamp(rec.scalefactor[band], 0, 255)]);
    }
  }
  ScatterCodingOrder(rec, lines, out, 0.0f);
}

}  // namespace aacs::quant
