/* aacstream — MPEG-2/MPEG-4 AAC encoder library, C interface.
 *
 * A host opens a stream, feeds interleaved signed 16-bit PCM one call at a time
 * (1024 sample frames per channel per call), receives AAC bytes (ADTS frames,
 * raw data blocks behind an ADIF header, or bare raw data blocks), and finally
 * closes and destroys the stream.  The library can also read its PCM from a
 * RIFF/WAVE file and write the bitstream to a file itself.
 *
 * Calling order: open, any number of encode calls, close, destroy.  Every
 * encode call but the last feeds exactly numChannels x 1024 samples (with
 * memory input there is no resampling); a shorter call ends the stream.
 *
 * Threads: every stream is independent.  Two streams may be driven from two
 * threads at the same time; one stream must not be used from two threads at
 * once.
 */
#ifndef AACSTREAM_AACSTREAM_H
#define AACSTREAM_AACSTREAM_H

#include <stdio.h>

#if defined(_WIN32)
#  define AACSTREAM_API __declspec(dllexport)
#elif defined(__GNUC__)
#  define AACSTREAM_API __attribute__((visibility("default")))
#else
#  define AACSTREAM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The stream handle.  Opaque to the host. */
typedef struct StreamContext StreamContext;

/* Opens a stream.  Returns the handle, or NULL after printing one line on
 * stderr ("aacstream: <reason>") that names the problem and releasing
 * everything.  Every argument below is checked: a value outside its range is
 * refused here, so no later call can fail because of it.
 *
 *  readInputFile   1: read PCM from the WAV file inputFileName (8/16/24/32-bit
 *                  integer PCM, 1-6 channels; the file's rate and channel count
 *                  are used).  Any other value: the host passes PCM to every
 *                  encode call.
 *  writeOutputFile 1: write the bitstream to outputFileName (created or
 *                  truncated).  Any other value: the bytes are copied to the
 *                  host's buffer.
 *  sampleRate      encoding rate in Hz: 96000, 88200, 64000, 48000, 44100,
 *                  32000, 24000, 22050, 16000, 12000, 11025 or 8000.  With file
 *                  input, 0 takes the file's rate, and a rate different from
 *                  the file's makes the library resample (ratios above 12
 *                  are refused).
 *  bitRateKbps     target bit rate of the whole stream in kbit/s, at least 8,
 *                  and at most 6144 bits per channel per frame
 *                  (6144 x channels x sampleRate / 1024 bit/s); below 64 bits
 *                  per channel per frame is refused.  Near that lower limit
 *                  the headers and side information take nearly every bit:
 *                  below about 100 bits per channel and frame after the ADTS
 *                  header the stream decodes as (near) silence.
 *  numChannels     1 to 6 (ignored with file input: the file's count is used).
 *  lfe             non-zero: the sixth channel of a 6-channel stream is an LFE
 *                  channel; refused with 4 channels (no standard layout); no
 *                  effect with 1, 2, 3 or 5 channels.
 *  preset          0: tuning by bit rate; 1-9: fixed presets (these also select
 *                  variable-rate mode); a negative value with bit 8 (256) set
 *                  selects the alternative default-bandwidth rule.
 *  lcOnly          1: low-complexity profile (the default profile anyway).
 *  headerType      0 raw data blocks, 1 ADIF header then raw blocks, 2 ADTS.
 *  bandwidthHz     audio bandwidth in Hz, used when above 2000 (2000 or less:
 *                  automatic); above 96000 is refused.  Presets 3-9 keep their
 *                  own bandwidth.
 *  psyOption       1: code noise-like high bands by perceptual noise substitution.
 *  quality         0 (fastest) to 9 (best, the default); any other value is
 *                  accepted and keeps the default search limits.
 *  text1..text3    trailer strings (may be NULL); they are not copied, so they
 *                  must stay valid until WriteVelmorAACHeader has been called.
 *  year            trailer year; 0 means the current UTC year (any value).
 *
 * The other integer arguments accept any value: preset values other than 0-9
 * (and the 256 bit of a negative one) change nothing, lcOnly and psyOption act
 * only when 1, lfe acts when non-zero.  File names must be readable / creatable
 * (a missing name, an empty name or a directory is refused).
 *
 * Six channels without LFE are coded as SCE CPE CPE SCE with channel
 * configuration 6.  FFmpeg and faad decode all six channels in full; both
 * present the sixth (the second SCE) in the LFE position of a 5.1 layout
 * (FL FR FC LFE BL BR), so a player may route it to the subwoofer.  Use lfe=1
 * for 5.1 material.  ADIF streams describe the layout exactly in their program
 * configuration (a back centre channel).
 *
 * Channel order.  With memory input, interleaved channel i feeds slot i of the
 * element map: 1: C; 2: L R; 3: C L R; 4: C L R S; 5: C L R Ls Rs;
 * 6: C L R Ls Rs LFE (with lfe set; otherwise 6 full-band channels).  With file
 * input the library reorders the WAV order (L R C for 3 channels,
 * L R C S for 4, L R C Ls Rs for 5, L R C LFE Ls Rs for 6) into that element
 * order.  A 4-channel WAV file must be front left, right, centre and back
 * centre (speaker mask 0x107, or no mask); other 4-channel layouts (quad,
 * mask 0x33) are refused at open, since AAC's channel configurations cannot
 * carry them.  A WAVE_FORMAT_EXTENSIBLE file with 6 channels and the 5.1
 * mask 0x3F or 0x60F gets its LFE channel without the lfe argument.
 *
 * With file input and output, the two must be different files (the same
 * name, or the same file through a link, is refused).
 */
