#!/usr/bin/python3
"""Quality of aacstream against FFmpeg's built-in AAC encoder and fdk-aac, in one command.

usage:
  bench/quality.py [--rates 64,96,128,192] [--mono-rates 32,48,64] [--clips A,B] [--quality 9]
                   [--encoder PATH] [--encoder-args ARGS] [--no-ffmpeg] [--fdk-from-tsv]
                   [--peaq PATH] [--label NAME] [--tsv PATH] [--corpus DIR] [--reference DIR]
                   [-j N] [--build]

Stereo: every clip with rows in the reference's odg_reference.tsv (the corpus's 44.1 kHz stereo
music and speech) at each rate of --rates.  aacstream (aacs_encode_file, 56-bit ADTS) and
FFmpeg (`-threads 1 -c:a aac -b:a NNk`, M4A) encode, FFmpeg decodes both, each decode is aligned
to the original sample-exactly and cut to its length, then scored:
  ODG        PEAQ Objective Difference Grade (0 imperceptible ... -4 very annoying) from the
             PEAQ tool, called as `PEAQ REF.wav TEST.wav` and printing `ODG x.xxx`
  SNR        whole-file signal-to-noise ratio over both channels, dB
  bandwidth  highest frequency where the decode's long-term spectrum is within 60 dB of its
             peak, Hz (the definition of odg_reference.tsv)
  pre-echo   error energy in the 20 ms before each attack of the original relative to the
             signal in the 20 ms after it, dB, mean over the attacks (lower is better)
  kbit/s     achieved bit rate of the audio payload over the clip's duration: the whole ADTS
             file for aacstream (headers included), the sum of the M4A's frames for FFmpeg
Beside them the fdk-aac decode of the reference set (already aligned): its ODG by the same PEAQ
tool, and the reference TSV's ODG (GstPEAQ, at 48 kHz), SNR, bandwidth and bit rate;
"ours - fdk" compares the two ODGs of one meter (--fdk-from-tsv: the TSV's ODG instead).
Mono: speech_16k_mono and music_48k_mono at each rate of --mono-rates, aacstream against FFmpeg.
PEAQ wants 44.1 or 48 kHz: a clip at another rate is scored at 48 kHz, its original and its
aligned decode upsampled by sox `rate -v 48000` (SNR, bandwidth and pre-echo stay at the clip's
own rate).

Alignment: the ADTS decode starts with the encoder's one frame of priming (1024 samples), the
M4A's edit list makes FFmpeg drop its priming (0 samples), the reference decodes are aligned
(0); every decode's delay is checked by cross-correlation with the original, and a disagreement
is reported (the decode is then scored at whichever of the two delays gives the higher SNR).

Output: Markdown on stdout (a table per rate with mean row, worst clip and ours - fdk, the mono
table, a summary) and one TSV row per clip x rate x encoder (--tsv, default
build/quality/quality.tsv) for bench/quality_diff.py.  Clip x rate jobs run in parallel (-j,
default the number of processors).  Temporary files live in one temporary folder, removed at
the end.

Needs python3-numpy, python3-soundfile, ffmpeg, ffprobe and sox; a Release build (build/release)
with the bench target aacs_encode_file and, for ODGs, aacs_peaq (--build configures and builds
both with two jobs).  Without the PEAQ tool the run goes on with nan ODGs.
"""
import argparse
import concurrent.futures
import csv
import datetime
import math
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
from dataclasses import dataclass, field

import soundfile

from audio_metrics import (BUILD, ENCODER, ROOT, attacks, bandwidth_hz, build_release, cut_to, decode, find_delay,
                           pre_echo_db, read_audio, snr_db, write_wav)

