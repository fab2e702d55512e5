#!/usr/bin/env bash
# Speed of a whole batch run, side by side with the tools that bound it.
#
#   bench/speed_table.sh [BINARY] [WORK_FOLDER]
#
# On the generated million-line combined log (made once with the shared
# gen_combined.py and kept in the work folder, with its gzip copy) measures, best
# of 3 wall times each: tallowick with the default settings and the default HTML
# report with charts, the same with "-threads 1", the same on the gzip copy,
# "wc -l", "zcat" of the gzip copy, and the peer analysers webalizer and goaccess
# when they are installed. Prints a markdown table of wall time, lines per second
# and peak memory (the largest resident size of the runs, from /usr/bin/time).
#
# BINARY defaults to build/release/src/tallowick; WORK_FOLDER to
# $TMPDIR/tallowick-bench. BENCH_LINES (1000000) and BENCH_RUNS (3) change the
# log size and the number of runs.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

exe=$(realpath -e "${1:-$bench_repo/build/release/src/tallowick}") ||
    { echo "no tallowick binary (build one in Release, or name it)" >&2; exit 2; }
work=${2:-${TMPDIR:-/tmp}/tallowick-bench}
mkdir -p "$work" && work=$(realpath "$work")
lines=${BENCH_LINES:-1000000}
runs=${BENCH_RUNS:-3}
[[ -x /usr/bin/time ]] || { echo "needs /usr/bin/time (Debian package time)" >&2; exit 2; }

log=$(generated_log "$lines" "$work") ||
    { echo "cannot make the log: gen_combined.py not found in the shared folder" >&2; exit 2; }
if [[ ! -s $log.gz ]]; then
    gzip -6 -c "$log" > "$log.gz.part" && mv "$log.gz.part" "$log.gz" || exit 2
fi
out=$work/out
make_isolated_env "$work/home"

best_wall="" peak_kb="" failure=""
# Runs the command in the arguments $runs times, output discarded, after
# emptying the report folder each time; sets best_wall (seconds), peak_kb (the
# largest peak resident size) or, when a run fails, failure.
measure() {
    local i start end wall kb rc
    best_wall="" peak_kb=0 failure=""
    for ((i = 0; i < runs; i++)); do
        rm -rf "$out" && mkdir -p "$out"
        start=$EPOCHREALTIME
        /usr/bin/time -f %M -o "$work/time.txt" "$@" < /dev/null > /dev/null 2> "$work/stderr.txt"
        rc=$?
        end=$EPOCHREALTIME
        if [[ $rc -ne 0 ]]; then
            failure="failed (exit $rc: $(grep -v '^Command exited' "$work/stderr.txt" | head -1))"
            return
        fi
        wall=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.3f", b - a }')
        kb=$(tail -1 "$work/time.txt")
        if [[ -z $best_wall ]] || awk -v w="$wall" -v b="$best_wall" 'BEGIN { exit !(w < b) }'; then
            best_wall=$wall
        fi
        ((kb > peak_kb)) && peak_kb=$kb
    done
}

rows=()
# Measures the command in the arguments and adds a table row labelled $1.
row() {
    local label=$1
    shift
    measure "$@"
    if [[ -n $failure ]]; then
        rows+=("| $label | n/a | n/a | n/a | $failure |")
        return
    fi
    rows+=("$(awk -v l="$label" -v w="$best_wall" -v n="$lines" -v kb="$peak_kb" 'BEGIN {
        r = n / w
        printf "| %s | %.3f | %s | %.0f MB | |", l, w,
               (r >= 1e6 ? sprintf("%.2f M", r / 1e6) : sprintf("%.0f k", r / 1e3)), kb / 1024 }')")
}
tallowick=("${isolated_env[@]}" "$exe" -q -o "$out/index.html")

echo "$(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores ($(grep -m1 'model name' /proc/cpuinfo |
    cut -d: -f2 | sed 's/^ *//')), load $(cut -d' ' -f1-3 /proc/loadavg)"
megabytes() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.0f MB", b / 1e6 }'; }
echo "log: $log ($lines lines, $(megabytes "$log"); gzip copy $(megabytes "$log.gz"))"
echo "tallowick: $exe ($("$exe" -ver 2>&1 | head -1)); best of $runs runs"
echo

if accepts_options "$exe" -threads 1; then
    row "tallowick (2 threads, the default)" "${tallowick[@]}" -l "$log"
    gzip_label="tallowick, gzip copy (2 threads)"
    row "tallowick -threads 1" "${tallowick[@]}" -threads 1 -l "$log"
else
    row "tallowick (default settings)" "${tallowick[@]}" -l "$log"
    gzip_label="tallowick, gzip copy"
    rows+=("| tallowick -threads 1 | n/a | n/a | n/a | this binary has no threads keyword |")
fi
row "$gzip_label" "${tallowick[@]}" -l "$log.gz"
gzip_wall=$best_wall
row "wc -l" wc -l "$log"
row "zcat of the gzip copy" zcat "$log.gz"
zcat_wall=$best_wall

if command -v webalizer > /dev/null; then
    row "webalizer" "${isolated_env[@]}" webalizer -c /dev/null -Q -o "$out" "$log"
else
    rows+=("| webalizer | | | | not installed: skipped |")
fi
if command -v goaccess > /dev/null; then
    row "goaccess" "${isolated_env[@]}" goaccess "$log" --no-global-config \
        --log-format=COMBINED -o "$out/report.html"
else
    rows+=("| goaccess | | | | not installed: skipped |")
fi

echo "| | wall s | lines/s | peak memory | note |"
echo "|---|---|---|---|---|"
printf '%s\n' "${rows[@]}"
echo
if [[ -n $gzip_wall && -n $zcat_wall ]]; then
    awk -v g="$gzip_wall" -v z="$zcat_wall" 'BEGIN {
        printf "gzip copy: tallowick takes %.2f times the time of zcat alone\n", g / z }'
fi
rm -rf "$out" "$work/home" "$work/time.txt" "$work/stderr.txt"
