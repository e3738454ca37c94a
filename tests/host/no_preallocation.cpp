// Preloaded into mexrun by its tests: a file system that cannot reserve a file's blocks,
// as posix_fallocate reports it where the C library does not emulate it (musl), and as
// F_PREALLOCATE's ENOTSUP does on macOS. mexrun then only sizes its scratch files.
#include <cerrno>

extern "C" int posix_fallocate(int, long, long) { return EOPNOTSUPP; }
extern "C" int posix_fallocate64(int, long, long) { return EOPNOTSUPP; }
