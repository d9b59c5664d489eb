#!/usr/bin/python3
"""Trains the test speech model on the synthetic corpus. Two phases: most steps on short windows
(each batch zero-padded to its longest item, so the mel frames are a prefix of the full window's),
then fine-tuning on full, zero-padded 30 s windows as the runtime feeds them.

Each step's batch and target forms follow from (seed, step) alone, and <run>/last.pt holds the model,
the optimiser and the step, so a stopped run resumes where it stopped and gives the same result.
Targets: [start-of-transcript, language, transcribe] then either no-timestamps and the text, or per
segment <|start|> text <|end|> (the first start at the onset or, half the time, at <|0.00|>); then
end-of-text. The token after transcribe is not scored (it is the
caller's choice of form).

An auxiliary CTC loss on the encoder output (a linear head over the same active ids, dropped at
export) teaches the encoder to hear words long before the decoder's attention finds them on its own;
without it the model sat for thousands of steps on the phrase statistics alone."""

import os

# One thread each for OpenMP and OpenBLAS unless told otherwise: on a machine shared with builds,
# spinning worker threads made training up to ten times slower.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_WAIT_POLICY", "PASSIVE")

import argparse
import json
import math
import random
import sys
import time

import numpy as np
import torch

from mel import LogMel
from model import SpeechModel
import targets as T

WINDOW = 480000


class Corpus:
    def __init__(self, folder, split):
        self.audio = np.load(os.path.join(folder, split, "audio.npy"), mmap_mode="r")
        with open(os.path.join(folder, split, "items.jsonl"), encoding="utf-8") as f:
            self.items = [json.loads(line) for line in f]
        with open(os.path.join(folder, "tokens.json"), encoding="utf-8") as f:
            self.tokens = json.load(f)
        # Ids the model can ever be asked to produce: corpus text tokens and every control token.
        self.active = sorted(set(range(T.END_OF_TEXT, T.VOCAB_SIZE)) | {i for ids in self.tokens.values() for i in ids})
        self.by_length = np.argsort([it["length"] for it in self.items], kind="stable")

    def samples(self, item):
        return self.audio[item["offset"]: item["offset"] + item["length"]].astype(np.float32) / 32768.0

    def target(self, item, timestamps, from_zero=False):
        """`from_zero` opens the first segment at <|0.00|>, the window's start, as a caller that
        prefills that token asks for; otherwise at the speech onset."""
        prompt = [T.START_OF_TRANSCRIPT, T.LANGUAGE[item["lang"]], T.TRANSCRIBE]
        if not timestamps:
            return prompt + [T.NO_TIMESTAMPS] + self.tokens[item["text"]] + [T.END_OF_TEXT]
        out = prompt
        for n, (start, end, text) in enumerate(item["segments"]):
            opening = T.TIME_BEGIN if n == 0 and from_zero else T.TIME_BEGIN + round(start / 0.02)
            out = out + [opening] + self.tokens[text] + [T.TIME_BEGIN + round(end / 0.02)]
        return out + [T.END_OF_TEXT]


