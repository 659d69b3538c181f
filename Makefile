# The two commands of the README, and the steps they are made of. Every step first
# installs the Debian packages it lacks, so a minimal Debian 12 with git and make works.
SHELL := /bin/bash
JOBS ?= 2

.PHONY: demo test dist deps tools native windows clean

# The demo's scenarios, then the KESTREL module's two gauges side by side as a panel shows them.
demo: deps tools dist native
	./build/tools/host/kestrel-bench demo
	./build/tools/host/kestrel-bench render --scale 2 --panel kestrel-panel out/traces/ap_panel.jsonl out/traces/autobrake_knob.jsonl

# The native suite runs twice: on the twin and on the real .gau files, which the native
# host maps itself. The Windows suite runs under wine where wine can run here at all.
test: deps tools native windows
	./tools/run-tests.sh

deps:
	@./tools/install-deps.sh

tools: deps
	cmake --preset tools >/dev/null
	cmake --build --preset tools -j $(JOBS)

native: deps
	cmake --preset native >/dev/null
	cmake --build --preset native -j $(JOBS)

# The Windows build needs the pictures that the tools build draws.
windows: deps tools
	cmake --preset windows >/dev/null
	cmake --build --preset windows -j $(JOBS)

dist: windows
	mkdir -p dist
	cp build/windows/modules/KESTREL_TIMER.gau build/windows/modules/KESTREL.GAU dist/

clean:
	rm -rf build dist out
