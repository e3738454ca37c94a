// check.h: a small test harness. TEST(name) registers a function; CHECK* record a
// failure with its place and go on, so one run reports every broken expectation.
// The runner prints one line per test and ends with "N passed, N failed".
#ifndef PHASEKIT_CHECK_H
#define PHASEKIT_CHECK_H

#include <cmath>
#include <sstream>
#include <string>

typedef void (*TestFunction)();
int registerTest(const char *name, TestFunction function);
void recordFailure(const char *file, int line, const std::string &what);

#define TEST(name)                                                   \
    static void name();                                              \
    static int name##_registered = registerTest(#name, name);        \
    static void name()

#define CHECK(condition)                                                          \
    do {                                                                          \
        if (!(condition)) recordFailure(__FILE__, __LINE__, "CHECK(" #condition ")"); \
    } while (0)

#define CHECK_EQ(actual, expected)                                                  \
    do {                                                                            \
        auto checkActual_ = (actual);                                               \
        auto checkExpected_ = (expected);                                           \
        if (!(checkActual_ == checkExpected_)) {                                    \
            std::ostringstream checkOut_;                                           \
            checkOut_ << #actual " == " #expected ": got " << checkActual_         \
                      << ", expected " << checkExpected_;                            \
            recordFailure(__FILE__, __LINE__, checkOut_.str());                     \
        }                                                                           \
    } while (0)

#define CHECK_NEAR(actual, expected, tolerance)                                      \
    do {                                                                             \
        double checkActual_ = (actual);                                              \
        double checkExpected_ = (expected);                                          \
        if (!(std::fabs(checkActual_ - checkExpected_) <= (tolerance))) {           \
            std::ostringstream checkOut_;                                            \
            checkOut_.precision(17);                                                 \
            checkOut_ << #actual " ~ " #expected ": got " << checkActual_            \
                      << ", expected " << checkExpected_;                             \
            recordFailure(__FILE__, __LINE__, checkOut_.str());                      \
        }                                                                            \
    } while (0)

// Bitwise equality of doubles (NaN equals NaN of the same pattern).
bool sameBits(double a, double b);

#endif // PHASEKIT_CHECK_H
