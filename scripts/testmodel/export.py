#!/usr/bin/python3
"""Exports a training checkpoint (<run>/last.pt) as a checkpoint folder in the common layout
(config.json, generation_config.json with the alignment heads, model.safetensors in Float32), which
`velmora-dev model convert <folder> <model-folder> --dtype f16` turns into the three bundles."""

import argparse
import json
import os
import struct

import numpy as np
import torch

from model import SpeechModel, checkpoint_config


def write_safetensors(path, tensors):
    header, blobs, offset = {"__metadata__": {"format": "pt"}}, [], 0
    for name, array in tensors.items():
        data = np.ascontiguousarray(array, dtype="<f4").tobytes()
        header[name] = {"dtype": "F32", "shape": list(array.shape), "data_offsets": [offset, offset + len(data)]}
        blobs.append(data)
        offset += len(data)
    text = json.dumps(header).encode("utf-8")
    text += b" " * (-len(text) % 8)
    with open(path, "wb") as f:
        f.write(struct.pack("<Q", len(text)))
        f.write(text)
        for blob in blobs:
            f.write(blob)


def load(path):
    state = torch.load(path, map_location="cpu")
    model = SpeechModel(**state["hparams"])
    model.load_state_dict(state["model"])
    model.eval()
    return model, state


def main():
    ap = argparse.ArgumentParser(description=__doc__)
    ap.add_argument("--checkpoint", required=True, help="a .pt file written by train.py")
    ap.add_argument("--out", required=True)
    args = ap.parse_args()
    model, state = load(args.checkpoint)
    hp = model.hparams
    os.makedirs(args.out, exist_ok=True)
    with open(os.path.join(args.out, "config.json"), "w") as f:
        json.dump(checkpoint_config(hp), f, indent=2)
    # Word timing reads every head of the upper half of the decoder layers.
    heads = [[layer, head] for layer in range(hp["decoder_layers"] // 2, hp["decoder_layers"])
             for head in range(hp["heads"])]
    with open(os.path.join(args.out, "generation_config.json"), "w") as f:
        json.dump({"alignment_heads": heads}, f)
    tensors = {"model." + name: value.numpy() for name, value in model.state_dict().items()}
    write_safetensors(os.path.join(args.out, "model.safetensors"), tensors)
    print(f"exported step {state['step']} of {args.checkpoint} to {args.out}")


if __name__ == "__main__":
    main()
