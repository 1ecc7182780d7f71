// peaq/neural_net.h — the basic version's neural network (ITU-R BS.1387-1, Annex 2, 6).
//
// Eleven MOVs, each scaled to [0, 1] by the published amin/amax, feed three sigmoid hidden
// nodes; their weighted sum is the distortion index DI, and a scaled sigmoid of DI is the
// objective difference grade ODG on the -3.98 .. 0.22 scale.
#pragma once
#include "peaq/movs.h"

namespace aacs::peaq {

double DistortionIndex(const double* movs);
double ObjectiveDifferenceGrade(double distortionIndex);

}  // namespace aacs::peaq
