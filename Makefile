# make demo  - build both libraries and run the reference host against the stand-in server
# make test  - every test, on both builds (native under ASan/UBSan, the DLL under Wine)
# make bench - benchmarks (optimised native build)
# make fuzz  - the fuzz targets, FUZZ_SECONDS each (default 600)
JOBS ?= 2
FUZZ_SECONDS ?= 600
TEST_FUZZ_SECONDS ?= 40

.PHONY: all deps native win32 tsan fuzz-build bench-build test demo bench fuzz clean

all: native win32

deps:
	@tools/install-deps.sh

native: deps
	cmake --preset native >/dev/null
	cmake --build build/native -j$(JOBS)

win32: deps
	cmake --preset win32 >/dev/null
	cmake --build build/win32 -j$(JOBS)

tsan: deps
	cmake --preset tsan >/dev/null
	cmake --build build/tsan -j$(JOBS)

fuzz-build: deps
	cmake --preset fuzz >/dev/null
	cmake --build build/fuzz -j$(JOBS)

bench-build: deps
	cmake --preset bench >/dev/null
	cmake --build build/bench -j$(JOBS)

# One ctest run over every build tree, so that its closing summary counts all.
test: native win32 tsan fuzz-build
	@tools/write-test-index.sh build native win32 tsan fuzz
	cd build && PLIVORS_FUZZ_SECONDS=$(TEST_FUZZ_SECONDS) ctest --output-on-failure -j$(JOBS)

demo: native win32
	tools/demo.sh

bench: bench-build
	tools/run-benchmarks.sh build/bench

fuzz: fuzz-build
	tools/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build