STEREO_RATES = "64,96,128,192"
MONO_RATES = "32,48,64"
MONO_CLIPS = ["speech_16k_mono", "music_48k_mono"]
OURS_DELAY = 1024  # FFmpeg's decode of an aacstream ADTS stream: one frame of priming in front
FFMPEG_DELAY = 0  # FFmpeg's decode of its own M4A: the edit list drops the priming
FDK_DELAY = 0  # the reference decodes are stored aligned
PEAQ_RATES = (44100, 48000)
PEAQ = os.environ.get("PEAQ") or os.path.join(BUILD, "bench", "aacs_peaq")
TSV_FIELDS = ["label", "section", "clip", "sample_rate", "channels", "kbps", "encoder", "quality", "odg", "snr_db",
              "bandwidth_hz", "pre_echo_db", "achieved_kbps", "delay", "ref_odg", "ref_snr_db", "ref_bandwidth_hz",
              "ref_kbps", "peaq_rate"]
TSV_DIGITS = {"bandwidth_hz": 0, "ref_bandwidth_hz": 0, "achieved_kbps": 2, "ref_kbps": 1, "pre_echo_db": 2}
NAN = float("nan")


@dataclass
class Config:
    encoder: str
    encoder_args: list
    quality: int
    peaq: str  # "" when the tool is missing
    ffmpeg: bool
    fdk_meter: bool
    reference: str
    label: str


@dataclass
class Task:
    section: str  # "stereo" or "mono"
    clip: str
    path: str
    kbps: int
    fdk: dict = field(default_factory=dict)  # the reference TSV's fdk row at this rate, if any


def fmt(v, digits):
    return "nan" if v is None or (isinstance(v, float) and math.isnan(v)) else "%.*f" % (digits, v)


def mean(values):
    vals = [v for v in values if not math.isnan(v)]
    return sum(vals) / len(vals) if vals else NAN


def merged(*dicts, **more):
    """One dict of all; later keys win."""
    out = {}
    for d in dicts + (more,):
        out.update(d)
    return out


def run(cmd):
    p = subprocess.run(cmd, capture_output=True, text=True)
    if p.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (os.path.basename(cmd[0]), p.returncode,
                                                   (p.stderr.strip().splitlines() or [""])[-1]))
    return p.stdout


def upsample48(src, dst):
    run(["sox", src, "-e", "floating-point", "-b", "32", dst, "rate", "-v", "48000"])
    return dst


def peaq_odg(cfg, ref_wav, test_wav):
    """ODG of the pair from the PEAQ tool, nan if it is missing or fails."""
    if not cfg.peaq:
        return NAN
    p = subprocess.run([cfg.peaq, ref_wav, test_wav], capture_output=True, text=True)
    m = re.search(r"^ODG\s+(\S+)", p.stdout, re.M)
    if p.returncode != 0 or m is None:
        raise RuntimeError("PEAQ tool failed (%d) on %s: %s" % (p.returncode, os.path.basename(test_wav),
                                                                (p.stderr.strip().splitlines() or [""])[-1]))
    return float(m.group(1))


def check_alignment(ref, dec, expected, what, warnings):
    """The decode advanced by its delay and cut to the original's length, the delay used."""
    found = find_delay(ref, dec, max_lag=8192, min_lag=-4096)
    delay = expected
    if found != expected:
        snr = {d: snr_db(ref, cut_to(dec, d, len(ref))[0]) for d in (expected, found)}
        delay = max(snr, key=snr.get)
        warnings.append("%s: correlation puts the delay at %d samples, expected %d (SNR %.2f / %.2f dB); "
                        "scored at %d" % (what, found, expected, snr[found], snr[expected], delay))
    out, short = cut_to(dec, delay, len(ref))
    if short:
        warnings.append("%s: decode ends %d samples before the original; zero-padded" % (what, short))
    return out, delay


def score(cfg, task, tmp, ref, rate, marks, peaq_ref, dec, name, warnings):
    """Metrics of an aligned decode; the ODG at 44.1/48 kHz (48 kHz after sox when the clip is at
    another rate)."""
    row = {"snr_db": snr_db(ref, dec), "bandwidth_hz": bandwidth_hz(dec, rate),
           "pre_echo_db": pre_echo_db(ref, dec, rate, marks), "odg": NAN}
    if cfg.peaq:
        test = os.path.join(tmp, name + ".wav")
        write_wav(test, dec, rate)
        if rate not in PEAQ_RATES:
            test = upsample48(test, os.path.join(tmp, name + ".48k.wav"))
        try:
            row["odg"] = peaq_odg(cfg, peaq_ref, test)
        except RuntimeError as e:
            warnings.append("%s %dk %s: %s" % (task.clip, task.kbps, name, e))
    return row


