#include "tests/network/model_files.h"

#include <cstdint>
#include <fstream>
#include <iomanip>
#include <limits>

#include "network/model_layout.h"

namespace tarvik {

namespace {

void appendInt32(std::string& bytes, std::int32_t value) {
    auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
}

}  // namespace

std::string modelHeaderBytes(const BLSTMTopology& t) {
    std::string bytes;
    appendInt32(bytes, t.inputs_num);
    appendInt32(bytes, t.outputs_num);
    appendInt32(bytes, t.fwd_blocks_num);
    appendInt32(bytes, t.fwd_cells_per_block);
    bytes.push_back(t.fwd_has_peepholes ? 1 : 0);
    appendInt32(bytes, t.bwd_blocks_num);
    appendInt32(bytes, t.bwd_cells_per_block);
    bytes.push_back(t.bwd_has_peepholes ? 1 : 0);
    return bytes;
}

bool writeModelFile(const std::string& path, const BLSTMTopology& topology,
                    const BLSTMParameters& params) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    std::string header = modelHeaderBytes(topology);
    file.write(header.data(), static_cast<std::streamsize>(header.size()));
    for (const std::vector<double>* array : params.inFileOrder()) {
        file.write(reinterpret_cast<const char*>(array->data()),
                   static_cast<std::streamsize>(array->size() * sizeof(double)));
    }
    return static_cast<bool>(file);
}

bool writeModelText(const std::string& path, const BLSTMTopology& t,
                    const BLSTMParameters& params) {
    std::ofstream file(path, std::ios::trunc);
    file << t.inputs_num << ' ' << t.outputs_num << ' ' << t.fwd_blocks_num << ' '
         << t.fwd_cells_per_block << ' ' << (t.fwd_has_peepholes ? 1 : 0) << '\n'
         << t.bwd_blocks_num << ' ' << t.bwd_cells_per_block << ' ' << (t.bwd_has_peepholes ? 1 : 0)
         << '\n'
         << std::setprecision(std::numeric_limits<double>::max_digits10);
    for (const std::vector<double>* array : params.inFileOrder()) {
        for (double value : *array) file << value << '\n';
    }
    return static_cast<bool>(file);
}

BLSTMParameters randomParameters(const BLSTMTopology& topology, unsigned seed, double scale) {
    BLSTMParameters params;
    std::uint64_t state = seed * 6364136223846793005ULL + 1442695040888963407ULL;
    const auto counts = parameterCounts(topology);
    for (int i = 0; i < 8; ++i) {
        std::vector<double>& array = *params.inFileOrder()[i];
        for (std::int64_t k = 0; k < counts[i]; ++k) {
            state = state * 6364136223846793005ULL + 1442695040888963407ULL;
            double unit = static_cast<double>(state >> 11) / 9007199254740992.0;  // [0, 1)
            array.push_back((2.0 * unit - 1.0) * scale);
        }
    }
    return params;
}

BLSTMTopology followerTopology(int inputs_num) { return {inputs_num, 1, 1, 1, false, 1, 1, false}; }

BLSTMParameters followerParameters(int inputs_num, int input_index, double gain) {
    const BLSTMTopology topology = followerTopology(inputs_num);
    const auto counts = parameterCounts(topology);
    BLSTMParameters params;
    for (int i = 0; i < 8; ++i) params.inFileOrder()[i]->assign(counts[i], 0.0);
    // Rows of one block of one cell: input gate, forget gate, cell input, output gate, each
    // inputs_num input weights and one recurrent weight. The cell input takes the chosen value.
    params.fwd_weights[2 * (inputs_num + 1) + input_index] = 1.0;
    // Gates wide open, except the forget gate, which is shut: the cell forgets every frame.
    params.fwd_biases = {30.0, -30.0, 30.0};
    params.out_weights = {gain, 0.0};
    return params;
}

bool writeFollowerModel(const std::string& path, int inputs_num, int input_index, double gain) {
    return writeModelFile(path, followerTopology(inputs_num),
                          followerParameters(inputs_num, input_index, gain));
}

}  // namespace tarvik
