#!/usr/bin/env bash
# Redraws docs/regional_curve_page.png: runs kavrel on the bundled example
# data in a scratch folder with piped answers (pith offsets, median age,
# ratios), saves the regional-curve page as PostScript from the plot menu and
# renders it with Ghostscript. Usage: docs/make_page_picture.sh [build-dir]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
ln -s "$repo/examples/kavrel_example.rwl" "$repo/examples/kavrel_example.pith" "$work/"
cd "$work"
printf '%s\n' "" kavrel_example.rwl t kavrel_example.pith "'(8x,i5)'" f f f f 2 1 \
  s kavrel_page.ps c f | env -u DISPLAY "$build/kavrel" > screen.txt
# PLplot's PostScript page is landscape; Orientation 3 renders it upright.
gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE=png16m -r80 -sOutputFile="$repo/docs/regional_curve_page.png" \
  -c "<</Orientation 3>> setpagedevice" -f kavrel_page.ps
echo "wrote $repo/docs/regional_curve_page.png"
