// psych/ms_decision.h — per-band choice between left/right and mid/side coding of a pair.
//
// Mid/side pays where the left and right masking thresholds are close (within about a factor
// sqrt 10 at the default weight): there the side signal is small and both channels tolerate
// the same noise.  Short windows also require mid/side to lower the group's entropy.
#pragma once
#include "psych/psy_state.h"

namespace aacs::psych {

// Level below which 0.7 x log10(hi / lo) of the two thresholds chooses mid/side.
inline float MsDecisionLevel(float psyWeight) { return 0.07f * psyWeight; }

// Work areas in L, R, M, S order (band energies and thresholds from the band ratios); the flags
// go to the left channel's state (msLong, msShort), with its window grouping.
void MsDecision(const PsyTables& t, const PsyWorkArea* lrms, PsyChannelState& left, float level,
                int analyseShort);

}  // namespace aacs::psych
