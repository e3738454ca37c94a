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

// Printed text cut into lines, each with its newline.
inline std::vector<std::string> splitLines(const std::string &text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t k = 0; k < text.size(); ++k)
        if (text[k] == '\n') {
            lines.push_back(text.substr(start, k + 1 - start));
            start = k + 1;
        }
    return lines;
}

#endif // PHASEKIT_TEST_SUPPORT_H
