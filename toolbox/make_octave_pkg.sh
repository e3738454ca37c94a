#!/bin/sh
# Writes the Octave package phasekit-<version>.tar.gz into the folder given (default:
# build/): DESCRIPTION, INDEX, COPYING, the help files in inst/, and in src/ the
# extension sources and the portability header they include, with make_toolbox.m,
# which `pkg install` runs through src/Makefile.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build"}
. "$root/toolbox/release.sh"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
pkg="$stage/phasekit"
mkdir -p "$pkg/inst" "$pkg/src/toolbox/help" "$pkg/src/unwrap" "$pkg/src/smooth" "$pkg/src/movie" \
         "$pkg/src/portable"
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$release_date/" "$root/toolbox/octave-pkg/DESCRIPTION" \
  > "$pkg/DESCRIPTION"
cp "$root/toolbox/octave-pkg/INDEX" "$root/toolbox/octave-pkg/post_install.m" "$pkg/"
cp "$root/LICENSE" "$pkg/COPYING"
cp "$root/toolbox/help/"*.m "$pkg/inst/"
cp "$root/toolbox/make_toolbox.m" "$root/toolbox/phasekit_build_flags.m" \
   "$root/toolbox/phasekit_extensions.m" "$pkg/src/toolbox/"
cp "$root/toolbox/help/"*.m "$pkg/src/toolbox/help/"
cp "$root/toolbox/octave-pkg/Makefile" "$pkg/src/"
for part in unwrap smooth movie; do
  cp "$root/$part"/*.cpp "$root/$part"/*.h "$pkg/src/$part/"
done
cp "$root/portable"/*.h "$pkg/src/portable/"
mkdir -p "$out"
tar -czf "$out/phasekit-$version.tar.gz" -C "$stage" phasekit
echo "wrote $out/phasekit-$version.tar.gz"
