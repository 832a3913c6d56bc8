// Readers of the model file, binary and text. Both read into temporaries and check everything
// before the loaded model is replaced.
#include <bit>
#include <cmath>
#include <cstdint>
#include <istream>
#include <utility>

#include "app/console.h"
#include "app/input_file.h"
#include "app/strings.h"
#include "network/blstm.h"
#include "network/model_layout.h"

namespace tarvik {

namespace {

static_assert(std::endian::native == std::endian::little, "model files are little-endian");

constexpr int HEADER_BYTES = 26;

std::int32_t readInt32(const unsigned char* bytes) {
    std::uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | bytes[i];
    return static_cast<std::int32_t>(value);
}

BLSTMTopology decodeHeader(const unsigned char* h) {
    return {readInt32(h), readInt32(h + 4),  readInt32(h + 8),  readInt32(h + 12),
            h[16] != 0,   readInt32(h + 17), readInt32(h + 21), h[25] != 0};
}

std::string invalid(const std::string& path, const std::string& reason) {
    return "ERROR: invalid model file " + path + ": " + reason;
}

const char* const ARRAY_NAMES[8] = {"fwd_weights", "fwd_peep_weights", "fwd_biases",
                                    "bwd_weights", "bwd_peep_weights", "bwd_biases",
                                    "out_weights", "out_biases"};

// The first value that is not finite, as "parameter 7 (fwd_weights[6]) is nan, not finite",
// with its byte offset in a binary file when `binary`; empty when every value is finite.
std::string nonFiniteValue(BLSTMParameters& values, bool binary) {
    std::int64_t number = 0;
    for (int i = 0; i < 8; ++i) {
        const std::vector<double>& array = *values.inFileOrder()[i];
        for (std::size_t k = 0; k < array.size(); ++k, ++number) {
            if (std::isfinite(array[k])) continue;
            std::string text = "parameter " + std::to_string(number + 1) + " (" + ARRAY_NAMES[i] +
                               "[" + std::to_string(k) + "])";
            if (binary) text += " at byte " + std::to_string(HEADER_BYTES + 8 * number);
            return text + " is " + doubleToString(array[k]) + ", not finite";
        }
    }
    return {};
}

}  // namespace

bool BLSTM::commitModel(const BLSTMTopology& t, BLSTMParameters&& values) {
    setSize(t.inputs_num, t.outputs_num);
    params = std::move(values);
    shapeLayers(t.fwd_blocks_num, t.fwd_cells_per_block, t.fwd_has_peepholes, t.bwd_blocks_num,
                t.bwd_cells_per_block, t.bwd_has_peepholes);
    packWeights();
    reset();
    return true;
}

bool BLSTM::load(const std::string& path) {
    load_failure.clear();
    // The line for a file that cannot be opened or read; the reason goes to the caller.
    auto cannotLoad = [&](std::string reason) {
        logLine(log_channel, "Error loading BLSTM topology");
        load_failure = std::move(reason);
        return false;
    };
    InputFile input;
    if (!input.open(path, true)) return cannotLoad(input.failure());
    std::istream& file = input.stream();
    const std::int64_t file_bytes = input.size();
    unsigned char header[HEADER_BYTES];
    file.read(reinterpret_cast<char*>(header), HEADER_BYTES);
    if (input.readFailed()) return cannotLoad(input.failure());
    if (file_bytes < HEADER_BYTES || file.gcount() != HEADER_BYTES) {
        logLine(log_channel, invalid(path, "shorter than the 26-byte header"));
        return false;
    }
    const BLSTMTopology topology = decodeHeader(header);
    std::string problem = topologyProblem(topology, buffer_len, warmup_len);
    if (!problem.empty()) {
        logLine(log_channel, invalid(path, problem));
        return false;
    }
    const auto counts = parameterCounts(topology);
    std::int64_t expected = HEADER_BYTES;
    for (std::int64_t count : counts) expected += 8 * count;
    if (file_bytes < expected) {
        logLine(log_channel,
                invalid(path, std::to_string(file_bytes) + " bytes, the header needs " +
                                  std::to_string(expected)));
        return false;
    }
    BLSTMParameters values;
    for (int i = 0; i < 8; ++i) {
        std::vector<double>& array = *values.inFileOrder()[i];
        array.resize(counts[i]);
        file.read(reinterpret_cast<char*>(array.data()),
                  static_cast<std::streamsize>(array.size() * sizeof(double)));
    }
    if (input.readFailed()) return cannotLoad(input.failure());
    if (!file) {
        logLine(log_channel, invalid(path, "cut short while it was read"));
        return false;
    }
    problem = nonFiniteValue(values, true);
    if (!problem.empty()) {
        logLine(log_channel, invalid(path, problem));
        return false;
    }
    return commitModel(topology, std::move(values));
}

bool BLSTM::loadText(const std::string& path) {
    load_failure.clear();
    InputFile input;
    if (!input.open(path, true)) {
        logLine(log_channel, "ERROR: loading AM");
        load_failure = input.failure();
        return false;
    }
    std::istream& file = input.stream();
    BLSTMTopology t;
    file >> t.inputs_num >> t.outputs_num >> t.fwd_blocks_num >> t.fwd_cells_per_block >>
        t.fwd_has_peepholes >> t.bwd_blocks_num >> t.bwd_cells_per_block >> t.bwd_has_peepholes;
    auto cannotRead = [&] {
        logLine(log_channel, "ERROR: loading AM");
        load_failure = input.failure();
        return false;
    };
    if (input.readFailed()) return cannotRead();
    if (!file) {
        logLine(log_channel, invalid(path, "the eight header values are missing or not numbers"));
        return false;
    }
    std::string problem = topologyProblem(t, buffer_len, warmup_len);
    if (!problem.empty()) {
        logLine(log_channel, invalid(path, problem));
        return false;
    }
    const auto counts = parameterCounts(t);
    BLSTMParameters values;
    std::int64_t read = 0;
    for (int i = 0; i < 8; ++i) {
        std::vector<double>& array = *values.inFileOrder()[i];
        for (std::int64_t k = 0; k < counts[i]; ++k) {
            double value = 0.0;
            if (!(file >> value)) {
                if (input.readFailed()) return cannotRead();
                logLine(log_channel, invalid(path, "parameter " + std::to_string(read + 1) +
                                                       " is missing or not a number"));
                return false;
            }
            array.push_back(value);
            ++read;
        }
    }
    problem = nonFiniteValue(values, false);
    if (!problem.empty()) {
        logLine(log_channel, invalid(path, problem));
        return false;
    }
    return commitModel(t, std::move(values));
}

}  // namespace tarvik
