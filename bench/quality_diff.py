#!/usr/bin/python3
"""Compares two runs of bench/quality.py (their TSVs): B against A, clip by clip and rate by rate.

usage:
  bench/quality_diff.py A.tsv B.tsv [--encoder aacstream] [--threshold 0.05]

For the rows of one encoder (default aacstream; ffmpeg and fdk are in the TSVs too) that both
runs have, a Markdown table per section and rate gives ODG A, ODG B and ΔODG = B − A (positive:
B sounds better), Δ achieved bit rate, ΔSNR and Δbandwidth; then the mean of each rate, the mean
over everything, how many clip × rate pairs moved by more than --threshold ODG either way, and
the worst regression (the largest fall in ODG; in SNR where the runs have no ODGs).  Rows that
only one run has are listed, not compared.
"""
import argparse
import csv
import math
import sys

NAN = float("nan")


def load(path, encoder):
    with open(path, newline="") as f:
        rows = list(csv.DictReader(f, delimiter="\t"))
    out = {}
    for r in rows:
        if r["encoder"] != encoder:
            continue
        for k in ("odg", "snr_db", "bandwidth_hz", "achieved_kbps", "pre_echo_db"):
            try:
                r[k] = float(r[k])
            except (TypeError, ValueError):
                r[k] = NAN
        out[(r["section"], int(r["kbps"]), r["clip"])] = r
    labels = sorted({r["label"] for r in rows}) or ["?"]
    return out, ", ".join(labels)


def fmt(v, digits, sign=False):
    if math.isnan(v):
        return "nan"
    return ("%+.*f" if sign else "%.*f") % (digits, v)


def mean(values):
    vals = [v for v in values if not math.isnan(v)]
    return sum(vals) / len(vals) if vals else NAN


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("a", help="TSV of the baseline run")
    parser.add_argument("b", help="TSV of the run to judge")
    parser.add_argument("--encoder", default="aacstream", help="rows of which encoder (default aacstream)")
    parser.add_argument("--threshold", type=float, default=0.05, help="ODG change counted as a move (default 0.05)")
    args = parser.parse_args()
    a, label_a = load(args.a, args.encoder)
    b, label_b = load(args.b, args.encoder)
    common = [k for k in a if k in b]
    if not common:
        sys.exit("the two runs have no %s rows in common" % args.encoder)

    print("# %s: B against A" % args.encoder)
    print()
    print("- A: %s (`%s`)" % (label_a, args.a))
    print("- B: %s (`%s`)" % (label_b, args.b))
    deltas = []  # (section, kbps, clip, dodg, dsnr, dkbps)
    groups = sorted({(s, k) for s, k, _ in common}, key=lambda g: (g[0] != "stereo", g[0], g[1]))
    for section, kbps in groups:
        keys = [k for k in common if k[0] == section and k[1] == kbps]
        print()
        print("## %s %d kbit/s" % (section, kbps))
        print()
        print("| clip | ODG A | ODG B | ΔODG | kbit/s A | kbit/s B | Δkbit/s | SNR dB A | SNR dB B | ΔSNR dB "
              "| Δbandwidth Hz |")
        print("|---" * 11 + "|")
        rows = []
        for key in keys:
            ra, rb = a[key], b[key]
            d = (rb["odg"] - ra["odg"], rb["achieved_kbps"] - ra["achieved_kbps"], rb["snr_db"] - ra["snr_db"],
                 rb["bandwidth_hz"] - ra["bandwidth_hz"])
            rows.append(d)
            deltas.append((section, kbps, key[2], d[0], d[2], d[1]))
            print("| %s | %s | %s | %s | %s | %s | %s | %s | %s | %s | %s |" % (
                key[2], fmt(ra["odg"], 2), fmt(rb["odg"], 2), fmt(d[0], 2, True), fmt(ra["achieved_kbps"], 1),
                fmt(rb["achieved_kbps"], 1), fmt(d[1], 1, True), fmt(ra["snr_db"], 2), fmt(rb["snr_db"], 2),
                fmt(d[2], 2, True), fmt(d[3], 0, True)))
        ma = [mean([a[k][f] for k in keys]) for f in ("odg", "achieved_kbps", "snr_db")]
        mb = [mean([b[k][f] for k in keys]) for f in ("odg", "achieved_kbps", "snr_db")]
        md = [mean([r[i] for r in rows]) for i in range(4)]
        print("| **mean** | %s | %s | **%s** | %s | %s | **%s** | %s | %s | **%s** | %s |" % (
            fmt(ma[0], 2), fmt(mb[0], 2), fmt(md[0], 2, True), fmt(ma[1], 1), fmt(mb[1], 1), fmt(md[1], 1, True),
            fmt(ma[2], 2), fmt(mb[2], 2), fmt(md[2], 2, True), fmt(md[3], 0, True)))

    print()
    print("## Overall")
    print()
    print("- %d clip × rate pairs; mean ΔODG %s, mean ΔSNR %s dB, mean Δkbit/s %s" % (
        len(deltas), fmt(mean([d[3] for d in deltas]), 3, True), fmt(mean([d[4] for d in deltas]), 2, True),
        fmt(mean([d[5] for d in deltas]), 2, True)))
    have_odg = [d for d in deltas if not math.isnan(d[3])]
    if have_odg:
        better = sum(d[3] > args.threshold for d in have_odg)
        worse = sum(d[3] < -args.threshold for d in have_odg)
        print("- moved by more than %.2f ODG: %d better, %d worse, %d within" % (
            args.threshold, better, worse, len(have_odg) - better - worse))
        w = min(have_odg, key=lambda d: d[3])
        if w[3] >= 0:
            print("- no ODG regression")
        else:
            print("- worst regression: **%s %s %d kbit/s**: ΔODG %s (ΔSNR %s dB, Δkbit/s %s)" % (
                w[2], w[0], w[1], fmt(w[3], 2, True), fmt(w[4], 2, True), fmt(w[5], 1, True)))
    else:
        have_snr = [d for d in deltas if not math.isnan(d[4])]
        if have_snr:
            w = min(have_snr, key=lambda d: d[4])
            print("- no ODGs in these runs; worst SNR regression: **%s %s %d kbit/s**: ΔSNR %s dB (Δkbit/s %s)" % (
                w[2], w[0], w[1], fmt(w[4], 2, True), fmt(w[5], 1, True)))
    only = sorted(set(a) ^ set(b))
    if only:
        print("- only in one run (not compared): %s" % ", ".join(
            "%s %s %dk (%s)" % (k[2], k[0], k[1], "A" if k in a else "B") for k in only))


if __name__ == "__main__":
    main()
