# The two commands a newcomer needs:  make demo   and   make test
# Everything else is here so nobody types long cmake lines.
BUILD ?= build
JOBS ?= $(shell nproc)
NATIVE_CC ?= clang
NATIVE_CXX ?= clang++

.PHONY: all setup i686 x64 native test demo demo-shot bench fuzz clean

all: i686 x64 native

setup:
	@bash tools/setup.sh

$(BUILD)/i686/build.ninja:
	cmake -S . -B $(BUILD)/i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release
$(BUILD)/x64/build.ninja:
	cmake -S . -B $(BUILD)/x64 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake -DCMAKE_BUILD_TYPE=Release
$(BUILD)/native/build.ninja:
	cmake -S . -B $(BUILD)/native -G Ninja -DCMAKE_BUILD_TYPE=Release \
	    -DCMAKE_C_COMPILER=$(NATIVE_CC) -DCMAKE_CXX_COMPILER=$(NATIVE_CXX)

# The shipped 32-bit QXTINTRA.dll: $(BUILD)/i686/QXTINTRA.dll
i686: setup $(BUILD)/i686/build.ninja
	cmake --build $(BUILD)/i686 -j $(JOBS)
# The 64-bit DLL, the Wine tests and the demo host.
x64: setup $(BUILD)/x64/build.ninja
	cmake --build $(BUILD)/x64 -j $(JOBS)
# The decoders natively: sanitizer tests, fuzzers, benchmarks, qxpic.
native: setup $(BUILD)/native/build.ninja
	cmake --build $(BUILD)/native -j $(JOBS)

# Every test of all three builds: the structural check of the 32-bit DLL, the
# Wine tests of the 64-bit one, the native decoder tests and fuzz smoke runs.
test: all
	bash tools/run-tests.sh $(BUILD)

# The page in a real window, with the simulated display driver. Without a
# display (no DISPLAY) it says so and saves the page as a picture instead.
# Extra options for the demo host: make demo ARGS="--family 21 --effect 0x10 --level 2"
# An OEM's skin in one step:        make demo ARGS="--reg my.reg --cfg MY.CFG"
demo: x64
	@bash tools/wine/run-wine.sh $(CURDIR)/$(BUILD)/x64/wineprefix --init
	@bash tools/demo.sh $(CURDIR)/$(BUILD) $(ARGS)

# The same, saved as a picture on any machine.
demo-shot: x64
	@bash tools/wine/run-wine.sh $(CURDIR)/$(BUILD)/x64/wineprefix --init
	@DISPLAY= bash tools/demo.sh $(CURDIR)/$(BUILD) $(ARGS)

bench: native
	for b in $(BUILD)/native/bench_*; do [ -x "$$b" ] && "$$b"; done

# Longer fuzz runs: make fuzz SECONDS=600
fuzz: native
	bash tools/run-fuzz.sh -b $(BUILD)/native -t $(or $(SECONDS),60)

clean:
	rm -rf $(BUILD)
