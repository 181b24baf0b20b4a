#!/usr/bin/env bash
# Timing of kavrel on a large generated data set: 10000 series of 500 values
# (tools/make_examples.py, fixed seed). Reports wall time and peak memory
# (/usr/bin/time -v) of
#   1. loading, screening, power transformation and the Loading table alone
#      (bench_loading_large, output to a file), without and with the power
#      transformation;
#   2. a whole scripted run of kavrel on the file, screen output to a file.
# Needs a build with the benchmarks (scripts/build) and python3.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${KAVREL_BUILD_DIR:-build}" && pwd)"
work="$(mktemp -d "${TMPDIR:-/tmp}/kavrel_large_XXXXXX")"
trap 'rm -rf "$work"' EXIT

python3 tools/make_examples.py --series 10000 --length 500 --out "$work/large.rwl" >/dev/null
echo "input: $(du -h "$work/large.rwl" | cut -f1) of 10000 series x 500 values"

measure() {  # label, command...
  local label=$1
  shift
  /usr/bin/time -v "$@" >"$work/out.txt" 2>"$work/time.txt" || true
  local wall rss
  wall=$(grep "Elapsed (wall clock)" "$work/time.txt" | awk '{print $NF}')
  rss=$(grep "Maximum resident set size" "$work/time.txt" | awk '{print $NF}')
  printf '%-58s wall %8s   peak %6d MB\n' "$label" "$wall" "$((rss / 1024))"
}

for power in 0 1; do
  measure "loading to the Loading table (power transformation $power)" \
    env KAVREL_LARGE_RWL="$work/large.rwl" "$build/bench_loading_large" \
    --benchmark_filter="BM_LoadToLoadingTable/$power/"
  grep -E "^BM_" "$work/out.txt" | sed "s/^/    /" || echo "    (no benchmark output: is $build/bench_loading_large built?)"
done

# Whole run: no pith offsets, no screening, median age, ratios; continue from
# the plot menu and decline to change a curve.
mkdir "$work/run"
ln -s "$work/large.rwl" "$work/run/large.rwl"
printf '\nlarge.rwl\nf\nf\nf\nf\nf\n2\n1\nc\nf\n' >"$work/answers.txt"
(cd "$work/run" && measure "whole scripted run" \
  env -u DISPLAY sh -c "'$build/kavrel' < '$work/answers.txt'")
echo "    exit: $(grep -c 'Normal Termination of Program' "$work/out.txt" || true) normal termination line(s); $(grep -c $'^ *[0-9]*\t' "$work/out.txt" || true) Loading rows"
