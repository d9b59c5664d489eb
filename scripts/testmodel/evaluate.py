#!/usr/bin/python3
"""Word error rate of a checkpoint on the held-out phrases, per language, through the PyTorch model
with full zero-padded 30 s windows and greedy decoding: the figures the runtime must agree with.
With --runtime it also transcribes the same items through `velmora-dev transcribe-greedy` and a
model folder, and reports both side by side; --transcribe also through `velmora-dev transcribe` (the
whole road: timestamps, fallback, segments, the silence rule), one call per language."""

import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_WAIT_POLICY", "PASSIVE")

import argparse
import json
import subprocess
import sys
import tempfile

import numpy as np
import torch

from bpe import ByteLevelBPE, byte_alphabet
from export import load
from mel import LogMel
import targets as T
from train import WINDOW, Corpus


def word_errors(reference, hypothesis):
    ref, hyp = reference.split(), hypothesis.split()
    row = list(range(len(hyp) + 1))
    for i in range(1, len(ref) + 1):
        nxt = [i] + [0] * len(hyp)
        for j in range(1, len(hyp) + 1):
            nxt[j] = min(row[j] + 1, nxt[j - 1] + 1, row[j - 1] + (ref[i - 1] != hyp[j - 1]))
        row = nxt
    return row[-1], len(ref)


class TextDecoder:
    def __init__(self):
        vocab = ByteLevelBPE(T.VOCAB).vocab
        self.pieces = {i: s for s, i in vocab.items()}
        self.bytes = {c: b for b, c in byte_alphabet().items()}

    def __call__(self, ids):
        raw = bytes(self.bytes[c] for i in ids if i < T.END_OF_TEXT for c in self.pieces[i])
        return raw.decode("utf-8", errors="replace")


