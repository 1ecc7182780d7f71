// peaq/neural_net.cpp — published weights of the basic version's network.
#include "peaq/neural_net.h"

#include <cmath>

namespace aacs::peaq {
namespace {

constexpr int kHiddenNodes = 3;

// Scaling of the inputs: x' = (x - amin) / (amax - amin).
constexpr double kMovMin[kNumMovs] = {393.916656, 361.965332, -24.045116, 1.110661, -0.206623, 0.074318,
                                      1.113683,   0.950345,   0.029985,   0.000101, 0.0};
constexpr double kMovMax[kNumMovs] = {921.0,     881.131226, 16.212030, 107.137772, 2.886017, 13.933351,
                                      63.257874, 1145.018555, 14.819740, 1.0,       1.0};

// Input weights per MOV and hidden node, then the hidden nodes' biases.
constexpr double kInputWeights[kNumMovs][kHiddenNodes] = {
    {-0.502657, 0.436333, 1.219602},   {4.307481, 3.246017, 1.123743},   {4.984241, -2.211189, -0.192096},
    {0.051056, -1.762424, 4.331315},   {2.321580, 1.789971, -0.754560},  {-5.303901, -3.452257, -10.814982},
    {2.730991, -6.111805, 1.519223},   {0.624950, -1.331523, -5.955151}, {3.102889, 0.871260, -5.922878},
    {-1.051468, -0.939882, -0.142913}, {-1.804679, -0.503610, -0.620456}};
constexpr double kHiddenBias[kHiddenNodes] = {-2.518254, 0.654841, -2.207228};
constexpr double kOutputWeights[kHiddenNodes] = {-3.817048, 4.107138, 4.629582};
constexpr double kOutputBias = -0.307594;
constexpr double kOdgMin = -3.98;
constexpr double kOdgMax = 0.22;

double Sigmoid(double x) { return 1.0 / (1.0 + std::exp(-x)); }

}  // namespace

double DistortionIndex(const double* movs) {
  double di = kOutputBias;
  for (int j = 0; j < kHiddenNodes; ++j) {
    double act = kHiddenBias[j];
    for (int i = 0; i < kNumMovs; ++i) act += kInputWeights[i][j] * (movs[i] - kMovMin[i]) / (kMovMax[i] - kMovMin[i]);
    di += kOutputWeights[j] * Sigmoid(act);
  }
  return di;
}

double ObjectiveDifferenceGrade(double distortionIndex) {
  return kOdgMin + (kOdgMax - kOdgMin) * Sigmoid(distortionIndex);
}

}  // namespace aacs::peaq
