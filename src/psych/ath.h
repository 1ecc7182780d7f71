// psych/ath.h — the absolute threshold of hearing per scalefactor band, and the small solver
// that turns a bit budget into a perceptual-entropy target.
#pragma once

struct StreamContext;

namespace aacs::psych {

float AthCurveA(float fKhz, const StreamContext& ctx);
float AthCurveB(float fKhz, const StreamContext& ctx);
float AbsoluteThreshold(float fKhz, const StreamContext& ctx);
// Fills ctx.athLongBand / ctx.athShortBand from the band widths of channel 0's results.
void BuildAthTables(StreamContext& ctx);
// The P with x2 * P + x3 * sqrt(P) = x1 (the smaller root), as used with (V, 0.6, 24).
float SolvePeTarget(float x1, float x2, float x3);

}  // namespace aacs::psych
