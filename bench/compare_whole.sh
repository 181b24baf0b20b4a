#!/bin/sh
# Whole-run comparison of two kavrel builds on the same generated data set
# (default 10000 series of 500 values; no pith offsets, median age, ratios,
# continue from the plot, no revision): both runs must write byte-identical
# files (checked here), then hyperfine times them side by side in one run and
# /usr/bin/time gives each one's CPU time and peak memory. With EXTRA set,
# the new build also runs a second time with those options added (e.g.
# EXTRA="--report --chronology"), to show what they cost.
#
#   bench/compare_whole.sh OLD_KAVREL NEW_KAVREL [series] [length] [runs]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
old=$(realpath "$1")
new=$(realpath "$2")
series=${3:-10000}
length=${4:-500}
runs=${5:-5}
work=${KAVREL_BENCH_DIR:-/tmp/kavrel-bench}
command -v hyperfine >/dev/null || { echo "hyperfine is needed (Debian package: hyperfine)" >&2; exit 1; }
[ -x /usr/bin/time ] || { echo "/usr/bin/time is needed (Debian package: time)" >&2; exit 1; }
mkdir -p "$work"

big=$work/large_${series}x${length}.rwl
if [ ! -s "$big" ]; then
  echo "generating $big"
  python3 "$here/tools/make_examples.py" --series "$series" --length "$length" --out "$big" >/dev/null
fi
answers='\ninput.rwl\nf\nf\nf\nf\nf\n2\n1\nc\nf\n'

prepare() {  # folder
  rm -rf "$1"
  mkdir -p "$1"
  ln -s "$big" "$1/input.rwl"
  printf "$answers" >"$1/answers.txt"
}

# One run of each, kept for the comparison and measured with /usr/bin/time.
for side in old new; do
  exe=$old
  [ $side = new ] && exe=$new
  prepare "$work/cmp_$side"
  (cd "$work/cmp_$side" && env -u DISPLAY /usr/bin/time -f '%U %S %M' -o ../time_$side.txt \
    "$exe" <answers.txt >screen.txt 2>&1)
  read -r user sys rss <"$work/time_$side.txt"
  awk -v s=$side -v u="$user" -v y="$sys" -v m="$rss" 'BEGIN {
    printf "%s: cpu %.2f s (user %.2f, system %.2f), peak %.1f MB\n", s, u + y, u, y, m / 1024 }'
done
status=0
for f in "$work"/cmp_old/*; do
  name=$(basename "$f")
  case $name in input.rwl|answers.txt|kavrel_manifest.toml) continue ;; esac
  cmp -s "$f" "$work/cmp_new/$name" || { echo "files differ: $name"; status=1; }
done
[ $status -eq 0 ] && echo "all output files and the screen are byte-identical"

prepare "$work/hf_old"
prepare "$work/hf_new"
set -- -n old "cd $work/hf_old && $old < answers.txt > /dev/null" \
  -n new "cd $work/hf_new && $new < answers.txt > /dev/null"
if [ -n "${EXTRA:-}" ]; then
  rm -rf "$work/hf_extra"
  mkdir -p "$work/hf_extra"
  set -- "$@" -n "new $EXTRA" \
    "$new run $big $EXTRA --out $work/hf_extra --quiet > /dev/null"
fi
env -u DISPLAY hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/compare.md" "$@"
exit $status
