"""A plain byte-level BPE encoder over vocab.json + merges.txt, enough for the corpus' lower-case
words separated by single spaces. It only cross-checks the project's tokenizer: the targets the
model trains on come from `velmora-dev tok encode-lines` (see targets.py)."""

import json
import os
import re


def byte_alphabet():
    printable = list(range(33, 127)) + list(range(161, 173)) + list(range(174, 256))
    table, extra = {}, 0
    for b in range(256):
        if b in printable:
            table[b] = chr(b)
        else:
            table[b] = chr(256 + extra)
            extra += 1
    return table


class ByteLevelBPE:
    def __init__(self, folder):
        with open(os.path.join(folder, "vocab.json"), encoding="utf-8") as f:
            self.vocab = json.load(f)
        self.ranks = {}
        with open(os.path.join(folder, "merges.txt"), encoding="utf-8") as f:
            for line in f:
                line = line.rstrip("\n")
                if not line or line.startswith("#version"):
                    continue
                a, b = line.split(" ")
                self.ranks[(a, b)] = len(self.ranks)
        self.bytes = byte_alphabet()

    def _word(self, piece):
        symbols = [self.bytes[b] for b in piece.encode("utf-8")]
        while len(symbols) > 1:
            pairs = [(self.ranks.get((symbols[i], symbols[i + 1]), 1 << 30), i) for i in range(len(symbols) - 1)]
            rank, i = min(pairs)
            if rank == 1 << 30:
                break
            a, b = symbols[i], symbols[i + 1]
            merged, j = [], 0
            while j < len(symbols):
                if j + 1 < len(symbols) and symbols[j] == a and symbols[j + 1] == b:
                    merged.append(a + b)
                    j += 2
                else:
                    merged.append(symbols[j])
                    j += 1
            symbols = merged
        return [self.vocab[s] for s in symbols]

    def encode(self, text):
        ids = []
        for piece in re.findall(r" ?[^ ]+| +", text):
            ids.extend(self._word(piece))
        return ids
