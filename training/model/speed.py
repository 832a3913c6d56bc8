"""Whole-program speed: tarvik on one core over the validation recordings joined into one."""
import argparse
import os
import shutil
import subprocess
import tempfile
import time
import wave

import data


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--corpus", required=True)
    p.add_argument("--models", required=True)
    p.add_argument("--tarvik", required=True)
    a = p.parse_args()
    split_dir = os.path.join(a.corpus, "valid")
    work = tempfile.mkdtemp(prefix="tarvik-speed-")
    try:
        samples = 0
        with wave.open(os.path.join(work, "all.wav"), "wb") as out:
            out.setnchannels(1)
            out.setsampwidth(2)
            out.setframerate(16000)
            for row in data.read_manifest(split_dir):
                with wave.open(os.path.join(split_dir, row["id"] + ".wav")) as w:
                    samples += w.getnframes()
                    out.writeframes(w.readframes(w.getnframes()))
        for name in ("media.am", "media.norm"):
            shutil.copy(os.path.join(a.models, name), work)
        best = None
        for _ in range(3):
            start = time.time()
            subprocess.run(["taskset", "-c", "0", os.path.abspath(a.tarvik), "all.wav", "all.TextGrid"],
                           cwd=work, check=True, stdout=subprocess.DEVNULL)
            took = time.time() - start
            best = took if best is None else min(best, took)
        seconds = samples / 16000
        print(f"speed: {seconds:.0f} s of audio in {best:.2f} s on one core: "
              f"{seconds / best:.0f} times real time (best of 3)")
    finally:
        shutil.rmtree(work)


if __name__ == "__main__":
    main()
