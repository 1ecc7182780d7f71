// psych/block_switch.cpp — long/short decisions from the short-window perceptual entropy, the
// window-sequence state machine, and the default bandwidth rule.
//
// A short run is entered only through LONG_START and left only through LONG_STOP, so every
// sequence the state machine produces is legal AAC.
#include "psych/block_switch.h"

#include <algorithm>
#include <cmath>

#include "api/report.h"
#include "api/stream_context.h"
#include "psych/fast_log.h"

namespace aacs::psych {
namespace {

constexpr float kAwsGuard = 1e-10f;
constexpr float kRiseLimit = 80.0f;
constexpr float kRiseLimitPreEcho = 60.0f;

// Short-window entropy of the partitions whose lines lie within [lineLo, lineHi].
void ShortWindowPe(const PartitionTable& p, const PsyChannelState& st, const PsyWorkArea& w,
                   int lineLo, int lineHi, float* pe) {
  for (int win = 0; win < kNumShortWindows; ++win) {
    float sum = 0.0f;
    for (int b = 0; b < p.numPartitions; ++b) {
      if (p.start[b] < lineLo || p.end[b] - 1 > lineHi) continue;
      const float ratio = (st.preEchoThreshold[win][b] + kAwsGuard) / (w.shortPartEnergy[win][b] + kAwsGuard);
      sum += static_cast<float>(p.width[b]) * std::max(0.0f, -FastLog(ratio));
    }
    pe[win] = sum;
  }
}

// Window-pair sums, with h the last pair of the previous frame.
struct PairSums {
  float h, s[4];
};

PairSums SumPairs(const float* pe, const float* history) {
  PairSums p;
  p.h = history[6] + history[7];
  for (int i = 0; i < 4; ++i) p.s[i] = pe[2 * i] + pe[2 * i + 1];
  return p;
}

void StoreHistory(const float* pe, PsyChannelState& st) {
  float total = 0.0f;
  for (int win = 0; win < kNumShortWindows; ++win) {
    st.peHistory[win] = pe[win];
    total += pe[win];
  }
  st.peTotal = total;
}

bool CheckMode(int mode, int line) {
  if (mode == 0) return true;
  if (mode != 1 && mode != 2)
    api::ReportWarning("PerformAWS(): Unknown block switching mode, default is 0 - Default, 1 - "
                       "Only long blocks, 2 - Only short blocks, 3 - Start/stop sequence (%s, %d)",
                       __FILE__, line);
  return false;
}

struct BandwidthRow {
  int rate;
  int bandwidth;
};
// Bit rate per channel -> audio bandwidth.  From 20 kbit/s per channel up the bandwidths sit 7 %
// above the classic table: measured, the wider band sounded better at every rate from 64 to
// 192 kbit/s stereo (docs/quality.md).
constexpr BandwidthRow kBandwidthTable[] = {
    {4001, 3000},   {8001, 3400},   {10001, 4000},  {12001, 4500},  {14001, 5000},  {16001, 6000},
    {20001, 8025},  {24001, 9095},  {28001, 11235}, {32001, 13375}, {40001, 14445}, {48001, 15515},
    {56001, 16045}, {64001, 16590}, {80001, 19255}, {96001, 19955}, {128001, 22050}};
constexpr int kBandwidthRows = sizeof(kBandwidthTable) / sizeof(kBandwidthTable[0]);

int InterpolateBandwidth(int r, int fullBandFrom) {
  if (r < 4000) return 4000;
  if (r >= fullBandFrom) return 22050;
  // The table starts at 4001 bit/s: a rate at or below it has no lower point and gets the
  // first row's bandwidth.
  if (r <= kBandwidthTable[0].rate) return kBandwidthTable[0].bandwidth;
  for (int k = 0; k + 1 < kBandwidthRows; ++k) {
    const BandwidthRow& lo = kBandwidthTable[k];
    const BandwidthRow& hi = kBandwidthTable[k + 1];
    if (lo.rate < r && r <= hi.rate) {
      const float frac = static_cast<float>(r - lo.rate) / static_cast<float>(hi.rate - lo.rate);
      return static_cast<int>(static_cast<float>(lo.bandwidth) +
                              frac * static_cast<float>(hi.bandwidth - lo.bandwidth)) + 1;
    }
  }
  return 22050;
}

}  // namespace

void PerformAwsA(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int lineLo, int lineHi,
                 int mode, const StreamContext& ctx) {
  float pe[kNumShortWindows];
  ShortWindowPe(t.shortPart, st, w, lineLo, lineHi, pe);
  const PairSums p = SumPairs(pe, st.peHistory);
  if (CheckMode(mode, __LINE__)) {
    // Only a rise of the entropy from one window pair to the next is an attack: pre-echo spreads
    // backwards in time, and a fall needs no short blocks.
    const float d = std::max({p.s[0] - p.h, p.s[1] - p.s[0], p.s[2] - p.s[1], p.s[3] - p.s[2]});
    w.attackFlag = d > ctx.switchThreshold ? 1.0f : 0.0f;
  }
  StoreHistory(pe, st);
}

void PerformAwsB(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int mode,
                 const StreamContext& ctx) {
  float pe[kNumShortWindows];
  ShortWindowPe(t.shortPart, st, w, 0, kShortLength, pe);
  const PairSums p = SumPairs(pe, st.peHistory);
  if (CheckMode(mode, __LINE__)) {
    const float d = std::max({0.0f, p.s[0] - p.h, p.s[1] - p.s[0], p.s[2] - p.s[1], p.s[3] - p.s[2]});
    const bool attack = d > kRiseLimit || (ctx.preEchoLimit == 1 && d > kRiseLimitPreEcho);
    w.attackFlag = attack ? 1.0f : 0.0f;
  }
  StoreHistory(pe, st);
}

void UpdateWindowSequence(StreamContext& ctx) {
  for (int c = 0; c < ctx.numChannels && c < kMaxChannels; ++c) {
    const int s = ctx.windowSequence[c];
    const int p = ctx.prevBlockType[c];
    const int n = ctx.blockType[c];
    int next;
    if (s == kOnlyLong || s == kLongStop) {
      next = n == kShortBlock ? kLongStart : kOnlyLong;
    } else if (ctx.timeDomainAttack == 1) {
      // The detector's decisions are one frame late for the coded block: only the older counts.
      next = p == kShortBlock ? kEightShort : kLongStop;
    } else {
      next = (p == kLongBlock && n == kLongBlock) ? kLongStop : kEightShort;
    }
    ctx.windowSequence[c] = next;
    ctx.prevBlockType[c] = n;
  }
}

int DefaultBandwidth(int ratePerChannel) { return InterpolateBandwidth(ratePerChannel, 96000); }
int DefaultBandwidthAlt(int ratePerChannel) { return InterpolateBandwidth(ratePerChannel, 128000); }

}  // namespace aacs::psych
