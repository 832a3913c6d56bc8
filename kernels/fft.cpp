#include "kernels/fft.h"

#include <cmath>
#include <numbers>

namespace tarvik {

namespace {

// Appends `count` twiddles (wr, wi) of the recurrence w' = w * wp + w, with wpr = -2 sin^2(theta /
// 2) and wpi = sin(theta), starting at (1.0, 0.0), or with `from_wp` at (1.0 + wpr, wpi).
void appendRecurrence(double theta, int count, bool from_wp, std::vector<double>& re,
                      std::vector<double>& im) {
    const double t = std::sin(0.5 * theta);
    const double wpr = -2.0 * t * t;
    const double wpi = std::sin(theta);
    double wr = from_wp ? 1.0 + wpr : 1.0;
    double wi = from_wp ? wpi : 0.0;
    for (int i = 0; i < count; ++i) {
        re.push_back(wr);
        im.push_back(wi);
        const double old_wr = wr;
        wr = (wr * wpr - wi * wpi) + wr;
        wi = (wi * wpr + old_wr * wpi) + wi;
    }
}

}  // namespace

bool FftTables::sizeUsable(int size) { return size >= 2 && (size & (size - 1)) == 0; }

FftTables::FftTables(int size) : size(sizeUsable(size) ? size : 0) {
    const int n = this->size / 2;
    int q = 0;
    for (int p = 0; p < n; ++p) {
        reversed.push_back(q);
        if (q > p) swaps.insert(swaps.end(), {p, q});
        int bit = n >> 1;
        while (bit > 0 && (q & bit) != 0) {
            q ^= bit;
            bit >>= 1;
        }
        q |= bit;
    }
    for (int s = 1; s < n; s *= 2) {
        const double theta = 2 * std::numbers::pi / (2 * s);
        appendRecurrence(theta, s, false, forward_re, forward_im);
        appendRecurrence(-theta, s, false, inverse_re, inverse_im);
    }
    if (n > 0) {
        split_re.push_back(0.0);
        split_im.push_back(0.0);
        appendRecurrence(std::numbers::pi / n, this->size / 4 - 1, true, split_re, split_im);
    }
}

// The plan's pointers lead into this object's own tables.
FftPlan FftTables::planOf(const std::vector<double>& re, const std::vector<double>& im) const {
    return {size / 2,  reversed.data(), swaps.data(),    static_cast<int>(swaps.size() / 2),
            re.data(), im.data(),       split_re.data(), split_im.data()};
}

void FftTables::realSpectrum(const double* data, double* re, double* im) const {
    if (size == 0) return;
    fftToArrays(planOf(forward_re, forward_im), data, re, im, true);
}

void FftTables::realSpectraOfFrames(double* re, double* im) const {
    if (size == 0) return;
    fftOfFrames(planOf(forward_re, forward_im), re, im);
}

void FftTables::realTransform(double* data) const {
    if (size == 0) return;
    const int n = size / 2;
    std::vector<double> re(n), im(n);
    realSpectrum(data, re.data(), im.data());
    for (int k = 0; k < n; ++k) data[2 * k] = re[k], data[2 * k + 1] = im[k];
}

void FftTables::complexTransform(double* data, bool inverse_transform) const {
    if (size == 0) return;
    const int n = size / 2;
    std::vector<double> re(n), im(n);
    const FftPlan plan =
        inverse_transform ? planOf(inverse_re, inverse_im) : planOf(forward_re, forward_im);
    fftToArrays(plan, data, re.data(), im.data(), false);
    for (int k = 0; k < n; ++k) data[2 * k] = re[k], data[2 * k + 1] = im[k];
    if (!inverse_transform) return;
    const double scale = size / 2;
    for (int i = 0; i < size; ++i) data[i] = data[i] / scale;
}

}  // namespace tarvik
