/* encode_wav.c — encodes a WAV file to AAC with the stream calls of libaacstream.
 *
 * usage: encode_wav INPUT.wav OUTPUT.aac [kbit/s] [--trailer]
 *
 * The library reads the WAV file and writes the ADTS stream itself; the host only drives the
 * calls: open, encode until the stream ends, close, optionally append the trailer, destroy.
 * Exit status 0 when the whole file was written, 1 otherwise.
 */
#include <aacstream/aacstream.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double Now(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec + (double)ts.tv_nsec * 1e-9;
}

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s INPUT.wav OUTPUT.aac [kbit/s] [--trailer]\n", argv[0]);
    return 2;
  }
  const char* input = argv[1];
  const char* output = argv[2];
  const int kbps = argc > 3 && argv[3][0] != '-' ? atoi(argv[3]) : 128;
  const int trailer = argc > 3 && strcmp(argv[argc - 1], "--trailer") == 0;

  /* The 56-bit ADTS header is the one every current decoder expects. */
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS};
  const int values[] = {56};
  const double start = Now();
  StreamContext* stream = aacStreamOpenEx32(1, 1, 0, kbps, 0, 0, 0, 1, 2, 0, 0, 9, input, output,
                                            "encode_wav", "aacstream example", NULL, 0, keys, values, 1);
  if (stream == NULL) return 1; /* the library printed why */

  /* The AudioSpecificConfig tells the encoding rate (sampling-frequency index). */
  static const int kRates[12] = {96000, 88200, 64000, 48000, 44100, 32000,
                                 24000, 22050, 16000, 12000, 11025, 8000};
  unsigned char asc[2];
  int ascLength = 0;
  aacStreamAudioSpecificConfig32(stream, asc, &ascLength);
  const int sampleRate = kRates[((asc[0] & 7) << 1 | asc[1] >> 7) % 12];

  long calls = 0;
  int length = 0;
  int result;
  do {
    result = aacStreamEncodeFrame32(stream, NULL, NULL, 0, &length);
    ++calls;
  } while (result == 0);
  aacStreamClose32(stream);
  /* Result 3 and a status other than OK after close mean a read or write failed (the library
   * printed which): the output file is incomplete. */
  if (result != 2 || aacStreamStatus32(stream) != AACSTREAM_STATUS_OK) {
    fprintf(stderr, "encode_wav: encoding '%s' failed\n", input);
    aacStreamDestroy32(stream);
    return 1;
  }
  if (trailer) {
    FILE* f = fopen(output, "ab"); /* the library closed its own output file */
    int failed = f == NULL;
    if (f != NULL) {
      WriteVelmorAACHeader(stream, f);
      failed = ferror(f) != 0;
      failed |= fclose(f) != 0;
    }
    if (failed) {
      fprintf(stderr, "encode_wav: cannot append the trailer to '%s'\n", output);
      aacStreamDestroy32(stream);
      return 1;
    }
  }
  aacStreamDestroy32(stream);
  const double seconds = Now() - start;

  FILE* f = fopen(output, "rb");
  long bytes = 0;
  if (f != NULL) {
    fseek(f, 0, SEEK_END);
    bytes = ftell(f);
    fclose(f);
  }
  /* One call carries 1024 sample frames per channel (no resampling here). */
  const double duration = (double)calls * 1024.0 / sampleRate;
  printf("wrote %s: %ld bytes, about %.1f s of audio, %.1f kbit/s, encoded in %.2f s (%.0fx realtime)\n",
         output, bytes, duration, duration > 0 ? bytes * 8.0 / duration / 1000.0 : 0.0, seconds,
         seconds > 0 ? duration / seconds : 0.0);
  return 0;
}
