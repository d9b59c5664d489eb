#!/usr/bin/python3
"""Reads a model folder of bundles (AudioEncoder and TextDecoder, Float16 safetensors under the common
checkpoint names) back into a checkpoint that export.py, evaluate.py and silence.py take, so that the
committed model can be trained further without its original training checkpoints."""

import argparse
import json
import os
import struct

import numpy as np
import torch

from model import SpeechModel


def read_safetensors(path):
    with open(path, "rb") as f:
        size = struct.unpack("<Q", f.read(8))[0]
        header = json.loads(f.read(size))
        data = f.read()
    types = {"F16": "<f2", "F32": "<f4"}
    tensors = {}
    for name, entry in header.items():
        if name == "__metadata__":
            continue
        begin, end = entry["data_offsets"]
        array = np.frombuffer(data[begin:end], dtype=types[entry["dtype"]]).reshape(entry["shape"])
        tensors[name] = torch.from_numpy(array.astype(np.float32))
    return tensors


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--model", required=True, help="folder holding AudioEncoder.mlmodelc and TextDecoder.mlmodelc")
    ap.add_argument("--out", required=True, help="the checkpoint (.pt) to write")
    args = ap.parse_args()
    with open(os.path.join(args.model, "TextDecoder.mlmodelc", "model.json"), encoding="utf-8") as f:
        hp = json.load(f)["hparams"]
    tensors = {}
    for bundle in ("AudioEncoder", "TextDecoder"):
        tensors.update(read_safetensors(os.path.join(args.model, bundle + ".mlmodelc", "weights.safetensors")))
    encoder_layers = len({name.split(".")[3] for name in tensors if name.startswith("model.encoder.layers.")})
    model = SpeechModel(width=hp["n_text_state"], heads=hp["n_text_head"], encoder_layers=encoder_layers,
                        decoder_layers=hp["n_text_layer"], vocab=hp["n_vocab"])
    state = {name[len("model."):]: value for name, value in tensors.items()}
    model.load_state_dict(state, strict=True)
    torch.save({"model": model.state_dict(), "step": 0, "hparams": model.hparams, "args": {"imported": args.model}},
               args.out)
    print(f"imported {args.model} ({encoder_layers} + {hp['n_text_layer']} layers, width {hp['n_text_state']}) "
          f"into {args.out}")


if __name__ == "__main__":
    main()
