#!/bin/sh
# dist_check.sh ZIP [WINDOWS_BUILD [LINUX_BUILD]]: the toolbox zip as a user gets it
# (the one `make dist` wrote; the builds default to build-windows and build-glnxa64,
# where make dist made its files and the hosts that load them). Unpacked into a clean
# folder:
# - Windows: the Windows standalone host loads the unpacked MEX files under Wine and
#   reproduces the golden digests, with OMP_NUM_THREADS unset and 1 (clipforge writes
#   a movie through mexrun); their import tables hold only what every Windows with
#   MATLAB has;
# - Linux: each .mexa64 needs only what every MATLAB on Linux has loaded, with symbol
#   versions old enough for glibc 2.17 and MATLAB's own libstdc++
#   (matlab-linux/check_elf_interfaces.sh); the Linux standalone host, as MATLAB's
#   libmx.so, libmex.so and libut.so, with LLVM's OpenMP runtime as libiomp5.so, loads them and
#   reproduces the golden digests the same two ways, and clipforge writes a movie;
# - then, when Octave is found, the unpacked folder as an Octave user has it:
#   make_toolbox builds Octave's own files there, help phasekit lists the commands and
#   the examples run.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
zip=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
windows=$(cd "${2:-build-windows}" && pwd)
linux=$(cd "${3:-build-glnxa64}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/user"
(cd "$work/user" && cmake -E tar xf "$zip")
kit="$work/user/phasekit"
test -d "$kit" || { echo "dist_check: $zip holds no folder phasekit/"; exit 1; }

# golden_and_movie LABEL HOST...: the golden digests twice (OpenMP's default thread
# count and one thread), then a movie through mexrun, with the host's programs run
# as HOST... gives them (wine, or nothing).
golden_and_movie() {
  label=$1 golden=$2 mexrun=$3 suffix=$4
  shift 4
  (unset OMP_NUM_THREADS; "$@" "$golden" "$kit" > "$work/golden.log") ||
    { cat "$work/golden.log"; echo "dist_check: $label golden digests differ"; exit 1; }
  OMP_NUM_THREADS=1 "$@" "$golden" "$kit" > "$work/golden1.log" ||
    { cat "$work/golden1.log"; echo "dist_check: $label golden digests differ on one thread"; exit 1; }
  echo "dist_check: $label: $(tail -1 "$work/golden.log") (default threads and one)"
  rm -f "$work/movie.avi"
  "$@" "$mexrun" --strict "$kit/clipforge$suffix" "$work/movie.avi" 25 \
    "$root/tests/data/frame1.jpg" "$root/tests/data/frame2.jpg" > /dev/null
  test -s "$work/movie.avi" || { echo "dist_check: $label clipforge wrote no movie"; exit 1; }
}

# Windows x64, under Wine.
export WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all
golden_and_movie "Windows" "$windows/golden_test.exe" "$windows/mexrun.exe" .mexw64 wine
sh windows/check_dll_interfaces.sh x86_64-w64-mingw32-objdump "$kit"/*.mexw64

# Linux x86-64: MATLAB's library folders are on its search path, as the host's are here.
sh matlab-linux/check_elf_interfaces.sh "$kit"/*.mexa64
golden_and_movie "Linux" "$linux/matlab_golden_test" "$linux/matlab_mexrun" .mexa64 \
  env LD_LIBRARY_PATH="$linux/matlab-host"

if command -v octave-cli >/dev/null 2>&1; then
  OMP_NUM_THREADS=2 octave-cli --no-gui --norc --quiet --eval "
    cd ('$kit'); make_toolbox; addpath ('$kit', fullfile ('$kit', 'examples'));
    assert (strncmp (which ('phasemend3'), '$kit', numel ('$kit')));
    out = evalc ('help phasekit');
    assert (! isempty (strfind (out, 'phasemend3')) && ! isempty (regexp (out, 'Version [0-9]', 'once')));
    warning ('off', 'Octave:gnuplot-graphics'); graphics_toolkit ('gnuplot');
    evalc ('share = phasekit_demo (''$work/demo'');'); assert (share > 0.99);
    evalc ('share3 = phasekit_volume (''$work/volume'');'); assert (share3 > 0.999);
    evalc ('same = phasekit_batch (''$work/batch'', 2);'); assert (same);
    evalc ('r = phasekit_options (''$work/options'');'); assert (isequal (r.polar_regions, [2, 1]));
    printf ('dist_check: the unpacked toolbox builds and runs in Octave\n');" > "$work/octave.log" 2>&1 \
    || { cat "$work/octave.log"; echo "dist_check: the unpacked toolbox failed in Octave"; exit 1; }
  grep -v "ignoring const execution_exception" "$work/octave.log"
else
  echo "dist_check: Octave not found; the unpacked folder was not built and run in Octave"
fi
echo "dist_check: passed"
