"""Writing the network as "media.am" (a 26-byte little-endian header, then the weight arrays as
doubles in the order tarvik reads them), and reading one back into the trainer's network."""
import struct

import numpy as np
import torch

import net as netmod

HEADER = "<iiiiBiiB"


def layer_groups(layer):
    """Row ranges of the four weight groups: input gate, forget gate, cell input, output gate."""
    b, c = layer.blocks, layer.cells
    return [(0, b), (b, 2 * b), (2 * b, 2 * b + c), (2 * b + c, 3 * b + c)]


def layer_arrays(layer):
    """Weights (per group: input rows, then recurrent rows), peephole weights and biases."""
    w_in = layer.w_in.detach().double().numpy()
    w_rec = layer.w_rec.detach().double().numpy()
    weights = np.concatenate([np.concatenate([w_in[lo:hi].ravel(), w_rec[lo:hi].ravel()])
                              for lo, hi in layer_groups(layer)])
    peep = layer.peep.detach().double().numpy().ravel()
    bias = layer.bias.detach().double().numpy().ravel()
    return weights, peep, bias


def write_am(path, net, bias_shift=0.0):
    f, b = net.fwd, net.bwd
    header = struct.pack(HEADER, netmod.INPUTS, 1, f.blocks, f.per_block, 1, b.blocks,
                         b.per_block, 1)
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


def read_am(path):
    """The network of a model file as written by write_am (peepholes in both layers, one output),
    in double precision."""
    with open(path, "rb") as f:
        raw = f.read()
    inputs, outputs, fb, fk, fpeep, bb, bk, bpeep = struct.unpack(HEADER, raw[:26])
    if (inputs, outputs, fpeep, bpeep) != (netmod.INPUTS, 1, 1, 1) or (fb, fk) != (bb, bk):
        raise ValueError(f"{path}: not a model of this trainer's topology")
    net = netmod.Net(fb, fk).double()
    values = np.frombuffer(raw[26:], dtype="<f8")
    at = 0

    def take(count):
        nonlocal at
        if at + count > len(values):
            raise ValueError(f"{path}: cut short")
        at += count
        return torch.from_numpy(values[at - count:at].copy())

    with torch.no_grad():
        for layer in (net.fwd, net.bwd):
            for lo, hi in layer_groups(layer):
                rows = hi - lo
                layer.w_in[lo:hi] = take(rows * netmod.INPUTS).view(rows, netmod.INPUTS)
                layer.w_rec[lo:hi] = take(rows * layer.cells).view(rows, layer.cells)
            layer.peep.copy_(take(3 * layer.cells).view(3, layer.cells))
            layer.bias.copy_(take(3 * layer.blocks).view(3, layer.blocks))
        net.out_f.copy_(take(net.fwd.cells).view(1, -1))
        net.out_b.copy_(take(net.bwd.cells).view(1, -1))
        net.out_bias.copy_(take(1))
    if at != len(values):
        raise ValueError(f"{path}: {len(values) - at} values beyond the network")
    return net
