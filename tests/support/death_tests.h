// KAV_START_DEATH_TEST, the first statement of every death test.
#pragma once

#include <gtest/gtest.h>

namespace KavTest {

// "threadsafe" runs each death test in a freshly started copy of the test
// program. Under a user-mode emulator (a cross build's tests) the copy cannot
// be started: the kernel does not run the target's binaries by itself. There
// the death test forks without starting anew ("fast"), which is sound as long
// as no other thread runs when the death test begins; the suites start death
// tests only where that holds.
inline void UseThreadSafeDeathTests() {
#if GTEST_HAS_DEATH_TEST
#if defined(KAV_TEST_UNDER_EMULATOR) && !defined(_WIN32)
    GTEST_FLAG_SET(death_test_style, "fast");
#else
    GTEST_FLAG_SET(death_test_style, "threadsafe");
#endif
#endif
}

}  // namespace KavTest

#if GTEST_HAS_DEATH_TEST
#define KAV_START_DEATH_TEST() ::KavTest::UseThreadSafeDeathTests()
#else
// A system that cannot start a child process (WebAssembly) has no death
// tests: each is skipped, saying why, before its first EXPECT_DEATH, which
// then only has to compile.
#define KAV_START_DEATH_TEST() \
    GTEST_SKIP() << "a death test runs in a child process, and this system cannot start one"
#ifndef EXPECT_DEATH
#define EXPECT_DEATH(statement, pattern) EXPECT_DEATH_IF_SUPPORTED(statement, pattern)
#endif
#endif
