#!/usr/bin/env bash
# Runs the fuzz targets of a fuzz build (cmake --preset fuzz), one after the
# other, and fails when any of them finds a crash, a leak or a sanitizer report.
#
# Usage: tests/fuzz/run.sh BUILD_DIR SECONDS [TARGET...]
#   BUILD_DIR  the fuzz build, e.g. build/fuzz
#   SECONDS    how long each target fuzzes (0: only replay, no fuzzing)
#   TARGET     request_line, backend_stdout, json_round_trip, line_chunks
#              (all of them when none is named)
#
# For each target: first every input in regressions/TARGET/ is replayed once,
# with the inputs at the line limits (below); then the target fuzzes for
# SECONDS over a working copy of corpus/TARGET/ in
# BUILD_DIR/fuzz-work/TARGET/corpus, which keeps what it finds from one run to
# the next (the checked-in corpus is only read). A crash input is written to
# BUILD_DIR/fuzz-work/TARGET/ and the run's log beside it.
set -euo pipefail

if [ $# -lt 2 ]; then
    echo "usage: $0 BUILD_DIR SECONDS [TARGET...]" >&2
    exit 2
fi
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd)
seconds=$2
shift 2
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(request_line backend_stdout json_round_trip line_chunks)
fi

# Inputs at the two line limits, exactly at them and one byte over. Too large
# to keep in the repository, so they are made here; and replayed, not fuzzed
# from: mutating inputs of a mebibyte slows a fuzzer down a hundredfold, and
# line_chunks covers the limit logic with small limits.
padded_line() {  # PREFIX SUFFIX TOTAL_BYTES: PREFIX, x's, SUFFIX, so that all comes to TOTAL_BYTES
    local fill=$(($3 - ${#1} - ${#2}))
    printf '%s' "$1"
    head -c "$fill" /dev/zero | tr '\0' x
    printf '%s' "$2"
}
make_boundary_seeds() {  # TARGET DIR
    local limit prefix suffix
    case "$1" in
        request_line) limit=65536 prefix='{"command":"status","id":1,"payload":{"pad":"' suffix=$'"}}\n' ;;
        backend_stdout) limit=1048576 prefix='{"type":"event","pad":"' suffix=$'"}\n' ;;
        *) return 0 ;;
    esac
    padded_line "$prefix" "$suffix" "$limit" > "$2/limit-exact"
    padded_line "$prefix" "$suffix" $((limit + 1)) > "$2/limit-over"
    padded_line "$prefix" "${suffix%$'\n'}"$'\r\n' $((limit + 1)) > "$2/limit-over-by-cr"
    padded_line "$prefix" "${suffix%$'\n'}" "$limit" > "$2/limit-exact-last-line"
}

# Options of single targets: the line chunk inputs must be able to go past the
# reader's 64 KiB buffer.
extra_options() {
    case "$1" in
        line_chunks) echo "-max_len=140000" ;;
    esac
}

summary=()
status=0
for target in "${targets[@]}"; do
    binary="$build/bin/fuzz_$target"
    if [ ! -x "$binary" ]; then
        echo "$0: no fuzz target $binary (build it with: cmake --build --preset fuzz)" >&2
        exit 2
    fi
    work="$build/fuzz-work/$target"
    mkdir -p "$work/corpus"
    log="$work/fuzz.log"

    mkdir -p "$work/boundary"
    make_boundary_seeds "$target" "$work/boundary"
    regressions=()
    while IFS= read -r -d '' file; do regressions+=("$file"); done \
        < <(find "$here/regressions/$target" "$work/boundary" -type f ! -name '*.md' -print0 2>/dev/null | sort -z)
    if [ ${#regressions[@]} -gt 0 ]; then
        echo "== $target: replaying ${#regressions[@]} regression and boundary inputs"
        if ! "$binary" "${regressions[@]}" > "$work/replay.log" 2>&1; then
            tail -n 40 "$work/replay.log"
            echo "== $target: a regression input fails again (log: $work/replay.log)"
            status=1
            summary+=("$target: REGRESSION")
            continue
        fi
    fi
    if [ "$seconds" -eq 0 ]; then
        summary+=("$target: ${#regressions[@]} inputs replayed")
        continue
    fi

    cp -n "$here/corpus/$target"/* "$work/corpus/"
    options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=60 -artifact_prefix="$work/")
    if [ -f "$here/$target.dict" ]; then options+=(-dict="$here/$target.dict"); fi
    read -r -a more <<< "$(extra_options "$target")"
    options+=("${more[@]}")

    echo "== $target: fuzzing for ${seconds}s over $work/corpus"
    if "$binary" "${options[@]}" "$work/corpus" > "$log" 2>&1; then
        result=ok
    else
        tail -n 60 "$log"
        echo "== $target: FAILED; the input is in $work/ (log: $log)"
        result=FAILED
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    cov=$(grep -o 'cov: [0-9]* ft: [0-9]*' "$log" | tail -n 1 || true)
    corpus=$(find "$work/corpus" -type f | wc -l)
    summary+=("$target: $result, ${runs:-?} runs, ${rate:-?} runs/s, ${cov:-no coverage line}, corpus $corpus")
done

echo "== summary"
for line in "${summary[@]}"; do echo "   $line"; done
exit "$status"
