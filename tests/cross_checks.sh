#!/bin/sh
# cross_checks.sh [JOBS]: the toolbox on the other platforms CI checks, from this
# x86-64 Linux machine: Linux arm64 (cross-built, every unit, whole-call and golden
# test run under qemu-user) and Windows x64 (the MEX files and the standalone host
# cross-built with MinGW-w64, the golden test run under Wine, the MEX files' imports
# and exports checked; then the toolbox zip made from it, unpacked and used: see
# dist_check.sh). Each is skipped with a message when its tools are missing; a build
# warning fails it like a failed test.
set -eu
cd "$(dirname "$0")/.."
jobs=${1:-2}

build() {  # build FOLDER TOOLCHAIN
  cmake -S . -B "$1" -DCMAKE_TOOLCHAIN_FILE="$2" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$1" -j "$jobs" 2>&1 | tee "$1/build.log" | grep -E "warning:|error:" || true
  if grep -q "warning:" "$1/build.log"; then
    echo "$1: the build gave warnings"
    exit 1
  fi
  (cd "$1" && ctest --output-on-failure -j "$jobs")
}

if command -v aarch64-linux-gnu-g++ >/dev/null 2>&1 && command -v qemu-aarch64 >/dev/null 2>&1; then
  echo "== Linux arm64 (qemu-user)"
  build build-arm64 cmake/aarch64-linux-gnu.cmake
else
  echo "== Linux arm64 skipped: needs aarch64-linux-gnu-g++ and qemu-aarch64 (Debian: g++-aarch64-linux-gnu qemu-user)"
fi

if command -v x86_64-w64-mingw32-g++-posix >/dev/null 2>&1 && command -v wine >/dev/null 2>&1; then
  echo "== Windows x64 (MinGW-w64, Wine)"
  build build-windows cmake/x86_64-w64-mingw32.cmake
else
  echo "== Windows x64 skipped: needs x86_64-w64-mingw32-g++-posix and wine (Debian: g++-mingw-w64-x86-64-posix wine wine64)"
fi
