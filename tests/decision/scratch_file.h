// Scratch file names for tests that run side by side in one working directory.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace tarvik {

// The running test's name followed by `suffix`.
inline std::string scratchFile(const std::string& suffix) {
    return std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) + suffix;
}

}  // namespace tarvik