def make_batch(corpus, rng, size, full, mel):
    """A batch of items of similar length: a random stretch of the length-sorted items."""
    n = len(corpus.items)
    span = min(n, 4 * size)
    start = rng.integers(0, n - span + 1)
    picks = rng.choice(corpus.by_length[start:start + span], size=size, replace=False)
    items = [corpus.items[i] for i in picks]
    longest = max(it["length"] for it in items)
    length = WINDOW if full else min(WINDOW, -(-(longest + 480) // 320) * 320)
    audio = torch.zeros(size, length)
    for row, it in enumerate(items):
        x = corpus.samples(it)[: length]
        audio[row, : len(x)] = torch.from_numpy(x)
    forms = rng.random((len(items), 2))
    seqs = [corpus.target(it, bool(f[0] < 0.5), bool(f[1] < 0.5)) for it, f in zip(items, forms)]
    texts = [corpus.tokens[it["text"]] for it in items]
    width = max(map(len, seqs))
    tokens = torch.full((size, width), T.END_OF_TEXT, dtype=torch.long)
    weight = torch.zeros(size, width - 1)
    for row, s in enumerate(seqs):
        tokens[row, : len(s)] = torch.tensor(s)
        weight[row, : len(s) - 1] = 1.0
        weight[row, 2] = 0.0  # the form token after transcribe
    return mel(audio), tokens, weight, texts


def learning_rate(step, args):
    total = args.short_steps + args.full_steps
    if step < args.warmup:
        return args.lr * (step + 1) / args.warmup
    progress = min(1.0, (step - args.warmup) / max(1, total - args.warmup))
    return args.lr * (0.05 + 0.95 * 0.5 * (1 + math.cos(math.pi * progress)))


def save(path, model, ctc, optimiser, step, args):
    tmp = path + ".tmp"
    torch.save({"model": model.state_dict(), "ctc": ctc.state_dict(), "optimiser": optimiser.state_dict(), "step": step,
                "hparams": model.hparams, "args": vars(args)}, tmp)
    os.replace(tmp, path)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--run", required=True, help="folder of checkpoints and logs")
    ap.add_argument("--width", type=int, default=192)
    ap.add_argument("--heads", type=int, default=4)
    ap.add_argument("--encoder-layers", type=int, default=3)
    ap.add_argument("--decoder-layers", type=int, default=3)
    ap.add_argument("--batch", type=int, default=24)
    ap.add_argument("--full-batch", type=int, default=8)
    ap.add_argument("--short-steps", type=int, default=3000)
    ap.add_argument("--full-steps", type=int, default=300)
    ap.add_argument("--lr", type=float, default=1.5e-3)
    ap.add_argument("--warmup", type=int, default=300)
    ap.add_argument("--ctc-weight", type=float, default=0.5)
    ap.add_argument("--threads", type=int, default=1)
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--save-every", type=int, default=100)
    ap.add_argument("--keep-every", type=int, default=0,
                    help="in the full-window phase, also keep <run>/step-N.pt every this many steps (for average.py)")
    ap.add_argument("--verbose", action="store_true")
    ap.add_argument("--max-minutes", type=float, default=0, help="stop (after saving) once this much time has passed")
    args = ap.parse_args()

    torch.set_num_threads(args.threads)
    # The oneDNN convolution backward of this torch build returned gradients of 1e19 for some window
    # lengths; the plain implementation is as fast for these sizes.
    torch.backends.mkldnn.enabled = False
    torch.manual_seed(args.seed)
    random.seed(args.seed)
    os.makedirs(args.run, exist_ok=True)
    corpus = Corpus(args.corpus, "train")
    mel = LogMel()
    model = SpeechModel(width=args.width, heads=args.heads, encoder_layers=args.encoder_layers,
                        decoder_layers=args.decoder_layers)
    ctc = torch.nn.Linear(args.width, len(corpus.active) + 1)  # the last column is the CTC blank
    named = list(model.named_parameters()) + (list(ctc.named_parameters()) if args.ctc_weight > 0 else [])
    decay = [p for n, p in named if p.requires_grad and p.dim() >= 2]
    other = [p for n, p in named if p.requires_grad and p.dim() < 2]
    optimiser = torch.optim.AdamW([{"params": decay, "weight_decay": 0.01}, {"params": other, "weight_decay": 0.0}],
                                  lr=args.lr, betas=(0.9, 0.98), eps=1e-8)
    active = torch.tensor(corpus.active)
    position = torch.full((model.embed_rows(),), -1, dtype=torch.long)  # id -> column of the active logits
    position[active] = torch.arange(len(active))
    model.keep_only(active)
    step = 0
    last = os.path.join(args.run, "last.pt")
    if os.path.exists(last):
        state = torch.load(last)
        model.load_state_dict(state["model"])
        if "ctc" in state:
            ctc.load_state_dict(state["ctc"])
        optimiser.load_state_dict(state["optimiser"])
        step = state["step"]
        print(f"resumed at step {step}", flush=True)
    params = sum(p.numel() for p in model.parameters() if p.requires_grad)
    print(f"model {model.hparams}, {params / 1e6:.2f} M trained parameters", flush=True)

    began, seen, smooth = time.time(), 0, None
    total = args.short_steps + args.full_steps
    while step < total:
        full = step >= args.short_steps
        rng = np.random.default_rng([args.seed, step])
        features, tokens, weight, texts = make_batch(corpus, rng, args.full_batch if full else args.batch, full, mel)
        for group in optimiser.param_groups:
            group["lr"] = learning_rate(step, args)
        model.train()
        encoded = model.encoder(features)
        logits = model.decoder(tokens[:, :-1], encoded, active)
        losses = torch.nn.functional.cross_entropy(logits.reshape(-1, logits.shape[-1]),
                                                   position[tokens[:, 1:]].reshape(-1), reduction="none")
        loss = (losses * weight.reshape(-1)).sum() / weight.sum()
        if args.ctc_weight > 0:
            log_probs = torch.log_softmax(ctc(encoded), dim=-1).transpose(0, 1)  # [T, B, C]
            ctc_targets = torch.cat([position[torch.tensor(t)] for t in texts])
            ctc_loss = torch.nn.functional.ctc_loss(
                log_probs, ctc_targets, torch.full((len(texts),), log_probs.shape[0], dtype=torch.long),
                torch.tensor([len(t) for t in texts]), blank=len(active), zero_infinity=True)
            total_loss = loss + args.ctc_weight * ctc_loss
        else:
            total_loss = loss
        optimiser.zero_grad(set_to_none=True)
        total_loss.backward()
        norm = torch.nn.utils.clip_grad_norm_(model.parameters(), 1.0)
        if torch.isfinite(norm):
            optimiser.step()
        else:
            print(f"step {step}: gradient norm {norm.item()}, step skipped", flush=True)
        step += 1
        seen += tokens.shape[0]
        smooth = loss.item() if smooth is None else 0.98 * smooth + 0.02 * loss.item()
        if step % 20 == 0 or step == total or args.verbose:
            rate = seen / (time.time() - began)
            print(f"step {step} {'full' if full else 'short'} window {features.shape[-1]} loss {loss.item():.3f} "
                  f"smooth {smooth:.3f} ctc {ctc_loss.item() if args.ctc_weight > 0 else 0:.3f} lr {learning_rate(step - 1, args):.2e} {rate:.1f} samples/s", flush=True)
        out_of_time = args.max_minutes and time.time() - began > 60 * args.max_minutes
        if step % args.save_every == 0 or step == total or out_of_time or step == args.short_steps:
            save(last, model, ctc, optimiser, step, args)
            if step == args.short_steps:
                save(os.path.join(args.run, "short.pt"), model, ctc, optimiser, step, args)
            if args.keep_every and step > args.short_steps and step % args.keep_every == 0:
                save(os.path.join(args.run, f"step-{step}.pt"), model, ctc, optimiser, step, args)
        if out_of_time:
            print(f"stopped at step {step} (time limit)", flush=True)
            return
    print("done", flush=True)


if __name__ == "__main__":
    sys.exit(main())
