// psych/block_switch.h — window decisions: the window-sequence state machine that turns the
// model's block decisions into legal AAC sequences, the model's analysis windows, and the
// default audio bandwidth for a bit rate.
#pragma once

struct StreamContext;

namespace aacs::psych {

// Per channel: windowSequence from prevBlockType and blockType; then prevBlockType := blockType.
void UpdateWindowSequence(StreamContext& ctx);
// Window kind 3 = KBD (alpha 6 short, alpha 4 long); any other kind: a warning and a Hann window.
void GenerateWindow(int shortType, int longType, float* longWindow, float* shortWindow);
// Default bandwidth in Hz for a per-channel bit rate (bit/s), and the alternative rule.
int DefaultBandwidth(int ratePerChannel);
int DefaultBandwidthAlt(int ratePerChannel);

}  // namespace aacs::psych
