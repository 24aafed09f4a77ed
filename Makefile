# One entry point for building and testing on a fresh Debian machine.
#   make demo         install what is missing, build, set up the demo project's
#                     virtual environment and play a short session against it;
#                     TRACE=build/demo-trace.jsonl also writes the session's
#                     trace there and the page that draws it beside it
#                     (build/demo-trace.html)
#   make test         install what is missing, build the release (its warnings
#                     are errors too), then every test: native debug,
#                     AddressSanitizer + UndefinedBehaviorSanitizer,
#                     ThreadSanitizer, a short run of every fuzz target, the
#                     Node.js client's tests, the Python backend library's
#                     tests, the trace viewer's tests in headless Chromium,
#                     and the Windows build under Wine; the fault soak runs
#                     SOAK_SECONDS (60) natively and under Wine,
#                     SANITIZER_SOAK_SECONDS (30) under each sanitizer
#   make check-layers no folder of src/ includes one above it, no cycles
#   make build        native release build: build/release/bin/quern-runtime
#   make bench        throughput of parsing, rewriting, validation, line cutting,
#                     then the whole process against its peers (bench/run-e2e.sh;
#                     BENCH_RUNS=3 for a quicker run)
#   make fuzz         build the libFuzzer targets (clang, ASan + UBSan) and run
#                     each for FUZZ_SECONDS (default 60) over a working copy of
#                     its corpus in build/fuzz/fuzz-work; `make test` runs them
#                     for FUZZ_SMOKE_SECONDS (default 20) as fuzz-smoke
#   make windows      Windows build: build/windows/bin/quern-runtime.exe
#   make test-node    the Node.js client (clients/node): npm ci, its tests
#                     against the release runtime and the demo project, then
#                     the example front end (examples/node-frontend)
#   make node-example the example front end alone
#   make test-python  the Python backend library (clients/python): its unit
#                     tests, its tests through the release runtime, and both
#                     ways of installing it (pip with no index, vendored)
#   make test-viewer  the trace viewer (clients/node/viewer) in headless
#                     Chromium; its screenshot goes to build/viewer-test/
#   make bench-viewer how fast headless Chromium opens a 100,000-line trace
#   make fresh-check  run `make demo` and `make test` as the only commands in a
#                     freshly bootstrapped Debian 12 root (needs root and the
#                     fresh-machine.sh tool: FRESH_MACHINE=path/to/fresh-machine.sh)
#
# Each target installs only the Debian packages its purpose needs.

.PHONY: check-layers all deps-build deps-test deps-bench deps-node deps-viewer build bench bench-viewer demo windows test test-native test-asan test-tsan test-windows test-node test-viewer node-example fuzz fuzz-build fuzz-smoke fresh-check clean

WINE_ENV := WINEDEBUG=-all WINEPREFIX=$(CURDIR)/build/wine-prefix WINEDLLOVERRIDES=mscoree,mshtml=

# How long the random fault soak (tests/e2e/faults_soak_test.cpp) runs; it
# prints its seed, and QUERN_SOAK_SEED repeats a run.
SOAK_SECONDS ?= 60
SANITIZER_SOAK_SECONDS ?= 30

all: build

deps-build:
	@scripts/ensure-deps.sh build

deps-test:
	@scripts/ensure-deps.sh test

deps-bench:
	@scripts/ensure-deps.sh bench

deps-node:
	@scripts/ensure-deps.sh node

deps-viewer:
	@scripts/ensure-deps.sh viewer

build: deps-build
	cmake --preset release
	cmake --build --preset release

bench: deps-bench
	cmake --preset bench
	cmake --build --preset bench
	build/bench/bin/relay_bench
	bench/run-e2e.sh

DEMO_PROJECT := examples/demo-project

# With TRACE, the page is written beside the trace, with .html for its extension.
demo: build $(DEMO_PROJECT)/.venv $(if $(TRACE),deps-node)
	python3 scripts/demo_session.py build/release/bin/quern-runtime $(DEMO_PROJECT) $(if $(TRACE),--trace $(TRACE))
	$(if $(TRACE),node clients/node/viewer/quern-trace-view.mjs $(TRACE),@echo "make demo TRACE=build/demo-trace.jsonl also writes this session's trace and a page that draws it")

# The demo backend needs nothing beyond the standard library, so no pip.
$(DEMO_PROJECT)/.venv:
	python3 -m venv --without-pip $@

windows: deps-test
	cmake --preset windows
	cmake --build --preset windows

test: deps-test check-layers build test-native test-asan test-tsan fuzz-smoke test-node test-python test-viewer test-windows

check-layers:
	python3 scripts/check-layers.py

test-native:
	cmake --preset debug
	cmake --build --preset debug
	QUERN_SOAK_SECONDS=$(SOAK_SECONDS) ctest --preset debug

# The sanitizer presets leave out the slow tests; the soak runs on its own,
# for a shorter time.
test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan
	QUERN_SOAK_SECONDS=$(SANITIZER_SOAK_SECONDS) ctest --test-dir build/asan -L soak --output-on-failure --no-tests=error

test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan
	QUERN_SOAK_SECONDS=$(SANITIZER_SOAK_SECONDS) ctest --test-dir build/tsan -L soak --output-on-failure --no-tests=error

NPM_CI := npm ci --no-audit --no-fund

test-node: deps-node build $(DEMO_PROJECT)/.venv
	cd clients/node && $(NPM_CI) && npm test
	cd examples/node-frontend && $(NPM_CI) && npm start

node-example: deps-node build $(DEMO_PROJECT)/.venv
	cd clients/node && $(NPM_CI)
	cd examples/node-frontend && $(NPM_CI) && npm start

# The demo project's copy of the library is checked against clients/python;
# `python3 clients/python/vendor.py examples/demo-project` refreshes it.
.PHONY: deps-python test-python
deps-python:
	@scripts/ensure-deps.sh python

test-python: deps-python build
	python3 -m unittest discover -s clients/python/tests -t clients/python

# The viewer's tests need neither the runtime nor the demo project: they read a recorded trace.
test-viewer: deps-viewer
	cd clients/node && $(NPM_CI) && npm run test:viewer

bench-viewer: deps-viewer
	cd clients/node && $(NPM_CI) && npm run bench:viewer

test-windows: windows
	$(WINE_ENV) QUERN_SOAK_SECONDS=$(SOAK_SECONDS) ctest --preset windows

FUZZ_SECONDS ?= 60
FUZZ_SMOKE_SECONDS ?= 20

fuzz-build:
	cmake --preset fuzz
	cmake --build --preset fuzz

fuzz: deps-test fuzz-build
	tests/fuzz/run.sh build/fuzz $(FUZZ_SECONDS)

fuzz-smoke: fuzz-build
	tests/fuzz/run.sh build/fuzz $(FUZZ_SMOKE_SECONDS)

FRESH_MACHINE ?= fresh-machine.sh
FRESH_LOG ?= /tmp/quern-fresh-check.log

fresh-check:
	$(FRESH_MACHINE) --log $(FRESH_LOG) . 'make demo' 'make test'

clean:
	rm -rf build
