// psych/stereo.h — stereo coding of channel pairs: which bands are coded as mid (L+R)/2 and side
// (L-R)/2, the allowed-noise ratio and energy every band of both channels is coded with, the
// pair's common window and mid/side mask, and left/right reconstruction after quantisation.
//
// Bands are in coding order: group by group, band by band up to max_sfb.  A band the model
// marked for noise substitution is never coded mid/side.
#pragma once

struct StreamContext;

namespace aacs::psych {

// Per pair: mid/side flags, common window and mode; per channel: the ratio of every coded band
// (own, mid or side analysis) into ctx.bandThreshold and ownThreshold into the coding record.
// Uses the model results the frame is coded with (copy ctx.psyResultToggle).
void StereoDecision(StreamContext& ctx);
// Band energies of the coded signals (mid/side bands from (L+-R)/2) into ctx.bandEnergy,
// summed over the windows of a group for eight-short frames.
void BandEnergies(StreamContext& ctx);
// Replaces left/right by mid/side in every band whose flag is set.
void ApplyMidSide(StreamContext& ctx);
// Rebuilds left/right from the reconstructed mid/side spectra (ctx.reconSpectrum).
void RestoreLeftRight(StreamContext& ctx);

}  // namespace aacs::psych
