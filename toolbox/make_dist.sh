#!/bin/sh
# make_dist.sh WINDOWS_BUILD LINUX_BUILD [OUT]: writes OUT/phasekit-VERSION-toolbox.zip
# (OUT defaults to build/dist; a relative OUT is taken from the current folder): one folder
# phasekit/ with the MEX files for MATLAB on Windows x64 (NAME.mexw64, cross-built in
# WINDOWS_BUILD) and on Linux x86-64 (NAME.mexa64, built in LINUX_BUILD against
# stand-ins of MATLAB's libraries) and the help files beside them, Contents.m (help
# phasekit, ver), the build script and what it reads (for macOS and for Octave, which
# build there: the sources in phasekit/source), the examples, README and LICENSE.
# MATLAB picks the file for its platform by extension: a Windows or Linux user unpacks
# the zip and adds phasekit/ to the path; nothing else.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
windows=$1
linux=$2
out=${3:-"$root/build/dist"}
# The zip is written from inside the staging folder: the output folder must not
# depend on the current one by then.
mkdir -p "$out"
out=$(cd "$out" && pwd)
. "$root/toolbox/release.sh"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
kit="$stage/phasekit"
mkdir -p "$kit/examples"
for help in "$root/toolbox/help/"*.m; do
  name=$(basename "$help" .m)
  for file in "$windows/$name.mexw64" "$linux/$name.mexa64"; do
    if [ ! -f "$file" ]; then
      echo "make_dist: $file is missing (make dist builds it)" >&2
      exit 1
    fi
  done
  cp "$windows/$name.mexw64" "$linux/$name.mexa64" "$help" "$kit/"
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
zip="$out/phasekit-$version-toolbox.zip"
rm -f "$zip"
(cd "$stage" && cmake -E tar cf "$zip" --format=zip phasekit)
echo "wrote $zip ($(wc -c < "$zip") bytes)"
