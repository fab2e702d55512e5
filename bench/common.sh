# Helpers of the bench scripts (sourced by them, not run on its own).

bench_repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

# The folder of shared test material (logs/, bench/gen_combined.py), as the
# tests find it: $TALLOWICK_SHARED, else "shared" beside the checkout. Fails when
# it is absent.
find_shared_folder() {
    local dir=${TALLOWICK_SHARED:-$(dirname "$bench_repo")/shared}
    [[ -d $dir ]] || return 1
    printf '%s\n' "$(cd "$dir" && pwd -P)"
}

# Prints the path of the generated combined log of $1 lines in folder $2, made
# once with the shared generator (deterministic: same lines, same file) and kept
# for later runs. Fails when the generator is absent.
generated_log() {
    local lines=$1 folder=$2 shared log
    log=$folder/combined_$lines.log
    if [[ -s $log ]]; then
        printf '%s\n' "$log"
        return 0
    fi
    shared=$(find_shared_folder) || return 1
    [[ -f $shared/bench/gen_combined.py ]] || return 1
    echo "writing $log ($lines lines, about a minute per million) ..." >&2
    /usr/bin/python3 "$shared/bench/gen_combined.py" -n "$lines" -o "$log.part" || return 1
    mv "$log.part" "$log"
    printf '%s\n' "$log"
}

# Fills the array isolated_env with an "env" command that runs a program with a
# fresh, empty home, settings and data folder under $1 (made here), the C locale
# and UTC, so that no user settings, saved state or locale take part in a run.
make_isolated_env() {
    local home=$1
    mkdir -p "$home/config" "$home/data"
    isolated_env=(env -u TALLOWICK_HOME HOME="$home" XDG_CONFIG_HOME="$home/config"
                  XDG_DATA_HOME="$home/data" LC_ALL=C TZ=UTC)
}

# Whether tallowick $1 knows every option in the rest of the arguments: a short
# run on a three-line log, which fails or names an unknown option otherwise.
accepts_options() {
    local exe=$1 probe out rc
    shift
    probe=$(mktemp -d "${TMPDIR:-/tmp}/tallowick-probe.XXXXXX")
    printf '%s\n' \
        '127.0.0.1 - - [01/Nov/2026:10:00:00 +0000] "GET / HTTP/1.1" 200 100 "-" "probe"' \
        '127.0.0.1 - - [01/Nov/2026:10:00:01 +0000] "GET /a.html HTTP/1.1" 200 100 "-" "probe"' \
        '127.0.0.1 - - [01/Nov/2026:10:00:02 +0000] "GET /b.gif HTTP/1.1" 200 100 "-" "probe"' \
        > "$probe/probe.log"
    make_isolated_env "$probe/home"
    # -q1 keeps the messages of the command line, among them "unknown option".
    out=$(cd "$probe" && "${isolated_env[@]}" "$exe" -q1 "$@" -l probe.log -o "$probe/index.html" \
          2>&1 < /dev/null)
    rc=$?
    rm -rf "$probe"
    [[ $rc -eq 0 && $out != *"unknown option"* ]]
}
