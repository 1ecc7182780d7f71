// enc/band_tables.cpp — the cb_adapt rows, derived once from the standard's band offsets.
#include "enc/band_tables.h"

namespace aacs::enc {
namespace {

constexpr int kCbAdaptRates[kNumSampleRates] = {8000, 11025, 12000, 16000, 22050, 24000,
                                                32000, 44100, 48000, 64000, 88200, 96000};

struct CbAdaptTableData {
  CbAdaptRow rows[kNumSampleRates + 1];
  CbAdaptTableData() : rows{} {
    for (int r = 0; r < kNumSampleRates; ++r) {
      CbAdaptRow& row = rows[r];
      const int sfi = SampleRateIndex(kCbAdaptRates[r]);
      row.sampleRate = kCbAdaptRates[r];
      row.numLong = kNumSwbLong[sfi];
      row.numShort = kNumSwbShort[sfi];
      for (int b = 0; b < row.numLong; ++b)
        row.longWidth[b] = kSwbOffsetLong[sfi][b + 1] - kSwbOffsetLong[sfi][b];
      for (int b = 0; b < row.numShort; ++b)
        row.shortWidth[b] = kSwbOffsetShort[sfi][b + 1] - kSwbOffsetShort[sfi][b];
    }
    rows[kNumSampleRates].sampleRate = -1;
  }
};

}  // namespace

const CbAdaptRow* CbAdaptTable() {
  static const CbAdaptTableData table;  // thread-safe one-time construction
  return table.rows;
}

const CbAdaptRow* FindCbAdaptRow(int sampleRate) {
  for (const CbAdaptRow* row = CbAdaptTable(); row->sampleRate != -1; ++row)
    if (row->sampleRate == sampleRate) return row;
  return nullptr;
}

}  // namespace aacs::enc
