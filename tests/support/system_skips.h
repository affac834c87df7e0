// Skips for tests that need what the system under test lacks, each saying
// why. WebAssembly (under Node.js or in a browser) starts no child process,
// and its file layer has no dup2, which capturing standard output needs.
#pragma once

#include <gtest/gtest.h>

#if defined(__EMSCRIPTEN__)
#define KAV_REQUIRE_CHILD_PROCESSES() GTEST_SKIP() << "starts a child process, and WebAssembly cannot"
#define KAV_REQUIRE_STDOUT_CAPTURE() \
    GTEST_SKIP() << "captures standard output with dup2, which WebAssembly's file layer lacks"
#else
#define KAV_REQUIRE_CHILD_PROCESSES() static_cast<void>(0)
#define KAV_REQUIRE_STDOUT_CAPTURE() static_cast<void>(0)
#endif
