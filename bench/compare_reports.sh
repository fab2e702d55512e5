#!/usr/bin/env bash
# Byte-for-byte comparison of the reports of two tallowick binaries.
#
#   bench/compare_reports.sh OLD_BINARY NEW_BINARY [WORK_FOLDER]
#
# Both binaries analyse every real log of the shared folder (../shared/logs, or
# $TALLOWICK_SHARED/logs) and a generated million-line combined log (made once
# and kept in the work folder, by default $TMPDIR/tallowick-bench as for
# speed_table.sh) with the same default settings, each run in an
# empty settings and data folder. Each writes the HTML report with its charts and
# the comma-delimited report (reportformat 2). Every file of the two reports is
# then compared: the pages with the lines that tell when the report was made and
# how long the run took left out (they differ between two runs of the same
# binary), images byte for byte. One line per log; the exit status is 1 when
# anything differs, 2 when the comparison could not be made.
#
# Environment: NEW_ARGS / OLD_ARGS add options to one side only (for example
# NEW_ARGS="-threads 1"); BENCH_LINES sets the size of the generated log
# (1000000); KEEP=1 keeps the reports of logs that compare the same.
set -uo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"

if [[ $# -lt 2 || $# -gt 3 ]]; then
    echo "usage: $0 OLD_BINARY NEW_BINARY [WORK_FOLDER]" >&2
    exit 2
fi
old_exe=$(realpath -e "$1") || { echo "no such binary: $1" >&2; exit 2; }
new_exe=$(realpath -e "$2") || { echo "no such binary: $2" >&2; exit 2; }
work=${3:-${TMPDIR:-/tmp}/tallowick-bench}
mkdir -p "$work" && work=$(realpath "$work")
lines=${BENCH_LINES:-1000000}
read -r -a old_args <<< "${OLD_ARGS:-}"
read -r -a new_args <<< "${NEW_ARGS:-}"

# An option the binary does not know is not an error to it; it would make the
# comparison pass without testing what was asked.
for side in old new; do
    exe_var=${side}_exe
    args_var=${side}_args[@]
    args=("${!args_var}")
    if [[ ${#args[@]} -gt 0 ]] && ! accepts_options "${!exe_var}" "${args[@]}"; then
        echo "$side binary does not accept: ${args[*]}" >&2
        exit 2
    fi
done

# The lines that differ between two runs of one binary on one log, each turned
# into a fixed marker so that the line numbers of the rest still match:
# the processing time and speed, the date and time the report was made (HTML:
# centred small print; comma-delimited: a line of its own), and the clock
# readings in the main page's closing comment.
readonly clock='[0-9]{2}:[0-9]{2}:[0-9]{2}'
readonly made_at="[0-9]{1,4}[/.-][0-9]{1,2}[/.-][0-9]{1,4} $clock"
readonly speed="$clock\\.[0-9]+, [0-9.]+ Files/Min, [0-9.]+ Megs/Min"
html_filter=(
    -e "s#^<CENTER><FONT SIZE=-2>Log Processing time: $speed</FONT></CENTER></p>\$#[processing time]#"
    -e "s#^<CENTER><FONT SIZE=-2>$made_at</FONT></CENTER></p>\$#[report made at]#"
    -e "s#^\t(time taken|startTime|lastTime) = [0-9.]+\$#[\\1]#"
)
text_filter=(
    -e "s#^Log Processing time: $speed\$#[processing time]#"
    -e "s#^$made_at\$#[report made at]#"
)

# Prints the filtered text of page $1 (or the file itself when it is no page).
page_text() {
    case $1 in
        *.html | *.htm) sed -E "${html_filter[@]}" "$1" ;;
        *.txt) sed -E "${text_filter[@]}" "$1" ;;
        *) cat "$1" ;;
    esac
}

# Compares report folders $1 (old) and $2 (new). Prints nothing and succeeds when
# they are the same; else prints the first differing file and a short diff.
compare_folders() {
    local old=$1 new=$2 only name
    only=$(diff <(cd "$old" && find . -type f -printf '%P\n' | sort) \
                <(cd "$new" && find . -type f -printf '%P\n' | sort) |
           grep '^[<>]' | head -3)
    if [[ -n $only ]]; then
        echo "files only on one side (< old, > new):"
        echo "$only"
        return 1
    fi
    while IFS= read -r name; do
        cmp -s "$old/$name" "$new/$name" && continue
        case $name in
            *.html | *.htm | *.txt)
                if ! diff -q <(page_text "$old/$name") <(page_text "$new/$name") > /dev/null; then
                    echo "$name:"
                    diff <(page_text "$old/$name") <(page_text "$new/$name") | head -6
                    return 1
                fi ;;
            *)
                echo "$name: $(cmp "$old/$name" "$new/$name" 2>&1 | sed -E \
                    -e 's#.* differ: #differs at #' -e 's#^cmp: EOF on .*/new/.*#new one is shorter#' \
                    -e 's#^cmp: EOF on .*#old one is shorter#')"
                return 1 ;;
        esac
    done < <(cd "$old" && find . -type f -printf '%P\n' | sort)
}

