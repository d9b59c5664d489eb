#!/usr/bin/python3
"""Copies the committed test recordings out of the corpus: the first --per-language held-out phrases of
each language as 16-bit WAV files with transcripts.tsv (file, language, speech start and end in
seconds, text), and the first long
recording of each language as FLAC with its segment timing (JSON)."""

import argparse
import json
import os
import shutil
import subprocess

import numpy as np


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--out", required=True)
    ap.add_argument("--per-language", type=int, default=6)
    args = ap.parse_args()
    os.makedirs(args.out, exist_ok=True)
    audio = np.load(os.path.join(args.corpus, "test", "audio.npy"), mmap_mode="r")
    with open(os.path.join(args.corpus, "test", "items.jsonl"), encoding="utf-8") as f:
        items = [json.loads(line) for line in f]
    rows = []
    for lang in ("en", "ru"):
        for n, it in enumerate([x for x in items if x["lang"] == lang][: args.per_language]):
            name = f"{lang}-{n + 1:02d}.wav"
            raw = np.asarray(audio[it["offset"]: it["offset"] + it["length"]], dtype="<i2").tobytes()
            subprocess.run(["sox", "-q", "-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", "-",
                            os.path.join(args.out, name)], input=raw, check=True)
            start, end = it["segments"][0][0], it["segments"][-1][1]
            rows.append(f"{name}\t{lang}\t{start:.2f}\t{end:.2f}\t{it['text']}\n")
    with open(os.path.join(args.out, "transcripts.tsv"), "w", encoding="utf-8") as f:
        f.writelines(rows)
    for lang in ("en", "ru"):
        source = os.path.join(args.corpus, "long", f"{lang}-1")
        subprocess.run(["sox", "-q", source + ".wav", os.path.join(args.out, f"long-{lang}.flac")], check=True)
        shutil.copy(source + ".json", os.path.join(args.out, f"long-{lang}.json"))


if __name__ == "__main__":
    main()
