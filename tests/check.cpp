// check.cpp: the runner of check.h. Runs every registered test, or only those whose
// names contain the first command line argument.
#include "check.h"

#include <cstdio>
#include <cstring>
#include <vector>

namespace {
struct Registered {
    const char *name;
    TestFunction function;
};
std::vector<Registered> &registry() {
    static std::vector<Registered> tests;
    return tests;
}
int failuresInTest = 0;
}  // namespace

int registerTest(const char *name, TestFunction function) {
    registry().push_back({name, function});
    return 0;
}

void recordFailure(const char *file, int line, const std::string &what) {
    if (failuresInTest < 20) std::printf("  %s:%d: %s\n", file, line, what.c_str());
    ++failuresInTest;
}

bool sameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

int main(int argc, char **argv) {
    int passed = 0, failed = 0;
    for (const Registered &t : registry()) {
        if (argc > 1 && !std::strstr(t.name, argv[1])) continue;
        failuresInTest = 0;
        t.function();
        std::printf("%s %s\n", failuresInTest ? "FAILED" : "ok    ", t.name);
        if (failuresInTest) ++failed; else ++passed;
        std::fflush(stdout);
    }
    std::printf("%d passed, %d failed\n", passed, failed);
    return failed ? 1 : 0;
}
