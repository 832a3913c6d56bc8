"""Tests of the trainer's network (the per-cell recurrence and its hand-written gradient against
the model file's gate-row formula), the model file round trip, the cutting of recordings into
training sequences and the resumption of arguments."""
import os
import tempfile
import unittest
import unittest.mock

import numpy as np
import torch

import evaluate
import export
import net as netmod
import train


def reference_layer(layer, gx_rows, reverse=False, start=None):
    """The layer step by step on gate rows (3B + C, the model file's order), written as plainly as
    the file describes it: one input, forget and output gate per block, peepholes summed over the
    cells of the block; from zero or from the outputs and states `start`."""
    b, c, k = layer.blocks, layer.cells, layer.per_block
    n, t, _ = gx_rows.shape
    h, s = start if start is not None else (gx_rows.new_zeros(n, c), gx_rows.new_zeros(n, c))
    outs, states = [None] * t, [None] * t
    order = range(t - 1, -1, -1) if reverse else range(t)
    for j in order:
        a = gx_rows[:, j] + h @ layer.w_rec.T
        peep = lambda row, st: (layer.peep[row] * st).view(n, b, k).sum(-1)
        cell = lambda g: g.repeat_interleave(k, 1)
        i = torch.sigmoid(a[:, :b] + layer.bias[0] + peep(0, s))
        f = torch.sigmoid(a[:, b:2 * b] + layer.bias[1] + peep(1, s))
        z = netmod.squash(a[:, 2 * b:2 * b + c])
        s = z * cell(i) + cell(f) * s
        o = torch.sigmoid(a[:, 2 * b + c:] + layer.bias[2] + peep(2, s))
        h = cell(o) * netmod.squash(s)
        outs[j], states[j] = h, s
    return torch.stack(outs, 1), torch.stack(states, 1)


def random_net(blocks, cells, seed=0):
    torch.manual_seed(seed)
    model = netmod.Net(blocks, cells).double()
    with torch.no_grad():
        for p in model.parameters():
            p.uniform_(-0.6, 0.6)
    return model


class RecurrenceTest(unittest.TestCase):
    def test_layer_matches_the_gate_row_formula_with_gradients(self):
        for blocks, cells, reverse, started in ((1, 1, False, False), (3, 2, False, False),
                                                (2, 4, True, False), (1, 1, False, True),
                                                (3, 2, False, True), (2, 4, True, True)):
            with self.subTest(blocks=blocks, cells=cells, reverse=reverse, started=started):
                model = random_net(blocks, cells)
                layer = model.fwd
                x = torch.randn(3, 17, netmod.INPUTS, dtype=torch.double)
                # states well beyond the squashing's range, as a long run reaches them
                start = ((torch.rand(3, layer.cells, dtype=torch.double) * 4 - 2,
                          torch.randn(3, layer.cells, dtype=torch.double) * 30)
                         if started else None)
                weights_h = torch.randn(3, 17, layer.cells, dtype=torch.double)
                weights_s = torch.randn(3, 17, layer.cells, dtype=torch.double)

                def loss(h, s):
                    return (h * weights_h).sum() + (s * s * weights_s).sum()

                h, s = layer.run(layer.project(x), reverse=reverse, states=True, start=start)
                loss(h, s).backward()
                got = [p.grad.clone() for p in layer.parameters()]
                layer.zero_grad()
                h_ref, s_ref = reference_layer(layer, x @ layer.w_in.T, reverse, start)
                loss(h_ref, s_ref).backward()
                torch.testing.assert_close(h, h_ref, rtol=0, atol=1e-12)
                torch.testing.assert_close(s, s_ref, rtol=0, atol=1e-12)
                for g, p in zip(got, layer.parameters()):
                    torch.testing.assert_close(g, p.grad, rtol=1e-9, atol=1e-10)

    def test_pieces_carrying_the_forward_state_give_the_run_over_the_whole(self):
        model = random_net(3, 2)
        blocks = (4, 1, 3)
        x = torch.randn(2, netmod.BLOCK * sum(blocks) + netmod.LOOKAHEAD, netmod.INPUTS,
                        dtype=torch.double)
        with torch.no_grad():
            z, states, (h_end, s_end) = model(x)
            zs, ss, start, at = [], [], None, 0
            for k in blocks:  # consecutive pieces, each with the next one's first 20 frames
                piece = x[:, at:at + netmod.BLOCK * k + netmod.LOOKAHEAD]
                zp, sp, start = model(piece, start=start)
                zs.append(zp)
                ss.append(sp)
                at += netmod.BLOCK * k
        torch.testing.assert_close(torch.cat(zs, 1), z, rtol=0, atol=1e-12)
        torch.testing.assert_close(torch.cat(ss, 1), states, rtol=0, atol=1e-12)
        torch.testing.assert_close(start[0], h_end, rtol=0, atol=0)
        torch.testing.assert_close(start[1], s_end, rtol=0, atol=0)
        torch.testing.assert_close(s_end, states[:, -1], rtol=0, atol=0)

    def test_stream_with_tables_stays_within_the_table_step(self):
        model = random_net(2, 2)
        x = torch.randn(57, netmod.INPUTS, dtype=torch.double)
        exact, table = model.stream(x), model.stream(x, tables=True)
        self.assertEqual(exact.shape, (57,))
        self.assertLess(float((exact - table).abs().max()), 1e-2)
        self.assertGreater(float((exact - table).abs().max()), 0.0)


