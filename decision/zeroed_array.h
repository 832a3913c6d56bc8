// A fixed-size array of doubles that starts as zeros without writing them: a large block comes
// from the allocator as fresh pages, which the kernel supplies zeroed when they are first
// touched, so the pages a run never reaches cost nothing.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

namespace tarvik {

class ZeroedArray {
  public:
    explicit ZeroedArray(std::size_t size)
        : values(static_cast<double*>(std::calloc(size == 0 ? 1 : size, sizeof(double)))),
          count(size) {
        if (values == nullptr) throw std::bad_alloc();
    }

    double* data() { return values.get(); }
    const double* data() const { return values.get(); }
    std::size_t size() const { return count; }
    double* begin() { return values.get(); }
    double* end() { return values.get() + count; }
    const double* begin() const { return values.get(); }
    const double* end() const { return values.get() + count; }
    double& operator[](std::size_t i) { return values[i]; }
    const double& operator[](std::size_t i) const { return values[i]; }

  private:
    struct Free {
        void operator()(double* p) const { std::free(p); }
    };
    std::unique_ptr<double[], Free> values;
    std::size_t count;
};

}  // namespace tarvik
