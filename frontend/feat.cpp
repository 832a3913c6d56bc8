#include "frontend/feat.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>

#include "app/console.h"
#include "frontend/signal.h"
#include "kernels/packed_sums.h"

namespace tarvik {

namespace {

// Single-precision 0.54 and 0.46, widened.
constexpr double WINDOW_A = 0.5400000214576721;
constexpr double WINDOW_B = 0.46000000834465027;

double mel(double f) { return std::log(f / 700.0 + 1.0) * 1127.0; }

}  // namespace

double safeLog(double x) { return x <= 0.0 ? -1000.0 : std::log(x); }

Feat::Feat(int FE_FeatSet) {
    if (FE_FeatSet == 1) {
        frame_len = 400, fft_size = 512, feat_dim = 13, num_ceps = 12, num_filters = 40;
        cep_lifter = 22, low_freq = 64, high_freq = 8000, nyquist_freq = 8000;
        preemph = 0.97, energy_mode = 3;
    } else if (FE_FeatSet == 2) {
        frame_len = 200, fft_size = 512, feat_dim = 13, num_ceps = 12, num_filters = 26;
        cep_lifter = 22, low_freq = 0, high_freq = 4000, nyquist_freq = 4000;
        preemph = 0.97, energy_mode = 2;
    } else {
        printLine("ERROR: Wrong FE_FeatSet!");
    }
    allocBuffers();
}

Feat::Feat(int frame_len, int fft_size, int feat_dim, int num_ceps, int num_filters, int cep_lifter,
           int low_freq, int high_freq, int nyquist_freq, double preemph, int energy_mode)
    : frame_len(frame_len),
      fft_size(fft_size),
      feat_dim(feat_dim),
      num_ceps(num_ceps),
      num_filters(num_filters),
      cep_lifter(cep_lifter),
      low_freq(low_freq),
      high_freq(high_freq),
      nyquist_freq(nyquist_freq),
      preemph(preemph),
      energy_mode(energy_mode) {
    allocBuffers();
}

Feat::~Feat() = default;

bool Feat::parametersUsable() const {
    const int energy_values = energy_mode != 0 ? 1 : 0;
    return FftTables::sizeUsable(fft_size) && frame_len >= 2 && fft_size >= frame_len &&
           frame_len <= Signal::FRAME_REACH && num_filters >= 1 && cep_lifter >= 1 &&
           0 <= low_freq && low_freq < high_freq && high_freq <= nyquist_freq && num_ceps >= 0 &&
           num_ceps + energy_values <= feat_dim;
}

void Feat::allocBuffers() {
    usable = parametersUsable();
    if (usable) {
        fft_buf.assign(fft_size, 0.0);
        window.assign(frame_len, 0.0);
        mel_centers.assign(num_filters + 1, 0.0);
        lo_chan.assign(fft_size / 2, 0);
        lo_weight.assign(fft_size / 2, 0.0);
        fbank.assign(num_filters, 0.0);
        output.assign(feat_dim, 0.0);
        spare_buf.assign(frame_len, 0.0);
    }
    if (2LL * nyquist_freq != Signal::SAMP_FREQ) {
        printLine("WARNING: FE.nyquist_freq*2!=Signal.SAMP_FREQ");
    }
    if (!usable) return;
    const double step = 2 * std::numbers::pi / (frame_len - 1);
    for (int i = 0; i < frame_len; ++i) window[i] = WINDOW_A - std::cos(i * step) * WINDOW_B;
    buildTables();
}

// The filterbank geometry, the DCT and the lifter: they depend on the parameters alone.
void Feat::buildTables() {
    const int m_count = num_filters;
    const double ml = mel(low_freq);
    const double mh = mel(high_freq);
    for (int i = 0; i <= m_count; ++i) {
        mel_centers[i] = (static_cast<double>(i + 1) / (m_count + 1)) * (mh - ml) + ml;
    }
    const long long two_nyquist = 2LL * nyquist_freq;
    klo = static_cast<int>((static_cast<double>(low_freq) / two_nyquist) * fft_size + 2.5);
    khi = static_cast<int>((static_cast<double>(high_freq) / two_nyquist) * fft_size + 0.5);
    const double fres = (2.0 * (high_freq - low_freq)) / (fft_size * 700.0);
    int c = 0;
    for (int k = 0; k < fft_size / 2; ++k) {
        lo_chan[k] = -1;
        lo_weight[k] = 0.0;
        if (k + 1 < klo || k + 1 > khi) continue;
        const double b = std::log(k * fres + 1.0) * 1127.0;
        while (c <= m_count && b > mel_centers[c]) ++c;
        if (c > m_count) continue;  // beyond the upper edge: no channel (not within the limits)
        lo_chan[k] = c;
        lo_weight[k] = c <= 0 ? (mel_centers[0] - b) / (mel_centers[0] - ml)
                              : (mel_centers[c] - b) / (mel_centers[c] - mel_centers[c - 1]);
    }

    // Band bins with a channel: lo_chan does not decrease over them, so each channel's are a run.
    chan_begin.assign(m_count + 2, 0);
    int end = klo - 1;
    while (end >= 0 && end <= khi - 1 && end < fft_size / 2 && lo_chan[end] >= 0) ++end;
    int k = std::max(klo - 1, 0);
    for (int channel = 0; channel <= m_count + 1; ++channel) {
        while (k < end && lo_chan[k] < channel) ++k;
        chan_begin[channel] = channel == m_count + 1 ? end : k;
    }

    const double pi_over_m = std::numbers::pi / m_count;
    std::vector<std::vector<double>> rows(num_ceps, std::vector<double>(m_count));
    lifter.resize(num_ceps);
    for (int i = 1; i <= num_ceps; ++i) {
        for (int j = 0; j < m_count; ++j) rows[i - 1][j] = std::cos((j + 0.5) * (i * pi_over_m));
        lifter[i - 1] = std::sin((i * std::numbers::pi) / cep_lifter) * (0.5 * cep_lifter) + 1.0;
    }
    std::vector<const double*> row_pointers;
    for (const auto& row : rows) row_pointers.push_back(row.data());
    dct_cos = packRows(row_pointers, m_count);
    cep_sums.assign(static_cast<std::size_t>(sumTiles(num_ceps)) * SUM_LANES, 0.0);
    sqrt_2_over_m = std::sqrt(2.0 / m_count);
    fft = FftTables(fft_size);
    spectrum_re.assign(fft_size / 2, 0.0);
    spectrum_im.assign(fft_size / 2, 0.0);
    share_below.assign(fft_size / 2, 0.0);
    share_rest.assign(fft_size / 2, 0.0);
    for (auto* lanes : {&lanes_re, &lanes_im}) {
        lanes->assign(static_cast<std::size_t>(fft_size / 2) * FRAME_LANES, 0.0);
    }
    lanes_logs.assign(static_cast<std::size_t>(num_filters) * FRAME_LANES, 0.0);
    ahead_out.assign(static_cast<std::size_t>(feat_dim) * FRAME_LANES, 0.0);
}

double* Feat::process(const double* in, int samples_left) {
    if (in == nullptr || !usable) return nullptr;
    const double* previous = last_in;
    last_in = in;
    if (!takeAhead(in, samples_left) && !computeAhead(in, samples_left, previous)) {
        processOne(in, samples_left);
    }
    return output.data();
}

namespace {

std::uintptr_t addressOf(const double* p) { return reinterpret_cast<std::uintptr_t>(p); }

}  // namespace

// The next frame computed ahead, when `in` is it: the same samples left and the same samples, to
// the bit, wherever they lie (a source may have moved them).
bool Feat::takeAhead(const double* in, int samples_left) {
    if (ahead_next >= ahead_count) return false;
    const int offset = ahead_next * ahead_step;
    if (samples_left != ahead_left - offset ||
        std::memcmp(in, ahead_samples.data() + offset, sizeof(double) * frame_len) != 0) {
        ahead_count = ahead_next = 0;
        return false;
    }
    const double* out = ahead_out.data() + static_cast<std::size_t>(ahead_next) * feat_dim;
    std::copy(out, out + feat_dim, output.begin());
    ++ahead_next;
    return true;
}

// At a steady distance from the previous frame, with all of the next FRAME_LANES frames in the
// samples left and within what a frame of a file source can read: those frames at once, the
// first into `output`.
bool Feat::computeAhead(const double* in, int samples_left, const double* previous) {
    const std::uintptr_t distance = addressOf(in) - addressOf(previous);
    if (previous == nullptr || addressOf(in) <= addressOf(previous) ||
        distance % sizeof(double) != 0 || distance > 4 * sizeof(double) * frame_len) {
        return false;
    }
    const int step = static_cast<int>(distance / sizeof(double));
    const int span = (FRAME_LANES - 1) * step + frame_len;
    if (samples_left < span || span > Signal::FRAME_REACH) return false;
    processFrames(in, step);
    ahead_step = step;
    ahead_left = samples_left;
    ahead_count = FRAME_LANES;
    ahead_next = 1;
    std::copy(ahead_out.begin(), ahead_out.begin() + feat_dim, output.begin());
    return true;
}

double Feat::windowFrame(const double* in, int avail) {
    // Samples past `avail` are zeros after a file source, so stopping there keeps the raw
    // energy of a file frame and reads nothing beyond a memory source.
    double e = 0.0;
    if (energy_mode == 2) {
        double sum = 0.0;
        for (int i = 0; i < avail; ++i) sum = sum + in[i] * in[i];
        e = safeLog(sum);
    }
    if (avail > 0) fft_buf[0] = (1.0 - preemph) * in[0];
    for (int j = 1; j < avail; ++j) fft_buf[j] = in[j] - in[j - 1] * preemph;
    std::fill(fft_buf.begin() + avail, fft_buf.end(), 0.0);
    for (int i = 0; i < frame_len; ++i) fft_buf[i] = fft_buf[i] * window[i];
    if (energy_mode == 1) {
        double sum = 0.0;
        for (int i = 0; i < frame_len; ++i) sum = sum + fft_buf[i] * fft_buf[i];
        e = safeLog(sum);
    }
    return e;
}

void Feat::processOne(const double* in, int samples_left) {
    const double e = windowFrame(in, std::clamp(samples_left, 0, frame_len));
    fft.realSpectrum(fft_buf.data(), spectrum_re.data(), spectrum_im.data());
    accumulateChannels();
    finishFrame(e, output.data());
}

void Feat::finishFrame(double e, double* out) {
    cepstra();
    std::copy(output.begin(), output.begin() + num_ceps, out);
    if (energy_mode == 0) return;
    if (energy_mode == 3) {
        double sum = 0.0;
        for (int j = 0; j < num_filters; ++j) sum = sum + fbank[j];
        e = sum * sqrt_2_over_m;
    } else if (energy_mode != 1 && energy_mode != 2) {
        e = 0.0;
    }
    out[num_ceps] = e;
}

// Each frame's steps as process takes them, every frame in its own lane.
void Feat::processFrames(const double* in, int step) {
    constexpr int L = FRAME_LANES;
    const int span = (L - 1) * step + frame_len;
    ahead_samples.assign(in, in + span);
    double e[L] = {};
    // Each frame windowed into fft_buf as for one frame, then into the frame's lanes: even
    // samples are the real parts, odd ones the imaginary parts.
    for (int f = 0; f < L; ++f) {
        e[f] = windowFrame(in + f * step, frame_len);
        for (int p = 0; p < fft_size / 2; ++p) {
            lanes_re[p * L + f] = fft_buf[2 * p];
            lanes_im[p * L + f] = fft_buf[2 * p + 1];
        }
    }
    fft.realSpectraOfFrames(lanes_re.data(), lanes_im.data());
    const int* begin = chan_begin.data();
    weightedMagnitudesOfFrames(lanes_re.data(), lanes_im.data(), lo_weight.data(), begin[0],
                               begin[num_filters + 1], lanes_re.data(), lanes_im.data());
    double sums[L];
    for (int m = 0; m < num_filters; ++m) {
        for (int f = 0; f < L; ++f) sums[f] = 0.0;
        for (int k = begin[m]; k < begin[m + 1]; ++k) {
            for (int f = 0; f < L; ++f) sums[f] = lanes_im[k * L + f] + sums[f];
        }
        for (int k = begin[m + 1]; k < begin[m + 2]; ++k) {
            for (int f = 0; f < L; ++f) sums[f] = sums[f] + lanes_re[k * L + f];
        }
        for (int f = 0; f < L; ++f) lanes_logs[m * L + f] = std::log(std::max(sums[f], 1.0));
    }
    for (int f = 0; f < L; ++f) {
        for (int m = 0; m < num_filters; ++m) fbank[m] = lanes_logs[m * L + f];
        finishFrame(e[f], ahead_out.data() + static_cast<std::size_t>(f) * feat_dim);
    }
}

// Magnitudes of the band's bins into the triangular channels, then their logs floored at 0.0.
// Channel m sums, in bin order, the rest of each bin with lo_chan m, then the share of each bin
// with lo_chan m + 1.
void Feat::accumulateChannels() {
    const int* begin = chan_begin.data();
    weightedMagnitudes(spectrum_re.data(), spectrum_im.data(), lo_weight.data(), begin[0],
                       begin[num_filters + 1], share_below.data(), share_rest.data());
    for (int m = 0; m < num_filters; ++m) {
        double sum = 0.0;
        for (int k = begin[m]; k < begin[m + 1]; ++k) sum = share_rest[k] + sum;
        for (int k = begin[m + 1]; k < begin[m + 2]; ++k) sum = sum + share_below[k];
        fbank[m] = std::log(std::max(sum, 1.0));
    }
}

// DCT of the log channel energies, then the lifter.
void Feat::cepstra() {
    packedSums(dct_cos.data(), sumTiles(num_ceps), fbank.data(), num_filters, cep_sums.data());
    for (int i = 0; i < num_ceps; ++i) output[i] = cep_sums[i] * sqrt_2_over_m;
    for (int i = 0; i < num_ceps; ++i) output[i] = lifter[i] * output[i];
}

int Feat::getDim() const { return feat_dim; }

void Feat::reset() {}

void Feat::realFFT(double* data) const {
    if (usable) fft.realTransform(data);
}

void Feat::complexFFT(double* data, int inverse) const {
    if (usable) fft.complexTransform(data, inverse != 0);
}

}  // namespace tarvik