class ModelFileTest(unittest.TestCase):
    def test_round_trip_and_refusals(self):
        model = random_net(3, 2)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "media.am")
            count = export.write_am(path, model, bias_shift=0.25)
            self.assertEqual(os.path.getsize(path), 26 + 8 * count)
            back = export.read_am(path)
            for (name, a), b in zip(model.state_dict().items(), back.state_dict().values()):
                expected = a + 0.25 if name == "out_bias" else a
                torch.testing.assert_close(b, expected, rtol=0, atol=0, msg=name)
            with open(path, "rb") as f:
                raw = f.read()
            for name, damaged in (("cut short", raw[:-8]), ("values beyond", raw + raw[-8:]),
                                  ("topology", raw[:4] + b"\x02" + raw[5:])):
                with self.subTest(name), open(path, "wb") as f:
                    f.write(damaged)
                with self.subTest(name), self.assertRaisesRegex(ValueError, name):
                    export.read_am(path)


class SequencesTest(unittest.TestCase):
    def test_every_frame_scored_within_its_recording(self):
        rng = np.random.default_rng(3)
        length = 5 * netmod.BLOCK + netmod.LOOKAHEAD
        for n in (1, 39, length - 1, length, length + 1, 3 * length + 7):
            with self.subTest(frames=n):
                x = np.arange(n, dtype=np.float32)[:, None].repeat(39, 1)
                y = (np.arange(n) % 3 == 0).astype(np.int8)
                pieces = train.sequences([(x, y)], rng, length)
                scored = np.zeros(n, int)
                for _, start, size, score in pieces:
                    self.assertTrue(0 <= start and start + size <= n and score <= size <= length)
                    scored[start:start + score] += 1
                # a cut recording may leave the frames before its random first offset unscored
                self.assertTrue((scored[netmod.BLOCK:] >= 1).all())
                xb, yb, mb = train.batch_of([(x, y)], pieces)
                self.assertEqual(xb.shape[1] - netmod.LOOKAHEAD, yb.shape[1])
                self.assertEqual(yb.shape[1] % netmod.BLOCK, 0)
                for k, (_, start, size, score) in enumerate(pieces):
                    self.assertEqual(int(mb[k].sum()), score)
                    np.testing.assert_array_equal(yb[k, :score].numpy(), y[start:start + score])
                    self.assertTrue((xb[k, size:, 0] == x[start + size - 1, 0]).all())


class StreamsTest(unittest.TestCase):
    def test_slots_play_the_recordings_on_and_carry_the_forward_state(self):
        rng = np.random.default_rng(5)
        recordings = [(rng.standard_normal((n, netmod.INPUTS)),
                       (rng.random(n) < 0.5).astype(np.int8)) for n in (37, 90, 15, 120, 64)]
        length, batch = 2 * netmod.BLOCK + netmod.LOOKAHEAD, 3
        scored = length - netmod.LOOKAHEAD
        for reset, weights in ((0.0, None), (1.0, None), (0.0, np.array([0, 1, 1, 0, 3.0]))):
            with self.subTest(reset=reset, weighted=weights is not None):
                a = train.arguments(["--corpus", "c", "--cache", "k", "--tool", "t",
                                     "--frames-tool", "f", "--out", "o", "--carry",
                                     "--carry-reset", str(reset), "--length", str(length),
                                     "--batch", str(batch), "--lr", "0", "--noise", "0"])
                model = random_net(2, 2).float()
                calls, orders = [], []

                def forward(x, start=None, run=model.forward):
                    out = run(x, start)
                    calls.append((x, start, out[1].detach()))
                    return out

                def order_of(*args, draw=train.stream_order):
                    orders.append(draw(*args))
                    return orders[-1]

                model.forward = forward
                opt = torch.optim.AdamW(model.parameters(), lr=0.0)
                with unittest.mock.patch.object(train, "stream_order", order_of):
                    _, step, peak = train.train_streams(model, opt, a, recordings, weights,
                                                        np.random.default_rng(1), 7, 100)
                del model.forward
                frames = sum(len(x) for x, _ in recordings)
                self.assertEqual(step - 7, len(calls))
                self.assertGreaterEqual(len(calls) * batch * scored, frames)
                self.assertLess((len(calls) - 1) * batch * scored, frames)
                if weights is not None:
                    self.assertTrue(set(orders[0]) <= {1, 2, 4})
                else:
                    self.assertEqual(sorted(orders[0][:len(recordings)]),
                                     list(range(len(recordings))))
                stream = np.concatenate([recordings[r][0] for r in orders[0]]).astype(np.float32)
                labels = np.concatenate([recordings[r][1] for r in orders[0]])
                ends = np.cumsum([len(recordings[r][1]) for r in orders[0]])
                span = len(calls) * scored
                with torch.no_grad():
                    for k in range(batch):
                        pieces = torch.stack([x[k] for x, _, _ in calls])
                        first = k * span + np.arange(len(calls))[:, None] * scored
                        np.testing.assert_array_equal(
                            pieces.numpy(), stream[first + np.arange(length)])
                        _, y, m = train.stream_batch(recordings, orders[0], ends, first[:, 0],
                                                     length, scored)
                        np.testing.assert_array_equal(y.numpy(), labels[first + np.arange(scored)])
                        self.assertTrue((m == 1).all())
                        states = torch.cat([s[k] for _, _, s in calls])
                        if reset == 0.0:
                            whole = torch.from_numpy(stream[k * span:k * span + span + 20])
                            expected = model(whole[None])[1][0]
                        else:
                            expected = torch.cat(list(model(pieces)[1]))
                            self.assertTrue(all(start is None or not start[1].any()
                                                for _, start, _ in calls))
                        torch.testing.assert_close(states, expected, rtol=0, atol=1e-5)
                self.assertAlmostEqual(peak, float(torch.cat([s for _, _, s in calls]).abs()
                                                   .max()), places=6)


