"""The network tarvik runs, in PyTorch: a forward and a backward layer of memory blocks (cells of a
block share their input, forget and output gates), peepholes, squashing 4 sigmoid(x) - 2 for cell
input and cell state, and one output unit read as the speech posterior.

Weight rows are stacked in the order of the model file: input gate (one row per block), forget
gate, cell input (one row per cell), output gate. The backward layer runs over blocks of
BLOCK frames, started from zero at the end of LOOKAHEAD further frames, as at run time.

For speed the recurrence runs as one scripted loop over per-cell rows: each gate row is repeated
for the cells of its block, and the peephole sums over a block become products with
block-diagonal matrices, so that a time step is two matrix products and four activations."""
from typing import List, Tuple

import torch

BLOCK = 20
LOOKAHEAD = 20
INPUTS = 39
def squash(x):
    return 4.0 * torch.sigmoid(x) - 2.0


@torch.jit.script
def _sig(x: torch.Tensor, tables: bool) -> torch.Tensor:
    if tables:  # tarvik's table: nearest entry, step 0.001, over [-709, 709]
        index = torch.floor((torch.clamp(x, -709.0, 709.0) + 709.0) / 0.001 + 0.5)
        return 1.0 / (torch.exp(-(0.001 * index - 709.0)) + 1.0)
    return torch.sigmoid(x)


@torch.jit.script
def _forward(gx: torch.Tensor, w_hs: torch.Tensor, p_out: torch.Tensor, tables: bool,
             h0: torch.Tensor, s0: torch.Tensor) -> List[torch.Tensor]:
    """Runs the recurrence forward in time over gx (N, T, 4C: input-gate, forget-gate, cell-input
    and output-gate parts of every cell, biases included) from the outputs h0 and states s0
    (N, C) before its first frame. w_hs (2C, 4C) maps the previous outputs and states to the four
    parts (the states through the input- and forget-gate peepholes), p_out (C, C) the new state
    to the output gate. Returns the outputs and the states (N, T, C), then what the gradient
    needs: input, forget and output gates, cell inputs and squashed states."""
    t = gx.shape[1]
    c = p_out.shape[0]
    h = h0
    s = s0
    names = ["h", "s", "i", "f", "o", "z", "q"]
    seqs: List[List[torch.Tensor]] = [[] for _ in names]
    for j in range(t):
        a = gx[:, j] + torch.cat([h, s], 1) @ w_hs
        gates = _sig(a[:, :2 * c], tables)
        i, f = gates[:, :c], gates[:, c:]
        z = 4.0 * _sig(a[:, 2 * c:3 * c], tables) - 2.0
        s = z * i + f * s
        o = _sig(a[:, 3 * c:] + s @ p_out, tables)
        q = 4.0 * _sig(s, tables) - 2.0
        h = o * q
        for seq, v in zip(seqs, [h, s, i, f, o, z, q]):
            seq.append(v)
    return [torch.stack(seq, 1) for seq in seqs]


@torch.jit.script
def _backward(dh_out: torch.Tensor, ds_out: torch.Tensor, w_hs: torch.Tensor,
              p_out: torch.Tensor, h0: torch.Tensor, s0: torch.Tensor,
              saved: List[torch.Tensor]) -> List[torch.Tensor]:
    """Gradients of _forward (exact activations) from those of its outputs and states: of gx,
    w_hs and p_out (the starting outputs h0 and states s0 are constants)."""
    h, s, i, f, o, z, q = saved
    n, t, c = h.shape[0], h.shape[1], h.shape[2]
    w_t = w_hs.T
    p_t = p_out.T
    dgx = torch.empty(n, t, 4 * c, dtype=h.dtype)
    dh = h.new_zeros(n, c)
    ds = h.new_zeros(n, c)
    for j in range(t - 1, -1, -1):
        dh = dh + dh_out[:, j]
        qj, oj, ij, fj, zj = q[:, j], o[:, j], i[:, j], f[:, j], z[:, j]
        do = dh * qj * oj * (1.0 - oj)
        ds = ds + ds_out[:, j] + dh * oj * (qj + 2.0) * (2.0 - qj) * 0.25 + do @ p_t
        s_prev = s[:, j - 1] if j > 0 else s0
        da = torch.cat([ds * zj * ij * (1.0 - ij), ds * s_prev * fj * (1.0 - fj),
                        ds * ij * (zj + 2.0) * (2.0 - zj) * 0.25, do], 1)
        dgx[:, j] = da
        back = da @ w_t
        dh = back[:, :c]
        ds = ds * fj + back[:, c:]
    prev = torch.cat([h, s], 2)[:, :-1]
    first = dgx[:, 1:].reshape(-1, 4 * c)
    dw = prev.reshape(-1, 2 * c).T @ first + torch.cat([h0, s0], 1).T @ dgx[:, 0]
    dp = s.reshape(-1, c).T @ dgx[:, :, 3 * c:].reshape(-1, c)
    return [dgx, dw, dp]


