/* aacs_encode_file.c — encodes a WAV file for the bench scripts.
 *
 * usage: aacs_encode_file INPUT.wav OUTPUT.aac KBPS [QUALITY] [PROFILE] [LFE] [MODE]
 * MODE: abr (average rate, the default), cbr (constant rate) or vbr1 .. vbr5 (quality levels).
 * Writes 56-bit ADTS through the library's own file input and output.  Exit status 0 on success.
 */
#include <aacstream/aacstream.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char** argv) {
  if (argc < 4) {
    fprintf(stderr, "usage: %s INPUT.wav OUTPUT.aac KBPS [QUALITY] [PROFILE] [LFE] [abr|cbr|vbr1-5]\n", argv[0]);
    return 2;
  }
  const int kbps = atoi(argv[3]);
  const int quality = argc > 4 ? atoi(argv[4]) : 9;
  const int profile = argc > 5 ? atoi(argv[5]) : 1;
  const int lfe = argc > 6 ? atoi(argv[6]) : 0;
  const char* mode = argc > 7 ? argv[7] : "abr";
  const int constant = strcmp(mode, "cbr") == 0;
  const int level = strncmp(mode, "vbr", 3) == 0 ? atoi(mode + 3) : 0;
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS, AACSTREAM_OPT_PROFILE, AACSTREAM_OPT_RATE_MODE,
                      AACSTREAM_OPT_VBR_LEVEL};
  const int values[] = {56, profile, constant ? AACSTREAM_RATE_CONSTANT : AACSTREAM_RATE_AVERAGE, level};
  StreamContext* s = aacStreamOpenEx32(1, 1, 0, kbps, 0, lfe, 0, 1, 2, 0, 0, quality, argv[1], argv[2], NULL, NULL,
                                       NULL, 0, keys, values, 4);
  if (s == NULL) return 1;
  int length = 0, result;
  while ((result = aacStreamEncodeFrame32(s, NULL, NULL, 0, &length)) == 0) {
  }
  aacStreamClose32(s);
  const int ok = result == 2 && aacStreamStatus32(s) == AACSTREAM_STATUS_OK;
  aacStreamDestroy32(s);
  return ok ? 0 : 1;
}
