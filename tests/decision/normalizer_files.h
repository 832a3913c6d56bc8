// Small helpers for the normaliser tests: its values in use and its files.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "decision/feature_normalizer.h"
#include "tests/decision/scratch_file.h"

namespace tarvik {

inline std::vector<double> inUse(const std::unique_ptr<double[]>& values, int count) {
    return std::vector<double>(values.get(), values.get() + count);
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Loads `text` as the static normalization of `normalizer`.
inline void loadFrom(FeatureNormalizer& normalizer, const std::string& text) {
    const std::string path = scratchFile(".norm");
    writeFile(path, text);
    ASSERT_TRUE(normalizer.loadStaticNormalization(path));
}

}  // namespace tarvik