class _Recurrence(torch.autograd.Function):
    """The forward recurrence with its gradient by hand: a scripted loop each way."""

    @staticmethod
    def forward(ctx, gx, w_hs, p_out, h0, s0):
        saved = _forward(gx, w_hs, p_out, False, h0, s0)
        ctx.save_for_backward(w_hs, p_out, h0, s0, *saved)
        return saved[0], saved[1]

    @staticmethod
    def backward(ctx, dh, ds):
        w_hs, p_out, h0, s0, *saved = ctx.saved_tensors
        dh = torch.zeros_like(saved[0]) if dh is None else dh.contiguous()
        ds = torch.zeros_like(saved[1]) if ds is None else ds.contiguous()
        return (*_backward(dh, ds, w_hs, p_out, h0, s0, saved), None, None)


def recurrence(gx, w_hs, p_out, reverse=False, tables=False, start=None):
    """Outputs and states (N, T, C) of the recurrence over gx, forward or backward in time, from
    zero state or from `start`, the outputs and states (N, C) before the first frame it runs
    over (taken as constants); differentiable with exact activations."""
    if reverse:
        h, s = recurrence(gx.flip(1), w_hs, p_out, tables=tables, start=start)
        return h.flip(1), s.flip(1)
    if start is None:
        h0 = s0 = gx.new_zeros(gx.shape[0], p_out.shape[0])
    else:
        h0, s0 = (v.detach().to(gx.dtype).contiguous() for v in start)
    if tables or not torch.is_grad_enabled():
        return tuple(_forward(gx, w_hs, p_out, tables, h0, s0)[:2])
    return _Recurrence.apply(gx, w_hs, p_out, h0, s0)


class Layer(torch.nn.Module):
    def __init__(self, inputs, blocks, cells_per_block):
        super().__init__()
        self.blocks, self.per_block = blocks, cells_per_block
        self.cells = blocks * cells_per_block
        rows = 3 * blocks + self.cells
        scale = (inputs + self.cells) ** -0.5
        self.w_in = torch.nn.Parameter(torch.empty(rows, inputs).uniform_(-scale, scale))
        self.w_rec = torch.nn.Parameter(torch.empty(rows, self.cells).uniform_(-scale, scale))
        bias = torch.zeros(3, blocks)
        bias[1] = 1.0  # forget gates start open
        self.bias = torch.nn.Parameter(bias)  # input, forget, output gate
        self.peep = torch.nn.Parameter(torch.empty(3, self.cells).uniform_(-0.1, 0.1))

    def _rows(self, w):
        """Rows per cell (4C, ...) of gate-ordered rows (3B + C, ...): gate rows repeated for the
        cells of their block."""
        b, c, k = self.blocks, self.cells, self.per_block
        per = lambda rows: rows.repeat_interleave(k, 0)
        return torch.cat([per(w[:b]), per(w[b:2 * b]), w[2 * b:2 * b + c], per(w[2 * b + c:])])

    def project(self, x):
        """Input parts and biases of the four per-cell rows for every frame: (..., inputs) ->
        (..., 4C)."""
        bias = self._rows(torch.cat([self.bias[0], self.bias[1],
                                     self.bias.new_zeros(self.cells), self.bias[2]]))
        return x @ self._rows(self.w_in).T + bias

    def _peep_matrix(self, row):
        same = torch.arange(self.cells, device=self.peep.device) // self.per_block
        return self.peep[row][:, None] * (same[:, None] == same[None, :]).to(self.peep.dtype)

    def run(self, gx, reverse=False, tables=False, states=False, start=None):
        """Runs over projected inputs gx (N, T, 4C) from zero state, or from `start` (outputs and
        states (N, C)); returns the outputs (N, T, C), and with `states` the cell states as
        well."""
        c = self.cells
        w_rec = self._rows(self.w_rec).T  # (C, 4C)
        peeps = torch.cat([self._peep_matrix(0), self._peep_matrix(1),
                           w_rec.new_zeros(c, 2 * c)], 1)
        h, s = recurrence(gx, torch.cat([w_rec, peeps], 0), self._peep_matrix(2), reverse, tables,
                          start)
        return (h, s) if states else h


