// Radix-2 FFT of a fixed size, with its bit-reversal order and twiddle factors computed once.
// The twiddles are the values of the trigonometric recurrence (two sine evaluations per pass),
// so every transform gives the same numbers as one that runs the recurrence itself.
#pragma once

#include <vector>

#include "kernels/spectrum_kernels.h"

namespace tarvik {

class FftTables {
  public:
    // `size` N: a power of two, at least 2 (anything else gives transforms that do nothing).
    explicit FftTables(int size = 0);
    // Whether `size` is a power of two, at least 2.
    static bool sizeUsable(int size);

    // The real transform of N values into N / 2 real and imaginary parts: re[0] = X_0, im[0] = 0,
    // re[k] + i im[k] = X_k for 1 <= k < N / 2, X_k = sum_j x_j e^(+2 pi i j k / N), unscaled.
    void realSpectrum(const double* data, double* re, double* im) const;
    // realSpectrum of FRAME_LANES frames side by side (kernels/spectrum_kernels.h): on entry
    // re[p * FRAME_LANES + f] and im[...] hold data[2p] and data[2p+1] of frame f, on return its
    // re[k] and im[k].
    void realSpectraOfFrames(double* re, double* im) const;
    // The same in place, interleaved: data[0] = X_0, data[1] = 0, data[2k] + i data[2k+1] = X_k.
    void realTransform(double* data) const;
    // In place, N / 2 complex values (re, im); unscaled forward, inverse divided by N / 2.
    void complexTransform(double* data, bool inverse) const;

  private:
    FftPlan planOf(const std::vector<double>& re, const std::vector<double>& im) const;

    int size = 0;
    std::vector<int> reversed;  // n = N / 2 entries: the bit reversal of each index
    std::vector<int> swaps;     // the pairs p < reversed[p], flat
    std::vector<double> forward_re, forward_im;  // per pass s = 1, 2, 4, ...: s twiddles
    std::vector<double> inverse_re, inverse_im;  // the same with the angle negated
    std::vector<double> split_re, split_im;      // N / 4 entries: twiddle k at index k (k >= 1)
};

}  // namespace tarvik
