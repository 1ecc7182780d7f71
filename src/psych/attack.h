// psych/attack.h — decisions about time: the time-domain attack detector used at the lower
// quality levels, and the AAC window grouping of the eight short windows, chosen from how the
// short-window perceptual entropy changes between window pairs.
#pragma once
#include "psych/psy_state.h"

struct StreamContext;

namespace aacs::psych {

// The 32 taps of the detector's high-pass FIR filter.
extern const float kAttackFilterTaps[kAttackTaps];

// Peak over the frame, then the filtered magnitudes' maxima over segments of 32, 64 and 128
// samples: an attack when a segment's maximum jumps by 20x, 13.3x or 10x over the one before.
// Frames peaking at 100 or less are never attacks.  Filters even then, to keep the delay line.
int DetectAttackSimple(StreamContext& ctx, int ch, const float* input);
// The segment test on filtered magnitudes alone (1024 values); peak is the input's peak.
int AttackInSegments(const float* filtered, float peak);

// Short-window entropies from the pre-echo-controlled thresholds and the short partition
// energies, and the changes d1, d2, d3 between consecutive window pairs, into st.change.
void GroupingMeasure(const PsyTables& t, PsyChannelState& st, const PsyWorkArea& w);
// Grouping class 1..10 from the three change measures.
int ChooseGroupClass(float d1, float d2, float d3);
// Stores the class's window groups in the state.
void SetGrouping(PsyChannelState& st, int groupClass);

}  // namespace aacs::psych
