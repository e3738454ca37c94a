#!/bin/sh
# make_dist.sh WINDOWS_BUILD [OUT]: writes OUT/phasekit-VERSION-toolbox.zip (OUT defaults
# to build/dist): one folder phasekit/ with the Windows x64 MEX files cross-built in
# WINDOWS_BUILD and the help files beside them, Contents.m (help phasekit, ver), the
# build script and what it reads (for Linux and macOS, which build there: the sources
# in phasekit/source), the examples, README and LICENSE. A Windows user unpacks it and
# adds phasekit/ to the path; nothing else.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
windows=$1
out=${2:-"$root/build/dist"}
. "$root/toolbox/release.sh"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
kit="$stage/phasekit"
mkdir -p "$kit/examples"
for help in "$root/toolbox/help/"*.m; do
  name=$(basename "$help" .m)
  if [ ! -f "$windows/$name.mexw64" ]; then
    echo "make_dist: $windows/$name.mexw64 is missing (build the Windows files first: make cross)" >&2
    exit 1
  fi
  cp "$windows/$name.mexw64" "$help" "$kit/"
done
# MATLAB's Contents.m dates read dd-Mmm-yyyy.
contents_date=$(LC_ALL=C date -u -d "$release_date" +%d-%b-%Y 2>/dev/null || echo "$release_date")
sed -e "s/@VERSION@/$version/" -e "s/@DATE@/$contents_date/" "$root/toolbox/Contents.m.in" > "$kit/Contents.m"
cp "$root/toolbox/make_toolbox.m" "$root/toolbox/phasekit_build_flags.m" \
   "$root/toolbox/phasekit_extensions.m" "$kit/"
cp "$root/toolbox/examples/"*.m "$kit/examples/"
cp "$root/README.md" "$root/LICENSE" "$kit/"
for part in unwrap smooth movie portable; do
  mkdir -p "$kit/source/$part"
  cp "$root/$part"/*.h "$kit/source/$part/"
  [ "$part" = portable ] || cp "$root/$part"/*.cpp "$kit/source/$part/"
done
mkdir -p "$out"
zip="$out/phasekit-$version-toolbox.zip"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip phasekit)
echo "wrote $zip ($(wc -c < "$zip") bytes)"
