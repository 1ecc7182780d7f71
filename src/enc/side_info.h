// enc/side_info.h — per-channel side information that is not Huffman coded: ics_info with its
// predictor data, Main-profile prediction data, long-term-prediction data and TNS data.
// With write = 0 each operation only counts (the writer may be null).
#pragma once
#include "enc/bit_writer.h"
#include "enc/ltp_record.h"
#include "enc/tns_record.h"
#include "quant/channel_coding_record.h"

struct StreamContext;

namespace aacs::enc {

// ics_info of channel ch: 15 bits for eight-short frames; otherwise 10 bits plus the Main
// prediction data (profile 0) or the predictor_data_present flag, followed when set (LTP profile
// only) by this channel's LTP data and, in a common-window pair, the partner's.
int WriteIcsInfo(const StreamContext& ctx, int ch, int commonWindow, int partner, BitWriter* w, int write);
// predictor_data_present of the long-frame ics_info starting with channel ch in the LTP
// profile: the channel's (and in a common-window pair the partner's) ltp_data_present; the
// first channel of a pair also sets it when only its partner predicts, and a second channel
// with its own ics_info always sets it (followed by its ltp_data_present, possibly 0).
int LtpPredictorDataPresent(const StreamContext& ctx, int ch, int commonWindow, int partner);
// predictor_data_present, reset group and prediction_used for min(totalBands, bandLimit) bands.
int WritePredictionData(const quant::ChannelCodingRecord& rec, int bandLimit, BitWriter* w, int write);
// ltp_data_present, then lag, coefficient and min(totalBands, 40) ltp_long_used flags; never
// present in eight-short frames.
int WriteLtpData(const LtpRecord& ltp, int windowSequence, int totalBands, BitWriter* w, int write);
// tns_data_present and per window n_filt, coef_res and the filter, coefficients masked to their
// coef_res - coef_compress bit width.
int WriteTnsData(const TnsRecord& tns, int windowSequence, BitWriter* w, int write);

}  // namespace aacs::enc
