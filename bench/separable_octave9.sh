#!/bin/sh
# separable_octave9.sh [ROOT]: kernsmooth_c (map, u, v) in current Octave (Debian 13's,
# 9.4 when written: complex data stay interleaved, so no host copies) beside
# scipy.signal.fftconvolve doing the same NaN-aware smoothing (two transforms: the
# weighted sum and the weights), on one 2048 x 2048 complex double map with 5% NaN and
# a 101-tap Gaussian, taken in turns in the same root: three rounds of five calls of
# each; prints the medians and the ratio. A benchmark, never a test: it runs in the
# Debian 13 root of tests/octave9_check.sh (made there when missing; as root), adds
# Debian's python3-scipy to it when it lacks it, and builds the toolbox there with
# make_toolbox.
set -eu
cd "$(dirname "$0")/.."
root=${1:-/var/tmp/phasekit-trixie}
if [ ! -x "$root/usr/bin/octave-cli" ]; then
  sh tests/octave9_check.sh "$root" > /dev/null || true
  [ -x "$root/usr/bin/octave-cli" ] || { echo "separable_octave9: skipped: no Debian 13 root with Octave"; exit 0; }
fi
if ! chroot "$root" python3 -c "import scipy" 2>/dev/null; then
  chroot "$root" sh -c "apt-get update > /dev/null && DEBIAN_FRONTEND=noninteractive apt-get install -y \
    --no-install-recommends python3-scipy > /dev/null" ||
    { echo "separable_octave9: skipped: python3-scipy could not be installed in the root"; exit 0; }
fi
work=/root/phasekit-separable
rm -rf "$root$work"
mkdir -p "$root$work/source"
tar -cf - --exclude='./build*' --exclude=./.git --exclude=./demo-out . | tar -xf - -C "$root$work/source"
mounted=false
if [ ! -e "$root/proc/self" ]; then
  mount -t proc proc "$root/proc" && mounted=true
fi
trap '$mounted && umount "$root/proc"; rm -rf "$root$work"' EXIT
octave() {
  chroot "$root" env ${OMP_NUM_THREADS:+OMP_NUM_THREADS=$OMP_NUM_THREADS} octave-cli --no-gui --norc --quiet \
    --eval "$1" 2>&1 | { grep -v "ignoring const execution_exception" || true; }
}
octave "addpath ('$work/source/toolbox'); make_toolbox ('$work/out');" > /dev/null
# The map and the taps, made once; both sides read the same samples.
octave "rand ('seed', 1); n = 2048; m = complex (rand (n), rand (n)); m(rand (n) < 0.05) = NaN;
        f = fopen ('$work/map.bin', 'w'); fwrite (f, [real(m(:)).'; imag(m(:)).'], 'double'); fclose (f);"
octave_round() {
  octave "addpath ('$work/out'); n = 2048; f = fopen ('$work/map.bin'); v = fread (f, [2, n * n], 'double'); fclose (f);
          m = reshape (complex (v(1, :), v(2, :)), n, n); g = exp (-0.5 * ((-50:50) / (101 / 6)).^2);
          kernsmooth_c (m, g, g); t = zeros (1, 5);
          for k = 1:5, tic; kernsmooth_c (m, g, g); t(k) = toc; end
          printf ('%.6f\n', median (t));"
}
scipy_round() {
  chroot "$root" python3 -c "
import numpy as np, time, scipy.signal as ss
n = 2048
v = np.fromfile('$work/map.bin', dtype=np.float64).reshape((n * n, 2))
m = (v[:, 0] + 1j * v[:, 1]).reshape((n, n), order='F')
g = np.exp(-0.5 * ((np.arange(101) - 50) / (101 / 6)) ** 2); K = np.outer(g, g)
def smooth(f):
    valid = ~np.isnan(f)
    out = ss.fftconvolve(np.where(valid, f, 0), K, mode='same') / ss.fftconvolve(valid.astype(float), K, mode='same')
    out[~valid] = np.nan
    return out
smooth(m); t = []
for _ in range(5):
    s = time.perf_counter(); smooth(m); t.append(time.perf_counter() - s)
print('%.6f' % sorted(t)[2])"
}
echo "separable_octave9: $(chroot "$root" octave-cli --version | head -1), 2048x2048 complex double, 5% NaN, 101-tap Gaussian"
ratios=""
for round in 1 2 3; do
  ours=$(octave_round | tail -1)
  theirs=$(scipy_round | tail -1)
  ratio=$(awk -v a="$ours" -v b="$theirs" 'BEGIN { printf "%.3f", a / b }')
  ratios="$ratios $ratio"
  echo "separable_octave9: round $round: kernsmooth_c (map, g, g) $ours s, scipy fftconvolve $theirs s: $ratio of it"
done
echo "separable_octave9: median ratio $(echo $ratios | tr ' ' '\n' | sort -n | sed -n 2p)"
# What any 2048 x 2048 complex result costs in this Octave (making it, touching its
# fresh memory): the floor under every such call.
octave "n = 2048; f = fopen ('$work/map.bin'); v = fread (f, [2, n * n], 'double'); fclose (f);
        m = reshape (complex (v(1, :), v(2, :)), n, n); t = zeros (1, 5);
        for k = 1:5, tic; x = m + 1; t(k) = toc; clear x; end
        printf ('separable_octave9: the floor, x = m + 1 (a new result of that size): %.4f s\n', median (t));"
