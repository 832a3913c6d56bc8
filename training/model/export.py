"""Writing the network as "media.am": a 26-byte little-endian header, then the weight arrays as
doubles in the order tarvik reads them."""
import struct

import numpy as np


def layer_arrays(layer):
    """Weights (per group: input rows, then recurrent rows), peephole weights and biases."""
    b, c = layer.blocks, layer.cells
    w_in = layer.w_in.detach().double().numpy()
    w_rec = layer.w_rec.detach().double().numpy()
    groups = [(0, b), (b, 2 * b), (2 * b, 2 * b + c), (2 * b + c, 3 * b + c)]
    weights = np.concatenate([np.concatenate([w_in[lo:hi].ravel(), w_rec[lo:hi].ravel()])
                              for lo, hi in groups])
    peep = layer.peep.detach().double().numpy().ravel()
    bias = layer.bias.detach().double().numpy().ravel()
    return weights, peep, bias


def write_am(path, net, bias_shift=0.0):
    f, b = net.fwd, net.bwd
    header = struct.pack("<iiiiBiiB", 39, 1, f.blocks, f.per_block, 1, b.blocks, b.per_block, 1)
    assert len(header) == 26
    fw, fp, fb = layer_arrays(f)
    bw, bp, bb = layer_arrays(b)
    out_w = np.concatenate([net.out_f.detach().double().numpy().ravel(),
                            net.out_b.detach().double().numpy().ravel()])
    out_b = net.out_bias.detach().double().numpy().ravel() + bias_shift
    values = np.concatenate([fw, fp, fb, bw, bp, bb, out_w, out_b]).astype("<f8")
    with open(path, "wb") as out:
        out.write(header)
        out.write(values.tobytes())
    return len(values)