def pytorch_transcripts(model, corpus, items, timestamps, threads, short=False):
    torch.set_num_threads(threads)
    torch.backends.mkldnn.enabled = False
    mel = LogMel()
    out = []
    for start in range(0, len(items), 16):
        chunk = items[start:start + 16]
        longest = max(it["length"] for it in chunk)
        audio = torch.zeros(len(chunk), -(-(longest + 480) // 320) * 320 if short else WINDOW)
        for row, it in enumerate(chunk):
            x = corpus.samples(it)[:WINDOW]
            audio[row, :len(x)] = torch.from_numpy(x)
        features = mel(audio)
        for it, f in zip(chunk, features):
            prompt = [T.START_OF_TRANSCRIPT, T.LANGUAGE[it["lang"]], T.TRANSCRIBE,
                      T.TIME_BEGIN if timestamps else T.NO_TIMESTAMPS]
            out.append(model.greedy(f[None], prompt, T.END_OF_TEXT)[0])
    return out


def runtime_transcripts(tool, model_folder, tokenizer, corpus, items, timestamps):
    out = []
    with tempfile.TemporaryDirectory() as tmp:
        for it in items:
            wav = os.path.join(tmp, "item.wav")
            raw = np.asarray(corpus.audio[it["offset"]: it["offset"] + it["length"]], dtype="<i2").tobytes()
            subprocess.run(["sox", "-q", "-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", "-", wav],
                           input=raw, check=True)
            cmd = [tool, "transcribe-greedy", model_folder, tokenizer, wav, "--language", it["lang"]]
            if timestamps:
                cmd.append("--timestamps")
            lines = subprocess.run(cmd, capture_output=True, check=True, text=True).stdout.splitlines()
            ids = next(l for l in lines if l.startswith("tokens:"))[len("tokens:"):].split()
            out.append([int(i) for i in ids])
    return out


def transcribe_texts(tool, model_folder, tokenizer, corpus, items):
    """Texts of `velmora-dev transcribe`, in item order."""
    texts = {}
    with tempfile.TemporaryDirectory() as tmp:
        for lang in sorted({it["lang"] for it in items}):
            files = []
            for n, it in enumerate(items):
                if it["lang"] != lang:
                    continue
                wav = os.path.join(tmp, f"item-{n}.wav")
                raw = np.asarray(corpus.audio[it["offset"]: it["offset"] + it["length"]], dtype="<i2").tobytes()
                subprocess.run(["sox", "-q", "-t", "raw", "-r", "16000", "-e", "signed", "-b", "16", "-c", "1", "-",
                                wav], input=raw, check=True)
                files.append(wav)
            subprocess.run([tool, "transcribe", model_folder, *files, "--language", lang, "--tokenizer", tokenizer,
                            "--output-dir", os.path.join(tmp, "out")], capture_output=True, check=True)
            for wav in files:
                name = os.path.splitext(os.path.basename(wav))[0]
                with open(os.path.join(tmp, "out", name + ".txt"), encoding="utf-8") as f:
                    texts[int(name.split("-")[1])] = f.read().strip()
    return [texts[n] for n in range(len(items))]


def report(name, items, transcripts, decode=None):
    totals = {}
    for it, ids in zip(items, transcripts):
        e, n = word_errors(it["text"], decode(ids) if decode else ids)
        a, b = totals.get(it["lang"], (0, 0))
        totals[it["lang"]] = (a + e, b + n)
    figures = {lang: 100.0 * e / n for lang, (e, n) in sorted(totals.items())}
    print(f"{name}: " + ", ".join(f"{lang} WER {wer:.2f}%" for lang, wer in figures.items()), flush=True)
    return figures


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--checkpoint", required=True)
    ap.add_argument("--limit", type=int, default=0, help="items per language (0: all)")
    ap.add_argument("--timestamps", action="store_true", help="decode with <|0.00|> instead of no-timestamps")
    ap.add_argument("--runtime", help="model folder to run through velmora-dev as well")
    ap.add_argument("--transcribe", action="store_true", help="also through velmora-dev transcribe (needs --runtime)")
    ap.add_argument("--no-pytorch", action="store_true", help="leave the PyTorch model out (with --runtime)")
    ap.add_argument("--tool", default=os.path.join(T.ROOT, "build", "Tools", "velmora-dev", "velmora-dev"))
    ap.add_argument("--tokenizer", default=T.TOKENIZER)
    ap.add_argument("--threads", type=int, default=2)
    ap.add_argument("--short", action="store_true", help="windows as long as the items, as in the first phase")
    ap.add_argument("--show", type=int, default=0, help="print this many transcripts with errors")
    args = ap.parse_args()

    corpus = Corpus(args.corpus, "test")
    items = corpus.items
    if args.limit:
        items = [it for lang in T.LANGUAGE for it in [x for x in corpus.items if x["lang"] == lang][:args.limit]]
    model, state = load(args.checkpoint)
    decode = TextDecoder()
    print(f"checkpoint step {state['step']}, {len(items)} held-out items", flush=True)
    results = {}
    if args.transcribe and args.runtime:
        texts = transcribe_texts(args.tool, args.runtime, args.tokenizer, corpus, items)
        results["transcribe"] = report("transcribe", items, texts)
    if args.no_pytorch and args.runtime:
        json.dump(results, sys.stdout)
        print()
        return
    torch_ids = pytorch_transcripts(model, corpus, items, args.timestamps, args.threads, args.short)
    results["pytorch"] = report("pytorch", items, torch_ids, decode)
    shown = 0
    for it, ids in zip(items, torch_ids):
        if shown < args.show and decode(ids).split() != it["text"].split():
            print(f"  {it['lang']} ref: {it['text']}\n     hyp: {decode(ids).strip()}")
            shown += 1
    if args.runtime:
        runtime_ids = runtime_transcripts(args.tool, args.runtime, args.tokenizer, corpus, items, args.timestamps)
        results["runtime"] = report("runtime", items, runtime_ids, decode)
        same = sum(a == b for a, b in zip(torch_ids, runtime_ids))
        print(f"identical token sequences: {same} of {len(items)}")
    json.dump(results, sys.stdout)
    print()


if __name__ == "__main__":
    main()
