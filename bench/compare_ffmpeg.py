#!/usr/bin/python3
"""Quality and speed of aacstream beside FFmpeg's built-in AAC encoder, measured in one run.

usage:
  bench/compare_ffmpeg.py quality [--corpus DIR] [--rates 128,64] [--build]
  bench/compare_ffmpeg.py speed   [--corpus DIR] [--runs 5] [--configs q9,q5,mono,surround] [--build]
                                  [--encoder PATH]

quality: every 44.1 kHz stereo clip of the corpus is encoded by both encoders at each rate and
decoded by FFmpeg; the table gives the achieved bit rate, SNR, audible bandwidth (highest
frequency within 60 dB of the long-term spectrum's peak, as bench/audio_metrics.py defines it)
and pre-echo (error energy in the 20 ms before each attack relative to the 20 ms after it).
speed: 60 s of audio per configuration, the two encoders run alternately, user CPU time of the
encoding process (median of the runs), ratio = FFmpeg time / aacstream time.

Needs python3-numpy, python3-soundfile, ffmpeg and sox, and a Release build (build/release)
with the bench target aacs_encode_file; --build configures and builds it first (CMake Release,
Ninja, at most two jobs).  --encoder times another aacs_encode_file binary (a build of an older
revision, say) in its place.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import wave

from audio_metrics import (ENCODER, ROOT, aligned, attacks, bandwidth_hz, build_release, decode, find_delay, pre_echo_db,
                           read_audio, snr_db)


def run_cpu(cmd):
    """Runs cmd and returns the user CPU seconds of the child."""
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), err))
    return usage.ru_utime


def corpus_clips(corpus):
    clips = []
    for name in sorted(os.listdir(corpus)):
        path = os.path.join(corpus, name)
        if not name.endswith(".wav") or not os.path.isfile(path):
            continue
        with wave.open(path, "rb") as w:
            if w.getframerate() == 44100 and w.getnchannels() == 2:
                clips.append(path)
    return clips


def measure(ref, rate, dec_path, tmp, marks):
    dec = decode(dec_path, os.path.join(tmp, "dec.raw"), ref.shape[1])
    delay = find_delay(ref, dec)
    r, d = aligned(ref, dec, delay)
    return snr_db(r, d), bandwidth_hz(d, rate), pre_echo_db(r, d, rate, marks)


def quality(args):
    clips = corpus_clips(args.corpus)
    rates = [int(r) for r in args.rates.split(",")]
    print("| clip | kbit/s | ours kbit/s | ours SNR dB | ours bandwidth Hz | ours pre-echo dB "
          "| FFmpeg kbit/s | FFmpeg SNR dB | FFmpeg bandwidth Hz | FFmpeg pre-echo dB |")
    print("|---|---|---|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as tmp:
        for clip in clips:
            ref, rate = read_audio(clip)
            seconds = len(ref) / rate
            marks = attacks(ref, rate)
            for kbps in rates:
                ours = os.path.join(tmp, "ours.aac")
                peer = os.path.join(tmp, "peer.m4a")
                subprocess.run([args.encoder, clip, ours, str(kbps)], check=True)
                subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", clip, "-threads", "1", "-c:a", "aac",
                                "-b:a", "%dk" % kbps, peer], check=True)
                o = measure(ref, rate, ours, tmp, marks)
                p = measure(ref, rate, peer, tmp, marks)
                # The m4a container adds a few kB of headers; its bit rate counts only the audio.
                peer_bits = float(subprocess.run(
                    ["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "stream=bit_rate", "-of",
                     "csv=p=0", peer], capture_output=True, text=True, check=True).stdout.strip() or 0)
                print("| %s | %d | %.1f | %.2f | %.0f | %.1f | %.1f | %.2f | %.0f | %.1f |" % (
                    os.path.basename(clip)[:-4], kbps, os.path.getsize(ours) * 8 / seconds / 1000, o[0], o[1], o[2],
                    peer_bits / 1000, p[0], p[1], p[2]))
                sys.stdout.flush()


def make_input(corpus, tmp, kind):
    """60 s of audio for a speed configuration."""
    out = os.path.join(tmp, kind + ".wav")
    if kind == "stereo":
        parts = [os.path.join(corpus, n) for n in ("music_orchestral_desert.wav", "music_pop_dense_frozenbubble.wav",
                                                 "tonal_piano.wav", "drums_acoustic_kit.wav",
                                                 "tonal_harpsichord.wav", "speech_female_alsa.wav")]
        subprocess.run(["sox"] + parts + ["-t", "wavpcm", out], check=True)
    elif kind == "mono":
        subprocess.run(["sox", make_input(corpus, tmp, "stereo"), "-t", "wavpcm", out, "remix", "1,2"], check=True)
    else:
        subprocess.run(["sox", os.path.join(corpus, "surround_5.1_48k.wav"), "-t", "wavpcm", out, "repeat", "9"],
                       check=True)
    return out


CONFIGS = {
    "q9": ("stereo", 128, 9, 0),
    "q5": ("stereo", 128, 5, 0),
    "mono": ("mono", 64, 9, 0),
    "surround": ("surround", 384, 9, 1),
}


def speed(args):
    print("| configuration | aacstream s | aacstream x realtime | FFmpeg s | FFmpeg x realtime | ratio "
          "| aacstream SNR dB / bandwidth Hz | FFmpeg SNR dB / bandwidth Hz |")
    print("|---|---|---|---|---|---|---|---|")
    with tempfile.TemporaryDirectory() as tmp:
        inputs = {}
        for name in args.configs.split(","):
            kind, kbps, q, lfe = CONFIGS[name]
            if kind not in inputs:
                inputs[kind] = make_input(args.corpus, tmp, kind)
            src = inputs[kind]
            with wave.open(src, "rb") as w:
                seconds = w.getnframes() / w.getframerate()
            ours_t, peer_t = [], []
            for _ in range(args.runs):
                ours_t.append(run_cpu([args.encoder, src, os.path.join(tmp, "o.aac"), str(kbps), str(q), "1",
                                       str(lfe)]))
                peer_t.append(run_cpu(["ffmpeg", "-nostdin", "-v", "error", "-y", "-threads", "1", "-i", src,
                                       "-c:a", "aac", "-b:a", "%dk" % kbps, os.path.join(tmp, "p.m4a")]))
            o, p = statistics.median(ours_t), statistics.median(peer_t)
            ref, rate = read_audio(src)
            mo = measure(ref, rate, os.path.join(tmp, "o.aac"), tmp, [])
            mp = measure(ref, rate, os.path.join(tmp, "p.m4a"), tmp, [])
            print("| %s %d kbit/s %s | %.3f | %.0f | %.3f | %.0f | %.2f | %.2f / %.0f | %.2f / %.0f |" % (
                kind, kbps, "q%d" % q, o, seconds / o, p, seconds / p, p / o, mo[0], mo[1], mp[0], mp[1]))
            sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["quality", "speed"])
    parser.add_argument("--corpus", default=os.path.join(ROOT, "..", "shared", "corpus"))
    parser.add_argument("--rates", default="128,64")
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--configs", default="q9,q5,mono,surround")
    parser.add_argument("--build", action="store_true", help="configure and build build/release first")
    parser.add_argument("--encoder", default=ENCODER, help="the aacs_encode_file binary to time")
    args = parser.parse_args()
    for tool in ("ffmpeg", "sox"):
        if shutil.which(tool) is None:
            sys.exit("%s is needed" % tool)
    if args.build:
        build_release(["aacs_encode_file"])
    if not os.path.exists(args.encoder):
        sys.exit("build the bench target first (or pass --build): cmake -S . -B build/release -G Ninja && "
                 "cmake --build build/release --target aacs_encode_file")
    quality(args) if args.mode == "quality" else speed(args)


if __name__ == "__main__":
    main()
