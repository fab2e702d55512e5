#!/usr/bin/env bash
# The main job of the README's first command, run from a Release build folder.
set -euo pipefail
build=${1:-build/release}
bin="$build/src/tallowick"

"$bin" -ver
echo
"$bin" -h
