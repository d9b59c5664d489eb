#!/usr/bin/python3
"""Token ids of every text the corpus speaks, made by the project's own tokenizer on the real
multilingual vocabulary (`velmora-dev tok encode`: one text per input line, one line of ids per
output line), stored as <corpus>/tokens.json {text: [ids]}. Each text is encoded with a leading space,
as the speech models write text after their control tokens.

--check compares against the plain encoder of bpe.py and fails on any difference."""

import argparse
import glob
import json
import os
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
VOCAB = os.path.join(ROOT, "Tests", "Data", "whisper-vocab", "multilingual")
TOKENIZER = os.path.join(ROOT, "Tests", "Data", "whisper-tokenizer", "multilingual")

# Fixed ids of the multilingual vocabulary's control tokens.
END_OF_TEXT = 50257
START_OF_TRANSCRIPT = 50258
LANGUAGE = {"en": 50259, "ru": 50263}
TRANSCRIBE = 50359
NO_TIMESTAMPS = 50363
TIME_BEGIN = 50364
VOCAB_SIZE = 51865


def corpus_texts(corpus):
    texts = set()
    for path in glob.glob(os.path.join(corpus, "*", "items.jsonl")):
        with open(path, encoding="utf-8") as f:
            for line in f:
                item = json.loads(line)
                texts.add(item["text"])
                texts.update(s[2] for s in item["segments"])
    for path in glob.glob(os.path.join(corpus, "long", "*.json")):
        with open(path, encoding="utf-8") as f:
            texts.update(s[2] for s in json.load(f)["segments"])
    return sorted(texts)


def encode_with_tool(tool, tokenizer_folder, texts):
    lines = "".join(" " + t + "\n" for t in texts)
    out = subprocess.run([tool, "tok", "encode", tokenizer_folder, "--no-special"], input=lines.encode("utf-8"),
                         capture_output=True, check=True).stdout.decode("utf-8").splitlines()
    if len(out) != len(texts):
        sys.exit(f"targets: the tokenizer answered {len(out)} lines for {len(texts)} texts")
    return [[int(x) for x in line.split()] for line in out]


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--tool", default=os.path.join(ROOT, "build", "Tools", "velmora-dev", "velmora-dev"))
    ap.add_argument("--tokenizer", default=TOKENIZER, help="tokenizer folder (default: the multilingual one)")
    ap.add_argument("--python-only", action="store_true",
                    help="encode with bpe.py alone (only while the project's tokenizer is not built)")
    ap.add_argument("--check", action="store_true", help="also encode with bpe.py and compare")
    args = ap.parse_args()

    texts = corpus_texts(args.corpus)
    if args.python_only or args.check:
        from bpe import ByteLevelBPE
        bpe = ByteLevelBPE(VOCAB)
        reference = [bpe.encode(" " + t) for t in texts]
    ids = reference if args.python_only else encode_with_tool(args.tool, args.tokenizer, texts)
    if args.check:
        bad = [t for t, a, b in zip(texts, ids, reference) if a != b]
        if bad:
            sys.exit(f"targets: {len(bad)} texts differ between the tokenizer and bpe.py, e.g. {bad[:3]}")
    with open(os.path.join(args.corpus, "tokens.json"), "w", encoding="utf-8") as f:
        json.dump(dict(zip(texts, ids)), f, ensure_ascii=False)
    print(f"targets: {len(texts)} texts, {sum(map(len, ids))} tokens", file=sys.stderr)


if __name__ == "__main__":
    main()
