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

// ics_info of channel ch; in a common-window pair it also carries the partner's LTP data.
int WriteIcsInfo(const StreamContext& ctx, int ch, int commonWindow, int partner, BitWriter* w, int write);
int WritePredictionData(const quant::ChannelCodingRecord& rec, int bandLimit, BitWriter* w, int write);
int WriteLtpData(const LtpRecord& ltp, int windowSequence, int totalBands, BitWriter* w, int write);
int WriteTnsData(const TnsRecord& tns, int windowSequence, BitWriter* w, int write);

}  // namespace aacs::enc
