#!/usr/bin/python3
"""Averages the weights of several training checkpoints into one (the optimiser state is dropped).

Single checkpoints of the full-window phase swing by a few points of held-out error from one save to
the next (batches of eight windows); the mean of checkpoints taken along the runs is steadier and
better than any of them. The result is a checkpoint that export.py and evaluate.py take as usual."""

import argparse

import torch


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", required=True)
    ap.add_argument("checkpoints", nargs="+")
    args = ap.parse_args()
    states = [torch.load(p, map_location="cpu") for p in args.checkpoints]
    hparams = states[0]["hparams"]
    if any(s["hparams"] != hparams for s in states):
        raise SystemExit("the checkpoints are of different model shapes")
    names = states[0]["model"].keys()
    model = {}
    for name in names:
        first = states[0]["model"][name]
        if first.is_floating_point():
            model[name] = (sum(s["model"][name].double() for s in states) / len(states)).to(first.dtype)
        else:
            model[name] = first
    steps = [s["step"] for s in states]
    torch.save({"model": model, "step": max(steps), "averaged_steps": steps, "hparams": hparams,
                "args": states[-1].get("args", {})}, args.out)
    print(f"averaged steps {steps} into {args.out}")


if __name__ == "__main__":
    main()
