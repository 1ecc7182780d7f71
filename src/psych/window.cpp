// psych/window.cpp — the model's full symmetric analysis windows.
//
// Kind 3 is the KBD window of the coding filterbank (alpha 6 short, alpha 4 long), so the
// model's MDCT equals the filterbank's for ONLY_LONG and EIGHT_SHORT with KBD shapes and can be
// reused for coding.  Any other kind falls back to a symmetric Hann window.
#include <cmath>
#include <numbers>

#include "api/report.h"
#include "enc/filterbank.h"
#include "psych/block_switch.h"

namespace aacs::psych {
namespace {

constexpr int kKbdWindowKind = 3;

void SymmetricWindow(const float* rise, int half, float* window) {
  for (int n = 0; n < half; ++n) {
    window[n] = rise[n];
    window[half + n] = rise[half - 1 - n];
  }
}

void HannWindow(int length, float* window) {
  for (int n = 0; n < length; ++n)
    window[n] = static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * n / (length - 1)));
}

}  // namespace

void GenerateWindow(int shortType, int longType, float* longWindow, float* shortWindow) {
  for (int n = 0; n < 2 * kShortLength; ++n) shortWindow[n] = 1.0f;
  for (int n = 0; n < 2 * kFrameLength; ++n) longWindow[n] = 1.0f;
  if (shortType == kKbdWindowKind) {
    SymmetricWindow(enc::KbdWindowShort(), kShortLength, shortWindow);
  } else {
    api::ReportWarning("GenerateWindow(): unknown window type for short blocks, defaulting to HANN "
                       "window! (%s, %d)", __FILE__, __LINE__);
    HannWindow(2 * kShortLength, shortWindow);
  }
  if (longType == kKbdWindowKind) {
    SymmetricWindow(enc::KbdWindowLong(), kFrameLength, longWindow);
  } else {
    api::ReportWarning("GenerateWindow(): unknown window type for long blocks, defaulting to HANN "
                       "window! (%s, %d)", __FILE__, __LINE__);
    HannWindow(2 * kFrameLength, longWindow);
  }
}

}  // namespace aacs::psych