# Runs one binary on log $2 into folder $3: the HTML report in html/, the
# comma-delimited one in csv/. Prints the two exit codes.
run_reports() {
    local exe=$1 log=$2 out=$3
    shift 3
    local rc_html rc_csv
    rm -rf "$out"
    mkdir -p "$out/html" "$out/csv"
    make_isolated_env "$out/home"
    "${isolated_env[@]}" timeout 900 "$exe" -q "$@" -l "$log" -o "$out/html/index.html" \
        < /dev/null > "$out/html.out" 2>&1
    rc_html=$?
    "${isolated_env[@]}" timeout 900 "$exe" -q "$@" -reportformat 2 -l "$log" \
        -o "$out/csv/index.html" < /dev/null > "$out/csv.out" 2>&1
    rc_csv=$?
    rm -rf "$out/home"
    echo "$rc_html $rc_csv"
}

logs=()
if shared=$(find_shared_folder) && [[ -d $shared/logs ]]; then
    while IFS= read -r log; do logs+=("$log"); done < <(
        find "$shared/logs" -type f ! -name '*.md' | LC_ALL=C sort)
else
    echo "skipped: the real logs (no shared/logs beside the checkout; set TALLOWICK_SHARED)"
fi
if million=$(generated_log "$lines" "$work"); then
    logs+=("$million")
else
    echo "skipped: the generated log (gen_combined.py not found in the shared folder)"
fi
[[ ${#logs[@]} -gt 0 ]] || { echo "nothing to compare" >&2; exit 2; }

echo "old: $old_exe${old_args[*]:+ ${old_args[*]}}"
echo "new: $new_exe${new_args[*]:+ ${new_args[*]}}"
differing=0
for log in "${logs[@]}"; do
    if [[ -n ${shared:-} && $log == "$shared/logs/"* ]]; then
        name=${log#"$shared/logs/"}
    else
        name=$(basename "$log")
    fi
    folder=$work/reports/${name//\//_}
    old_rc=$(run_reports "$old_exe" "$log" "$folder/old" "${old_args[@]}")
    new_rc=$(run_reports "$new_exe" "$log" "$folder/new" "${new_args[@]}")
    files=$(find "$folder/old" -type f -path '*/html/*' | wc -l)
    csv_files=$(find "$folder/old" -type f -path '*/csv/*' | wc -l)
    if [[ $old_rc != "$new_rc" ]]; then
        result="exit codes (html csv) old $old_rc, new $new_rc"
    else
        result=$(compare_folders "$folder/old" "$folder/new")
    fi
    if [[ -z $result ]]; then
        note=""
        [[ $old_rc != "0 0" ]] && note=", both exit $old_rc"
        printf 'same     %s (%s html + %s csv files%s)\n' "$name" "$files" "$csv_files" "$note"
        [[ ${KEEP:-0} == 1 ]] || rm -rf "$folder"
    else
        differing=$((differing + 1))
        printf 'DIFFERS  %s: %s\n' "$name" "$(head -1 <<< "$result")"
        tail -n +2 <<< "$result" | sed 's/^/         /'
        echo "         reports kept in $folder"
    fi
done

if [[ $differing -gt 0 ]]; then
    echo "$differing of ${#logs[@]} logs differ"
    exit 1
fi
echo "all ${#logs[@]} logs give the same reports"
