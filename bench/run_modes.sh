#!/bin/sh
# Whole-run timing of the two ways of running kavrel on the largest real
# file (ca667.rwl, 311 series): the dialogue with piped answers and the same
# run without questions (kavrel run). Both write the same files; the run
# without questions should cost nothing measurable on top. Uses hyperfine.
#
#   bench/run_modes.sh [build-dir] [runs]
set -eu

here=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
runs=${2:-10}
exe=$build/kavrel
data=$here/../shared/data/itrdb/ca667.rwl
work=${KAVREL_BENCH_DIR:-/tmp/kavrel-bench}/run_modes

[ -x "$exe" ] || { echo "kavrel not built: $exe" >&2; exit 1; }
[ -f "$data" ] || { echo "data file not found: $data" >&2; exit 1; }
command -v hyperfine >/dev/null || { echo "hyperfine is needed (Debian package: hyperfine)" >&2; exit 1; }

rm -rf "$work"
mkdir -p "$work/dialogue" "$work/run"
data=$(cd "$(dirname "$data")" && pwd)/ca667.rwl
ln -s "$data" "$work/dialogue/ca667.rwl"
ln -s "$data" "$work/run/ca667.rwl"
# No pith offsets, no screening, median age, ratios; continue from the plot,
# no revision.
printf '\nca667.rwl\nf\nf\nf\nf\nf\n2\n1\nc\nf\n' >"$work/answers.txt"

cd "$work"
env -u DISPLAY hyperfine --warmup 1 --runs "$runs" --export-markdown "$work/times.md" \
  -n dialogue "cd dialogue && $exe < ../answers.txt > /dev/null" \
  -n run "cd run && $exe run ca667.rwl --out out < /dev/null > /dev/null"

# The two ways must have written the same files (the manifests name the
# input from different folders).
for f in dialogue/*; do
  name=$(basename "$f")
  case $name in ca667.rwl|kavrel_manifest.toml) continue ;; esac
  cmp -s "$f" "run/out/$name" || { echo "files differ: $name" >&2; exit 1; }
done
echo "both modes wrote the same files; times in $work/times.md"