def condition_table(f1, fa):
    """A per-condition table with one speech F1 for all speech conditions."""
    return {**{c: {"f1": f1} for c in evaluate.CONDITIONS[:-1]}, "nospeech": {"false_alarm": fa}}


class BiasObjectiveTest(unittest.TestCase):
    def test_false_alarms_over_the_bound_rank_below_and_trade_against_f1(self):
        ranked = [(0.70, 0.03), (0.60, 0.01), (0.90, 0.10), (0.75, 0.07), (0.95, 0.20)]
        scores = [evaluate.mean_f1(condition_table(f1, fa), 0.03) for f1, fa in ranked]
        self.assertEqual(scores, sorted(scores, reverse=True))
        self.assertAlmostEqual(scores[0], 0.70)

    def test_epoch_selection_lets_a_strong_epoch_just_over_the_bound_win(self):
        weak_within, strong_over = condition_table(0.64, 0.026), condition_table(0.80, 0.05)
        self.assertGreater(evaluate.mean_f1(weak_within, 0.03),
                           evaluate.mean_f1(strong_over, 0.03))
        self.assertGreater(evaluate.traded_f1(strong_over, 0.03),
                           evaluate.traded_f1(weak_within, 0.03))
        self.assertAlmostEqual(evaluate.traded_f1(strong_over, 0.03), 0.76)


class ArgumentsTest(unittest.TestCase):
    def test_resume_keeps_the_saved_arguments_but_those_given(self):
        paths = ["--corpus", "c", "--cache", "k", "--tool", "t", "--frames-tool", "f",
                 "--out", "o"]
        first = train.arguments(paths + ["--blocks", "16", "--epochs", "10", "--lr", "0.01"])
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "checkpoint.pt")
            torch.save({"args": vars(first)}, path)
            again = train.arguments(["--corpus", "c2", "--cache", "k", "--tool", "t",
                                     "--frames-tool", "f", "--out", "o", "--resume", path,
                                     "--epochs=20"])
            off = train.arguments(["--corpus", "c", "--cache", "k", "--tool", "t",
                                   "--frames-tool", "f", "--out", "o", "--resume", path,
                                   "--no-carry"])
        self.assertEqual((again.blocks, again.lr, again.epochs, again.corpus, again.carry),
                         (16, 0.01, 20, "c2", True))
        self.assertEqual(again.checkpoint, os.path.join("k", "checkpoint.pt"))
        self.assertEqual((off.blocks, off.carry), (16, False))

    def test_learning_rate_follows_the_steps(self):
        a = train.arguments(["--corpus", "c", "--cache", "k", "--tool", "t", "--frames-tool", "f",
                             "--out", "o", "--lr", "0.01"])
        self.assertAlmostEqual(train.learning_rate(a, 0, 100), 0.01)
        self.assertAlmostEqual(train.learning_rate(a, 50, 100), 0.01 * (0.05 + 0.95 * 0.5))
        self.assertAlmostEqual(train.learning_rate(a, 100, 100), 0.0005)
        self.assertAlmostEqual(train.learning_rate(a, 150, 100), 0.0005)


if __name__ == "__main__":
    unittest.main()