def m4a_payload_bits(path):
    sizes = run(["ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries", "packet=size", "-of",
                 "csv=p=0", path])
    return 8 * sum(int(s) for s in sizes.split() if s.strip().isdigit())


def run_task(cfg, task, tmp_root):
    """Encodes, decodes, aligns and scores one clip at one rate; returns (rows, warnings)."""
    t0 = time.monotonic()
    tmp = tempfile.mkdtemp(prefix="%s.%dk." % (task.clip, task.kbps), dir=tmp_root)
    warnings, rows = [], []
    try:
        ref, rate = read_audio(task.path)
        ch, seconds = ref.shape[1], len(ref) / rate
        marks = attacks(ref, rate)
        peaq_rate = rate if rate in PEAQ_RATES else 48000
        peaq_ref = task.path
        if cfg.peaq and rate not in PEAQ_RATES:
            peaq_ref = upsample48(task.path, os.path.join(tmp, "ref.48k.wav"))
        base = {"label": cfg.label, "section": task.section, "clip": task.clip, "sample_rate": rate,
                "channels": ch, "kbps": task.kbps, "quality": "", "ref_odg": NAN, "ref_snr_db": NAN,
                "ref_bandwidth_hz": NAN, "ref_kbps": NAN, "peaq_rate": peaq_rate if cfg.peaq else ""}

        def failed(encoder, e):
            warnings.append("%s %dk %s: %s" % (task.clip, task.kbps, encoder, e))
            rows.append(merged(base, encoder=encoder, odg=NAN, snr_db=NAN, bandwidth_hz=NAN, pre_echo_db=NAN,
                             achieved_kbps=NAN, delay=""))

        # aacstream: ADTS, decoded by FFmpeg with its priming frame in front.
        try:
            out = os.path.join(tmp, "ours.aac")
            run([cfg.encoder, task.path, out, str(task.kbps), str(cfg.quality)] + cfg.encoder_args)
            dec = decode(out, os.path.join(tmp, "ours.raw"), ch)
            dec, delay = check_alignment(ref, dec, OURS_DELAY, "%s %dk aacstream" % (task.clip, task.kbps), warnings)
            r = score(cfg, task, tmp, ref, rate, marks, peaq_ref, dec, "ours", warnings)
            quality = " ".join([str(cfg.quality)] + cfg.encoder_args)
            rows.append(merged(base, r, encoder="aacstream", quality=quality, delay=delay,
                             achieved_kbps=os.path.getsize(out) * 8 / seconds / 1000))
        except (RuntimeError, OSError, ValueError, subprocess.CalledProcessError) as e:
            failed("aacstream", e)

        # FFmpeg: M4A, whose edit list removes the priming.
        if cfg.ffmpeg:
            try:
                out = os.path.join(tmp, "ffmpeg.m4a")
                run(["ffmpeg", "-nostdin", "-v", "error", "-y", "-i", task.path, "-threads", "1", "-c:a", "aac",
                     "-b:a", "%dk" % task.kbps, out])
                dec = decode(out, os.path.join(tmp, "ffmpeg.raw"), ch)
                dec, delay = check_alignment(ref, dec, FFMPEG_DELAY, "%s %dk ffmpeg" % (task.clip, task.kbps),
                                             warnings)
                r = score(cfg, task, tmp, ref, rate, marks, peaq_ref, dec, "ffmpeg", warnings)
                rows.append(merged(base, r, encoder="ffmpeg", delay=delay,
                                 achieved_kbps=m4a_payload_bits(out) / seconds / 1000))
            except (RuntimeError, OSError, ValueError, subprocess.CalledProcessError) as e:
                failed("ffmpeg", e)

        # fdk-aac: the reference decode, scored by the same meter unless --fdk-from-tsv.
        if task.fdk:
            f = task.fdk
            refcols = {"ref_odg": float(f["odg"]), "ref_snr_db": float(f["snr_db"]),
                       "ref_bandwidth_hz": float(f["bandwidth_hz"]), "ref_kbps": float(f["achieved_kbps"])}
            try:
                dec, drate = read_audio(os.path.join(cfg.reference, f["file"]))
                if drate != rate or dec.shape[1] != ch:
                    raise ValueError("%s is %d Hz x %d, the clip %d Hz x %d" % (f["file"], drate, dec.shape[1], rate,
                                                                                 ch))
                dec, delay = check_alignment(ref, dec, FDK_DELAY, "%s %dk fdk" % (task.clip, task.kbps), warnings)
                fdk_cfg = cfg if cfg.fdk_meter else Config(**dict(cfg.__dict__, peaq=""))
                r = score(fdk_cfg, task, tmp, ref, rate, marks, peaq_ref, dec, "fdk", warnings)
                rows.append(merged(base, r, refcols, encoder="fdk", delay=delay, achieved_kbps=refcols["ref_kbps"],
                                 peaq_rate=peaq_rate if fdk_cfg.peaq else ""))
            except (RuntimeError, OSError, ValueError, soundfile.LibsndfileError) as e:
                failed("fdk", e)
                rows[-1].update(refcols)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)
    return rows, warnings, time.monotonic() - t0


