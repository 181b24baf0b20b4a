#!/usr/bin/env bash
# Redraws docs/chronology_page.png: runs kavrel without questions on the
# bundled example data (pith offsets, median age, ratios) and saves the
# chronology page as a PNG. Usage: docs/make_chronology_picture.sh [build-dir]
set -euo pipefail
repo="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$repo/build}" && pwd)"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$build/kavrel" run "$repo/examples/kavrel_example.rwl" --pith "$repo/examples/kavrel_example.pith" \
  --pith-format '(8x,i5)' --chronology --chronology-page chronology_page.png --page-size 1200x900 \
  --out "$work" --quiet
cp "$work/chronology_page.png" "$repo/docs/chronology_page.png"
echo "wrote $repo/docs/chronology_page.png"
