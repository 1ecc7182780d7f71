#!/usr/bin/env bash
# Soak test: encodes hours of generated music-like audio (the test clips looped with a varying
# gain) through the library, sampling the resident memory as it goes, then decodes the whole
# stream.  Passes when memory stays flat (the last sample within RSS_SLACK_KB of the first one
# after 5% of the run) and FFmpeg decodes every frame without a complaint.  When the command-line tool
# has been built (build/release/tools/aacstream, or AACSTREAM_TOOL) the same audio goes through
# it too.
#
#   scripts/soak.sh [SECONDS]        (default 7200: two hours)
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-7200}
slack_kb=${RSS_SLACK_KB:-1024}
work=${SOAK_DIR:-build/soak}
mkdir -p "$work"
clips=(tests/data/orchestral_3s.wav tests/data/music_pop_3s.wav tests/data/drums_3s.wav
       tests/data/castanets_3s.wav tests/data/harpsichord_3s.wav)

cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DAACSTREAM_BUILD_BENCH=ON >/dev/null
cmake --build build/release -j "$(nproc 2>/dev/null || echo 2)" --target aacs_soak >/dev/null

# Memory is flat when the last sample is within the slack of the first one taken after 5% of the
# run (the start includes the one-time tables and buffers).
check_rss() {  # file with "rss TIME KB" lines, TIME rising
  awk -v slack="$slack_kb" '$1 == "rss" { t[n] = $2; kb[n++] = $3 }
    END { if (n == 0) exit 1;
          for (i = 0; i < n; ++i) { if (kb[i] > max) max = kb[i]; if (base == "" && t[i] >= 0.05 * t[n - 1]) base = kb[i] }
          printf "  rss after the first 5%% %d KB, at the end %d KB, peak %d KB (%d samples)\n", base, kb[n - 1], max, n;
          exit (kb[n - 1] - base > slack) ? 1 : 0 }' "$1"
}

# Decodes the stream to the end; every frame must decode and FFmpeg must print nothing.
check_decode() {  # stream, expected frames (or empty)
  local errors frames
  errors=$(ffmpeg -nostdin -v error -i "$1" -f null - 2>&1 || echo "ffmpeg failed")
  frames=$(ffprobe -v error -count_frames -select_streams a:0 -show_entries stream=nb_read_frames -of csv=p=0 "$1")
  echo "  decoded frames: $frames${2:+ (stream has $2)}"
  [ -z "$errors" ] || { echo "  decoder complained: $(echo "$errors" | head -3)"; return 1; }
  [ -z "${2:-}" ] || [ "$frames" = "$2" ]
}

status=0
echo "soak: $seconds s of audio through the library"
start=$(date +%s)
build/release/bench/aacs_soak --seconds "$seconds" --out "$work/soak.aac" "${clips[@]}" >"$work/library.log"
echo "  $(tail -1 "$work/library.log") ($(( $(date +%s) - start )) s)"
check_rss "$work/library.log" || { echo "  FAIL: memory grew"; status=1; }
expected=$(awk '$1 == "summary" { print $5 }' "$work/library.log")
check_decode "$work/soak.aac" "$expected" || { echo "  FAIL: decode"; status=1; }

tool=${AACSTREAM_TOOL:-build/release/tools/aacstream}
if [ -x "$tool" ]; then
  echo "soak: the same audio through $tool"
  build/release/bench/aacs_soak --seconds "$seconds" --wav "$work/soak.wav" "${clips[@]}"
  start=$(date +%s)
  "$tool" --quiet -y -f adts -o "$work/tool.aac" "$work/soak.wav" &
  pid=$!
  : >"$work/tool.log"
  while kill -0 "$pid" 2>/dev/null; do
    rss=$(awk '/^VmRSS/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$rss" ] && echo "rss $(( $(date +%s) - start )) $rss" >>"$work/tool.log"
    sleep 1
  done
  wait "$pid" || { echo "  FAIL: the tool failed"; status=1; }
  echo "  encoded in $(( $(date +%s) - start )) s"
  check_rss "$work/tool.log" || { echo "  FAIL: the tool's memory grew"; status=1; }
  check_decode "$work/tool.aac" "" || { echo "  FAIL: decode of the tool's output"; status=1; }
  rm -f "$work/soak.wav"
else
  echo "soak: $tool not built, skipping the command-line run"
fi
[ $status -eq 0 ] && echo "soak: passed" || echo "soak: FAILED"
exit $status
