// peaq/peaq.h — one PEAQ measurement (ITU-R BS.1387-1, basic version) of a signal pair.
//
// Runs the ear model over both signals frame by frame, channel by channel, averages each MOV
// over the frames that count for it, averages the channels, and maps the MOVs through the
// neural network to the objective difference grade.
#pragma once
#include "peaq/audio_input.h"
#include "peaq/movs.h"

namespace aacs::peaq {

struct PeaqOptions {
  double listeningLevelDb = kDefaultListeningLevelDb;
};

struct PeaqResult {
  double movs[kNumMovs];
  double distortionIndex;
  double odg;
};

// Measures `test` against `ref` (as checked by CheckAudioPair).  Returns kPeaqOk, kPeaqTooShort
// or kPeaqInternal.
int MeasureQuality(const AudioSignal& ref, const AudioSignal& test, const PeaqOptions& options, PeaqResult& result);

}  // namespace aacs::peaq
