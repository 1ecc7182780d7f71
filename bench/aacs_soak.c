/* aacs_soak.c — long-run driver for scripts/soak.sh: loops 16-bit WAV clips with a varying gain
 * into hours of music-like audio and encodes it through the public interface (memory input and
 * output, 56-bit ADTS), printing the process's resident memory as it goes.
 *
 * usage: aacs_soak [--seconds N] [--kbps K] [--out FILE.aac] [--wav FILE.wav] [--rss-every S]
 *                  CLIP.wav...
 * With --wav the generated audio is written as a WAV file instead (for the command-line tool).
 * Prints "rss SECONDS KB" lines and a final "summary ..." line; exit status 0 on success.
 */
#include <aacstream/aacstream.h>

#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

typedef struct {
  int16_t* samples; /* interleaved */
  long frames;
} Clip;

static int rate = 0, channels = 0;

static uint32_t Le32(const unsigned char* p) {
  return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

/* Reads a 16-bit PCM WAV clip; all clips must share the first one's rate and channel count. */
static int LoadClip(const char* path, Clip* clip) {
  FILE* f = fopen(path, "rb");
  unsigned char head[12], chunk[8], fmt[16];
  int bits = 0, r = 0, c = 0;
  if (f == NULL || fread(head, 1, 12, f) != 12 || memcmp(head, "RIFF", 4) || memcmp(head + 8, "WAVE", 4)) {
    if (f) fclose(f);
    return 1;
  }
  while (fread(chunk, 1, 8, f) == 8) {
    uint32_t size = Le32(chunk + 4);
    if (!memcmp(chunk, "fmt ", 4) && size >= 16) {
      if (fread(fmt, 1, 16, f) != 16) break;
      c = fmt[2] | fmt[3] << 8;
      r = (int)Le32(fmt + 4);
      bits = fmt[14] | fmt[15] << 8;
      fseek(f, (long)(size - 16 + (size & 1)), SEEK_CUR);
    } else if (!memcmp(chunk, "data", 4)) {
      if (bits != 16 || c < 1 || c > 6) break;
      if (rate == 0) rate = r, channels = c;
      if (r != rate || c != channels) break;
      clip->frames = (long)(size / (uint32_t)(2 * c));
      clip->samples = malloc((size_t)clip->frames * (size_t)c * 2);
      if (clip->samples == NULL) break;
      for (long i = 0; i < clip->frames * c; ++i) {
        unsigned char b[2];
        if (fread(b, 1, 2, f) != 2) b[0] = b[1] = 0;
        clip->samples[i] = (int16_t)(b[0] | b[1] << 8);
      }
      fclose(f);
      return 0;
    } else {
      fseek(f, (long)(size + (size & 1)), SEEK_CUR);
    }
  }
  fclose(f);
  return 1;
}

static long ResidentKb(void) {
  FILE* f = fopen("/proc/self/statm", "r");
  long pages = 0, resident = 0;
  if (f == NULL) return -1;
  if (fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = -1;
  fclose(f);
  return resident < 0 ? -1 : resident * (sysconf(_SC_PAGESIZE) / 1024);
}

/* The generator: clips in turn, each pass at a gain between -24 and 0 dB drawn from a fixed
 * sequence, with a slow swell on top. */
typedef struct {
  Clip* clips;
  int count, current;
  long pos, produced;
  double gain;
  uint32_t seed;
} Generator;

static void NextPass(Generator* g) {
  g->seed = g->seed * 1664525u + 1013904223u;
  g->gain = pow(10.0, -24.0 * (double)(g->seed >> 8) / 16777216.0 / 20.0);
  g->pos = 0;
}

static void Generate(Generator* g, int16_t* out, int frames) {
  for (int i = 0; i < frames; ++i) {
    const Clip* clip = &g->clips[g->current];
    if (g->pos >= clip->frames) {
      g->current = (g->current + 1) % g->count;
      NextPass(g);
      clip = &g->clips[g->current];
    }
    const double swell = 0.75 + 0.25 * sin(2.0 * M_PI * (double)g->produced / (37.0 * rate));
    for (int c = 0; c < channels; ++c) {
      double v = clip->samples[g->pos * channels + c] * g->gain * swell;
      out[(long)i * channels + c] = (int16_t)(v > 32767 ? 32767 : (v < -32768 ? -32768 : v));
    }
    ++g->pos;
    ++g->produced;
  }
}

static void Put32(FILE* f, uint32_t v) {
  unsigned char b[4] = {(unsigned char)v, (unsigned char)(v >> 8), (unsigned char)(v >> 16), (unsigned char)(v >> 24)};
  fwrite(b, 1, 4, f);
}

static int WriteWav(Generator* g, long totalFrames, const char* path) {
  FILE* f = fopen(path, "wb");
  int16_t buffer[6 * 4096];
  if (f == NULL) return 1;
  const uint32_t dataBytes = (uint32_t)(totalFrames * channels * 2);
  fwrite("RIFF", 1, 4, f), Put32(f, 36 + dataBytes), fwrite("WAVEfmt ", 1, 8, f), Put32(f, 16);
  Put32(f, 1u | (uint32_t)channels << 16), Put32(f, (uint32_t)rate), Put32(f, (uint32_t)(rate * channels * 2));
  Put32(f, (uint32_t)(channels * 2) | 16u << 16), fwrite("data", 1, 4, f), Put32(f, dataBytes);
  for (long done = 0; done < totalFrames;) {
    const int n = totalFrames - done < 4096 ? (int)(totalFrames - done) : 4096;
    Generate(g, buffer, n);
    if (fwrite(buffer, 2, (size_t)n * channels, f) != (size_t)n * channels) return fclose(f), 1;
    done += n;
  }
  return fclose(f) != 0;
}

int main(int argc, char** argv) {
  double seconds = 7200, rssEvery = 60;
  int kbps = 0;
  const char *outPath = NULL, *wavPath = NULL;
  Clip clips[32];
  int count = 0;
  for (int i = 1; i < argc; ++i) {
    if (!strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = atof(argv[++i]);
    else if (!strcmp(argv[i], "--kbps") && i + 1 < argc) kbps = atoi(argv[++i]);
    else if (!strcmp(argv[i], "--out") && i + 1 < argc) outPath = argv[++i];
    else if (!strcmp(argv[i], "--wav") && i + 1 < argc) wavPath = argv[++i];
    else if (!strcmp(argv[i], "--rss-every") && i + 1 < argc) rssEvery = atof(argv[++i]);
    else if (count < 32 && LoadClip(argv[i], &clips[count]) == 0) ++count;
    else fprintf(stderr, "aacs_soak: skipping %s (not a 16-bit WAV of the first clip's format)\n", argv[i]);
  }
  if (count == 0) {
    fprintf(stderr, "usage: %s [--seconds N] [--kbps K] [--out FILE.aac] [--wav FILE.wav] CLIP.wav...\n", argv[0]);
    return 2;
  }
  Generator g = {clips, count, 0, 0, 0, 1.0, 12345u};
  NextPass(&g);
  const long totalFrames = (long)(seconds * rate);
  if (wavPath) return WriteWav(&g, totalFrames, wavPath);

  if (kbps == 0) kbps = 64 * channels;
  const int keys[] = {AACSTREAM_OPT_ADTS_HEADER_BITS}, values[] = {56};
  StreamContext* s = aacStreamOpenEx32(0, 0, rate, kbps, channels, 0, 0, 1, 2, 0, 0, 9, NULL, NULL, NULL, NULL, NULL,
                                       0, keys, values, 1);
  if (s == NULL) return 1;
  FILE* out = outPath ? fopen(outPath, "wb") : NULL;
  unsigned char* bytes = malloc((size_t)aacStreamMaxOutputBytes32(s));
  int16_t* pcm = malloc(sizeof(int16_t) * 1024 * (size_t)channels);
  if ((outPath && out == NULL) || bytes == NULL || pcm == NULL) return 1;
  const clock_t start = clock();
  long long written = 0;
  long calls = 0, firstRss = -1, lastRss = -1, maxRss = 0;
  double nextReport = 0;
  int result = 0, length = 0, n = 0;
  for (long done = 0; result == 0; done += 1024, ++calls) {
    n = totalFrames - done < 1024 ? (int)(totalFrames - done) : 1024;
    Generate(&g, pcm, n);
    result = aacStreamEncodeFrame32(s, pcm, bytes, n * channels, &length);
    if (result == 1) return fprintf(stderr, "aacs_soak: encode failed after %ld calls\n", calls), 1;
    if (out && length > 0) fwrite(bytes, 1, (size_t)length, out);
    written += length;
    const double t = (double)done / rate;
    if (t >= nextReport) {
      lastRss = ResidentKb();
      if (firstRss < 0) firstRss = lastRss;
      if (lastRss > maxRss) maxRss = lastRss;
      printf("rss %.0f %ld\n", t, lastRss);
      fflush(stdout);
      nextReport += rssEvery;
    }
  }
  if (aacStreamFlush32(s, bytes, &length) == 0) {
    if (out) fwrite(bytes, 1, (size_t)length, out);
    written += length;
  }
  aacStreamClose32(s);
  aacStreamDestroy32(s);
  if (out && fclose(out) != 0) return 1;
  const double cpu = (double)(clock() - start) / CLOCKS_PER_SEC;
  printf("summary calls %ld frames %ld bytes %lld seconds %.1f avg_kbps %.1f rss_first %ld rss_last %ld "
         "rss_max %ld speed %.1fx\n",
         calls, n > 0 ? calls + 1 : calls, written, seconds, written * 8.0 / seconds / 1000.0, firstRss, lastRss, maxRss,
         cpu > 0 ? seconds / cpu : 0.0);
  return 0;
}
