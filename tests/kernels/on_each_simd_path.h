// Tests run once per instruction-set path and named after it (Paths/Fixture.Test/scalar, /SSE2,
// /AVX2, /AVX512): a path that this build does not hold or the processor cannot run is skipped
// with GTEST_SKIP naming it, so the run says which paths were tested.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "kernels/simd_path.h"

namespace tarvik {

class OnEachSimdPath : public testing::TestWithParam<SimdPath> {
  protected:
    void SetUp() override {
        if (!setSimdPath(GetParam())) {
            GTEST_SKIP() << "the " << simdPathName(GetParam())
                         << " path: not built, or not supported by this processor";
        }
    }
    void TearDown() override { setSimdPath(initial); }

    // Runs `body` on the scalar path, then returns to the path under test.
    template <typename F>
    void onScalarPath(F&& body) {
        setSimdPath(SimdPath::scalar);
        body();
        setSimdPath(GetParam());
    }

    // `name` made this path's own, for the scratch files of tests that ctest runs side by side.
    std::string perPath(const std::string& name) const;

    const SimdPath initial = simdPath();
};

// A path in GoogleTest's messages: its name.
inline void PrintTo(SimdPath path, std::ostream* out) { *out << simdPathName(path); }

inline std::string simdPathTestName(const testing::TestParamInfo<SimdPath>& info) {
    std::string name;
    for (const char* c = simdPathName(info.param); *c != '\0'; ++c) {
        if (*c != '-') name += *c;
    }
    return name;
}

inline std::string OnEachSimdPath::perPath(const std::string& name) const {
    return name + "_" + simdPathTestName(testing::TestParamInfo<SimdPath>(GetParam(), 0));
}

}  // namespace tarvik

// Instantiates the TEST_P tests of `fixture` (derived from OnEachSimdPath) for every path.
#define TARVIK_ON_EACH_SIMD_PATH(fixture)                                               \
    INSTANTIATE_TEST_SUITE_P(Paths, fixture, testing::ValuesIn(tarvik::ALL_SIMD_PATHS), \
                             tarvik::simdPathTestName)
