#include "kernels/spectrum_kernels.h"

#include <cmath>

#include "kernels/simd_path.h"
#include "kernels/vectors.h"

#if TARVIK_SIMD_PATHS
#include <immintrin.h>
#endif

namespace tarvik {

namespace {

// Square roots of every lane, with the instruction of each register width (correctly rounded, as
// the scalar one).
inline void squareRoot(double& v) { v = std::sqrt(v); }
#if TARVIK_SIMD_PATHS
inline void squareRoot(Vec2& v) { v = _mm_sqrt_pd(v); }
TARVIK_TARGET_AVX2 inline void squareRoot(Vec4& v) { v = _mm256_sqrt_pd(v); }
TARVIK_TARGET_AVX512 inline void squareRoot(Vec8& v) { v = _mm512_maskz_sqrt_pd(0xFF, v); }
#endif

// One butterfly: t = w x, then z - t at x's place and z + t at z's.
template <typename V>
TARVIK_INLINE void butterfly(const V& wr, const V& wi, V& zr, V& zi, V& xr, V& xi) {
    const V tr = wr * xr - wi * xi;
    const V ti = wr * xi + wi * xr;
    xr = zr - tr;
    xi = zi - ti;
    zr = zr + tr;
    zi = zi + ti;
}

// One pair of the split pass: a = z_k and b = z_(n-k) become their new values, each evaluated
// from left to right.
template <typename V>
TARVIK_INLINE void splitPair(const V& wr, const V& wi, V& ar, V& ai, V& br, V& bi) {
    V half, minus_half;
    broadcast(half, 0.5);
    broadcast(minus_half, -0.5);
    const V h1r = half * (ar + br);
    const V h1i = half * (ai - bi);
    const V h2r = half * (ai + bi);
    const V h2i = minus_half * (ar - br);
    ar = h1r + wr * h2r - wi * h2i;
    ai = h1i + wr * h2i + wi * h2r;
    br = h1r - wr * h2r + wi * h2i;
    bi = -h1i + wr * h2i + wi * h2r;
}

// A twiddle for every lane: the same one (`SHARED`) or LANES<V> consecutive ones.
template <typename V, bool SHARED>
TARVIK_INLINE void twiddle(V& wr, V& wi, const double* w_re, const double* w_im) {
    if constexpr (SHARED) {
        broadcast(wr, w_re[0]);
        broadcast(wi, w_im[0]);
    } else {
        load(wr, w_re);
        load(wi, w_im);
    }
}

// Two consecutive passes over one group of four runs of `run` values, `distance` apart (the
// first pass pairs runs 0-2 and 1-3 when `FAR_FIRST`, else 0-1 and 2-3, the second the others),
// LANES<V> values at a time. Twiddles: w1 for the first pass's two pairs, w2 and w3 for the
// second pass's first and second pair; SHARED: one twiddle per run, else one per value.
template <typename V, bool SHARED, bool FAR_FIRST>
TARVIK_INLINE void twoPasses(double* re, double* im, int lo, int distance, int run,
                             const double* const w[6]) {
    double* r0 = re + lo;
    double* i0 = im + lo;
    for (int m = 0; m < run; m += LANES<V>) {
        V ar, ai, br, bi, cr, ci, dr, di, wr, wi;
        load(ar, r0 + m), load(ai, i0 + m);
        load(br, r0 + distance + m), load(bi, i0 + distance + m);
        load(cr, r0 + 2 * distance + m), load(ci, i0 + 2 * distance + m);
        load(dr, r0 + 3 * distance + m), load(di, i0 + 3 * distance + m);
        const int step = SHARED ? 0 : m;
        twiddle<V, SHARED>(wr, wi, w[0] + step, w[1] + step);
        if constexpr (FAR_FIRST) {
            butterfly(wr, wi, ar, ai, cr, ci);
            butterfly(wr, wi, br, bi, dr, di);
        } else {
            butterfly(wr, wi, ar, ai, br, bi);
            butterfly(wr, wi, cr, ci, dr, di);
        }
        twiddle<V, SHARED>(wr, wi, w[2] + step, w[3] + step);
        if constexpr (FAR_FIRST) {
            butterfly(wr, wi, ar, ai, br, bi);
        } else {
            butterfly(wr, wi, ar, ai, cr, ci);
        }
        twiddle<V, SHARED>(wr, wi, w[4] + step, w[5] + step);
        if constexpr (FAR_FIRST) {
            butterfly(wr, wi, cr, ci, dr, di);
        } else {
            butterfly(wr, wi, br, bi, dr, di);
        }
        store(r0 + m, ar), store(i0 + m, ai);
        store(r0 + distance + m, br), store(i0 + distance + m, bi);
        store(r0 + 2 * distance + m, cr), store(i0 + 2 * distance + m, ci);
        store(r0 + 3 * distance + m, dr), store(i0 + 3 * distance + m, di);
    }
}

// One pass over a pair of runs of `run` values, `distance` apart.
template <typename V, bool SHARED>
TARVIK_INLINE void onePass(double* re, double* im, int lo, int distance, int run,
                           const double* w_re, const double* w_im) {
    for (int m = 0; m < run; m += LANES<V>) {
        V zr, zi, xr, xi, wr, wi;
        load(zr, re + lo + m);
        load(zi, im + lo + m);
        load(xr, re + lo + distance + m);
        load(xi, im + lo + distance + m);
        twiddle<V, SHARED>(wr, wi, w_re + (SHARED ? 0 : m), w_im + (SHARED ? 0 : m));
        butterfly(wr, wi, zr, zi, xr, xi);
        store(re + lo + m, zr);
        store(im + lo + m, zi);
        store(re + lo + distance + m, xr);
        store(im + lo + distance + m, xi);
    }
}

// Runs `kernel` for the widest register (at most WIDEST lanes) that divides `run`, named by a
// null pointer to it; a single value when WIDEST is 1.
template <int WIDEST, typename F>
TARVIK_INLINE void withWidest(int run, F&& kernel) {
    if constexpr (WIDEST > 1) {
        constexpr int HALF = WIDEST / 2;
        if (run % WIDEST == 0) {
            kernel(static_cast<Lanes<WIDEST>*>(nullptr));
        } else {
            withWidest<HALF>(run, kernel);
        }
    } else {
        kernel(static_cast<double*>(nullptr));
    }
}

// The passes, each butterfly with its own operands and twiddle as after the bit reversal, two
// passes at a time where two remain. The early passes (s * s <= n / 2) run on the values in
// input order, where value i stands at the place reversed[i]: there pass s pairs i with
// i + n / (2 s) in runs of n / (2 s) values that share one twiddle. The later passes follow the
// bit reversal, in runs of s twiddles.
template <int WIDEST>
TARVIK_INLINE void allPasses(const FftPlan& plan, double* re, double* im) {
    const int n = plan.n;
    int bits = 0;
    while ((1 << bits) < n) ++bits;
    const auto early = [n](int s) { return s < n && 2 * s * s <= n; };
    // The twiddle of block `block` of pass s = 2^t in input order.
    const auto shared = [&](int s, int t, int block) {
        return (s - 1) + (t == 0 ? 0 : plan.reversed[block] >> (bits - t));
    };
    int s = 1, t = 0;
    for (; early(s); s *= 2, ++t) {
        const int half = n / (2 * s);
        if (early(2 * s)) {
            withWidest<WIDEST>(
                half / 2, [&]<typename V>(V*) __attribute__((always_inline)) {
                    for (int block = 0; block < s; ++block) {
                        const int w1 = shared(s, t, block);
                        const int w2 = shared(2 * s, t + 1, 2 * block);
                        const int w3 = shared(2 * s, t + 1, 2 * block + 1);
                        const double* const w[6] = {plan.pass_re + w1, plan.pass_im + w1,
                                                    plan.pass_re + w2, plan.pass_im + w2,
                                                    plan.pass_re + w3, plan.pass_im + w3};
                        twoPasses<V, true, true>(re, im, 2 * half * block, half / 2, half / 2, w);
                    }
                });
            s *= 2, ++t;
            continue;
        }
        withWidest<WIDEST>(
            half, [&]<typename V>(V*) __attribute__((always_inline)) {
                for (int block = 0; block < s; ++block) {
                    const int w1 = shared(s, t, block);
                    onePass<V, true>(re, im, 2 * half * block, half, half, plan.pass_re + w1,
                                     plan.pass_im + w1);
                }
            });
    }
    for (int k = 0; k < plan.swap_count; ++k) {
        const int p = plan.swaps[2 * k];
        const int q = plan.swaps[2 * k + 1];
        const double r = re[p], i = im[p];
        re[p] = re[q], im[p] = im[q];
        re[q] = r, im[q] = i;
    }
    for (; s < n; s *= 2) {
        const double* w_re = plan.pass_re + (s - 1);
        const double* w_im = plan.pass_im + (s - 1);
        if (4 * s <= n) {
            const double* const w[6] = {w_re, w_im, w_re + s, w_im + s, w_re + 2 * s, w_im + 2 * s};
            withWidest<WIDEST>(
                s, [&]<typename V>(V*) __attribute__((always_inline)) {
                    for (int base = 0; base < n; base += 4 * s) {
                        twoPasses<V, false, false>(re, im, base, s, s, w);
                    }
                });
            s *= 2;
            continue;
        }
        withWidest<WIDEST>(
            s, [&]<typename V>(V*) __attribute__((always_inline)) {
                for (int base = 0; base < n; base += 2 * s)
                    onePass<V, false>(re, im, base, s, s, w_re, w_im);
            });
    }
}

// The split pass for k = k ... end - 1 in groups of LANES<V>; returns the first k not done.
template <typename V>
TARVIK_INLINE int splitPass(const FftPlan& plan, double* re, double* im, int k, int end) {
    constexpr int L = LANES<V>;
    for (; k + L <= end; k += L) {
        const int j = plan.n - k - (L - 1);  // the partners n - k - L + 1 ... n - k
        V wr, wi, ar, ai, br, bi;
        load(wr, plan.split_re + k);
        load(wi, plan.split_im + k);
        load(ar, re + k);
        load(ai, im + k);
        load(br, re + j);
        load(bi, im + j);
        reverseLanes(br);
        reverseLanes(bi);
        splitPair(wr, wi, ar, ai, br, bi);
        store(re + k, ar);
        store(im + k, ai);
        V zr = br, zi = bi;
        reverseLanes(zr);
        reverseLanes(zi);
        store(re + j, zr);
        store(im + j, zi);
    }
    return k;
}

// a = sqrt(i * i + r * r) of the values at `at`: w * a to below, a - w * a to rest (which may be
// re and im themselves).
template <typename V>
TARVIK_INLINE void weightedMagnitude(const double* re, const double* im, const V& w, int at,
                                     double* below, double* rest) {
    V r, i;
    load(r, re + at);
    load(i, im + at);
    V a = i * i + r * r;
    squareRoot(a);
    const V wa = w * a;
    store(below + at, wa);
    store(rest + at, a - wa);
}

template <typename V>
TARVIK_INLINE int magnitudes(const double* re, const double* im, const double* weight, int k,
                             int end, double* below, double* rest) {
    for (; k + LANES<V> <= end; k += LANES<V>) {
        V w;
        load(w, weight + k);
        weightedMagnitude(re, im, w, k, below, rest);
    }
    return k;
}

// WIDEST lanes (2, 4 or 8) where the data allow, narrower registers and single values elsewhere.
template <int WIDEST>
TARVIK_INLINE void fftWith(const FftPlan& plan, const double* data, double* re, double* im,
                           bool split) {
    const int n = plan.n;
    for (int p = 0; p < n; ++p) re[p] = data[2 * p], im[p] = data[2 * p + 1];
    allPasses<WIDEST>(plan, re, im);
    if (!split || n == 0) return;
    const int end = n / 2;  // k = 1 ... N / 4 - 1; z_(N/4) keeps its value
    int k = 1;
    if constexpr (WIDEST >= 8) k = splitPass<Vec8>(plan, re, im, k, end);
    if constexpr (WIDEST >= 4) k = splitPass<Vec4>(plan, re, im, k, end);
    if constexpr (WIDEST >= 2) k = splitPass<Vec2>(plan, re, im, k, end);
    splitPass<double>(plan, re, im, k, end);
    re[0] = re[0] + im[0];
    im[0] = 0.0;
}

template <int WIDEST>
TARVIK_INLINE void magnitudesWith(const double* re, const double* im, const double* weight,
                                  int begin, int end, double* below, double* rest) {
    int k = begin;
    if constexpr (WIDEST >= 8) k = magnitudes<Vec8>(re, im, weight, k, end, below, rest);
    if constexpr (WIDEST >= 4) k = magnitudes<Vec4>(re, im, weight, k, end, below, rest);
    if constexpr (WIDEST >= 2) k = magnitudes<Vec2>(re, im, weight, k, end, below, rest);
    magnitudes<double>(re, im, weight, k, end, below, rest);
}

// FRAME_LANES frames side by side, W lanes to a register.
template <int W>
TARVIK_INLINE void swapValues(double* re, double* im, int p, int q) {
    using V = Lanes<W>;
    for (int g = 0; g < FRAME_LANES; g += W) {
        V pr, pi, qr, qi;
        load(pr, re + p * FRAME_LANES + g), load(pi, im + p * FRAME_LANES + g);
        load(qr, re + q * FRAME_LANES + g), load(qi, im + q * FRAME_LANES + g);
        store(re + p * FRAME_LANES + g, qr), store(im + p * FRAME_LANES + g, qi);
        store(re + q * FRAME_LANES + g, pr), store(im + q * FRAME_LANES + g, pi);
    }
}

// The split pass of a real transform and X_0, on frames side by side.
template <int W>
TARVIK_INLINE void splitPassOfFrames(const FftPlan& plan, double* re, double* im) {
    using V = Lanes<W>;
    constexpr int L = FRAME_LANES;
    const int n = plan.n;
    for (int k = 1; k < n / 2; ++k) {  // z_(N/4) keeps its value
        V wr, wi;
        broadcast(wr, plan.split_re[k]);
        broadcast(wi, plan.split_im[k]);
        double* a_re = re + k * L;
        double* a_im = im + k * L;
        double* b_re = re + (n - k) * L;
        double* b_im = im + (n - k) * L;
        for (int g = 0; g < L; g += W) {
            V ar, ai, br, bi;
            load(ar, a_re + g), load(ai, a_im + g), load(br, b_re + g), load(bi, b_im + g);
            splitPair(wr, wi, ar, ai, br, bi);
            store(a_re + g, ar), store(a_im + g, ai), store(b_re + g, br), store(b_im + g, bi);
        }
    }
    for (int g = 0; g < L; g += W) {
        V r, i;
        load(r, re + g), load(i, im + g);
        store(re + g, r + i);
        store(im + g, V{});
    }
}

// The bit reversal and the butterfly passes, then the split pass, on frames side by side.
template <int W>
TARVIK_INLINE void fftOfFramesWith(const FftPlan& plan, double* re, double* im) {
    using V = Lanes<W>;
    constexpr int L = FRAME_LANES;
    const int n = plan.n;
    for (int k = 0; k < plan.swap_count; ++k) {
        swapValues<W>(re, im, plan.swaps[2 * k], plan.swaps[2 * k + 1]);
    }
    // The passes two at a time where two remain: pass s pairs (a, b) and (c, d) of the values
    // a, b, c, d at base + m + 0, s, 2s, 3s with twiddle m of pass s, then pass 2s pairs (a, c)
    // with its twiddle m and (b, d) with its twiddle m + s; the four values stay in registers.
    int s = 1;
    for (; 4 * s <= n; s *= 4) {
        for (int m = 0; m < s; ++m) {
            V w1r, w1i, w2r, w2i, w3r, w3i;
            broadcast(w1r, plan.pass_re[s - 1 + m]), broadcast(w1i, plan.pass_im[s - 1 + m]);
            broadcast(w2r, plan.pass_re[2 * s - 1 + m]),
                broadcast(w2i, plan.pass_im[2 * s - 1 + m]);
            broadcast(w3r, plan.pass_re[3 * s - 1 + m]),
                broadcast(w3i, plan.pass_im[3 * s - 1 + m]);
            for (int base = m; base < n; base += 4 * s) {
                double* r = re + base * L;
                double* i = im + base * L;
                const int d = s * L;
                for (int g = 0; g < L; g += W) {
                    V ar, ai, br, bi, cr, ci, dr, di;
                    load(ar, r + g), load(ai, i + g), load(br, r + d + g), load(bi, i + d + g);
                    load(cr, r + 2 * d + g), load(ci, i + 2 * d + g);
                    load(dr, r + 3 * d + g), load(di, i + 3 * d + g);
                    butterfly(w1r, w1i, ar, ai, br, bi);
                    butterfly(w1r, w1i, cr, ci, dr, di);
                    butterfly(w2r, w2i, ar, ai, cr, ci);
                    butterfly(w3r, w3i, br, bi, dr, di);
                    store(r + g, ar), store(i + g, ai), store(r + d + g, br), store(i + d + g, bi);
                    store(r + 2 * d + g, cr), store(i + 2 * d + g, ci);
                    store(r + 3 * d + g, dr), store(i + 3 * d + g, di);
                }
            }
        }
    }
    for (; s < n; s *= 2) {
        for (int m = 0; m < s; ++m) {
            V wr, wi;
            broadcast(wr, plan.pass_re[s - 1 + m]);
            broadcast(wi, plan.pass_im[s - 1 + m]);
            for (int b = m; b < n; b += 2 * s) {
                for (int g = 0; g < L; g += W) {
                    V zr, zi, xr, xi;
                    double* z_re = re + b * L + g;
                    double* z_im = im + b * L + g;
                    double* x_re = re + (b + s) * L + g;
                    double* x_im = im + (b + s) * L + g;
                    load(zr, z_re), load(zi, z_im), load(xr, x_re), load(xi, x_im);
                    butterfly(wr, wi, zr, zi, xr, xi);
                    store(z_re, zr), store(z_im, zi), store(x_re, xr), store(x_im, xi);
                }
            }
        }
    }
    if (n > 0) splitPassOfFrames<W>(plan, re, im);
}

template <int W>
TARVIK_INLINE void magnitudesOfFramesWith(const double* re, const double* im, const double* weight,
                                          int begin, int end, double* below, double* rest) {
    using V = Lanes<W>;
    for (int k = begin; k < end; ++k) {
        V w;
        broadcast(w, weight[k]);
        for (int g = k * FRAME_LANES; g < (k + 1) * FRAME_LANES; g += W) {
            weightedMagnitude(re, im, w, g, below, rest);
        }
    }
}

using FftFunction = void (*)(const FftPlan&, const double*, double*, double*, bool);
using FramesFftFunction = void (*)(const FftPlan&, double*, double*);
using MagnitudesFunction = void (*)(const double*, const double*, const double*, int, int, double*,
                                    double*);

void fftScalar(const FftPlan& plan, const double* data, double* re, double* im, bool split) {
    fftWith<1>(plan, data, re, im, split);
}

void magnitudesScalar(const double* re, const double* im, const double* weight, int begin, int end,
                      double* below, double* rest) {
    magnitudesWith<1>(re, im, weight, begin, end, below, rest);
}

void framesFftScalar(const FftPlan& plan, double* re, double* im) {
    fftOfFramesWith<1>(plan, re, im);
}

void framesMagnitudesScalar(const double* re, const double* im, const double* weight, int begin,
                            int end, double* below, double* rest) {
    magnitudesOfFramesWith<1>(re, im, weight, begin, end, below, rest);
}

#if TARVIK_SIMD_PATHS
void fftSse2(const FftPlan& plan, const double* data, double* re, double* im, bool split) {
    fftWith<2>(plan, data, re, im, split);
}

TARVIK_TARGET_AVX2 void fftAvx2(const FftPlan& plan, const double* data, double* re, double* im,
                                bool split) {
    fftWith<4>(plan, data, re, im, split);
}

TARVIK_TARGET_AVX512 void fftAvx512(const FftPlan& plan, const double* data, double* re, double* im,
                                    bool split) {
    fftWith<8>(plan, data, re, im, split);
}

void magnitudesSse2(const double* re, const double* im, const double* weight, int begin, int end,
                    double* below, double* rest) {
    magnitudesWith<2>(re, im, weight, begin, end, below, rest);
}

TARVIK_TARGET_AVX2 void magnitudesAvx2(const double* re, const double* im, const double* weight,
                                       int begin, int end, double* below, double* rest) {
    magnitudesWith<4>(re, im, weight, begin, end, below, rest);
}

TARVIK_TARGET_AVX512 void magnitudesAvx512(const double* re, const double* im, const double* weight,
                                           int begin, int end, double* below, double* rest) {
    magnitudesWith<8>(re, im, weight, begin, end, below, rest);
}

void framesFftSse2(const FftPlan& plan, double* re, double* im) {
    fftOfFramesWith<2>(plan, re, im);
}
TARVIK_TARGET_AVX2 void framesFftAvx2(const FftPlan& plan, double* re, double* im) {
    fftOfFramesWith<4>(plan, re, im);
}
TARVIK_TARGET_AVX512 void framesFftAvx512(const FftPlan& plan, double* re, double* im) {
    fftOfFramesWith<FRAME_LANES>(plan, re, im);
}

void framesMagnitudesSse2(const double* re, const double* im, const double* weight, int begin,
                          int end, double* below, double* rest) {
    magnitudesOfFramesWith<2>(re, im, weight, begin, end, below, rest);
}
TARVIK_TARGET_AVX2 void framesMagnitudesAvx2(const double* re, const double* im,
                                             const double* weight, int begin, int end,
                                             double* below, double* rest) {
    magnitudesOfFramesWith<4>(re, im, weight, begin, end, below, rest);
}
TARVIK_TARGET_AVX512 void framesMagnitudesAvx512(const double* re, const double* im,
                                                 const double* weight, int begin, int end,
                                                 double* below, double* rest) {
    magnitudesOfFramesWith<FRAME_LANES>(re, im, weight, begin, end, below, rest);
}

constexpr KernelBuilds<FftFunction> FFT = {{fftScalar, fftSse2, fftAvx2, fftAvx512}};
constexpr KernelBuilds<FramesFftFunction> FRAMES_FFT = {
    {framesFftScalar, framesFftSse2, framesFftAvx2, framesFftAvx512}};
constexpr KernelBuilds<MagnitudesFunction> FRAMES_MAGNITUDES = {
    {framesMagnitudesScalar, framesMagnitudesSse2, framesMagnitudesAvx2, framesMagnitudesAvx512}};
constexpr KernelBuilds<MagnitudesFunction> MAGNITUDES = {
    {magnitudesScalar, magnitudesSse2, magnitudesAvx2, magnitudesAvx512}};
#else
constexpr KernelBuilds<FftFunction> FFT = {{fftScalar}};
constexpr KernelBuilds<FramesFftFunction> FRAMES_FFT = {{framesFftScalar}};
constexpr KernelBuilds<MagnitudesFunction> FRAMES_MAGNITUDES = {{framesMagnitudesScalar}};
constexpr KernelBuilds<MagnitudesFunction> MAGNITUDES = {{magnitudesScalar}};
#endif

}  // namespace

void fftOfFrames(const FftPlan& plan, double* re, double* im) {
    FRAMES_FFT.current()(plan, re, im);
}

void weightedMagnitudesOfFrames(const double* re, const double* im, const double* weight, int begin,
                                int end, double* below, double* rest) {
    FRAMES_MAGNITUDES.current()(re, im, weight, begin, end, below, rest);
}

void fftToArrays(const FftPlan& plan, const double* data, double* re, double* im, bool split) {
    FFT.current()(plan, data, re, im, split);
}

void weightedMagnitudes(const double* re, const double* im, const double* weight, int begin,
                        int end, double* below, double* rest) {
    MAGNITUDES.current()(re, im, weight, begin, end, below, rest);
}

}  // namespace tarvik
