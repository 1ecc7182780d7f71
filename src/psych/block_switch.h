// psych/block_switch.h — window decisions: the window-sequence state machine that turns the
// model's block decisions into legal AAC sequences, the attack detectors that run on the model's
// short-window analysis, the model's analysis windows, and the default audio bandwidth for a
// bit rate.
#pragma once
#include "psych/psy_state.h"

struct StreamContext;

namespace aacs::psych {

// Per channel: windowSequence from prevBlockType and blockType; then prevBlockType := blockType.
void UpdateWindowSequence(StreamContext& ctx);
// Window kind 3 = KBD (alpha 6 short, alpha 4 long); any other kind: a warning and a Hann window.
void GenerateWindow(int shortType, int longType, float* longWindow, float* shortWindow);
// Default bandwidth in Hz for a per-channel bit rate (bit/s), and the alternative rule.
int DefaultBandwidth(int ratePerChannel);
int DefaultBandwidthAlt(int ratePerChannel);

// Block-switching modes of PerformAWS: 0 decides, 1 and 2 leave the attack flag as it is.
constexpr int kAwsDecide = 0;
// First variant: short-window entropies over the partitions inside the short lines
// [lineLo, lineHi]; an attack when a window-pair sum changes by more than switchThreshold.
// Reads the pre-echo-controlled thresholds of st and the partition energies of w, writes
// w.attackFlag and the entropy history of st.
void PerformAwsA(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int lineLo, int lineHi,
                 int mode, const StreamContext& ctx);
// Second variant: all partitions, and only rises count (80, or 60 with preEchoLimit).
void PerformAwsB(const PsyTables& t, PsyChannelState& st, PsyWorkArea& w, int mode,
                 const StreamContext& ctx);

}  // namespace aacs::psych
