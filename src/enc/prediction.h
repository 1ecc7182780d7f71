// enc/prediction.h — Main-profile backward-adaptive prediction (ISO/IEC 13818-7, 8.3.2).
//
// Every line below the rate's predictor band limit has a second-order lattice predictor fed
// with the fully reconstructed spectrum of earlier long frames.  The arithmetic is the
// decoder's (single precision, states kept to 16-bit float precision), so the prediction
// the encoder subtracts is exactly the one a decoder adds back.
#pragma once
#include "enc/predictor_state.h"

struct StreamContext;

namespace aacs::enc {

// Resets every line (r = cor = 0, var = 1), trusts every line and clears the decoder flags.
void PredictorInit(PredictorState& state);

// The decoder's predictor of one line: the prediction from the state, and the update with
// the line's fully reconstructed value.  Exposed for tests.
float PredictLine(const PredictorState& state, int n);
void UpdateLine(PredictorState& state, int n, float reconstructed);
void ResetLine(PredictorState& state, int n);

// Float helpers of the decoder's 16-bit precision: truncation, rounding half up, and the
// rounding of the reciprocal 61/64 / var.
float TruncateTo16(float x);
float RoundTo16(float x);
float RoundReciprocalTo16(float x);

// Estimated bits a prediction p saves on the lines [start, end) of x when noise up to
// `allowedNoise` (a band energy) is acceptable: half a bit per line and factor 2 of energy
// above the allowed noise, so energy removed below it saves nothing.  Negative when the
// prediction adds energy above the allowed noise.  Shared by both prediction tools.
float PredictionSavingBits(const float* x, const float* p, int start, int end, float allowedNoise);

// Pipeline, Main profile, after TNS and before mid/side: predicts every long channel, decides
// per band (jointly for a pair sharing one ics_info) whether the prediction pays, subtracts
// it, and sets predictionUsed, resetGroup and bandPredicted of the coding records.
void PredictFrame(StreamContext& ctx);

// Pipeline, Main profile, after the rate loops and left/right restoration: adds the used
// prediction back into reconSpectrum (the full reconstruction a decoder has before TNS) and
// updates every predictor with it; eight-short frames, reset groups and noise bands reset
// lines as decoders do.
void UpdatePredictors(StreamContext& ctx);

}  // namespace aacs::enc
