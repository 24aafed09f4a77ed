# One entry point for building and testing on a fresh Debian machine.
#   make demo         install what is missing, build, set up the demo project's
#                     virtual environment and play a short session against it
#   make test         install what is missing, then every test: native debug,
#                     AddressSanitizer + UndefinedBehaviorSanitizer,
#                     ThreadSanitizer, and the Windows build under Wine
#   make build        native release build: build/release/bin/quern-runtime
#   make bench        throughput of parsing, rewriting, validation, line cutting
#   make windows      Windows build: build/windows/bin/quern-runtime.exe

.PHONY: all deps build bench demo windows test test-native test-asan test-tsan test-windows clean

WINE_ENV := WINEDEBUG=-all WINEPREFIX=$(CURDIR)/build/wine-prefix WINEDLLOVERRIDES=mscoree,mshtml=

all: build

deps:
	@scripts/ensure-deps.sh

build: deps
	cmake --preset release
	cmake --build --preset release

bench: deps
	cmake --preset bench
	cmake --build --preset bench
	build/bench/bin/relay_bench

DEMO_PROJECT := examples/demo-project

demo: build $(DEMO_PROJECT)/.venv
	python3 scripts/demo_session.py build/release/bin/quern-runtime $(DEMO_PROJECT)

# The demo backend needs nothing beyond the standard library, so no pip.
$(DEMO_PROJECT)/.venv:
	python3 -m venv --without-pip $@

windows: deps
	cmake --preset windows
	cmake --build --preset windows

test: deps test-native test-asan test-tsan test-windows

test-native:
	cmake --preset debug
	cmake --build --preset debug
	ctest --preset debug

test-asan:
	cmake --preset asan
	cmake --build --preset asan
	ctest --preset asan

test-tsan:
	cmake --preset tsan
	cmake --build --preset tsan
	ctest --preset tsan

test-windows: windows
	$(WINE_ENV) ctest --preset windows

clean:
	rm -rf build
