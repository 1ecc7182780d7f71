#!/usr/bin/python3
"""Speed of aacstream beside FFmpeg's built-in AAC encoder, measured in one run.

usage:
  bench/compare_ffmpeg.py speed [--corpus DIR] [--runs 5] [--configs q9,q5,mono,surround] [--build]
                                [--encoder PATH]

speed: 60 s of audio per configuration, the two encoders run alternately, user CPU time of the
encoding process (median of the runs), ratio = FFmpeg time / aacstream time; the SNR and
bandwidth of both decodes are printed beside it to show that a speed change kept the output.
Quality against FFmpeg and fdk-aac (PEAQ, SNR, bandwidth, pre-echo, bit rate per clip) is
bench/quality.py; both scripts measure with the helpers of bench/audio_metrics.py.

Needs python3-numpy, python3-soundfile, ffmpeg and sox, and a Release build (build/release) with
the bench target aacs_encode_file; --build configures and builds it first (CMake Release, Ninja,
at most two jobs).  --encoder times another aacs_encode_file binary (a build of an older
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

from audio_metrics import ENCODER, ROOT, aligned, bandwidth_hz, build_release, decode, find_delay, read_audio, snr_db


def run_cpu(cmd):
    """Runs cmd and returns the user CPU seconds of the child."""
    proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    _, status, usage = os.wait4(proc.pid, 0)
    err = proc.stderr.read().decode(errors="replace")
    proc.stderr.close()
    if os.waitstatus_to_exitcode(status) != 0:
        raise RuntimeError("%s failed: %s" % (" ".join(cmd), err))
    return usage.ru_utime


def measure(ref, rate, dec_path, tmp):
    """SNR and bandwidth of a decode, aligned by cross-correlation."""
    dec = decode(dec_path, os.path.join(tmp, "dec.raw"), ref.shape[1])
    r, d = aligned(ref, dec, find_delay(ref, dec))
    return snr_db(r, d), bandwidth_hz(d, rate)


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
            mo = measure(ref, rate, os.path.join(tmp, "o.aac"), tmp)
            mp = measure(ref, rate, os.path.join(tmp, "p.m4a"), tmp)
            print("| %s %d kbit/s %s | %.3f | %.0f | %.3f | %.0f | %.2f | %.2f / %.0f | %.2f / %.0f |" % (
                kind, kbps, "q%d" % q, o, seconds / o, p, seconds / p, p / o, mo[0], mo[1], mp[0], mp[1]))
            sys.stdout.flush()


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("mode", choices=["speed"])
    parser.add_argument("--corpus", default=os.path.join(ROOT, "..", "shared", "corpus"))
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
    speed(args)


if __name__ == "__main__":
    main()
