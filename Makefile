# Thin wrapper over CMake. `make` builds; `make test` builds and runs every test, also
# under AddressSanitizer and UndefinedBehaviorSanitizer (in build-asan/).
JOBS ?= 2

.PHONY: all demo test test-fast bench octave-pkg clean

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

test-fast: all
	cd build && ctest --output-on-failure -j $(JOBS)

bench: all
	./build/bench_phasemend
	./build/bench_kernsmooth
	./build/bench_clipforge

# The Octave package phasekit-<version>.tar.gz, written into build/.
octave-pkg:
	sh toolbox/make_octave_pkg.sh build

clean:
	rm -rf build build-asan demo-out
