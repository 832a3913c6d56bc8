// Mel-cepstral stage: per frame, pre-emphasis, Hamming window, real FFT, triangular mel channels
// on the magnitude spectrum, log with a floor of 1.0, DCT, sinusoidal lifter and an energy value.
#pragma once

#include <vector>

#include "frontend/fe.h"
#include "kernels/fft.h"
#include "kernels/packed_sums.h"
#include "kernels/spectrum_kernels.h"

namespace tarvik {

// -1000.0 when x <= 0, else ln(x).
double safeLog(double x);

// A holder of a borrowed array and its two accessors; nothing in the chain uses them.
template <typename T>
struct ArrayHolder {
    T* data;
};
// Stores `data` in the holder.
template <typename T>
void setArray(ArrayHolder<T>* holder, T* data) {
    holder->data = data;
}
// Address of element `i` of the held array, counted from 1.
template <typename T>
T* elementAt(const ArrayHolder<T>* holder, int i) {
    return holder->data + (i - 1);
}

// First stage of the chain: `frame_len` samples in (unscaled), `feat_dim` values out: cepstra
// c1 ... c`num_ceps`, then the energy value of `energy_mode` (0: none, 1: log energy of the
// windowed frame, 2: log energy of the raw frame, 3: C0, other: 0.0). Parameter set 1 (the
// command line's) is 400 samples at 16 kHz into 12 cepstra and C0.
class Feat : public FE {
  public:
    // Parameter set 1 or 2; any other number prints "ERROR: Wrong FE_FeatSet!" and gives a stage
    // without parameters whose `process` always returns null.
    explicit Feat(int FE_FeatSet);
    // Parameters outside their limits (fft_size a power of two >= frame_len >= 2, num_filters >= 1,
    // cep_lifter >= 1, 0 <= low_freq < high_freq <= nyquist_freq, num_ceps (+1 with an energy
    // value) <= feat_dim, and frame_len no more than a frame of a file source can read,
    // Signal::FRAME_REACH) give a stage whose `process` always returns null.
    Feat(int frame_len, int fft_size, int feat_dim, int num_ceps, int num_filters, int cep_lifter,
         int low_freq, int high_freq, int nyquist_freq, double preemph, int energy_mode);

    // `in` is the frame's first sample; in[0 ... min(frame_len, samples_left) - 1] is read. A
    // null `in` returns null and changes nothing. When the frames come at a steady distance, the
    // stage computes the next FRAME_LANES frames at once, side by side (reading samples up to
    // samples_left, and no more than Signal::FRAME_REACH), and answers the calls for the following
    // ones from those, after checking that each call is for the same samples, unchanged; the values
    // are the same bits either way.
    double* process(const double* in, int samples_left) override;
    int getDim() const override;  // feat_dim
    void reset() override;        // nothing to drop
    ~Feat() override;

    // In-place real FFT of fft_size values: data[0] = X_0, data[2k] + i data[2k+1] = X_k for
    // 1 <= k < fft_size / 2 (exponent sign +, unscaled); data[1] = 0.
    void realFFT(double* data) const;
    // In-place complex FFT of fft_size / 2 complex values; the inverse (inverse != 0) is scaled
    // by 1 / (fft_size / 2).
    void complexFFT(double* data, int inverse) const;

    // Constant tables, for inspection.
    const std::vector<double>& getWindow() const { return window; }
    const std::vector<int>& getLoChan() const { return lo_chan; }
    const std::vector<double>& getLoWeight() const { return lo_weight; }

  private:
    void allocBuffers();
    bool parametersUsable() const;
    void buildTables();
    void accumulateChannels();
    void cepstra();
    // The frame's first `avail` samples pre-emphasised and windowed into fft_buf (zeros after
    // them); its log energy for energy_mode 1 or 2, else 0.
    double windowFrame(const double* in, int avail);
    // The frame at `in` alone into `output`.
    void processOne(const double* in, int samples_left);
    // The frame at `in` from the frames computed ahead, or computed ahead with the next ones;
    // false when neither can be.
    bool takeAhead(const double* in, int samples_left);
    bool computeAhead(const double* in, int samples_left, const double* previous);
    // The frames at in + f * step for f < FRAME_LANES, each with frame_len samples, into
    // ahead_out; their samples are kept in ahead_samples.
    void processFrames(const double* in, int step);
    // The C0 or energy value and the cepstra of `fbank` into `out`, from energy e.
    void finishFrame(double e, double* out);

    int frame_len = 0;
    int fft_size = 0;
    int feat_dim = 0;
    int num_ceps = 0;
    int num_filters = 0;
    int cep_lifter = 0;
    int low_freq = 0;
    int high_freq = 0;
    int nyquist_freq = 0;
    double preemph = 0.0;
    int energy_mode = 0;

    std::vector<double> fft_buf;      // fft_size: the frame, then its spectrum
    std::vector<double> window;       // frame_len: the Hamming window
    std::vector<double> mel_centers;  // num_filters + 1: channel peaks in mel, then the upper edge
    std::vector<int> lo_chan;         // fft_size / 2: channel peaks below each bin; -1 off the band
    std::vector<double> lo_weight;    // fft_size / 2: share of each bin for the channel below it
    std::vector<double> fbank;        // num_filters: channel energies, then their logs
    std::vector<double> output;       // feat_dim
    std::vector<double> spare_buf;    // frame_len, unused

    bool usable = false;
    int klo = 0;  // band: bins k with klo <= k + 1 <= khi
    int khi = 0;
    PackedRows dct_cos;          // num_ceps x num_filters DCT coefficients, packed by packRows
    std::vector<double> lifter;  // num_ceps lifter factors
    double sqrt_2_over_m = 0.0;  // sqrt(2.0 / num_filters)
    FftTables fft;
    std::vector<double> spectrum_re;  // fft_size / 2: the spectrum of the current frame
    std::vector<double> spectrum_im;
    std::vector<double> share_below;  // fft_size / 2: per band bin, lo_weight x magnitude
    std::vector<double> share_rest;   // and the magnitude less that share
    std::vector<int> chan_begin;      // num_filters + 2: bins with lo_chan c are chan_begin[c] ...
                                      // chan_begin[c + 1] - 1
    std::vector<double> cep_sums;     // the DCT sums, a whole number of tiles

    // Frames computed ahead, side by side: ahead_count frames ahead_step apart, the first with
    // ahead_left samples left; ahead_next is the next one to answer.
    const double* last_in = nullptr;
    int ahead_step = 0;
    int ahead_left = 0;
    int ahead_count = 0;
    int ahead_next = 0;
    std::vector<double> ahead_samples;  // the samples the frames were computed from
    std::vector<double> ahead_out;      // FRAME_LANES x feat_dim values
    std::vector<double> lanes_re;    // fft_size / 2 x FRAME_LANES: spectra side by side, then the
    std::vector<double> lanes_im;    // shares of each bin below (re) and the rest (im)
    std::vector<double> lanes_logs;  // num_filters x FRAME_LANES: log channel energies
};

}  // namespace tarvik
