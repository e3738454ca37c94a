#!/bin/sh
# check_elf_interfaces.sh [--mex-build] FILE...: each Linux MATLAB extension file
# (NAME.mexa64) loads in every MATLAB from R2018a on, on every distribution those
# releases run on (glibc 2.17 the oldest, as manylinux2014):
# - an ELF x86-64 shared object;
# - needing only MATLAB's libmx.so, libmex.so and libut.so, MATLAB's OpenMP runtime libiomp5.so
#   (no libgomp: one runtime per process) and the C and C++ runtimes every Linux has;
# - asking no symbol version newer than GLIBC_2.17, GLIBCXX_3.4.19, CXXABI_1.3.7 and
#   GCC_4.8.0 (MATLAB loads its own, older libstdc++ before any MEX file: a newer
#   GLIBCXX fails the load with "version `GLIBCXX_3.4.xx' not found"), and of the
#   OpenMP runtime only the GCC 4.9 interface (OMP_1.0 to OMP_4.0, GOMP_1.0 to
#   GOMP_4.0), which Intel's libiomp5 serves;
# - importing host operations only under the names MATLAB's libraries export (the
#   64-bit API's _730 entry points; the lists in matlab-standins/) and exporting
#   mexFunction alone, with no run-time search path of its own.
# --mex-build: a file that a user's MATLAB linked with mex on the machine it runs on.
# Its glibc is that machine's own, and its OpenMP runtime MATLAB's own, so neither
# limits the versions it may ask; the C++ runtime versions, the libraries it needs and
# its imports are held to the same rules. It also exports the API version mex adds
# (mexfilerequiredapiversion) and may carry the run-time path to MATLAB's OpenMP
# runtime that make_toolbox gives it.
# Prints what is wrong and exits 1 then; prints a line of what each file needs.
mex_build=false
if [ "${1:-}" = "--mex-build" ]; then
  mex_build=true
  shift
fi
standins=$(cd "$(dirname "$0")/../matlab-standins" && pwd)
host_names=$(sed -n '/^EXPORTS/,$p' "$standins/libmx.def" "$standins/libmex.def" "$standins/libut.def" | sed -n 's/^[[:space:]]\{1,\}\([A-Za-z_][A-Za-z0-9_]*\).*/\1/p')
status=0
fail() { echo "$file: $1"; status=1; }

for file in "$@"; do
  header=$(readelf -h "$file" 2>&1) || { fail "not an ELF file"; continue; }
  echo "$header" | grep -q 'Class:[[:space:]]*ELF64' || fail "not a 64-bit ELF file"
  echo "$header" | grep -q 'Type:[[:space:]]*DYN' || fail "not a shared object"
  echo "$header" | grep -q 'Machine:[[:space:]]*Advanced Micro Devices X86-64' || fail "not x86-64 code"

  dynamic=$(readelf -d "$file")
  needed=$(echo "$dynamic" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
  for library in $needed; do
    case "$library" in
      libmx.so|libmex.so|libut.so|libiomp5.so) ;;
      libc.so.6|libm.so.6|libpthread.so.0|libdl.so.2|librt.so.1|ld-linux-x86-64.so.2) ;;
      libstdc++.so.6|libgcc_s.so.1) ;;
      *) fail "needs $library, which MATLAB does not load" ;;
    esac
  done
  if ! $mex_build && echo "$dynamic" | grep -qE '\((RPATH|RUNPATH)\)'; then
    fail "has a run-time search path: $(echo "$dynamic" | sed -n 's/.*(R[UN]*PATH).*\[\(.*\)\]/\1/p')"
  fi

  # The version needs, one "library version" pair a line.
  versions=$(readelf -V -W "$file" | awk '
    /Version needs section/ { inside = 1; next }
    /^Version (symbols|definition) section/ { inside = 0 }
    inside && /File:/ { for (i = 1; i <= NF; i++) if ($i == "File:") library = $(i + 1) }
    inside && /Name:/ { for (i = 1; i <= NF; i++) if ($i == "Name:") print library, $(i + 1) }')
  too_new=$(echo "$versions" | awk -v mex_build="$mex_build" '
    # newer(have, limit): true when the dotted number have is above limit.
    function newer(have, limit,    h, l, n, m, i) {
      n = split(have, h, "."); m = split(limit, l, ".")
      for (i = 1; i <= (n > m ? n : m); i++) {
        if ((h[i] + 0) != (l[i] + 0)) return (h[i] + 0) > (l[i] + 0)
      }
      return 0
    }
    NF == 2 {
      library = $1; version = $2; bad = 0
      if (version ~ /^GLIBC_[0-9.]+$/) bad = mex_build != "true" && newer(substr(version, 7), "2.17")
      else if (version ~ /^GLIBCXX_[0-9.]+$/) bad = newer(substr(version, 9), "3.4.19")
      else if (version ~ /^CXXABI_[0-9.]+$/) bad = newer(substr(version, 8), "1.3.7")
      else if (version ~ /^GCC_[0-9.]+$/) bad = newer(substr(version, 5), "4.8.0")
      else if (library == "libiomp5.so" && mex_build == "true") bad = 0
      else if (library == "libiomp5.so" && version ~ /^G?OMP_[0-9.]+$/) {
        sub(/^G?OMP_/, "", version); bad = newer(version, "4.0"); version = $2
      } else bad = 1
      if (bad) print version " (" library ")"
    }')
  [ -z "$too_new" ] || fail "asks for versions beyond what MATLAB's and the oldest Linux's libraries have: $(echo $too_new)"

  # Defined dynamic symbols are the exports; undefined host operations must be
  # MATLAB's names.
  symbols=$(readelf --dyn-syms -W "$file" | awk '$1 ~ /^[0-9]+:$/ && NF >= 8 { print $7, $8 }')
  exports=$(echo "$symbols" | awk '$1 != "UND" { sub(/@.*/, "", $2); print $2 }' | sort -u | tr '\n' ' ')
  expected="mexFunction "
  $mex_build && expected="mexFunction mexfilerequiredapiversion "
  [ "$exports" = "$expected" ] || fail "exports $exports(expected: $expected)"
  for name in $(echo "$symbols" | awk '$1 == "UND" { print $2 }' | grep -E '^mexa?[A-Z]|^mx[A-Z]|^ut[A-Z]'); do
    echo "$host_names" | grep -qx "$name" || fail "imports $name, which MATLAB's libmx, libmex and libut do not export"
  done

  echo "$file: needs $(echo $needed); versions $(echo "$versions" | awk 'NF == 2 { print $2 }' | sort -u | tr '\n' ' ')"
done
exit $status
