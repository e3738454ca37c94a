#!/bin/sh
# dist_check.sh WINDOWS_BUILD: the toolbox zip as a user gets it. Written by
# make_dist.sh from the Windows build and unpacked into a clean folder: the Windows
# standalone host loads the unpacked MEX files under Wine and reproduces the golden
# digests (clipforge writes a movie through mexrun), and their import tables hold
# only what every Windows with MATLAB has. Then, when Octave is found, the unpacked
# folder as a Linux user has it: make_toolbox builds Octave's own files there, help
# phasekit lists the commands and the examples run.
set -eu
cd "$(dirname "$0")/.."
root=$(pwd)
windows=$(cd "$1" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sh toolbox/make_dist.sh "$windows" "$work/dist"
mkdir "$work/user"
(cd "$work/user" && cmake -E tar xf "$work"/dist/phasekit-*-toolbox.zip)
kit="$work/user/phasekit"

export WINEPREFIX="$windows/wineprefix" WINEDEBUG=-all
wine "$windows/golden_test.exe" "$kit"
sh windows/check_dll_interfaces.sh x86_64-w64-mingw32-objdump "$kit"/*.mexw64
wine "$windows/mexrun.exe" --strict "$kit/clipforge.mexw64" "$work/movie.avi" 25 \
  "$root/tests/data/frame1.jpg" "$root/tests/data/frame2.jpg" > /dev/null
test -s "$work/movie.avi" || { echo "dist_check: clipforge wrote no movie"; exit 1; }

if command -v octave-cli >/dev/null 2>&1; then
  OMP_NUM_THREADS=2 octave-cli --no-gui --norc --quiet --eval "
    cd ('$kit'); make_toolbox; addpath ('$kit', fullfile ('$kit', 'examples'));
    assert (strncmp (which ('phasemend3'), '$kit', numel ('$kit')));
    out = evalc ('help phasekit');
    assert (! isempty (strfind (out, 'phasemend3')) && ! isempty (regexp (out, 'Version [0-9]', 'once')));
    warning ('off', 'Octave:gnuplot-graphics'); graphics_toolkit ('gnuplot');
    evalc ('share = phasekit_demo (''$work/demo'');'); assert (share > 0.99);
    evalc ('share3 = phasekit_volume (''$work/volume'');'); assert (share3 > 0.999);
    evalc ('same = phasekit_batch (2);'); assert (same);
    printf ('dist_check: the unpacked toolbox builds and runs in Octave\n');" > "$work/octave.log" 2>&1 \
    || { cat "$work/octave.log"; echo "dist_check: the unpacked toolbox failed in Octave"; exit 1; }
  grep -v "ignoring const execution_exception" "$work/octave.log"
else
  echo "dist_check: Octave not found; the unpacked folder was not built and run in Octave"
fi
echo "dist_check: passed"
