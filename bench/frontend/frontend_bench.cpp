// Speed of the front end on one core: the command line's feature chain over one hour of
// synthetic audio (in times real time), and the load time of a one-hour recording file.
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <memory>
#include <vector>

#include "frontend/chain.h"
#include "frontend/signal.h"

namespace {

constexpr int SAMPLE_RATE = 16000;
constexpr int SECONDS = 3600;
constexpr const char* PATH = "frontend_bench_hour.wav";

// Tone bursts over low noise, one second on, one second off.
std::vector<int16_t> syntheticAudio() {
    std::vector<int16_t> samples(static_cast<std::size_t>(SAMPLE_RATE) * SECONDS);
    uint32_t state = 12345;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        state = state * 1664525u + 1013904223u;
        const double noise = static_cast<int>(state >> 20) - 2048;
        const bool on = (i / SAMPLE_RATE) % 2 == 0;
        const double tone = on ? 6000.0 * std::sin(0.0523 * static_cast<double>(i % 100000)) : 0.0;
        samples[i] = static_cast<int16_t>(tone + noise * 0.1);
    }
    return samples;
}

void put(std::ofstream& file, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) file.put(static_cast<char>(value >> (8 * i)));
}

void writeWav(const std::vector<int16_t>& samples) {
    std::ofstream file(PATH, std::ios::binary | std::ios::trunc);
    const auto data_bytes = static_cast<uint32_t>(2 * samples.size());
    file.write("RIFF", 4);
    put(file, 36 + data_bytes, 4);
    file.write("WAVEfmt ", 8);
    put(file, 16, 4);
    put(file, 1, 2);
    put(file, 1, 2);
    put(file, SAMPLE_RATE, 4);
    put(file, 2 * SAMPLE_RATE, 4);
    put(file, 2, 2);
    put(file, 16, 2);
    file.write("data", 4);
    put(file, data_bytes, 4);
    file.write(reinterpret_cast<const char*>(samples.data()), data_bytes);  // little-endian host
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Allocating and writing a fresh buffer of `count` doubles: the part of a load that the machine's
// memory, not the reading, decides.
double firstTouchSeconds(std::size_t count) {
    const auto start = std::chrono::steady_clock::now();
    std::unique_ptr<double[]> buffer(new double[count]);
    for (std::size_t i = 0; i < count; ++i) buffer[i] = static_cast<double>(i & 0xFFFF);
    const double seconds = secondsSince(start);
    volatile double sink = buffer[count / 2];
    (void)sink;
    return seconds;
}

}  // namespace

int main() {
    writeWav(syntheticAudio());

    double best_load = 1e9;
    for (int run = 0; run < 3; ++run) {
        tarvik::Signal signal;
        const auto start = std::chrono::steady_clock::now();
        if (signal.loadFile(PATH, "", true) != tarvik::Signal::LOAD_OK) {
            std::printf("ERROR: cannot load: %s\n", PATH);
            return 1;
        }
        best_load = std::min(best_load, secondsSince(start));
    }
    double best_touch = 1e9;
    for (int run = 0; run < 3; ++run) {
        best_touch = std::min(
            best_touch, firstTouchSeconds(static_cast<std::size_t>(SAMPLE_RATE) * SECONDS + 500));
    }

    tarvik::Signal signal;
    signal.loadFile(PATH, "", true);
    signal.setFrame(tarvik::FRAME_MS, tarvik::FRAME_OVERLAP);
    std::remove(PATH);
    double best_chain = 1e9;
    double best_chain_cpu = 1e9;
    long frames = 0;
    double checksum = 0.0;
    for (int run = 0; run < 2; ++run) {
        tarvik::FeatureChain chain;
        frames = 0;
        const auto start = std::chrono::steady_clock::now();
        const std::clock_t cpu_start = std::clock();
        tarvik::driveChain(signal, chain.last, [&](double* frame) {
            ++frames;
            checksum += frame[12];
        });
        best_chain = std::min(best_chain, secondsSince(start));
        best_chain_cpu = std::min(best_chain_cpu,
                                  static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC);
    }

    std::printf("audio: %d s, %ld frames (checksum %.6g)\n", SECONDS, frames, checksum);
    std::printf("front end: %.3f s, %.0f x real time, %.2f us per frame\n", best_chain,
                SECONDS / best_chain, 1e6 * best_chain / frames);
    std::printf("front end, processor time: %.3f s, %.0f x real time\n", best_chain_cpu,
                SECONDS / best_chain_cpu);
    std::printf(
        "load of a one-hour file: %.3f s (allocating and writing as many doubles alone: %.3f s)\n",
        best_load, best_touch);
    return 0;
}
