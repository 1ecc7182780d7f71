// psych/psy_stages.h — the per-signal stages of the masking model: partition energies, spreading
// with the tonality-dependent SNR, thresholds, the stereo masking adjustment of pairs, short
// pre-echo control, band ratios with temporal control, and the perceptual entropies.
#pragma once
#include "psych/psy_state.h"

struct StreamContext;

namespace aacs::psych {

// Squares the lines in place and sums per partition: mean energy, unpredictability-weighted
// mean energy (unpred and chaos may be null), peak line energy (peak may be null) and the
// plain energy sums (sums).
void PartitionEnergiesBlock(const PartitionTable& p, float* lines, const float* unpred,
                            float* energy, float* chaos, float* peak, float* sums);
// Long block and, with analyseShort, the eight short windows of one signal.
void PartitionEnergies(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int analyseShort,
                       bool withTonality);

// Spread energies over each row's nonzero range; with chaos non-null also the SNR factor from
// the unpredictability tables (tableStride 0: one shared table).
void SpreadPartitionsBlock(const PartitionTable& p, const SpreadingTable& s, const float* energy,
                           const float* chaos, float* spread, float* zeroFlag, float* snr,
                           const float* table, int tableStride);
void SpreadPartitions(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int analyseShort,
                      bool withChaosSnr);

// Threshold = spread energy x SNR factor (SNR factors taken from snrFrom): long into the next
// threshold-ring position, short into the raw thresholds.
void FormThresholds(const PsyTables& t, PsyChannelState& st, const PsyWorkArea& snrFrom,
                    int analyseShort);

// Mid and side thresholds of a pair from its left and right ones (long, and short with
// analyseShort): the smaller of the two for both; states in L, R, M, S order.
void StereoMaskingAdjust(const PsyTables& t, PsyChannelState* const* lrms, int analyseShort);

// Pre-echo control of the short thresholds: each window limited by the previous one (window 0
// by the previous frame's window 7) and floored by the absolute threshold.
void ShortPreEcho(const PsyTables& t, PsyChannelState& st);

// Band energies and thresholds, temporal control, and the ratios handed out.
void BandRatiosLong(const PsyTables& t, const StreamContext& ctx, PsyChannelState& st,
                    PsyWorkArea& w);
void BandRatiosShort(const PsyTables& t, const StreamContext& ctx, PsyChannelState& st,
                     PsyWorkArea& w);

// Perceptual entropies: sum of width x ln(E / T) over bands where the threshold is below the
// energy.  The short one uses window 0's threshold for all eight windows.
float LongBlockPe(const PartitionTable& p, const float* energy, const float* threshold);
float ShortBlockPe(const PartitionTable& p, const PsyWorkArea& w);

}  // namespace aacs::psych
