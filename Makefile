# make demo  - build both libraries and the map server, show real maps through both
# make test  - every test, on both builds (native under ASan/UBSan, the DLL under Wine)
# make bench - benchmarks (optimised native build)
# make data  - fetch and prepare the map server's data once (data/)
# make server - the map server, build/server/plivors-server
# make fuzz  - the fuzz targets, FUZZ_SECONDS each (default 600)
JOBS ?= 2
FUZZ_SECONDS ?= 600
TEST_FUZZ_SECONDS ?= 60

.PHONY: all deps data server native win32 tsan fuzz-build bench-build test demo bench fuzz clean

all: native win32 server

deps:
	@tools/install-deps.sh

data: deps
	@server/data/prepare.sh data

server: deps
	cmake --preset server >/dev/null
	cmake --build build/server -j$(JOBS)

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
test: data server native win32 tsan fuzz-build
	@tools/write-test-index.sh build native win32 tsan fuzz
	cd build && PLIVORS_FUZZ_SECONDS=$(TEST_FUZZ_SECONDS) ctest --output-on-failure -j$(JOBS)

demo: data server native win32
	tools/demo.sh

bench: data server bench-build
	tools/run-benchmarks.sh build/bench build/server/plivors-server

fuzz: fuzz-build
	tools/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

clean:
	rm -rf build
