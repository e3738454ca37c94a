#!/bin/sh
# Writes the Octave package phasekit-<version>.tar.gz into the folder given (default:
# build/): DESCRIPTION, INDEX, COPYING, the help files and the overview (phasekit.m)
# in inst/, and in src/ the extension sources and the portability header they include,
# with make_toolbox.m, which `pkg install` runs through src/Makefile.
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
# help phasekit: the zip's overview (Contents.m there), less what the package does not
# hold (make_toolbox and the examples), as the help of a command that prints it.
{
  echo "function phasekit ()"
  sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$release_date/" "$root/toolbox/Contents.m.in" |
    awk '/^% (Building|Examples)/ { skip = 1 } !skip { print } /^%$/ { skip = 0 }'
  echo "%"
  echo "% Installed as an Octave package: \"pkg load phasekit\" in each session."
  echo ""
  echo "  help phasekit"
  echo "end"
} > "$pkg/inst/phasekit.m"
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
