# release.sh: sourced by the packaging scripts. Sets `version` from the file VERSION
# (the one place the toolbox, the Octave package and the zip take their number from)
# and `release_date` (YYYY-MM-DD) from the last commit, or today outside a checkout.
version=$(tr -d ' \n\r' < "$root/VERSION")
release_date=$(git -C "$root" log -1 --format=%cs 2>/dev/null || true)
[ -n "$release_date" ] || release_date=$(date -u +%Y-%m-%d)