# ---------------------------------------------------------------------------------------------
# Report

ENC_METRICS = [("ODG", "odg", 2), ("SNR dB", "snr_db", 2), ("bandwidth Hz", "bandwidth_hz", 0),
               ("pre-echo dB", "pre_echo_db", 1), ("kbit/s", "achieved_kbps", 1)]


def value(e, enc, key):
    """e: one clip's rows by encoder."""
    return e[enc][key] if enc in e and key in e[enc] else NAN


def fdk_odg(e, cfg):
    return value(e, "fdk", "odg" if cfg.fdk_meter else "ref_odg")


def encoder_columns(cfg):
    encs = [("aacstream", "ours")] + ([("ffmpeg", "FFmpeg")] if cfg.ffmpeg else [])
    return [("%s %s" % (name, title), (lambda e, enc=enc, key=key: value(e, enc, key)), digits)
            for enc, name in encs for title, key, digits in ENC_METRICS]


def stereo_columns(cfg):
    cols = encoder_columns(cfg)
    if cfg.fdk_meter:
        cols.append(("fdk ODG (our meter)", lambda e: value(e, "fdk", "odg"), 2))
    cols += [("fdk ODG (reference TSV)", lambda e: value(e, "fdk", "ref_odg"), 2),
             ("fdk SNR dB", lambda e: value(e, "fdk", "ref_snr_db"), 2),
             ("fdk bandwidth Hz", lambda e: value(e, "fdk", "ref_bandwidth_hz"), 0),
             ("fdk kbit/s", lambda e: value(e, "fdk", "ref_kbps"), 1),
             ("ours − fdk ODG", lambda e: value(e, "aacstream", "odg") - fdk_odg(e, cfg), 2),
             ("ours − fdk SNR dB", lambda e: value(e, "aacstream", "snr_db") - value(e, "fdk", "ref_snr_db"), 2)]
    return cols


def by_clip(rows, section, kbps=None):
    """{clip or (clip, kbps): {encoder: row}} in the order of the rows."""
    out = {}
    for r in rows:
        if r["section"] == section and (kbps is None or r["kbps"] == kbps):
            out.setdefault(r["clip"] if kbps is not None else (r["clip"], r["kbps"]), {})[r["encoder"]] = r
    return out


def markdown(head, lines):
    return ["| " + " | ".join(head) + " |", "|---" * len(head) + "|"] + ["| " + " | ".join(c) + " |" for c in lines]


