# Thin wrapper over CMake. `make` builds; `make test` builds and runs every test, also
# under AddressSanitizer and UndefinedBehaviorSanitizer (in build-asan/) and with the
# host in MATLAB R2018a's interleaved complex layout (in build-interleaved/).
JOBS ?= 2

.PHONY: all demo test test-fast cross dist bench bench-huge fuzz octave-pkg clean

all:
	cmake -S . -B build -DCMAKE_BUILD_TYPE=Release
	cmake --build build -j $(JOBS)

# Builds everything and runs the demo; its outputs go to demo-out/.
demo: all
	@test -x build/unwrapping_demo || { echo "The demo needs libjpeg and libpng (Debian: apt-get install libjpeg-dev libpng-dev)"; exit 1; }
	./build/unwrapping_demo --out demo-out

test: all
	cd build && ctest --output-on-failure -j $(JOBS)
	cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPHASEKIT_SANITIZE=ON
	cmake --build build-asan -j $(JOBS)
	cd build-asan && ctest --output-on-failure -j $(JOBS)
	@echo "== the standalone host with the interleaved complex API (MATLAB R2018a's layout)"
	cmake -S . -B build-interleaved -DCMAKE_BUILD_TYPE=Release -DPHASEKIT_INTERLEAVED_COMPLEX=ON -DPHASEKIT_OCTAVE=OFF
	cmake --build build-interleaved -j $(JOBS)
	cd build-interleaved && ctest --output-on-failure -j $(JOBS)

test-fast: all
	cd build && ctest --output-on-failure -j $(JOBS)

# The other platforms, from this machine: Linux arm64 under qemu-user and Windows x64
# under Wine (in build-arm64/ and build-windows/), each skipped with a message when its
# cross tools are missing. CI runs it after the tests.
cross:
	sh tests/cross_checks.sh $(JOBS)

# The toolbox zip for MATLAB users: build/dist/phasekit-VERSION-toolbox.zip, with the
# Windows MEX files cross-built (needs g++-mingw-w64-x86-64-posix) and the Linux ones
# built against stand-ins of MATLAB's libraries (needs libomp-dev and patchelf).
dist:
	cmake -S . -B build-windows -DCMAKE_TOOLCHAIN_FILE=cmake/x86_64-w64-mingw32.cmake -DCMAKE_BUILD_TYPE=Release
	cmake --build build-windows -j $(JOBS)
	cmake -S . -B build-glnxa64 -DPHASEKIT_MATLAB_LINUX=ON -DCMAKE_BUILD_TYPE=Release
	cmake --build build-glnxa64 -j $(JOBS)
	sh toolbox/make_dist.sh build-windows build-glnxa64 build/dist

bench: all
	./build/bench_phasemend
	./build/bench_phasemend3
	./build/bench_kernsmooth
	cmake -S . -B build-interleaved -DCMAKE_BUILD_TYPE=Release -DPHASEKIT_INTERLEAVED_COMPLEX=ON -DPHASEKIT_OCTAVE=OFF
	cmake --build build-interleaved -j $(JOBS) --target bench_kernsmooth
	./build-interleaved/bench_kernsmooth
	./build/bench_clipforge

# Maps larger than memory (Linux; not part of make bench: it writes 3 GiB, then 16 GiB
# of files into HUGE_FOLDER, removed as it goes, and runs for many minutes).
HUGE_FOLDER ?= build/huge
bench-huge: all
	./build/bench_huge $(HUGE_FOLDER)

# Fuzz targets (libFuzzer + ASan + UBSan; needs clang and libclang-rt-14-dev), each run
# for FUZZ_SECONDS from the seeds in fuzz/corpus/; what they learn is kept in
# build-fuzz/corpus/, and an input that crashes, leaks or hangs (10 s) lands in
# build-fuzz/artifacts/ and fails the run.
FUZZ_SECONDS ?= 120
FUZZ_TARGETS = npy jpeg_probe phasemend phasemend3 kernsmooth_c clipforge

fuzz:
	cmake -S fuzz -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo
	cmake --build build-fuzz -j $(JOBS)
	@mkdir -p build-fuzz/artifacts
	@for t in $(FUZZ_TARGETS); do \
	  mkdir -p build-fuzz/corpus/$$t; \
	  echo "fuzz_$$t: $(FUZZ_SECONDS) s"; \
	  ./build-fuzz/fuzz_$$t -max_total_time=$(FUZZ_SECONDS) -timeout=10 -rss_limit_mb=2048 \
	    -print_final_stats=1 -artifact_prefix=build-fuzz/artifacts/ \
	    build-fuzz/corpus/$$t fuzz/corpus/$$t > build-fuzz/fuzz_$$t.log 2>&1 \
	    || { tail -60 build-fuzz/fuzz_$$t.log; exit 1; }; \
	  grep -E "^stat::number_of_executed_units|^Done" build-fuzz/fuzz_$$t.log; \
	done

# The Octave package phasekit-<version>.tar.gz, written into build/.
octave-pkg:
	sh toolbox/make_octave_pkg.sh build

clean:
	rm -rf build build-asan build-interleaved build-fuzz build-arm64 build-windows build-glnxa64 demo-out
