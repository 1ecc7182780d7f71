// enc/channel_info.h — the channel element map of a frame and the stereo decisions of pairs.
//
// One record per channel slot (12: channels 0..5 and, for the model, their mid/side partners
// 6..11).  BuildChannelMap rebuilds the element layout at the start of every frame; stereo
// coding fills commonWindow, msInfo and the intensity flags before the frame is written.
#pragma once
#include "enc/aac_constants.h"

namespace aacs::enc {

struct MsInfo {
  int msMode;                      // 0 none, 1 per band, 2 all bands
  int msUsed[kMaxCodedBands];      // per window group and band, maxSfb flags per group
};

struct ChannelInfo {
  int present;        // 1 for every channel below numChannels
  int tag;            // element_instance_tag of the element this channel starts
  int isPair;         // member of a channel pair element
  int isLfe;          // coded as an LFE channel element
  int commonWindow;   // pairs: both channels share one ics_info
  int isFirstOfPair;  // the left channel of a pair
  int pairedChannel;  // the other channel of the pair
  MsInfo msInfo;      // mid/side information of the pair (in the first channel's record)
  int intensityFlag[kMaxCodedBands];  // second channel of a pair: per group and band (never set)
  int stereoDone;     // stereo coding visited this channel in the current frame
  int analysed;       // the model analysed this channel in the current frame
};

// Element layout for numChannels (1..6), with the last odd channel an LFE when asked:
// 1 SCE; 2 CPE; 3 SCE CPE; 4 SCE CPE (LFE|SCE); 5 SCE CPE CPE; 6 SCE CPE CPE (LFE|SCE).
void BuildChannelMap(ChannelInfo* info, int numChannels, int lastChannelIsLfe);

}  // namespace aacs::enc