def stereo_table(rows, kbps, cfg):
    """Markdown table of one stereo rate: clips, mean, worst clip, ours − fdk."""
    clips = by_clip(rows, "stereo", kbps)
    if not clips:
        return []
    cols = stereo_columns(cfg)
    table = {clip: [f(e) for _, f, _ in cols] for clip, e in clips.items()}
    lines = [[clip] + [fmt(v, d) for v, (_, _, d) in zip(vals, cols)] for clip, vals in table.items()]
    means = [mean([vals[i] for vals in table.values()]) for i in range(len(cols))]
    lines.append(["**mean**"] + ["**%s**" % fmt(v, d) for v, (_, _, d) in zip(means, cols)])
    out = ["", "## %d kbit/s stereo" % kbps, ""] + markdown(["clip"] + [h for h, _, _ in cols], lines) + [""]
    ours = {clip: (e["aacstream"]["odg"], e["aacstream"]["snr_db"]) for clip, e in clips.items() if "aacstream" in e}
    gap = {clip: (vals[-2], vals[-1]) for clip, vals in table.items()}
    out += worst_line("worst clip (ours)", ours, "%.2f") + worst_line("furthest behind fdk (ours − fdk)", gap, "%+.2f")
    return out


def worst_line(what, values, form):
    """values: {clip: (ODG, SNR)}; the clip of the lowest ODG, of the lowest SNR where no ODG."""
    for i, unit in ((0, "ODG"), (1, "SNR dB; no ODG")):
        have = [(v[i], clip) for clip, v in values.items() if not math.isnan(v[i])]
        if have:
            v, clip = min(have)
            return ["- %s: **%s** (%s %s)" % (what, clip, form % v, unit)]
    return []


def mono_table(rows, cfg):
    clips = by_clip(rows, "mono")
    if not clips:
        return []
    cols = encoder_columns(cfg)
    if cfg.ffmpeg:
        cols += [("ours − FFmpeg ODG", lambda e: value(e, "aacstream", "odg") - value(e, "ffmpeg", "odg"), 2),
                 ("ours − FFmpeg SNR dB", lambda e: value(e, "aacstream", "snr_db") - value(e, "ffmpeg", "snr_db"), 2)]
    lines = [[clip, str(kbps)] + [fmt(f(e), d) for _, f, d in cols] for (clip, kbps), e in clips.items()]
    out = ["", "## Mono (ours%s)" % (" against FFmpeg" if cfg.ffmpeg else ""), ""]
    rates = sorted({r["sample_rate"] for r in rows if r["section"] == "mono"} - set(PEAQ_RATES))
    if rates and cfg.peaq:
        out += ["PEAQ at 48 kHz for the %s Hz clip(s): original and aligned decode upsampled with sox "
                "`rate -v 48000`; SNR, bandwidth and pre-echo at the clip's own rate." % ", ".join(map(str, rates)), ""]
    return out + markdown(["clip", "kbit/s"] + [h for h, _, _ in cols], lines)


def summary_table(rows, rates, cfg):
    cols = [("ours ODG", lambda e: value(e, "aacstream", "odg"), 2),
            ("ours SNR dB", lambda e: value(e, "aacstream", "snr_db"), 2),
            ("ours kbit/s", lambda e: value(e, "aacstream", "achieved_kbps"), 1)]
    if cfg.ffmpeg:
        cols += [("FFmpeg ODG", lambda e: value(e, "ffmpeg", "odg"), 2),
                 ("FFmpeg SNR dB", lambda e: value(e, "ffmpeg", "snr_db"), 2),
                 ("FFmpeg kbit/s", lambda e: value(e, "ffmpeg", "achieved_kbps"), 1)]
    if cfg.fdk_meter:
        cols.append(("fdk ODG (our meter)", lambda e: value(e, "fdk", "odg"), 2))
    cols += [("fdk ODG (reference TSV)", lambda e: value(e, "fdk", "ref_odg"), 2),
             ("ours − fdk ODG", lambda e: value(e, "aacstream", "odg") - fdk_odg(e, cfg), 2),
             ("ours − fdk SNR dB", lambda e: value(e, "aacstream", "snr_db") - value(e, "fdk", "ref_snr_db"), 2)]
    if cfg.ffmpeg:
        cols.append(("ours − FFmpeg ODG", lambda e: value(e, "aacstream", "odg") - value(e, "ffmpeg", "odg"), 2))
    lines = []
    for kbps in rates:
        clips = by_clip(rows, "stereo", kbps)
        if clips:
            lines.append([str(kbps)] + [fmt(mean([f(e) for e in clips.values()]), d) for _, f, d in cols])
    return ["", "## Summary (stereo, means over the clips)", ""] + markdown(["kbit/s"] + [h for h, _, _ in cols], lines)


