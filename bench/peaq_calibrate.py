#!/usr/bin/python3
"""Calibration of aacs_peaq against reference PEAQ grades.

Runs build/release/bench/aacs_peaq on every pair listed in QUALITY/odg_reference.tsv (the
original CORPUS/<clip>.wav against QUALITY/<file>), two pairs at a time, and prints and writes a
TSV of reference ODG, ours and the difference, then the summary: mean and largest absolute
difference, Spearman rank correlation and Pearson correlation.  Exits 1 when the targets
(mean |diff| <= 0.10, max |diff| <= 0.35, Spearman >= 0.97) are missed.

  bench/peaq_calibrate.py [--corpus DIR] [--quality DIR] [--tool PATH] [--jobs N] [--out FILE]
                          [--movs] [--native]
"""
import argparse
import concurrent.futures
import csv
import os
import subprocess
import sys

import numpy as np
from scipy import stats

REPO = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TARGET_MEAN_ABS = 0.10
TARGET_MAX_ABS = 0.35
TARGET_SPEARMAN = 0.97


def parse_args():
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--corpus", default=os.path.join(REPO, "..", "shared", "corpus"))
    p.add_argument("--quality", default=os.path.join(REPO, "..", "shared", "quality"))
    p.add_argument("--tool", default=os.path.join(REPO, "build", "release", "bench", "aacs_peaq"))
    p.add_argument("--jobs", type=int, default=2)
    p.add_argument("--out", default="peaq_calibration.tsv", help="TSV written here")
    p.add_argument("--movs", action="store_true", help="also record the MOVs (aacs_peaq -v)")
    p.add_argument("--native", action="store_true", help="model 44.1 kHz pairs at 44.1 kHz (aacs_peaq -n)")
    return p.parse_args()


def read_pairs(quality):
    with open(os.path.join(quality, "odg_reference.tsv"), newline="") as f:
        return list(csv.DictReader(f, delimiter="\t"))


def measure(tool, ref, test, verbose, native):
    cmd = [tool] + (["-v"] if verbose else []) + (["-n"] if native else []) + [ref, test]
    run = subprocess.run(cmd, capture_output=True, text=True)
    if run.returncode != 0:
        raise RuntimeError(run.stderr.strip() or f"{tool} exited with {run.returncode}")
    values = dict(line.split() for line in run.stdout.splitlines())
    return float(values.pop("ODG")), values


def main():
    args = parse_args()
    pairs = read_pairs(args.quality)
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.jobs) as pool:
        futures = [pool.submit(measure, args.tool, os.path.join(args.corpus, p["clip"] + ".wav"),
                               os.path.join(args.quality, p["file"]), args.movs, args.native) for p in pairs]
        results = [f.result() for f in futures]
    ref = np.array([float(p["odg"]) for p in pairs])
    ours = np.array([r[0] for r in results])
    diff = ours - ref
    mov_names = list(results[0][1].keys()) if args.movs else []
    rows = [["clip", "encoder", "kbps", "reference_odg", "aacs_peaq_odg", "difference"] + mov_names]
    for p, (odg, movs), d, r in zip(pairs, results, diff, ref):
        rows.append([p["clip"], p["encoder"], p["kbps"], f"{r:.3f}", f"{odg:.3f}", f"{d:+.3f}"] +
                    [movs[m] for m in mov_names])
    with open(args.out, "w") as f:
        for row in rows:
            f.write("\t".join(row) + "\n")
    for row in rows:
        print("\t".join(row[:6]))
    mean_abs = float(np.mean(np.abs(diff)))
    max_abs = float(np.max(np.abs(diff)))
    spearman = float(stats.spearmanr(ref, ours)[0])
    pearson = float(stats.pearsonr(ref, ours)[0])
    print(f"\npairs {len(pairs)}  mean|diff| {mean_abs:.3f}  max|diff| {max_abs:.3f}  "
          f"spearman {spearman:.4f}  pearson {pearson:.4f}  mean diff {float(np.mean(diff)):+.3f}")
    worst = np.argsort(-np.abs(diff))[:5]
    print("worst: " + ", ".join(f"{pairs[i]['file']} {diff[i]:+.3f}" for i in worst))
    ok = mean_abs <= TARGET_MEAN_ABS and max_abs <= TARGET_MAX_ABS and spearman >= TARGET_SPEARMAN
    print("targets " + ("met" if ok else "missed"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
