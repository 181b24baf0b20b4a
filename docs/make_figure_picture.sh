#!/usr/bin/env bash
# Redraws docs/regional_curve_figure.png: a run without questions on the
# bundled example data (pith offsets, median age, ratios) saves the
# regional-curve figure as a PNG of 1000 x 750 pixels.
# Usage: docs/make_figure_picture.sh [build-dir]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$repo/examples/kavrel_example.rwl" "$repo/examples/kavrel_example.pith" "$work/"
cd "$work"
"$build/kavrel" run kavrel_example.rwl --pith kavrel_example.pith --pith-format '(8x,i5)' \
  --threshold median --index ratio --page figure.png --page-size 1000x750 --quiet > screen.txt
cp figure.png "$repo/docs/regional_curve_figure.png"
echo "wrote $repo/docs/regional_curve_figure.png"
