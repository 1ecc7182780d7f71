// psych/psy_state.h — the psychoacoustic model's per-stream state: channel states, work areas,
// partition and spreading tables, attack-detector filters and the model's own transforms.
//
// Everything lives in the stream so that two streams can run on two threads.
#pragma once
#include "enc/aac_constants.h"

namespace aacs::psych {

struct PsyModelState {
  int psyInitDone;  // set by the first analysed frame of the stream
  int blockType[kMaxPsySlots];  // the model's kept block decision per slot
};

}  // namespace aacs::psych
