// Bidirectional LSTM acoustic model ("media.am"): a forward and a backward layer of memory
// blocks and one output layer over both, streamed in blocks of frames with look-ahead.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kernels/packed_sums.h"

namespace tarvik {

// Sizes of a network as the model file's header gives them.
struct BLSTMTopology {
    int inputs_num = 0;
    int outputs_num = 0;
    int fwd_blocks_num = 0;
    int fwd_cells_per_block = 0;
    bool fwd_has_peepholes = false;
    int bwd_blocks_num = 0;
    int bwd_cells_per_block = 0;
    bool bwd_has_peepholes = false;

    bool operator==(const BLSTMTopology&) const = default;
};

// The eight parameter arrays, declared in the order of the model file. The peephole arrays are
// empty for a layer without peepholes.
struct BLSTMParameters {
    std::vector<double> fwd_weights;
    std::vector<double> fwd_peep_weights;
    std::vector<double> fwd_biases;
    std::vector<double> bwd_weights;
    std::vector<double> bwd_peep_weights;
    std::vector<double> bwd_biases;
    std::vector<double> out_weights;
    std::vector<double> out_biases;

    // The eight arrays in file order.
    std::array<std::vector<double>*, 8> inFileOrder() {
        return {&fwd_weights,      &fwd_peep_weights, &fwd_biases,  &bwd_weights,
                &bwd_peep_weights, &bwd_biases,       &out_weights, &out_biases};
    }
    std::array<const std::vector<double>*, 8> inFileOrder() const {
        return {&fwd_weights,      &fwd_peep_weights, &fwd_biases,  &bwd_weights,
                &bwd_peep_weights, &bwd_biases,       &out_weights, &out_biases};
    }

    bool operator==(const BLSTMParameters&) const = default;
};

// Calling order: construct, setBuffering, load (or loadText), reset; then per frame addFrame, and
// whenever it returns false processBuffer and getOutput until false (reading getOutputFrame after
// each true); at the end of the stream processBuffer and getOutput until false; reset before the
// next stream. One object serves one caller at a time; it is neither copied nor moved.
class BLSTM {
  public:
    // Builds the process-wide activation tables on first use; nothing is loaded.
    explicit BLSTM(int log_channel);
    ~BLSTM();
    BLSTM(const BLSTM&) = delete;
    BLSTM& operator=(const BLSTM&) = delete;

    // Reads a binary model file. A file that cannot be opened or read or is not a regular file,
    // a header size that is not positive or above the limits, a file shorter than its header
    // promises, or a value that is not finite is refused: one logged line (naming the value's
    // position), false, and the model loaded before (if any) untouched. On success (nothing
    // logged) the network is reset.
    bool load(const std::string& path);
    // Reads the same values as decimal text separated by white space; failure as for load.
    bool loadText(const std::string& path);
    // Why the last load or loadText that failed was refused, when the line it logged does not
    // say it (the lines "Error loading BLSTM topology" and "ERROR: loading AM", for a
    // file that cannot be opened or read): "No such file or directory", "a directory, not a
    // regular file", "read error: Input/output error". Empty otherwise; the caller prints it.
    const std::string& loadFailure() const { return load_failure; }

    // Stores inputs_num and outputs_num and nothing else.
    void setSize(int inputs_num, int outputs_num);
    // Stores the layer sizes, derives the counts, allocates every array (parameters zeroed) and
    // positions the views. Uses the stored inputs_num, outputs_num, buffer_len and warmup_len.
    void setTopology(int fwd_blocks_num, int fwd_cells_per_block, bool fwd_has_peepholes,
                     int bwd_blocks_num, int bwd_cells_per_block, bool bwd_has_peepholes);
    // Sizes every array from the stored counts (a parameter array already of its size keeps its
    // values) and marks the network loaded.
    void allocateMemory();
    // Releases every array and marks the network unloaded.
    void freeMemory();
    // Recomputes and stores the eight parameter counts; returns their sum.
    int countWeights();
    // Gates and cell values of both layers plus the output units.
    int countUnits() const;

    int getInputsNum() const { return inputs_num; }
    int getOutputsNum() const { return outputs_num; }
    bool isLoaded() const { return loaded; }
    int getBufferLen() const { return buffer_len; }
    int getWarmupLen() const { return warmup_len; }
    BLSTMTopology getTopology() const;
    const BLSTMParameters& getParameters() const { return params; }
    // outputs_num values: the outputs of the frame that getOutput returned last.
    const std::vector<double>& getOutputFrame() const { return output_frame; }

    // Builds the two process-wide tables unless they are built already.
    static void initActivationTables();

    // One time step of a layer on the frame at the input view, and the output layer for one
    // frame; normally driven by the streaming operations below.
    void forwardStep();
    void backwardStep();
    void computeOutput();
    // Adds to each unit the dot product of the next row of weights with [in_begin, in_end);
    // returns the position after the last row used.
    static const double* addWeightedInputs(double* units_begin, double* units_end,
                                           const double* weights, const double* in_begin,
                                           const double* in_end);

