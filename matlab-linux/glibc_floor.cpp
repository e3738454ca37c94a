// glibc_floor.cpp: linked into the prebuilt Linux MATLAB extension files only, so that
// they ask nothing of glibc newer than 2.17. A current glibc's headers bind stat and
// fstat to the functions it has exported since 2.33; older ones have none, only
// __xstat and __fxstat (GLIBC_2.2.5, still exported by every glibc since, for
// binaries like these). The link renames the extensions' stat and fstat calls to the
// wrappers below (--wrap=stat,--wrap=fstat), which call the old entries with the
// x86-64 layout of struct stat (version 1, _STAT_VER_LINUX, the kernel's own). The
// extension sources stay unchanged: user builds link against their own glibc.
#include <sys/stat.h>

extern "C" {

int __xstat(int version, const char *path, struct stat *info);
int __fxstat(int version, int descriptor, struct stat *info);
__asm__(".symver __xstat,__xstat@GLIBC_2.2.5");
__asm__(".symver __fxstat,__fxstat@GLIBC_2.2.5");

const int kStatLayoutX8664 = 1;

int __wrap_stat(const char *path, struct stat *info) { return __xstat(kStatLayoutX8664, path, info); }
int __wrap_fstat(int descriptor, struct stat *info) { return __fxstat(kStatLayoutX8664, descriptor, info); }

}  // extern "C"
