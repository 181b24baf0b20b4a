#!/usr/bin/env bash
# Peak memory of kavrel while it reads inputs of some hundreds of MB
# (/usr/bin/time -v), to show that reading takes bounded memory whatever the
# size or content of the input:
#   1. a large valid file: the generated 10000 series x 500 values
#      (tools/make_examples.py, fixed seed) repeated KAVREL_MEMORY_COPIES
#      times (8 by default, about 300 MB);
#   2. 256 MiB of NUL bytes (one endless line);
#   3. one endless series: a header-driven block announcing 99999999 values,
#      followed by 256 MiB of value lines.
# The scripted run restricts the age band to 1..10 rings, so that every series
# is skipped and the figures show the reader, not the series store.
# Usage: bench/run_memory.sh (KAVREL_BUILD_DIR selects the build, default build).
# Needs python3 and /usr/bin/time.
set -euo pipefail
cd "$(dirname "$0")/.."
build="$(cd "${KAVREL_BUILD_DIR:-build}" && pwd)"
copies="${KAVREL_MEMORY_COPIES:-8}"
work="$(mktemp -d "${TMPDIR:-/tmp}/kavrel_memory_XXXXXX")"
trap 'rm -rf "$work"' EXIT

python3 tools/make_examples.py --series 10000 --length 500 --out "$work/one.rwl" >/dev/null
for _ in $(seq "$copies"); do cat "$work/one.rwl"; done >"$work/large.rwl"
rm "$work/one.rwl"
head -c 268435456 /dev/zero >"$work/nul.rwl"
{
  printf '%-79s#\n' 'ENDLESS'
  printf 'n %8d  %8d  %-8s\n' 99999999 1000 '(10f8.3)'
  # yes ends on SIGPIPE when head has enough.
  { yes '   1.234   0.987   1.111   2.222   0.333   0.444   0.555   0.666   0.777   0.888' ||
    true; } | head -c 268435456
} >"$work/endless.rwl"

measure() {  # label, input file
  local label=$1 input=$2
  # The answer reader ends a name at a slash: the input is linked in.
  mkdir -p "$work/run"
  ln -s "$input" "$work/run/input.rwl"
  printf '\ninput.rwl\nf\nf\nf\nt\n1\n10\nf\n2\n1\nc\nf\n' >"$work/answers.txt"
  (cd "$work/run" && env -u DISPLAY /usr/bin/time -v "$build/kavrel" <"$work/answers.txt" \
    >"$work/out.txt" 2>"$work/time.txt") || true
  local wall rss skipped
  wall=$(grep "Elapsed (wall clock)" "$work/time.txt" | awk '{print $NF}')
  rss=$(grep "Maximum resident set size" "$work/time.txt" | awk '{print $NF}')
  skipped=$(grep -oE " [0-9]+ Skip (HIGH|Age|Crn|Too)" "$work/out.txt" | wc -l || true)
  printf '%-40s %6d MB input   wall %8s   peak %6d MB   %d series skipped\n' "$label" \
    "$(($(stat -c %s "$input") / 1048576))" "$wall" "$((rss / 1024))" "$skipped"
  grep -q "Normal Termination of Program" "$work/out.txt" ||
    echo "    (no normal termination: $(tail -n 2 "$work/out.txt" | tr '\n' ' '))"
  rm -rf "$work/run"
}

echo "kavrel: $build/kavrel"
measure "large valid file ($copies copies)" "$work/large.rwl"
measure "256 MiB of NUL bytes" "$work/nul.rwl"
measure "one endless header-driven block" "$work/endless.rwl"