    // Frames per output block and frames of look-ahead, buffer_len >= 1 and warmup_len >= 0;
    // load sizes the buffers from the values set last. On a loaded network new values resize
    // the buffers and start a new stream (as reset); values the buffers cannot take are refused
    // with one logged line and the old ones stay.
    void setBuffering(int buffer_len, int warmup_len);
    // Starts a new stream; on an unloaded network only the counters are set.
    void reset();
    // Stores a frame of inputs_num values (copied) and forward-steps it when it belongs to the
    // block. Returns true while the block is filling, false once it is full. One frame beyond a
    // full block is kept in a spare slot and answered with the next block; a frame that finds no
    // free slot is dropped with one logged line. An unloaded network stores nothing, returns true.
    bool addFrame(const double* x);
    // Runs the backward and output layers over the frames in hand; no effect without any. Called
    // with no frame added since the last block end, it answers every frame in hand (the end of
    // the stream).
    void processBuffer();
    // True: getOutputFrame holds the next frame's outputs (oldest first). False: none is left
    // and the block has been ended; also false before any block was computed since reset.
    bool getOutput();

  private:
    void clearStreamState();
    // Sizes input_buf, fwd_history and output_buf from the topology and the buffering values.
    void allocateBuffers();
    // Stores the layer sizes, derives the counts and allocates every array.
    void shapeLayers(int fwd_blocks_num, int fwd_cells_per_block, bool fwd_has_peepholes,
                     int bwd_blocks_num, int bwd_cells_per_block, bool bwd_has_peepholes);
    void layerStep(bool forward);
    void stepOrHold();
    // Packs both layers' weight rows for packedSums.
    void packWeights();
    // The backward layer's input parts of the frame in `slot`, computed on first use.
    const double* backwardInputPart(int slot);
    bool commitModel(const BLSTMTopology& topology, BLSTMParameters&& values);

    int fwd_hist_pos = 0;
    std::vector<double> fwd_history;

    // Moving views: the slot of input_buf the next step reads, the row of fwd_history and the
    // row of output_buf the output layer uses.
    const double* fwd_out_view = nullptr;
    double* input_view = nullptr;
    double* output_view = nullptr;

    int inputs_num = 0;
    int outputs_num = 0;
    int fwd_blocks_num = 0;
    int fwd_cells_num = 0;
    int fwd_cells_per_block = 0;
    bool fwd_has_peepholes = false;
    int bwd_blocks_num = 0;
    int bwd_cells_num = 0;
    int bwd_cells_per_block = 0;
    bool bwd_has_peepholes = false;

    int fwd_biases_num = 0;
    int fwd_weights_num = 0;
    int fwd_peep_num = 0;
    int bwd_biases_num = 0;
    int bwd_weights_num = 0;
    int bwd_peep_num = 0;
    int out_biases_num = 0;
    int out_weights_num = 0;

    int frames_in_cycle = 0;
    int bwd_steps_left = 0;
    int out_pos = 0;

    BLSTMParameters params;

    // A step reads the previous step's states and cell outputs in place before it overwrites
    // them, so no copy of them is kept.
    std::vector<double> fwd_state;
    std::vector<double> fwd_cell_out;
    std::vector<double> fwd_cell_in;
    std::vector<double> fwd_in_gate;
    std::vector<double> fwd_forget_gate;
    std::vector<double> fwd_out_gate;

    std::vector<double> bwd_state;
    std::vector<double> bwd_cell_out;
    std::vector<double> bwd_cell_in;
    std::vector<double> bwd_in_gate;
    std::vector<double> bwd_forget_gate;
    std::vector<double> bwd_out_gate;

    std::vector<double> input_buf;
    const double* bias_input = nullptr;
    std::vector<double> output_buf;
    bool loaded = false;
    std::string load_failure;  // see loadFailure

    int buffer_len = 0;
    int warmup_len = 0;

    int pending_num = 0;
    bool frame_added = false;
    bool last_block = false;
    int buffered_wins_num = 0;
    int wins_to_return = 0;

    int log_channel = 0;
    std::vector<double> output_frame;

    // A layer's weight rows packed for packedSums: the input rows and the recurrent rows of its
    // units in step order (input gates, forget gates, cell inputs, output gates).
    struct PackedLayer {
        PackedRows input;
        PackedRows recurrent;
        int tiles = 0;
    };
    PackedLayer fwd_packed;
    PackedLayer bwd_packed;
    // Scratch of a step: every unit's input part and recurrent part.
    std::vector<double> input_part;
    std::vector<double> recurrent_part;
    // The backward layer's input parts of the frames in hand: a look-ahead frame is stepped
    // twice, in a block's warm-up and again in its own block, and its input part is the same.
    // Frames are numbered in the order they are stored, over the object's whole life, and
    // slot_frame[s] is the number of the frame in slot s (it moves with the frame). A frame's part
    // is row (number % rows) of bwd_input_parts, valid when bwd_part_frame of that row holds the
    // number; only backwardInputPart writes them.
    std::uint64_t frames_stored = 0;
    std::vector<std::uint64_t> slot_frame;
    std::vector<double> bwd_input_parts;
    std::vector<std::uint64_t> bwd_part_frame;
};

}  // namespace tarvik
