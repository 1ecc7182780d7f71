#!/usr/bin/env bash
# Runs the whole conformance matrix (every rate, channel layout, bit-rate spread, preset, quality
# level and header form; about 63,000 streams) in parallel shards of the conformance test binary,
# then prints a summary table.  The CI suite runs only a fixed sample of it.
#
#   scripts/conformance_matrix.sh [-j JOBS] [-b BUILD_DIR] [-o RESULTS_DIR]
#
# RESULTS_DIR receives one results-N.tsv per shard (one line per configuration) and summary.md.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc 2>/dev/null || echo 2)
build=build/release
results=build/conformance
while getopts "j:b:o:" opt; do
  case $opt in
    j) jobs=$OPTARG ;;
    b) build=$OPTARG ;;
    o) results=$OPTARG ;;
    *) echo "usage: $0 [-j JOBS] [-b BUILD_DIR] [-o RESULTS_DIR]" >&2; exit 2 ;;
  esac
done

if [ ! -x "$build/tests/aacs_conformance_tests" ]; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DAACSTREAM_BUILD_BENCH=OFF >/dev/null
  cmake --build "$build" -j "$jobs" --target aacs_conformance_tests
fi
mkdir -p "$results"
rm -f "$results"/results-*.tsv "$results"/summary.md

start=$(date +%s)
pids=()
for ((i = 0; i < jobs; i++)); do
  AACS_CONFORMANCE_FULL=1 AACS_CONFORMANCE_RESULTS="$results/results-$i.tsv" \
    GTEST_TOTAL_SHARDS=$jobs GTEST_SHARD_INDEX=$i \
    "$build/tests/aacs_conformance_tests" --gtest_filter='Matrix/*' --gtest_brief=1 \
    >"$results/log-$i.txt" 2>&1 &
  pids+=($!)
done
status=0
for pid in "${pids[@]}"; do wait "$pid" || status=1; done
echo "conformance matrix: $(( $(date +%s) - start )) s with $jobs jobs"

set +e
python3 - "$results" <<'EOF'
import collections, glob, sys
rows = []
for path in sorted(glob.glob(sys.argv[1] + "/results-*.tsv")):
    with open(path) as f:
        rows += [line.rstrip("\n").split("\t") for line in f if line.strip()]
headers = ["ADTS 56 / FFmpeg", "ADTS 58 / faad -t", "ADIF / faad"]
def layout(r):
    return f"{r[2]}{' LFE' if r[3] == '1' else ''}"
by_rate = collections.OrderedDict()
for r in sorted(rows, key=lambda r: (int(r[1]), int(r[2]), r[3])):
    by_rate.setdefault((int(r[1]), layout(r)), [0, 0])
    cell = by_rate[(int(r[1]), layout(r))]
    cell[0] += 1
    cell[1] += r[8] != "pass"
failures = [r for r in rows if r[8] != "pass"]
out = [f"# Conformance matrix\n", f"{len(rows)} configurations, {len(failures)} failures.\n"]
layouts = sorted({k[1] for k in by_rate}, key=lambda s: (int(s.split()[0]), s))
rates = sorted({k[0] for k in by_rate})
out.append("| rate \\ channels | " + " | ".join(layouts) + " |")
out.append("|---" * (len(layouts) + 1) + "|")
for rate in rates:
    cells = []
    for l in layouts:
        n, f = by_rate.get((rate, l), [0, 0])
        cells.append(f"{n - f}/{n}" if n else "-")
    out.append(f"| {rate} | " + " | ".join(cells) + " |")
out.append("\n(passed/run per sampling rate and channel layout)\n")
for dim, name in ((5, "preset"), (6, "quality"), (7, "header form")):
    counts = collections.Counter((r[dim], r[8] == "pass") for r in rows)
    keys = sorted({k[0] for k in counts}, key=lambda x: int(x))
    label = (lambda k: headers[int(k)]) if dim == 7 else (lambda k: k)
    out.append(f"| {name} | " + " | ".join(label(k) for k in keys) + " |")
    out.append("|---" * (len(keys) + 1) + "|")
    out.append("| passed/run | " + " | ".join(f"{counts[(k, True)]}/{counts[(k, True)] + counts[(k, False)]}" for k in keys) + " |\n")
if failures:
    reasons = collections.Counter(r[14].split(":")[0] for r in failures)
    out.append("Failure reasons: " + ", ".join(f"{k} ({v})" for k, v in reasons.most_common()) + "\n")
    out.append("First failures:\n")
    out += [f"- {r[0]}: {r[14]}" for r in failures[:40]]
text = "\n".join(out) + "\n"
open(sys.argv[1] + "/summary.md", "w").write(text)
print(text)
sys.exit(1 if failures else 0)
EOF
summary=$?
[ $status -eq 0 ] && [ $summary -eq 0 ]
