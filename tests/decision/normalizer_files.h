// Small helpers for the normaliser tests: its values in use and its files.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "decision/feature_normalizer.h"
#include "tests/support/files.h"

namespace tarvik {

inline std::vector<double> inUse(const std::unique_ptr<double[]>& values, int count) {
    return std::vector<double>(values.get(), values.get() + count);
}

// Loads `text` as the static normalization of `normalizer`.
inline void loadFrom(FeatureNormalizer& normalizer, const std::string& text) {
    const std::string path = test_support::scratchFile(".norm");
    test_support::writeFile(path, text);
    ASSERT_TRUE(normalizer.loadStaticNormalization(path));
}

}  // namespace tarvik
