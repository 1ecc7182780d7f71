// enc/channel_info.cpp — the channel element map: which channels form single, pair and LFE
// elements, with their element instance tags.
#include "enc/channel_info.h"

namespace aacs::enc {
namespace {

void SetSingle(ChannelInfo& c, int ch, int tag, int lfe) {
  c.present = 1;
  c.tag = tag;
  c.isPair = 0;
  c.isLfe = lfe;
  c.commonWindow = 0;
  c.isFirstOfPair = 0;
  c.pairedChannel = ch;
}

}  // namespace

void BuildChannelMap(ChannelInfo* info, int numChannels, int lastChannelIsLfe) {
  if (numChannels < 1) numChannels = 1;
  if (numChannels > kMaxChannels) numChannels = kMaxChannels;
  for (int ch = 0; ch < kMaxChannels; ++ch) {
    info[ch].msInfo.msMode = 0;
    if (ch >= numChannels) {
      SetSingle(info[ch], ch, 0, 0);
      info[ch].present = 0;
    }
  }
  int remaining = numChannels;
  int singleTag = 0;
  if (numChannels != 2) {  // the centre channel leads as a single channel element
    SetSingle(info[0], 0, singleTag++, 0);
    --remaining;
  }
  for (int pairTag = 0; remaining > 1; ++pairTag, remaining -= 2) {
    const int c = numChannels - remaining;
    ChannelInfo& first = info[c];
    ChannelInfo& second = info[c + 1];
    first.present = second.present = 1;
    first.tag = second.tag = pairTag;
    first.isPair = second.isPair = 1;
    first.commonWindow = second.commonWindow = 0;
    first.isFirstOfPair = 1;
    second.isFirstOfPair = 0;
    first.pairedChannel = c + 1;
    second.pairedChannel = c;
    first.isLfe = second.isLfe = 0;
  }
  if (remaining == 1) {
    const int c = numChannels - 1;
    if (lastChannelIsLfe)
      SetSingle(info[c], c, 0, 1);
    else
      SetSingle(info[c], c, singleTag, 0);
  }
}

}  // namespace aacs::enc
