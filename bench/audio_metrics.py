"""Measurement helpers shared by the bench scripts (compare_ffmpeg.py, quality.py).

Samples are float64 arrays of shape (samples, channels) on the 16-bit scale (full scale 32768),
so the absolute thresholds of the attack detector mean the same for every file.

Needs python3-numpy and python3-soundfile (Debian), and ffmpeg for decode().
"""
import os
import subprocess

import numpy as np
import soundfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "release")
ENCODER = os.path.join(BUILD, "bench", "aacs_encode_file")


def read_audio(path):
    """Any file libsndfile reads (WAV, FLAC), as (samples x channels on the 16-bit scale, rate)."""
    data, rate = soundfile.read(path, dtype="float64", always_2d=True)
    return data * 32768.0, int(rate)


def write_wav(path, x, rate, subtype="PCM_16"):
    """Writes x (16-bit scale) as WAV; PCM_16 rounds and saturates, FLOAT keeps every value."""
    y = x / 32768.0
    if subtype == "PCM_16":
        y = np.clip(np.round(x), -32768, 32767) / 32768.0
    soundfile.write(path, y, rate, subtype=subtype, format="WAV")


def decode(path, out, channels):
    """FFmpeg decode to raw 16-bit samples (its WAV writer uses the extensible header above stereo).

    A raw ADTS stream decodes with the encoder's whole start delay in front; an M4A file's edit
    list makes FFmpeg drop the priming samples it names."""
    subprocess.run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", path, "-f", "s16le", "-c:a", "pcm_s16le", out],
                   check=True)
    data = np.fromfile(out, dtype="<i2").astype(np.float64)
    return data.reshape(-1, channels)


def find_delay(ref, dec, max_lag=4096, min_lag=0):
    """Lag d in [min_lag, max_lag] at which dec[n + d] best matches ref[n] (cross-correlation of the
    channel sums over the first 262144 samples)."""
    a = ref.sum(axis=1)[:262144]
    b = dec.sum(axis=1)[: len(a) + max_lag]
    n = 1 << int(np.ceil(np.log2(len(a) + len(b) + max(0, -min_lag))))
    corr = np.fft.irfft(np.fft.rfft(b, n) * np.conj(np.fft.rfft(a, n)), n)
    lags = np.arange(min_lag, max_lag + 1)
    return int(lags[np.argmax(corr[lags % n])])


def aligned(ref, dec, delay):
    """The common part of ref and dec once dec is advanced by delay samples."""
    n = min(len(ref), len(dec) - delay)
    return ref[:n], dec[delay : delay + n]


def cut_to(dec, delay, length):
    """dec advanced by delay samples (delayed if negative), cut or zero-padded to length samples;
    also returns how many samples had to be padded at the end."""
    if delay < 0:
        dec = np.concatenate([np.zeros((-delay, dec.shape[1])), dec])
        delay = 0
    out = dec[delay : delay + length]
    short = length - len(out)
    if short > 0:
        out = np.concatenate([out, np.zeros((short, dec.shape[1]))])
    return out, max(short, 0)


def snr_db(ref, dec):
    """Whole-file SNR over all channels (200 dB for identical signals)."""
    noise = np.sum((ref - dec) ** 2)
    return 200.0 if noise == 0 else 10 * np.log10(np.sum(ref**2) / noise)


def bandwidth_hz(x, rate, floor_db=60.0):
    """Highest frequency whose long-term average power is within floor_db of the peak (above 20 Hz).

    Welch spectrum with ~20 Hz bins (a power of two near rate/20), 4-term Blackman-Harris window
    (-92 dB sidelobes), half overlap, power summed over the channels: the definition of the
    bandwidth column of the reference decodes' odg_reference.tsv."""
    nseg = 1 << int(round(np.log2(rate / 20.0)))
    if len(x) < nseg:
        nseg = 1 << int(np.log2(max(len(x), 16)))
        x = np.pad(x, ((0, max(0, nseg - len(x))), (0, 0)))
    k = np.arange(nseg) / nseg
    w = 0.35875 - 0.48829 * np.cos(2 * np.pi * k) + 0.14128 * np.cos(4 * np.pi * k) - 0.01168 * np.cos(6 * np.pi * k)
    starts = np.arange(0, len(x) - nseg + 1, nseg // 2)
    p = np.zeros(nseg // 2 + 1)
    for c in range(x.shape[1]):
        for i in range(0, len(starts), 512):
            idx = starts[i : i + 512, None] + np.arange(nseg)
            p += np.sum(np.abs(np.fft.rfft(x[idx, c] * w, axis=1)) ** 2, axis=0)
    f = np.arange(len(p)) * rate / nseg
    band = f >= 20.0
    if not np.any(p[band] > 0):
        return 0.0
    above = np.flatnonzero(band & (p >= np.max(p[band]) * 10 ** (-floor_db / 10)))
    return float(round(f[above[-1]]))


def attacks(x, rate):
    """Sample positions of attacks: 2.5 ms blocks whose energy jumps 20 dB above the 20 ms before."""
    step = rate // 400
    e = np.array([np.sum(x[i : i + step] ** 2) / step + 1.0 for i in range(0, len(x) - step, step)])
    out = []
    for j in range(8, len(e)):
        if e[j] > 100 * e[j - 8 : j].max() and e[j] > 1e5 and (not out or j * step - out[-1] > rate // 10):
            out.append(j * step)
    return out


def pre_echo_db(ref, dec, rate, marks):
    """Mean over the attacks of the error energy in the 20 ms before each relative to the signal
    energy in the 20 ms after it (nan without attacks)."""
    span = rate // 50
    vals = []
    for t in marks:
        if t < span or t + span > len(ref):
            continue
        err = np.sum((dec[t - span : t] - ref[t - span : t]) ** 2)
        sig = np.sum(ref[t : t + span] ** 2)
        vals.append(10 * np.log10((err + 1) / (sig + 1)))
    return float(np.mean(vals)) if vals else float("nan")


def build_release(targets, optional=()):
    """Configures build/release (CMake Release, Ninja) and builds targets with two jobs; the targets
    of optional are built only where the build defines them.  Returns the optional ones missing."""
    subprocess.run(["cmake", "-S", ROOT, "-B", BUILD, "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                    "-DAACSTREAM_BUILD_BENCH=ON"], check=True, stdout=subprocess.DEVNULL)
    known = subprocess.run(["cmake", "--build", BUILD, "--target", "help"], capture_output=True, text=True).stdout
    names = {line.split(":")[0].strip(". ") for line in known.splitlines()}
    missing = [t for t in optional if t not in names]
    wanted = list(targets) + [t for t in optional if t in names]
    subprocess.run(["cmake", "--build", BUILD, "-j2", "--target"] + wanted, check=True, stdout=subprocess.DEVNULL)
    return missing
