"""The network tarvik runs, in PyTorch: a forward and a backward layer of memory blocks (cells of a
block share their input, forget and output gates), peepholes, squashing 4 sigmoid(x) - 2 for cell
input and cell state, and one output unit read as the speech posterior.

Weight rows are stacked in the order of the model file: input gate (one row per block), forget
gate, cell input (one row per cell), output gate. The backward layer runs over blocks of
BLOCK frames, started from zero at the end of LOOKAHEAD further frames, as at run time."""
import torch

BLOCK = 20
LOOKAHEAD = 20
INPUTS = 39


def squash(x):
    return 4.0 * torch.sigmoid(x) - 2.0


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

    def project(self, x):
        """Input parts of all rows for every frame: (..., inputs) -> (..., rows)."""
        return x @ self.w_in.T

    def step(self, gx, h, s, sig=torch.sigmoid, sq=squash):
        """One time step from the projected input gx, previous outputs h and states s."""
        b, c, k = self.blocks, self.cells, self.per_block
        a = gx + h @ self.w_rec.T

        def peep(row, state):
            return (self.peep[row] * state).view(-1, b, k).sum(-1)

        def cells(gate):
            return gate[:, :, None].expand(-1, b, k).reshape(-1, c)

        i = sig(a[:, :b] + self.bias[0] + peep(0, s))
        f = sig(a[:, b:2 * b] + self.bias[1] + peep(1, s))
        z = sq(a[:, 2 * b:2 * b + c])
        s_new = z * cells(i) + cells(f) * s
        o = sig(a[:, 2 * b + c:] + self.bias[2] + peep(2, s_new))
        return cells(o) * sq(s_new), s_new

    def run(self, gx, reverse=False, **acts):
        """Runs over gx (N, T, rows) from zero state; returns the outputs (N, T, cells)."""
        n, t = gx.shape[0], gx.shape[1]
        h = gx.new_zeros(n, self.cells)
        s = gx.new_zeros(n, self.cells)
        outs = [None] * t
        steps = gx.unbind(1)
        for j in (range(t - 1, -1, -1) if reverse else range(t)):
            h, s = self.step(steps[j], h, s, **acts)
            outs[j] = h
        return torch.stack(outs, 1)


class Net(torch.nn.Module):
    def __init__(self, blocks=8, cells_per_block=4):
        super().__init__()
        self.fwd = Layer(INPUTS, blocks, cells_per_block)
        self.bwd = Layer(INPUTS, blocks, cells_per_block)
        self.out_f = torch.nn.Parameter(torch.zeros(1, self.fwd.cells))
        self.out_b = torch.nn.Parameter(torch.zeros(1, self.bwd.cells))
        self.out_bias = torch.nn.Parameter(torch.zeros(1))

    def logits(self, hf, hb):
        return (hf @ self.out_f.T + hb @ self.out_b.T + self.out_bias)[..., 0]

    def forward(self, x):
        """Training pass over chunks x (N, 20k + 20, 39): logits of the first 20k frames (N, 20k),
        each block's backward pass started from zero at the end of its look-ahead."""
        n, t, _ = x.shape
        k = (t - LOOKAHEAD) // BLOCK
        hf = self.fwd.run(self.fwd.project(x[:, :k * BLOCK]))
        windows = x.unfold(1, BLOCK + LOOKAHEAD, BLOCK)[:, :k]  # (N, k, 39, 40)
        windows = windows.permute(0, 1, 3, 2).reshape(n * k, BLOCK + LOOKAHEAD, INPUTS)
        hb = self.bwd.run(self.bwd.project(windows), reverse=True)[:, :BLOCK]
        return self.logits(hf, hb.reshape(n, k * BLOCK, -1))

    @torch.no_grad()
    def stream(self, x, **acts):
        """Posteriors of one whole recording x (T, 39) on the run-time schedule: the forward layer
        over all frames, full blocks with look-ahead, then the remaining frames (20 to 39, or all
        of a stream shorter than 40) as one last block without look-ahead."""
        t = x.shape[0]
        if t == 0:
            return x.new_zeros(0)
        sig = acts.get("sig", torch.sigmoid)
        hf = self.fwd.run(self.fwd.project(x[None]), **acts)[0]
        full = (t - BLOCK) // BLOCK if t >= BLOCK + LOOKAHEAD else 0
        gxb = self.bwd.project(x)
        parts = []
        if full:
            span = BLOCK + LOOKAHEAD
            windows = gxb[:full * BLOCK + LOOKAHEAD].unfold(0, span, BLOCK).permute(0, 2, 1)
            parts.append(self.bwd.run(windows, reverse=True, **acts)[:, :BLOCK].reshape(-1, self.bwd.cells))
        parts.append(self.bwd.run(gxb[None, full * BLOCK:], reverse=True, **acts)[0])
        hb = torch.cat(parts, 0)
        return sig(self.logits(hf, hb))


def table_activations():
    """Activations as tarvik computes them: nearest entry of tables with step 0.001 over
    [-709, 709]; for checking exported models to the last digits."""
    def index(x):
        v = torch.clamp(x, -709.0, 709.0) + 709.0
        return torch.floor(v / 0.001 + 0.5)

    def entry(x):
        return 1.0 / (torch.exp(-(0.001 * index(x) - 709.0)) + 1.0)

    return {"sig": entry, "sq": lambda x: 4.0 / (torch.exp(-(0.001 * index(x) - 709.0)) + 1.0) - 2.0}
