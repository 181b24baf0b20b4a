#!/bin/sh
# Whole-run timing: generates a large ring-width file (default 10000 series of
# 500 values; all default fits, ratios) and runs kavrel on it in a scratch
# folder, then runs the largest real file (ca667.rwl) the same way. Reports
# wall-clock time, CPU time and peak resident memory of each run.
#
#   bench/run_whole.sh [build-dir] [series] [length]
#
# The generated file is kept in the scratch folder between runs
# (KAVREL_BENCH_DIR, default /tmp/kavrel-bench) and made again only when the
# size changes.
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
series=${2:-10000}
length=${3:-500}
exe=$build/kavrel
work=${KAVREL_BENCH_DIR:-/tmp/kavrel-bench}
data=$here/../shared/data/itrdb/ca667.rwl

[ -x "$exe" ] || { echo "kavrel not built: $exe" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (Debian package: time)" >&2; exit 1; }
mkdir -p "$work"

big=$work/large_${series}x${length}.rwl
if [ ! -s "$big" ]; then
  echo "generating $big"
  python3 "$here/tools/make_examples.py" --series "$series" --length "$length" --out "$big" >/dev/null
fi

# Runs kavrel on one input file with the answers: no pith offsets, no
# screening, median age, ratios; then continue from the plot, no change.
run() {
  label=$1
  input=$2
  dir=$work/run_$label
  rm -rf "$dir"
  mkdir -p "$dir"
  ln -s "$input" "$dir/input.rwl"
  printf '\ninput.rwl\nf\nf\nf\nf\nf\n2\n1\nc\nf\n' >"$dir/answers.txt"
  (cd "$dir" && env -u DISPLAY /usr/bin/time -f '%e %U %S %M' -o time.txt \
    "$exe" <answers.txt >screen.txt 2>&1) || { echo "$label: kavrel failed" >&2; tail -5 "$dir/screen.txt" >&2; exit 1; }
  grep -q 'Normal Termination of Program' "$dir/screen.txt" || { echo "$label: no normal end" >&2; exit 1; }
  read -r wall user sys rss <"$dir/time.txt"
  files=$(ls "$dir" | grep -c -v -e '^input.rwl$' -e '^answers.txt$' -e '^screen.txt$' -e '^time.txt$')
  awk -v l="$label" -v w="$wall" -v u="$user" -v s="$sys" -v m="$rss" -v f="$files" 'BEGIN {
    printf "%-22s wall %6.2f s  cpu %6.2f s  peak %6.1f MB  output files %d\n", l, w, u + s, m / 1024, f }'
}

run "large_${series}x${length}" "$big"
if [ -f "$data" ]; then
  run ca667 "$(cd "$(dirname "$data")" && pwd)/ca667.rwl"
fi
