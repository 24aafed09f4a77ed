#!/usr/bin/env bash
# Whole-process benchmark: builds the release runtime and the benchmark's own
# programs, makes the record files once, and prints the results table.
#   bench/run-e2e.sh                      the full run (7 runs per cell)
#   BENCH_RUNS=3 bench/run-e2e.sh         quicker
# Also BENCH_ROUND_TRIPS (round trips a run, default 5000), BENCH_IDLE_SECONDS
# (default 10), BENCH_REQUEST_MB (fire-hose requests a shape, default 8) and
# BENCH_PACED_REQUESTS (small paced requests a run, default 20000; medium gets
# a fifth). BENCH_RUNTIME measures another build of the runtime instead of
# the release build (an older one, to compare).
# Build logs and progress go to stderr, the table to stdout. Exit status 1
# means an output check failed; missed performance targets only print FAIL.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"

for tool in cmake ninja python3 jq; do
    if ! command -v "$tool" >/dev/null; then
        echo "run-e2e.sh: $tool is needed (Debian: apt-get install cmake ninja-build python3 jq)" >&2
        exit 2
    fi
done

{
    cmake --preset release
    cmake --build --preset release
    cmake -S bench/e2e -B build/e2e -G Ninja -DCMAKE_BUILD_TYPE=Release
    cmake --build build/e2e
} >&2

# The record files depend only on the two scripts; they are remade when either changes.
data=build/e2e/data
stamp=$(cat bench/e2e/gen_records.py bench/e2e/canonical.py | sha256sum | cut -d' ' -f1)
if [ "$(cat "$data/stamp" 2>/dev/null)" != "$stamp" ]; then
    echo "making the record files in $data" >&2
    rm -rf "$data"
    mkdir -p "$data"
    python3 bench/e2e/gen_records.py "$data"
    for shape in small medium large; do
        python3 bench/e2e/canonical.py "$data/$shape.jsonl" "$data/$shape.canon.jsonl"
    done
    echo "$stamp" > "$data/stamp"
fi

echo "date: $(date)"
echo "machine: $(nproc) CPUs, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'), kernel $(uname -r)"
exec build/e2e/e2e_bench \
    --runtime "${BENCH_RUNTIME:-build/release/bin/quern-runtime}" \
    --backend build/e2e/e2e_backend \
    --passthrough build/e2e/passthrough \
    --rapidjson-relay build/e2e/rapidjson_relay \
    --simdjson-relay build/e2e/simdjson_relay \
    --jq "$(command -v jq)" \
    --data "$data" \
    --runs "${BENCH_RUNS:-7}" \
    --round-trips "${BENCH_ROUND_TRIPS:-5000}" \
    --idle-seconds "${BENCH_IDLE_SECONDS:-10}" \
    --request-mb "${BENCH_REQUEST_MB:-8}" \
    --paced-requests "${BENCH_PACED_REQUESTS:-20000}"