AACSTREAM_API StreamContext* aacStreamOpen32(int readInputFile, int writeOutputFile, int sampleRate,
    int bitRateKbps, int numChannels, int lfe, int preset, int lcOnly, int headerType,
    int bandwidthHz, int psyOption, int quality, const char* inputFileName,
    const char* outputFileName, const char* text1, const char* text2, const char* text3,
    int year);

/* Encodes one call's worth of PCM.
 *
 *  pcm          interleaved signed 16-bit samples, channel 0 first in each
 *               sample frame; ignored with file input (may be NULL then).
 *  out          receives the bytes of this call; it must hold at least
 *               aacStreamMaxOutputBytes32(handle) bytes.  Ignored with file
 *               output (may be NULL then).
 *  sampleCount  samples over all channels, 0 to numChannels x 1024; ignored
 *               with file input (the library reads the file).  A count that is
 *               not a multiple of numChannels ends the stream like any short
 *               call; the missing samples of the last sample frame are zero.
 *  outLength    receives the number of bytes placed in out (with file output,
 *               the number written to the file).  Must not be NULL with memory
 *               output.
 *
 * Results:
 *  0  the samples were accepted (the first call of a stream produces 0 bytes:
 *     the encoder runs one frame behind its input);
 *  1  bad arguments (NULL handle, sampleCount below 0 or above samples per
 *     call, NULL pcm with memory input and sampleCount > 0, NULL out or
 *     outLength with memory output) or a closed stream; nothing was read or
 *     written (not even *outLength) and the stream can still be used.  Also
 *     returned when the encoder failed internally (no accepted configuration
 *     is known to reach that), after which the stream must only be closed;
 *  2  end of stream: this call was short (fewer samples than a full call, 0
 *     included), its samples were encoded and the encoder was flushed.  The
 *     last two frames stay inside the stream with memory output: fetch them
 *     with aacStreamFlush32().  *outLength holds the bytes this call placed in
 *     out (0 when it had no samples).  Every later call returns 2, stores 0 in
 *     *outLength (when not NULL) and reads or writes nothing else;
 *  3  (AACSTREAM_RESULT_IO_ERROR) reading the input file or writing the output
 *     file failed (a full disk, a file-size limit, an input that shrank while
 *     being encoded): the library printed one line on stderr naming the file
 *     and the reason, and the output file is incomplete.  The stream encodes
 *     nothing more: every later call returns 3 and stores 0 in *outLength.
 *     aacStreamStatus32() tells whether the read or the write failed; close
 *     the stream as usual and do not use the file.
 * A stream of k calls produces k + 1 frames in all.  With memory output the
 * library writes at most aacStreamMaxOutputBytes32(handle) bytes into out.
 * The handle must come from a successful open and must not have been
 * destroyed; NULL is the only invalid handle the library can recognise.
 */
