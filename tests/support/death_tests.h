// UseThreadSafeDeathTests, the death-test style for tests whose process may
// have other threads.
#pragma once

#include <gtest/gtest.h>

namespace KavTest {

// "threadsafe" runs each death test in a freshly started copy of the test
// program. Under a user-mode emulator (a cross build's tests) the copy cannot
// be started: the kernel does not run the target's binaries by itself. There
// the death test forks without starting anew ("fast"), which is sound as long
// as no other thread runs when the death test begins; the suites call this
// only where that holds.
inline void UseThreadSafeDeathTests() {
#if defined(KAV_TEST_UNDER_EMULATOR) && !defined(_WIN32)
    GTEST_FLAG_SET(death_test_style, "fast");
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
}

}  // namespace KavTest