class Net(torch.nn.Module):
    def __init__(self, blocks=12, cells_per_block=4):
        super().__init__()
        self.fwd = Layer(INPUTS, blocks, cells_per_block)
        self.bwd = Layer(INPUTS, blocks, cells_per_block)
        self.out_f = torch.nn.Parameter(torch.zeros(1, self.fwd.cells))
        self.out_b = torch.nn.Parameter(torch.zeros(1, self.bwd.cells))
        self.out_bias = torch.nn.Parameter(torch.zeros(1))

    def logits(self, hf, hb):
        return (hf @ self.out_f.T + hb @ self.out_b.T + self.out_bias)[..., 0]

    def forward(self, x, start=None):
        """Training pass over sequences x (N, 20k + 20, 39): logits of the first 20k frames
        (N, 20k), each block's backward pass started from zero at the end of its look-ahead, the
        forward layer's cell states over those frames (N, 20k, C), and its outputs and states
        (N, C) at the last of them, from which the forward layer continues with the sequences'
        next frames when given as `start` for the next pass (otherwise it starts from zero)."""
        n, t, _ = x.shape
        k = (t - LOOKAHEAD) // BLOCK
        hf, sf = self.fwd.run(self.fwd.project(x[:, :k * BLOCK]), states=True, start=start)
        gxb = self.bwd.project(x[:, :k * BLOCK + LOOKAHEAD])
        windows = gxb.unfold(1, BLOCK + LOOKAHEAD, BLOCK)  # (N, k, 4C, 40)
        windows = windows.permute(0, 1, 3, 2).reshape(n * k, BLOCK + LOOKAHEAD, -1)
        hb = self.bwd.run(windows, reverse=True)[:, :BLOCK]
        end = (hf[:, -1].detach(), sf[:, -1].detach())
        return self.logits(hf, hb.reshape(n, k * BLOCK, -1)), sf, end

    @torch.no_grad()
    def stream(self, x, tables=False, states=False):
        """Posteriors of one whole recording x (T, 39) on the run-time schedule: the forward layer
        over all frames, full blocks with look-ahead, then the remaining frames (20 to 39, or all
        of a stream shorter than 40) as one last block without look-ahead. With `states`, also
        the forward layer's cell states (T, C)."""
        t = x.shape[0]
        if t == 0:
            return (x.new_zeros(0), x.new_zeros(0, self.fwd.cells)) if states else x.new_zeros(0)
        hf, sf = self.fwd.run(self.fwd.project(x[None]), tables=tables, states=True)
        full = (t - BLOCK) // BLOCK if t >= BLOCK + LOOKAHEAD else 0
        gxb = self.bwd.project(x)
        parts = []
        if full:
            span = BLOCK + LOOKAHEAD
            windows = gxb[:full * BLOCK + LOOKAHEAD].unfold(0, span, BLOCK).permute(0, 2, 1)
            parts.append(self.bwd.run(windows, reverse=True, tables=tables)[:, :BLOCK]
                         .reshape(-1, self.bwd.cells))
        parts.append(self.bwd.run(gxb[None, full * BLOCK:], reverse=True, tables=tables)[0])
        post = _sig(self.logits(hf[0], torch.cat(parts, 0)), tables)
        return (post, sf[0]) if states else post
