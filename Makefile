# The two commands of the README, and the steps they are made of. Every step first
# installs the Debian packages it lacks, so a minimal Debian 12 with git and make works.
SHELL := /bin/bash
JOBS ?= 2

.PHONY: demo test dist deps tools native native-release windows fuzz fuzz-build benchmark install clean

# The demo's scenarios, with their JUnit report in out/junit.xml, then the KESTREL module's two
# gauges side by side as a panel shows them.
demo: deps tools dist native-release
	./build/tools/host/kestrel-bench demo --junit out/junit.xml
	./build/tools/host/kestrel-bench render --scale 2 --panel kestrel-panel out/traces/ap_panel.jsonl out/traces/autobrake_knob.jsonl

# The native suite runs twice: on the twin and on the real .gau files, which the native
# host maps itself. The Windows suite runs under wine where wine can run here at all.
test: deps tools native native-release windows fuzz-build
	./tools/run-tests.sh

deps:
	@./tools/install-deps.sh

tools: deps
	cmake --preset tools >/dev/null
	cmake --build --preset tools -j $(JOBS)

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

# The optimized host and twin that the bench runs scenarios with; the sanitized native
# build above is for the tests.
native-release: deps
	cmake --preset native-release >/dev/null
	cmake --build --preset native-release -j $(JOBS)

# The Windows build needs the pictures that the tools build draws.
windows: deps tools
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

# libFuzzer targets: the 64-bit build for long runs, the 32-bit one (the modules' own
# width; under the emulator where the kernel refuses 32-bit programs) with the
# differential target, which needs the real .gau files.
fuzz-build: deps windows
	cmake --preset fuzz >/dev/null
	cmake --build --preset fuzz -j $(JOBS)
	cmake --preset fuzz32 >/dev/null
	cmake --build --preset fuzz32 -j $(JOBS)

# Every target for FUZZ_SECONDS (default 60) each, then a table of targets and findings.
fuzz: fuzz-build
	./fuzz/run-fuzz.sh build/fuzz build/fuzz32

# 100,000 updates of each gauge, with and without the trace, natively and under wine where it
# runs, then the module entries' own cost (Google Benchmark).
benchmark: tools native-release windows
	./tools/host-benchmark.sh

# The bench with the hosts, modules, page and demo scenarios it runs, below PREFIX, where
# it finds them relative to its own folder: no source tree needed.
PREFIX ?= /usr/local
install: tools native-release windows
	cmake --install build/tools --prefix "$(PREFIX)"
	cmake --install build/native-release --prefix "$(PREFIX)"
	cmake --install build/windows --prefix "$(PREFIX)"

dist: windows
	mkdir -p dist
	cp build/windows/modules/KESTREL_TIMER.gau build/windows/modules/KESTREL.GAU dist/

clean:
	rm -rf build dist out
