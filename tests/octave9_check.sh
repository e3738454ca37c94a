#!/bin/sh
# octave9_check.sh [ROOT]: the Octave test suites and the Octave package in current
# Octave (Debian 13's, 9.4 when written), which users run: it keeps complex data
# interleaved, so make_toolbox builds kernsmooth_c with MATLAB's interleaved API
# there, a path Debian 12's Octave 7 never takes. Runs in a Debian 13 root that
# debootstrap makes in ROOT (default /var/tmp/phasekit-trixie, kept for later runs),
# as root. Skipped with a message when debootstrap is missing or the root cannot be
# made; a failed test fails it.
set -eu
cd "$(dirname "$0")/.."
root=${1:-/var/tmp/phasekit-trixie}
if [ ! -x "$root/usr/bin/octave-cli" ]; then
  if ! command -v debootstrap >/dev/null 2>&1; then
    echo "octave9_check: skipped: needs debootstrap (Debian: debootstrap)"
    exit 0
  fi
  rm -rf "$root"
  echo "octave9_check: making a Debian 13 root with Octave in $root"
  if ! debootstrap --variant=minbase --include=octave,octave-dev,g++,make trixie "$root" \
       > /var/tmp/phasekit-debootstrap.log 2>&1; then
    tail -5 /var/tmp/phasekit-debootstrap.log
    echo "octave9_check: skipped: the Debian 13 root could not be made"
    rm -rf "$root"
    exit 0
  fi
fi

# The sources as they are here, built and tested inside the root.
work=/root/phasekit-check
rm -rf "$root$work"
mkdir -p "$root$work/source"
tar -cf - --exclude='./build*' --exclude=./.git --exclude=./demo-out . | tar -xf - -C "$root$work/source"
sh toolbox/make_octave_pkg.sh "$root$work/package" > /dev/null
mounted=false
if [ ! -e "$root/proc/self" ]; then
  mount -t proc proc "$root/proc" && mounted=true
fi
trap '$mounted && umount "$root/proc"' EXIT

run() {  # run OCTAVE-CODE: in the root's Octave, with the suites' environment
  chroot "$root" env OMP_NUM_THREADS=2 PHASEKIT_ROOT="$work/source" \
    PHASEKIT_PKG="$(ls "$root$work"/package/phasekit-*.tar.gz | sed "s|^$root||")" \
    octave-cli --no-gui --norc --quiet --eval "$1" 2>&1 | grep -v "ignoring const execution_exception"
}
echo "octave9_check: $(chroot "$root" octave-cli --version | head -1)"
run "addpath ('$work/source/toolbox'); make_toolbox ('$work/out')" | tail -2
status=0
for suite in phasemend phasemend3 kernsmooth_c clipforge toolbox package; do
  folder="$work/out"
  [ "$suite" = package ] && folder=""
  out=$(run "addpath ('$work/source/tests/octave'); run_octave_tests ('$folder', '$work/source/tests/octave/${suite}_tests.m')")
  echo "$out" | tail -1 | sed "s/^/octave9_check: $suite: /"
  echo "$out" | tail -1 | grep -q ", 0 failed" || { echo "$out" | tail -30; status=1; }
done
exit $status
