// The transforms of the front end on separate real and imaginary arrays, several values side by
// side in SIMD lanes on the instruction-set path in use (kernels/simd_path.h). Every value is
// formed by its own operations in the order a one-value-at-a-time loop uses, so each path gives the
// same bits.
#pragma once

namespace tarvik {

// The constant tables of one FFT size N, n = N / 2 complex points.
struct FftPlan {
    int n = 0;
    const int* reversed = nullptr;  // n: reversed[p] = bit reversal of p over log2(n) bits
    const int* swaps = nullptr;     // swap_count pairs p < q = reversed[p], one after the other
    int swap_count = 0;
    const double* pass_re = nullptr;  // n - 1: twiddles of pass s = 1, 2, 4, ... from index s - 1
    const double* pass_im = nullptr;
    const double* split_re = nullptr;  // N / 4: twiddles of the split pass at index k (k >= 1)
    const double* split_im = nullptr;
};

// re[p], im[p] = z_p of data (n interleaved complex values) in bit-reversed order and the
// butterfly passes; with `split`, then the split pass of a real transform and X_0 = re[0] + im[0]
// with im[0] = 0.0.
void fftToArrays(const FftPlan& plan, const double* data, double* re, double* im, bool split);

// For k in [begin, end): a = sqrt(im[k] * im[k] + re[k] * re[k]), below[k] = weight[k] * a and
// rest[k] = a - below[k].
void weightedMagnitudes(const double* re, const double* im, const double* weight, int begin,
                        int end, double* below, double* rest);

// Frames side by side: FRAME_LANES frames in the lanes of one array, value p of frame f at
// [p * FRAME_LANES + f]. Every operation is the same for all lanes, so each frame comes out with
// the bits it has alone. Four frames: the values of a 512-point transform then fit the first
// level of cache twice over.
inline constexpr int FRAME_LANES = 4;

// The real transform of FRAME_LANES frames: on entry re[p] and im[p] hold z_p (data[2p] and
// data[2p+1]) of each frame in input order; on return each frame's spectrum as fftToArrays with
// `split` gives it.
void fftOfFrames(const FftPlan& plan, double* re, double* im);

// weightedMagnitudes of FRAME_LANES frames side by side, bin k's weight shared by all of them;
// below and rest may be re and im.
void weightedMagnitudesOfFrames(const double* re, const double* im, const double* weight, int begin,
                                int end, double* below, double* rest);

}  // namespace tarvik
