# make demo  - build both libraries and the map server, show real maps through both
# make test  - every test, on both builds (native under ASan/UBSan, the DLL under Wine)
# make bench - benchmarks (optimised native build)
# make data  - fetch and prepare the map server's data once (data/)
# make server - the map server, build/server/plivors-server
# make fuzz  - the fuzz targets, FUZZ_SECONDS each (default 600)
# make dist  - what users install, in dist/: the Windows zip and the server .deb,
#              each unpacked and checked against a server as a user would
JOBS ?= 2
# ccache, where installed, spares a second clone on the same machine the
# rebuild; paths below the clone are hashed relative to it.
CCACHE := $(shell command -v ccache 2>/dev/null)
LAUNCHER := $(if $(CCACHE),-DCMAKE_C_COMPILER_LAUNCHER=$(CCACHE) -DCMAKE_CXX_COMPILER_LAUNCHER=$(CCACHE))
export CCACHE_BASEDIR := $(CURDIR)
export CCACHE_NOHASHDIR := 1
FUZZ_SECONDS ?= 600
TEST_FUZZ_SECONDS ?= 40

.PHONY: all deps data server native win32 win64 tsan fuzz-build bench-build test demo bench fuzz dist clean

all: native win32 server

deps:
	@tools/install-deps.sh

data: deps
	@server/data/prepare.sh data

# One rule configures and builds any preset's tree, build/<preset>: the
# presets by their names, and fuzz and bench as fuzz-build and bench-build
# (their own names run them). win64 is the same code as 64-bit Windows
# programs, tested under Wine's 64-bit loader on machines that cannot execute
# the 32-bit product. BUILD_TARGETS narrows the build to some targets.
PRESETS := server native win32 win64 tsan
$(PRESETS) fuzz-build bench-build: deps
	cmake --preset $(@:-build=) $(LAUNCHER) >/dev/null
	cmake --build build/$(@:-build=) -j$(JOBS) $(BUILD_TARGETS)

# One ctest run over every build tree, so that its closing summary counts all.
test: data server native win32 tsan fuzz-build
	@if ! tools/can-run-32bit.sh; then \
	  echo "This machine cannot execute 32-bit programs: the win32 tests will be skipped, and the win64 tree runs them."; \
	  $(MAKE) --no-print-directory win64; fi
	@tools/write-test-index.sh build native win32 $$(tools/can-run-32bit.sh || echo win64) tsan fuzz
	cd build && PLIVORS_FUZZ_SECONDS=$(TEST_FUZZ_SECONDS) ctest --output-on-failure -j$(JOBS)

demo: data server native win32
	@tools/can-run-32bit.sh || $(MAKE) --no-print-directory win64
	tools/demo.sh

bench: data server bench-build
	tools/run-benchmarks.sh build/bench build/server/plivors-server

fuzz: fuzz-build
	tools/run-fuzzers.sh build/fuzz $(FUZZ_SECONDS)

# Only the targets the packages and their tests need: after `make test` this
# is packing and checking alone.
dist: deps data
	$(MAKE) --no-print-directory win32 native BUILD_TARGETS="--target HalvoPlugIn_Plivors plivors-host"
	$(MAKE) --no-print-directory server
	rm -rf dist
	cd build/win32 && cpack -G ZIP -B $(CURDIR)/dist
	cd build/server && cpack -G DEB -B $(CURDIR)/dist
	rm -rf dist/_CPack_Packages
	tests/dist/deb-test.sh dist/plivors-server_*_amd64.deb build/native/plivors-host
	tests/dist/zip-test.sh dist/plivors-*-win32.zip $$(sed -n 's/^CMAKE_OBJDUMP:FILEPATH=//p' build/win32/CMakeCache.txt) \
	  build/server/plivors-server || [ $$? -eq 77 ]
	@ls -l dist

clean:
	rm -rf build dist
