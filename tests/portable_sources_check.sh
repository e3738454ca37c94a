#!/bin/sh
# The extension sources (unwrap/, smooth/, movie/) must build with GCC, Clang and MSVC
# alike: compiler builtins, attributes, inline assembly, compiler-specific pragmas and
# OS headers belong in portable/portability.h only. Prints each offending line and
# fails when there is one.
root=${1:-$(dirname "$0")/..}
pattern='__builtin|__attribute__|__declspec|__asm|\basm[[:space:]]*\(|__cpuid|_BitScan|__has_builtin|#[[:space:]]*pragma[[:space:]]+(GCC|clang|intrinsic|warning)|#[[:space:]]*include[[:space:]]*<(unistd|windows|fcntl|dlfcn|pthread|cpuid|intrin|x86intrin|io|sys/[a-z_]+)\.h>'
found=$(grep -nE "$pattern" "$root"/unwrap/*.cpp "$root"/unwrap/*.h "$root"/smooth/*.cpp \
        "$root"/smooth/*.h "$root"/movie/*.cpp "$root"/movie/*.h)
if [ -n "$found" ]; then
  echo "Compiler- or OS-specific code outside portable/portability.h:"
  echo "$found"
  exit 1
fi
echo "extension sources: no compiler builtin or OS call outside the portability header"
