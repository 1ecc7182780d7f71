// enc/side_info.cpp — ics_info, Main-profile prediction data, long-term-prediction data and TNS
// data of one channel, written or counted with the same arithmetic.
//
// Field order and widths follow ISO/IEC 13818-7 (ics_info, prediction, tns_data) and
// ISO/IEC 14496-3 (ltp_data).
#include "enc/side_info.h"

#include <algorithm>

#include "api/stream_context.h"

namespace aacs::enc {
namespace {

constexpr int kMaxLtpLongBands = 40;  // MAX_LTP_LONG_SFB

struct Fields {
  BitWriter* w;
  int write;
  int bits = 0;
  void Put(int value, int n) {
    if (write) BitWriterPutBits(w, static_cast<uint32_t>(value) & ((1u << n) - 1), n);
    bits += n;
  }
};

// Window k (1..7) is in the same group as window k-1: one bit per window, window 1 first.
int ScaleFactorGrouping(const quant::ChannelCodingRecord& rec) {
  int groupOf[kNumShortWindows] = {};
  for (int g = 0, w = 0; g < rec.numWindowGroups && g < kNumShortWindows; ++g)
    for (int i = 0; i < rec.groupLength[g] && w < kNumShortWindows; ++i) groupOf[w++] = g;
  int bits = 0;
  for (int w = 1; w < kNumShortWindows; ++w) bits = (bits << 1) | (groupOf[w] == groupOf[w - 1]);
  return bits;
}

}  // namespace

int WriteIcsInfo(const StreamContext& ctx, int ch, int commonWindow, int partner, BitWriter* w, int write) {
  const quant::ChannelCodingRecord& rec = ctx.coding[ch];
  Fields f{w, write};
  f.Put(0, 1);  // ics_reserved_bit
  f.Put(rec.windowSequence, 2);
  f.Put(rec.windowShape, 1);
  if (rec.windowSequence == kEightShort) {
    f.Put(rec.maxSfb, 4);
    f.Put(ScaleFactorGrouping(rec), 7);
    return f.bits;
  }
  f.Put(rec.maxSfb, 6);
  if (ctx.profile == kProfileMain) return f.bits + WritePredictionData(rec, ctx.predictorBandLimit, w, write);

  const int present = LtpPredictorDataPresent(ctx, ch, commonWindow, partner);
  f.Put(present, 1);
  if (!present) return f.bits;
  f.bits += WriteLtpData(ctx.ltp[ch], rec.windowSequence, rec.totalBands, w, write);
  if (commonWindow) f.bits += WriteLtpData(ctx.ltp[partner], rec.windowSequence, rec.totalBands, w, write);
  return f.bits;
}

int LtpPredictorDataPresent(const StreamContext& ctx, int ch, int commonWindow, int partner) {
  // Only the LTP object type carries long-term prediction; an LC stream never sets the flag.
  if (ctx.profile != kProfileLtp) return 0;
  const int own = ctx.ltp[ch].present != 0;
  if (commonWindow) return own || ctx.ltp[partner].present;
  const ChannelInfo& info = ctx.channelInfo[ch];
  if (!info.isPair) return own;
  if (info.isFirstOfPair) return own || ctx.ltp[info.pairedChannel].present;
  // A second channel with its own ics_info always states its ltp_data_present: decoders that
  // keep the flag from frame to frame and gate it by the first channel would otherwise apply
  // an old prediction.
  return ctx.ltpEnabled ? 1 : own;
}

int WritePredictionData(const quant::ChannelCodingRecord& rec, int bandLimit, BitWriter* w, int write) {
  Fields f{w, write};
  const int present = rec.predictionUsed != 0 && rec.windowSequence != kEightShort;
  f.Put(present, 1);
  if (!present) return f.bits;
  const int reset = rec.resetGroup >= 1;
  f.Put(reset, 1);
  if (reset) f.Put(rec.resetGroup, 5);
  const int bands = std::min(rec.totalBands, bandLimit);
  for (int b = 0; b < bands; ++b) f.Put(rec.bandPredicted[b] != 0, 1);
  return f.bits;
}

int WriteLtpData(const LtpRecord& ltp, int windowSequence, int totalBands, BitWriter* w, int write) {
  Fields f{w, write};
  // Eight-short frames carry no predictor data, so the flag is never set there.
  const int present = ltp.present && windowSequence != kEightShort;
  f.Put(present, 1);
  if (!present) return f.bits;
  f.Put(ltp.lag, 11);
  f.Put(ltp.gainIndex, 3);
  const int bands = std::min(totalBands, kMaxLtpLongBands);
  for (int b = 0; b < bands; ++b) f.Put(ltp.bandUsed[b] != 0, 1);
  return f.bits;
}

int WriteTnsData(const TnsRecord& tns, int windowSequence, BitWriter* w, int write) {
  Fields f{w, write};
  f.Put(tns.present != 0, 1);
  if (!tns.present) return f.bits;
  const bool shortFrame = windowSequence == kEightShort;
  const int windows = shortFrame ? kNumShortWindows : 1;
  const int nFiltBits = shortFrame ? 1 : 2, lengthBits = shortFrame ? 4 : 6, orderBits = shortFrame ? 3 : 5;
  for (int win = 0; win < windows; ++win) {
    const TnsWindow& tw = tns.window[win];
    const int nFilt = std::clamp(tw.nFilt, 0, 1);  // the record holds one filter per window
    f.Put(nFilt, nFiltBits);
    if (nFilt == 0) continue;
    const int coefRes = tw.coefRes == 3 ? 3 : 4;
    f.Put(coefRes - 3, 1);
    const TnsFilter& flt = tw.filter;
    // Widths bound what a decoder can read back, so the coefficient count follows the order sent.
    const int order = std::clamp(flt.order, 0, std::min((1 << orderBits) - 1, kTnsMaxOrder));
    f.Put(std::clamp(flt.length, 0, (1 << lengthBits) - 1), lengthBits);
    f.Put(order, orderBits);
    if (order == 0) continue;
    const int compress = flt.coefCompress != 0;
    f.Put(flt.direction != 0, 1);
    f.Put(compress, 1);
    for (int i = 1; i <= order; ++i) f.Put(flt.index[i], coefRes - compress);  // two's complement
  }
  return f.bits;
}

}  // namespace aacs::enc
