#!/bin/sh
# CPU cost of the signal-free loop: the same kavrel run on the generated
# collection (default 10,000 series of 500 values) with --chronology, once
# without and once with --signal-free; /usr/bin/time gives each one's CPU
# time and peak memory, and the loop's passes are shown.
#
#   bench/run_signal_free.sh [build-dir] [series] [length]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
series=${2:-10000}
length=${3:-500}
exe=$build/kavrel
work=${KAVREL_BENCH_DIR:-/tmp/kavrel-bench}
[ -x "$exe" ] || { echo "kavrel not built: $exe" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (Debian package: time)" >&2; exit 1; }
mkdir -p "$work"

big=$work/large_${series}x${length}.rwl
if [ ! -s "$big" ]; then
  echo "generating $big"
  python3 "$here/tools/make_examples.py" --series "$series" --length "$length" --out "$big" >/dev/null
fi

for mode in standard signal-free; do
  out=$work/sf_$mode
  rm -rf "$out"
  extra=""
  [ "$mode" = signal-free ] && extra="--signal-free"
  /usr/bin/time -f "$mode: %U s user + %S s system, %M KB peak" \
    "$exe" run "$big" --out "$out" --chronology --quiet $extra >"$work/sf_$mode.txt" 2>&1 ||
    { cat "$work/sf_$mode.txt"; exit 1; }
  tail -n 1 "$work/sf_$mode.txt"
done
grep -c "Signal-free pass" "$work/sf_signal-free/Kavrelv6_log.txt" | sed 's/^/passes: /'
cat "$work/sf_signal-free/kavrel_signal_free.csv"
