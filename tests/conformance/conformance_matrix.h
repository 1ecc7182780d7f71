// tests/conformance/conformance_matrix.h — the configuration matrix that every accepted stream
// format must survive: rates x channel layouts x bit rates x presets x quality levels x header
// forms, and one check of a configuration against real decoders.
#pragma once
#include <string>
#include <vector>

namespace aacs::testing {

enum class HeaderForm { kAdts56Ffmpeg, kAdts58Faad, kAdifFaad };

struct MatrixConfig {
  int sampleRate = 44100;
  int channels = 2;
  int lfe = 0;
  int kbps = 128;
  int preset = 0;
  int quality = 9;
  HeaderForm header = HeaderForm::kAdts56Ffmpeg;
};

// The whole matrix, in a fixed order.
std::vector<MatrixConfig> FullMatrix();
// A fixed-seed sample of `count` configurations (the same sample on every run); with
// `bothEnds` the lowest and highest bit rate of every rate and layout are always among them
// (168 configurations, so the sample has at least that many).
std::vector<MatrixConfig> SampledMatrix(int count, bool bothEnds = true);
// The bit rates (kbit/s) tried for a rate and channel count: the lowest and highest that open
// accepts and three in between.
std::vector<int> BitRateSpread(int sampleRate, int channels);

std::string ConfigName(const MatrixConfig& c);

struct MatrixOutcome {
  bool passed = false;
  std::string failure;         // first problem found, empty when passed
  int frames = 0;              // frames in the stream
  int maxChannelBits = 0;      // largest element's bits per channel
  double inputLevelDb = 0.0;
  double decodedLevelDb = 0.0;
  int payloadBits = 0;         // mean bits per channel and frame after the ADTS header
};

// Encodes 0.5 s of the rate's music clip in the configuration's layout, decodes it with the
// decoder of its header form and checks counts, frame sizes and level.
MatrixOutcome RunMatrixConfig(const MatrixConfig& config);

}  // namespace aacs::testing