AACSTREAM_API int aacStreamEncodeFrame32(StreamContext* handle, const short* pcm, unsigned char* out,
    int sampleCount, int* outLength);

/* Finishes the stream (writes the ADIF header over its placeholder when the
 * library writes the file), closes files and releases buffers.  The handle
 * stays valid for WriteVelmorAACHeader and aacStreamDestroy32.  NULL is
 * ignored; a second close does nothing. */
AACSTREAM_API void aacStreamClose32(StreamContext* handle);

/* Frees the stream (closing it first if the host did not).  NULL is ignored. */
AACSTREAM_API void aacStreamDestroy32(StreamContext* handle);

/* Appends the stream trailer (rate, channels, frame count, average bit rate,
 * the three texts, year, size, magic 0xABCCABCC) at the current position of
 * `stream`.  Call it once, after aacStreamClose32 and before
 * aacStreamDestroy32 (each call lowers the stream's frame figure by three, so
 * a second call writes a smaller figure).  When the library wrote the output
 * file itself it has closed it: reopen it in append mode ("ab") and pass that
 * FILE*.  NULL arguments are ignored.  Counters of very long streams saturate
 * into the record's 32-bit fields; the average bit rate is exact for any
 * length. */
AACSTREAM_API void WriteVelmorAACHeader(StreamContext* handle, FILE* stream);

/* ---- Extensions ---------------------------------------------------------- */

/* Option keys for aacStreamOpenEx32.  Keys 1-16 set the numbered parameters
 * after the open arguments (so they override them); unknown keys and
 * out-of-range values make the open fail. */
enum {
  AACSTREAM_OPT_PROFILE = 1,            /* 0 Main, 1 LC (default), 3 LTP; 2 (SSR) is refused */
  AACSTREAM_OPT_HEADER_TYPE = 2,        /* 0 raw, 1 ADIF, 2 ADTS */
  AACSTREAM_OPT_STEREO_MODE = 3,        /* 0 mid/side per band (default), 1 mid/side on every band, -1 none */
  AACSTREAM_OPT_BIT_RATE_KBPS = 5,      /* bit rate in kbit/s */
  AACSTREAM_OPT_BANDWIDTH = 6,          /* bandwidth in Hz (0: automatic) */
  AACSTREAM_OPT_SAMPLE_RATE = 7,        /* encoding rate in Hz */
  AACSTREAM_OPT_RESERVED_8 = 8,         /* accepted, no effect */
  AACSTREAM_OPT_TNS = 9,                /* 0/1: temporal noise shaping */
  AACSTREAM_OPT_LTP = 10,               /* 0/1: long-term prediction (LTP profile only) */
  AACSTREAM_OPT_NOISE_SUBSTITUTION = 11,/* 0/1: perceptual noise substitution */
  AACSTREAM_OPT_INPUT_SAMPLE_RATE = 12, /* rate of the PCM handed in: must equal the encoding rate (a WAV
                                           file's own rate always wins with file input) */
  AACSTREAM_OPT_CHANNELS = 13,          /* 1-6 */
  AACSTREAM_OPT_LFE = 14,               /* 0/1: last channel is LFE */
  AACSTREAM_OPT_VBR = 15,               /* 0/1: variable-rate mode */
  AACSTREAM_OPT_QUALITY = 16,           /* quality level, as the quality argument */
  AACSTREAM_OPT_ADTS_HEADER_BITS = 100, /* 58 (default, legacy header with emphasis field) or 56 */
  AACSTREAM_OPT_RATE_MODE = 101,        /* AACSTREAM_RATE_AVERAGE (default) or AACSTREAM_RATE_CONSTANT */
  AACSTREAM_OPT_VBR_LEVEL = 102         /* 0 (off, default) or 1-5: quality-targeted variable rate */
};

