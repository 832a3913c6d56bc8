// Block streaming: the forward layer runs once over every frame in stream order, the backward
// layer from zero over each block of buffer_len frames and its warmup_len frames of look-ahead.
#include <algorithm>
#include <cstring>

#include "app/console.h"
#include "network/blstm.h"

namespace tarvik {

void BLSTM::clearStreamState() {
    frames_in_cycle = 0;
    buffered_wins_num = 0;
    pending_num = 0;
    fwd_hist_pos = 0;
    out_pos = 0;
    bwd_steps_left = 0;
    // No block in hand: getOutput answers false until the first processBuffer.
    wins_to_return = -1;
    last_block = false;
    input_view = loaded ? input_buf.data() : nullptr;
    output_view = loaded ? output_buf.data() : nullptr;
    fwd_out_view = nullptr;
}

// The frame at input_view, the frames_in_cycle-th of its block: forward-stepped now when it is one
// of the block's own frames, else held (look-ahead, or a frame of the last block) as pending.
void BLSTM::stepOrHold() {
    if (frames_in_cycle < buffer_len) {
        forwardStep();
    } else {
        ++pending_num;
    }
}

void BLSTM::reset() {
    clearStreamState();
    if (!loaded) return;
    for (auto* v : {&fwd_state, &fwd_cell_out, &bwd_state, &bwd_cell_out}) {
        std::fill(v->begin(), v->end(), 0.0);
    }
}

bool BLSTM::addFrame(const double* x) {
    if (!loaded) return true;
    const double* slots_end = input_buf.data() + input_buf.size();
    if (input_view + inputs_num > slots_end) {
        logLine(log_channel, "ERROR: addFrame with every slot taken, frame dropped");
        return false;
    }
    std::copy(x, x + inputs_num, input_view);
    slot_frame[(input_view - input_buf.data()) / inputs_num] = frames_stored++;
    stepOrHold();
    ++buffered_wins_num;
    ++frames_in_cycle;
    input_view += inputs_num;
    frame_added = true;
    // A frame in the spare slot, beyond a full block, still finds the block full.
    last_block = frames_in_cycle < buffer_len + warmup_len;
    return last_block;
}

void BLSTM::processBuffer() {
    if (!loaded || buffered_wins_num == 0) return;
    const int full = buffer_len + warmup_len;
    if (buffered_wins_num > full) {
        logLine(log_channel, "buffered_wins_num > buffer_len + warmup_len");
    }
    if (!frame_added) last_block = true;
    // A full block answers its first buffer_len frames; a frame beyond it stays in the spare slot
    // for the next block. The last block of the stream answers every frame in hand.
    const int n = last_block ? buffered_wins_num : full;
    if (last_block && pending_num > 0) {
        // Forward-step the frames still pending (slots buffer_len onwards).
        for (int slot = buffer_len; slot < buffer_len + pending_num && slot < n; ++slot) {
            input_view = input_buf.data() + static_cast<size_t>(slot) * inputs_num;
            forwardStep();
        }
    }
    pending_num = 0;
    // Nothing forward-stepped since the block end (the stream is finished): nothing to answer.
    if (fwd_hist_pos < fwd_cells_num) return;
    input_view = input_buf.data() + static_cast<size_t>(n - 1) * inputs_num;
    fwd_out_view = fwd_history.data() + fwd_hist_pos - fwd_cells_num;
    std::fill(bwd_state.begin(), bwd_state.end(), 0.0);
    std::fill(bwd_cell_out.begin(), bwd_cell_out.end(), 0.0);
    bwd_steps_left = n;
    out_pos = (last_block ? n - 1 : buffer_len - 1) * outputs_num;
    output_view = output_buf.data() + out_pos;
    while (!last_block && bwd_steps_left != buffer_len) {  // warm-up over the look-ahead
        backwardStep();
        --bwd_steps_left;
    }
    wins_to_return = 0;
    while (bwd_steps_left > 0) {
        backwardStep();
        computeOutput();
        --bwd_steps_left;
        ++wins_to_return;
    }
    out_pos = 0;
}

bool BLSTM::getOutput() {
    if (wins_to_return < -1) {
        logLine(log_channel, "ERROR: wins_to_return < -1");
        return false;
    }
    if (wins_to_return == -1 || !loaded) return false;
    if (wins_to_return > 0) {
        std::copy(output_buf.begin() + out_pos, output_buf.begin() + out_pos + outputs_num,
                  output_frame.begin());
        out_pos += outputs_num;
        --wins_to_return;
        return true;
    }
    // Block end: the look-ahead frames, and a frame that came beyond a full block, become the
    // first frames of the next block.
    const int carried = last_block ? warmup_len : buffered_wins_num - buffer_len;
    fwd_hist_pos = 0;
    input_view = input_buf.data();
    output_view = output_buf.data();
    std::memmove(input_buf.data(), input_buf.data() + static_cast<size_t>(buffer_len) * inputs_num,
                 static_cast<size_t>(carried) * inputs_num * sizeof(double));
    std::copy(slot_frame.begin() + buffer_len, slot_frame.begin() + buffer_len + carried,
              slot_frame.begin());
    if (!last_block) {
        for (frames_in_cycle = 0; frames_in_cycle < carried; ++frames_in_cycle) {
            stepOrHold();
            input_view += inputs_num;
        }
    }
    frames_in_cycle = carried;
    buffered_wins_num = carried;
    wins_to_return = -1;
    frame_added = false;
    return false;
}

}  // namespace tarvik
