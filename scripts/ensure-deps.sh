#!/usr/bin/env bash
# Installs the Debian packages one purpose needs, when any is missing. As root
# it runs apt-get; otherwise it prints the command and fails.
#
# Usage: ensure-deps.sh SET...
#   build   a native build of the runtime and the demo session
#   test    every test suite: native, sanitizers, fuzzers, Windows under Wine,
#           the Node.js client, the Python backend library and the trace viewer
#   bench   the benchmarks and their peers
#   node    the Node.js client and its example front end
#   python  the Python backend library's tests
#   viewer  the trace viewer's tests and benchmark in headless Chromium
set -euo pipefail

build_packages=(
    cmake ninja-build g++ make
    rapidjson-dev
    # The demo project's virtual environment; its backend needs nothing beyond
    # the standard library, so no pip and no ensurepip.
    python3
)
node_packages=(
    "${build_packages[@]}"
    # The Node.js client (clients/node) and its example front end.
    nodejs npm
)
python_packages=(
    "${build_packages[@]}"
    # The Python backend library's tests install it with pip into a fresh
    # virtual environment (ensurepip and its bundled pip, no index).
    python3-venv
)
viewer_packages=(
    "${node_packages[@]}"
    # The trace viewer's tests drive the system's browser; nothing downloads one.
    chromium
)
test_packages=(
    "${viewer_packages[@]}"
    "${python_packages[@]}"
    libgtest-dev googletest
    # The fuzz targets: clang with its libFuzzer and sanitizer runtimes, which
    # Debian ships apart from the compiler (only recommended by it).
    clang-14 libclang-rt-14-dev
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix
    wine wine64
)
bench_packages=(
    "${build_packages[@]}"
    libbenchmark-dev jq
    # The end-to-end benchmark's simdjson relay peer.
    libsimdjson-dev
)

if [ $# -eq 0 ]; then
    echo "usage: $0 build|test|bench|node|python|viewer..." >&2
    exit 2
fi

packages=()
for set in "$@"; do
    case "$set" in
        build) packages+=("${build_packages[@]}") ;;
        test) packages+=("${test_packages[@]}") ;;
        bench) packages+=("${bench_packages[@]}") ;;
        node) packages+=("${node_packages[@]}") ;;
        python) packages+=("${python_packages[@]}") ;;
        viewer) packages+=("${viewer_packages[@]}") ;;
        *) echo "$0: unknown set: $set" >&2; exit 2 ;;
    esac
done

# Node.js may come from elsewhere (a vendor's nodejs package carries its own
# npm, which Debian's npm package conflicts with): a working command will do.
provided_otherwise() {
    case "$1" in
        nodejs) command -v node >/dev/null ;;
        npm) command -v npm >/dev/null ;;
        *) return 1 ;;
    esac
}

missing=()
for package in $(printf '%s\n' "${packages[@]}" | sort -u); do
    if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" &&
        ! provided_otherwise "$package"; then
        missing+=("$package")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

install_line="DEBIAN_FRONTEND=noninteractive apt-get update && DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends ${missing[*]}"
if [ "$(id -u)" -ne 0 ]; then
    echo "Missing packages: ${missing[*]}" >&2
    echo "Install them as root with:" >&2
    echo "  $install_line" >&2
    exit 1
fi

echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq --no-install-recommends "${missing[@]}"