/* Rate modes (AACSTREAM_OPT_RATE_MODE).
 *  AVERAGE   bitRateKbps is the average over the stream (within 5 % on any
 *            stretch of 10 s or more): a reservoir of 0.6 s of bits moves
 *            bits from easy frames to hard ones; bits nothing can use are
 *            padded.  ADTS headers signal a variable-rate stream (buffer
 *            fullness 0x7FF).
 *  CONSTANT  every frame keeps the decoder's buffer model for bitRateKbps:
 *            the reservoir (6144 bits per channel less one mean frame) never
 *            runs dry nor overflows (frames are padded with fill elements),
 *            so any run of frames is the target rate's size within one
 *            frame, and adts_buffer_fullness carries the reservoir's state.
 *            For broadcasting and segmented streaming.
 * Quality-targeted VBR (AACSTREAM_OPT_VBR_LEVEL 1-5) codes at a fixed
 * distance from the model's masking thresholds and lets the rate follow the
 * material; bitRateKbps is then only checked for range.  Typical rates for
 * stereo 44.1 kHz music are listed in the README.  Presets 1-9 and option 15
 * are the legacy variable-rate tunings: neither a rate mode nor a level
 * combines with them. */
enum { AACSTREAM_RATE_AVERAGE = 0, AACSTREAM_RATE_CONSTANT = 1 };

/* The same open as aacStreamOpen32, with optionCount (key, value) options
 * applied after the open arguments and before the stream is initialised.
 * optionKeys and optionValues must hold optionCount entries each (they may be
 * NULL when optionCount is 0); a negative count or missing arrays are refused. */
AACSTREAM_API StreamContext* aacStreamOpenEx32(int readInputFile, int writeOutputFile, int sampleRate,
    int bitRateKbps, int numChannels, int lfe, int preset, int lcOnly, int headerType,
    int bandwidthHz, int psyOption, int quality, const char* inputFileName,
    const char* outputFileName, const char* text1, const char* text2, const char* text3,
    int year, const int* optionKeys, const int* optionValues, int optionCount);

/* The encode call's result when the stream's own file input or output failed. */
enum { AACSTREAM_RESULT_IO_ERROR = 3 };

/* The stream's file I/O state, from aacStreamStatus32. */
enum {
  AACSTREAM_STATUS_OK = 0,           /* no read or write has failed (so far) */
  AACSTREAM_STATUS_READ_FAILED = 1,  /* reading the input file failed, or it ended early */
  AACSTREAM_STATUS_WRITE_FAILED = 2  /* writing the output file failed */
};

/* The first I/O failure of a stream that reads or writes its own files, or
 * AACSTREAM_STATUS_OK.  Valid until aacStreamDestroy32, and after
 * aacStreamClose32 it also covers close's own writes (the ADIF header, the
 * last buffered bytes): a host that wrote through the library checks it after
 * closing before it trusts the file.  -1 for a NULL handle. */
AACSTREAM_API int aacStreamStatus32(StreamContext* handle);

/* Size of `out` that is always enough for one encode call (or one flush) of
 * this stream.  0 for a NULL handle. */
AACSTREAM_API int aacStreamMaxOutputBytes32(StreamContext* handle);

/* With memory output: after the encode call that returned 2, copies the bytes
 * of the two flush frames, in order, into out (at least
 * aacStreamMaxOutputBytes32 bytes) and returns 0.  Returns 1 and stores 0 when
 * nothing is pending (file output, called twice, stream not ended, NULL
 * arguments). */
AACSTREAM_API int aacStreamFlush32(StreamContext* handle, unsigned char* out, int* outLength);

/* The stream's AudioSpecificConfig (2 bytes: object type = profile + 1,
 * sampling-frequency index, channel configuration) for containers such as
 * MP4.  Returns 0, or 1 for NULL arguments. */
AACSTREAM_API int aacStreamAudioSpecificConfig32(StreamContext* handle, unsigned char* out, int* outLength);

#ifdef __cplusplus
}
#endif

#endif /* AACSTREAM_AACSTREAM_H */