def write_tsv(path, rows):
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path, "w", newline="") as f:
        w = csv.DictWriter(f, fieldnames=TSV_FIELDS, delimiter="\t", lineterminator="\n", extrasaction="ignore")
        w.writeheader()
        for r in rows:
            w.writerow({k: (fmt(v, TSV_DIGITS.get(k, 3)) if isinstance(v, float) else v) for k, v in r.items()})


# ---------------------------------------------------------------------------------------------


def load_reference(reference):
    path = os.path.join(reference, "odg_reference.tsv")
    with open(path, newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def make_tasks(args, ref_rows):
    fdk = {(r["clip"], int(r["kbps"])): r for r in ref_rows if r["encoder"] == "fdk"}
    stereo = list(dict.fromkeys(r["clip"] for r in ref_rows))
    rates = [int(x) for x in args.rates.split(",") if x]
    mono_rates = [int(x) for x in args.mono_rates.split(",") if x]
    wanted = [c[:-4] if c.endswith(".wav") else c for c in args.clips.split(",")] if args.clips else None
    if wanted is None:
        clips = [(c, "stereo") for c in stereo] + [(c, "mono") for c in MONO_CLIPS]
    else:
        clips = []
        for c in wanted:
            path = os.path.join(args.corpus, c + ".wav")
            if not os.path.isfile(path):
                sys.exit("no clip %s in %s" % (c, args.corpus))
            info = soundfile.info(path)
            if info.channels > 2:
                sys.exit("%s has %d channels; the harness scores mono and stereo clips" % (c, info.channels))
            clips.append((c, "stereo" if info.channels == 2 else "mono"))
    tasks = []
    for clip, section in clips:
        for kbps in (rates if section == "stereo" else mono_rates):
            tasks.append(Task(section, clip, os.path.join(args.corpus, clip + ".wav"), kbps,
                              fdk.get((clip, kbps), {}) if section == "stereo" else {}))
    return tasks, rates


def default_label(args):
    if os.path.abspath(args.encoder) != os.path.abspath(ENCODER):
        return args.encoder
    p = subprocess.run(["git", "-C", ROOT, "describe", "--always", "--dirty"], capture_output=True, text=True)
    return p.stdout.strip() or "aacstream"


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--rates", default=STEREO_RATES, help="stereo rates, kbit/s (default %(default)s)")
    parser.add_argument("--mono-rates", default=MONO_RATES, help="mono rates, kbit/s (default %(default)s)")
    parser.add_argument("--clips", default="", help="comma-separated clip names (default: all)")
    parser.add_argument("--quality", type=int, default=9, help="aacstream quality level (default 9)")
    parser.add_argument("--encoder", default=ENCODER, help="the aacs_encode_file binary (another build, say)")
    parser.add_argument("--encoder-args", default="", help="further arguments after QUALITY (PROFILE LFE)")
    parser.add_argument("--no-ffmpeg", action="store_true", help="skip FFmpeg's encoder")
    parser.add_argument("--fdk-from-tsv", action="store_true",
                        help="do not score the fdk decodes; take their ODG from the reference TSV")
    parser.add_argument("--peaq", default=PEAQ, help="PEAQ tool (default $PEAQ or build/release/bench/aacs_peaq)")
    parser.add_argument("--label", default=None, help="name of this run in the TSV (default: git describe)")
    parser.add_argument("--tsv", default=os.path.join(ROOT, "build", "quality", "quality.tsv"))
    parser.add_argument("--corpus", default=os.path.join(ROOT, "..", "shared", "corpus"))
    parser.add_argument("--reference", default=os.path.join(ROOT, "..", "shared", "quality"))
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1)
    parser.add_argument("--build", action="store_true", help="configure and build build/release first (-j2)")
    args = parser.parse_args()
    t0 = time.monotonic()

    for tool in ("ffmpeg", "ffprobe", "sox"):
        if shutil.which(tool) is None:
            sys.exit("%s is needed" % tool)
    if args.build:
        missing = build_release(["aacs_encode_file"], optional=["aacs_peaq"])
        if missing:
            print("quality.py: build/release has no target %s (yet)" % ", ".join(missing), file=sys.stderr)
    if not os.access(args.encoder, os.X_OK):
        sys.exit("no encoder %s: build it (or pass --build): cmake -S . -B build/release -G Ninja "
                 "-DCMAKE_BUILD_TYPE=Release && cmake --build build/release -j2 --target aacs_encode_file"
                 % args.encoder)
    peaq = shutil.which(args.peaq) or (args.peaq if os.access(args.peaq, os.X_OK) else "")
    if not peaq:
        print("quality.py: warning: no PEAQ tool at %s; ODGs are nan" % args.peaq, file=sys.stderr)
    ref_rows = load_reference(args.reference)
    cfg = Config(encoder=os.path.abspath(args.encoder), encoder_args=shlex.split(args.encoder_args),
                 quality=args.quality, peaq=os.path.abspath(peaq) if peaq else "", ffmpeg=not args.no_ffmpeg,
                 fdk_meter=not args.fdk_from_tsv, reference=args.reference,
                 label=args.label if args.label is not None else default_label(args))
    tasks, rates = make_tasks(args, ref_rows)

    results, warnings = {}, []
    with tempfile.TemporaryDirectory(prefix="aacs-quality.") as tmp:
        with concurrent.futures.ProcessPoolExecutor(max_workers=max(1, args.jobs)) as pool:
            futures = {pool.submit(run_task, cfg, t, tmp): i for i, t in enumerate(tasks)}
            for n, fut in enumerate(concurrent.futures.as_completed(futures), 1):
                i = futures[fut]
                rows, warns, secs = fut.result()
                results[i] = rows
                for w in warns:
                    print("quality.py: warning: %s" % w, file=sys.stderr)
                warnings += warns
                print("[%d/%d] %s %dk %.1f s" % (n, len(tasks), tasks[i].clip, tasks[i].kbps, secs), file=sys.stderr)
    rows = [r for i in range(len(tasks)) for r in results[i]]
    write_tsv(args.tsv, rows)

    ffv = " ".join(subprocess.run(["ffmpeg", "-version"], capture_output=True, text=True).stdout.split()[:3])
    out = ["# aacstream quality: %s" % cfg.label, "",
           "- %s; encoder `%s`, quality %s%s" % (datetime.date.today().isoformat(), cfg.encoder, cfg.quality,
                                                 (", arguments `%s`" % args.encoder_args) if args.encoder_args else ""),
           "- peer: %s (`-threads 1 -c:a aac -b:a NNk`, M4A)%s" % (ffv, "" if cfg.ffmpeg else " — not run"),
           "- PEAQ: %s" % (("`%s`" % cfg.peaq) if cfg.peaq else "**missing, ODGs are nan**"),
           "- fdk ODG for ours − fdk: %s" % ("reference TSV (GstPEAQ at 48 kHz)" if args.fdk_from_tsv
                                             else "our meter on the reference decodes"),
           "- delays: aacstream ADTS %d, FFmpeg M4A %d, fdk reference decodes %d samples, each checked by "
           "correlation (%d disagreement(s))" % (OURS_DELAY, FFMPEG_DELAY, FDK_DELAY,
                                                  sum("correlation puts" in w for w in warnings))]
    for kbps in rates:
        out += stereo_table(rows, kbps, cfg)
    out += mono_table(rows, cfg)
    if any(r["section"] == "stereo" for r in rows):
        out += summary_table(rows, rates, cfg)
    out += ["", "%d job(s) in %.0f s (-j %d); %d warning(s); TSV: %s" % (len(tasks), time.monotonic() - t0,
                                                                      args.jobs, len(warnings), args.tsv)]
    print("\n".join(out))


if __name__ == "__main__":
    main()
