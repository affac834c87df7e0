// ao_path_params.h - the kernel's paths as test parameters: every vector
// path of the table, each test skipped where the CPU or the build cannot run
// it, and a scope that forces a path.

#pragma once

#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/ao_paths.h"

namespace AoBench {

// Every path of the table but the scalar one, which the others are compared
// with.
inline std::vector<TAoPath> VectorAoPaths() {
    std::vector<TAoPath> paths;
    for (TAoPath path : AoPaths()) {
        if (path != TAoPath::Scalar) paths.push_back(path);
    }
    return paths;
}

// The vector paths this machine runs.
inline std::vector<TAoPath> SupportedVectorAoPaths() {
    std::vector<TAoPath> paths;
    for (TAoPath path : VectorAoPaths()) {
        if (AoPathSupported(path)) paths.push_back(path);
    }
    return paths;
}

// A suite run once per vector path (or per path, the scalar one included),
// named after it.
class TVectorPathTest : public ::testing::TestWithParam<TAoPath> {
protected:
    void SetUp() override {
        if (!AoPathSupported(GetParam())) GTEST_SKIP() << AoPathName(GetParam()) << " is not supported here";
    }
};

// Test names and failure messages show a path by its name.
inline void PrintTo(TAoPath path, std::ostream* out) { *out << AoPathName(path); }

inline std::string AoPathParamName(const ::testing::TestParamInfo<TAoPath>& info) {
    return AoPathName(info.param);
}

#define KAV_INSTANTIATE_VECTOR_PATHS(suite)                                                  \
    INSTANTIATE_TEST_SUITE_P(Vector, suite, ::testing::ValuesIn(::AoBench::VectorAoPaths()), \
                             ::AoBench::AoPathParamName)

// Forces a path for the lifetime of the object.
class TForcedPath {
public:
    explicit TForcedPath(TAoPath path) : selected(SelectAoPath(path)) {}
    ~TForcedPath() { UseWidestAoPath(); }
    TForcedPath(const TForcedPath&) = delete;
    TForcedPath& operator=(const TForcedPath&) = delete;
    const bool selected;
};

}  // namespace AoBench
