// Radix-2 FFT of a fixed size, with its bit-reversal swaps and twiddle factors computed once.
// The twiddles are the values of the trigonometric recurrence (two sine evaluations per pass),
// so every transform gives the same numbers as one that runs the recurrence itself.
#pragma once

#include <utility>
#include <vector>

namespace tarvik {

class FftTables {
  public:
    // `size` N: a power of two, at least 2 (anything else gives transforms that do nothing).
    explicit FftTables(int size = 0);
    // Whether `size` is a power of two, at least 2.
    static bool sizeUsable(int size);

    // In place, N real values: data[0] = X_0, data[2k] + i data[2k+1] = X_k for 1 <= k < N / 2,
    // X_k = sum_j x_j e^(+2 pi i j k / N), unscaled; data[1] = 0.
    void realTransform(double* data) const;
    // In place, N / 2 complex values (re, im); unscaled forward, inverse divided by N / 2.
    void complexTransform(double* data, bool inverse) const;

  private:
    void permute(double* data) const;
    void passes(double* data, const std::vector<double>& twiddles) const;

    int size = 0;
    std::vector<std::pair<int, int>> swaps;  // complex indices p < q exchanged by bit reversal
    std::vector<double> forward;             // per pass s = 1, 2, 4, ...: s pairs (wr, wi)
    std::vector<double> inverse;             // the same with the angle negated
    std::vector<double> split;               // pairs (wr, wi) for k = 1 ... N / 4 - 1
};

}  // namespace tarvik
