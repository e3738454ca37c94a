// test_support.h: small helpers shared by the tests: file bytes and fields (file_bytes.h)
// and the extension files built next to the tests.
#ifndef PHASEKIT_TEST_SUPPORT_H
#define PHASEKIT_TEST_SUPPORT_H

#include "check.h"
#include "file_bytes.h"
#include "minihost.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// The entry of an extension file built next to the tests (loaded once); the test
// program stops when it cannot be loaded, since every test of it would fail.
inline MexEntry builtExtension(const std::string &name) {
    HostExtension ext = hostLoadExtension(std::string(EXTENSION_DIR) + "/" + name + ".mexa64");
    if (!ext.entry) {
        recordFailure(__FILE__, __LINE__, "cannot load " + name + ": " + ext.error);
        std::exit(1);
    }
    return ext.entry;
}

#endif // PHASEKIT_TEST_SUPPORT_H
