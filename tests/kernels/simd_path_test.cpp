// The path choice: the widest supported path at start-up, only supported paths can be chosen, the
// scalar path always.
#include "kernels/simd_path.h"

#include <gtest/gtest.h>

#include <string>

namespace tarvik {
namespace {

TEST(SimdPathTest, OnlySupportedPathsCanBeChosen) {
    const SimdPath initial = simdPath();
    EXPECT_TRUE(simdPathSupported(initial));
    for (const SimdPath path : ALL_SIMD_PATHS) {
        EXPECT_EQ(setSimdPath(path), simdPathSupported(path)) << simdPathName(path);
        if (simdPathSupported(path)) {
            EXPECT_EQ(simdPath(), path) << simdPathName(path);
        }
    }
    EXPECT_TRUE(simdPathSupported(SimdPath::scalar));
    setSimdPath(initial);
}

TEST(SimdPathTest, TheWidestSupportedPathIsChosenAtStartUp) {
    SimdPath widest = SimdPath::scalar;
    for (const SimdPath path : ALL_SIMD_PATHS) {
        if (simdPathSupported(path)) widest = path;
    }
    EXPECT_EQ(simdPath(), widest) << simdPathName(simdPath());
}

TEST(SimdPathTest, NoSimdPathWithoutX86OrWhenCompiledOut) {
#if TARVIK_SIMD_PATHS
    EXPECT_TRUE(simdPathSupported(SimdPath::sse2));
#else
    for (const SimdPath path : {SimdPath::sse2, SimdPath::avx2, SimdPath::avx512}) {
        EXPECT_FALSE(simdPathSupported(path)) << simdPathName(path);
    }
#endif
}

TEST(SimdPathTest, Names) {
    EXPECT_EQ(std::string(simdPathName(SimdPath::scalar)), "scalar");
    EXPECT_EQ(std::string(simdPathName(SimdPath::sse2)), "SSE2");
    EXPECT_EQ(std::string(simdPathName(SimdPath::avx2)), "AVX2");
    EXPECT_EQ(std::string(simdPathName(SimdPath::avx512)), "AVX-512");
}

}  // namespace
}  // namespace tarvik
