#!/usr/bin/env bash
# The main job of the README's first command, run from a Release build folder:
# writes a sample log with the project's generator, analyses it and prints where
# the report's main page is.
set -euo pipefail
build=${1:-build/release}
bin="$build/src/tallowick"
gen="$build/tools/tallowick-loggen"
demo="$build/demo"

mkdir -p "$demo/report"
"$gen" --lines 50000 --seed 7 --days 30 --out "$demo/access.log"
"$bin" -ver
"$bin" -nogui -q -l "$demo/access.log" -o "$demo/report/index.html"
echo "Report: $(realpath "$demo/report/index.html")"
