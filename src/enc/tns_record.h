// enc/tns_record.h — one channel's temporal-noise-shaping filters of a frame.
//
// Written by the TNS encoder, read by the side-information writer and by the long-term
// prediction update (which runs the inverse filter on the reconstruction).
#pragma once

namespace aacs::enc {

constexpr int kTnsMaxOrder = 20;

struct TnsFilter {
  int order;
  int direction;     // 0 upward (the only one produced)
  int coefCompress;  // always 0
  int length;        // bands
  float lpc[kTnsMaxOrder + 1];     // lpc[0] = 1
  float parcor[kTnsMaxOrder + 1];  // dequantised reflection coefficients, parcor[0] = 1
  int index[kTnsMaxOrder + 1];     // quantised coefficients for orders 1..20 (index[1..order])
};

struct TnsWindow {
  int nFilt;    // 0 or 1
  int coefRes;  // always 4
  TnsFilter filter;
};

struct TnsRecord {
  int present;         // any window of the frame carries a filter
  int longStartBand;
  int shortStartBand;
  int longMaxBands;
  int shortMaxBands;
  int longMaxOrder;
  int shortMaxOrder;
  TnsWindow window[8];
};

}  // namespace aacs::enc
