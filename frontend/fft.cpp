#include "frontend/fft.h"

#include <cmath>
#include <numbers>

namespace tarvik {

namespace {

// Appends `count` pairs (wr, wi) of the recurrence w' = w * wp + w, with wpr = -2 sin^2(theta / 2)
// and wpi = sin(theta), starting at (1.0, 0.0), or with `from_wp` at (1.0 + wpr, wpi).
void appendRecurrence(double theta, int count, bool from_wp, std::vector<double>& out) {
    const double t = std::sin(0.5 * theta);
    const double wpr = -2.0 * t * t;
    const double wpi = std::sin(theta);
    double wr = from_wp ? 1.0 + wpr : 1.0;
    double wi = from_wp ? wpi : 0.0;
    for (int i = 0; i < count; ++i) {
        out.push_back(wr);
        out.push_back(wi);
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
        if (q > p) swaps.emplace_back(p, q);
        int bit = n >> 1;
        while (bit > 0 && (q & bit) != 0) {
            q ^= bit;
            bit >>= 1;
        }
        q |= bit;
    }
    for (int s = 1; s < n; s *= 2) {
        const double theta = 2 * std::numbers::pi / (2 * s);
        appendRecurrence(theta, s, false, forward);
        appendRecurrence(-theta, s, false, inverse);
    }
    if (n > 0) appendRecurrence(std::numbers::pi / n, this->size / 4 - 1, true, split);
}

// z_p and z_q change places for every q, the bit reversal of p, above p.
void FftTables::permute(double* data) const {
    for (const auto& [p, q] : swaps) {
        std::swap(data[2 * p], data[2 * q]);
        std::swap(data[2 * p + 1], data[2 * q + 1]);
    }
}

void FftTables::passes(double* data, const std::vector<double>& twiddles) const {
    const int n = size / 2;
    const double* w = twiddles.data();
    for (int s = 1; s < n; s *= 2) {
        for (int m = 0; m < s; ++m, w += 2) {
            const double wr = w[0];
            const double wi = w[1];
            for (int b = m; b < n; b += 2 * s) {
                double* zb = data + 2 * b;
                double* zs = data + 2 * (b + s);
                const double xr = zs[0];
                const double xi = zs[1];
                const double tr = wr * xr - wi * xi;
                const double ti = wr * xi + wi * xr;
                zs[0] = zb[0] - tr;
                zs[1] = zb[1] - ti;
                zb[0] = zb[0] + tr;
                zb[1] = zb[1] + ti;
            }
        }
    }
}

void FftTables::realTransform(double* data) const {
    if (size == 0) return;
    permute(data);
    passes(data, forward);
    const int n = size / 2;
    const double* w = split.data();
    for (int k = 1; k < size / 4; ++k, w += 2) {
        const double wr = w[0];
        const double wi = w[1];
        double* a = data + 2 * k;
        double* b = data + 2 * (n - k);
        const double h1r = 0.5 * (a[0] + b[0]);
        const double h1i = 0.5 * (a[1] - b[1]);
        const double h2r = 0.5 * (a[1] + b[1]);
        const double h2i = -0.5 * (a[0] - b[0]);
        a[0] = h1r + wr * h2r - wi * h2i;
        a[1] = h1i + wr * h2i + wi * h2r;
        b[0] = h1r - wr * h2r + wi * h2i;
        b[1] = -h1i + wr * h2i + wi * h2r;
    }
    data[0] = data[0] + data[1];
    data[1] = 0.0;
}

void FftTables::complexTransform(double* data, bool inverse_transform) const {
    if (size == 0) return;
    permute(data);
    passes(data, inverse_transform ? inverse : forward);
    if (!inverse_transform) return;
    const double scale = size / 2;
    for (int i = 0; i < size; ++i) data[i] = data[i] / scale;
}

}  // namespace tarvik
