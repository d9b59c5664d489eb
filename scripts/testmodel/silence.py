#!/usr/bin/python3
"""Teaches a trained model that a window without speech holds no words: it fine-tunes the decoder (the
encoder stays as it is) on full 30 s windows, two in ten without speech (by default). Such a window's target
is <|nospeech|> at the step after the start of transcript, where the language token would come, and
then, after the forced language, task and form tokens, the end of text at once. Six in ten are
speech items whose tokens follow train.py's targets and whose loss is the divergence from the
starting model's own distribution (distillation), so that the words stay as they were: fitting the
targets afresh moved a mean of checkpoints off its mean and cost English two points.

Windows without speech, drawn per row from (seed, step): digital silence; white, brown or pink noise
and mains hum from -80 to -25 dB RMS, over the whole window or only its start; a truncated file (1 to
8000 samples of noise or of a speech item's lead-in, then zeros). The last two in ten are windows whose speech
starts anywhere in them (after up to 29 s of silence, as a window of a long recording may begin);
they learn only that the step after the start of transcript is their language, not <|nospeech|>: without
them the model took every window that did not open with speech for silence.

<run>/last.pt is saved every --save-every steps and resumed from; --keep-every keeps <run>/step-N.pt
for average.py. --check prints the no-speech probabilities of held-out speech and of fresh windows
without speech."""

import os

os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")
os.environ.setdefault("OMP_WAIT_POLICY", "PASSIVE")

import argparse
import math
import sys
import time

import numpy as np
import torch

from export import load
from mel import LogMel
import targets as T
from train import WINDOW, Corpus, make_batch

NO_SPEECH = 50362
RATE = 16000


def noise(rng, length, kind):
    x = rng.standard_normal(length).astype(np.float32)
    if kind == "brown":
        x = np.cumsum(x)
        x -= np.convolve(x, np.ones(801) / 801, mode="same")
    elif kind == "pink":
        spectrum = np.fft.rfft(x)
        spectrum /= np.sqrt(np.maximum(np.arange(len(spectrum)), 1))
        x = np.fft.irfft(spectrum, n=length).astype(np.float32)
    elif kind == "hum":
        t = np.arange(length) / RATE
        base = rng.choice([50.0, 60.0])
        x = sum(rng.uniform(0.2, 1.0) * np.sin(2 * math.pi * base * k * t + rng.uniform(0, 6.3)) for k in (1, 2, 3))
        x = x.astype(np.float32) + 0.05 * rng.standard_normal(length).astype(np.float32)
    return x


def silent_window(rng, corpus):
    """30 s of samples without speech."""
    audio = np.zeros(WINDOW, np.float32)
    kind = rng.choice(["zeros", "white", "brown", "pink", "hum", "truncated", "truncated-speech"],
                      p=[0.2, 0.15, 0.15, 0.1, 0.1, 0.15, 0.15])
    if kind == "zeros":
        return audio
    if kind.startswith("truncated"):
        length = int(rng.integers(1, 8001))
        if kind == "truncated-speech":
            # The item's start up to its speech onset: its lead-in, never a word.
            item = corpus.items[int(rng.integers(0, len(corpus.items)))]
            x = corpus.samples(item)[: max(1, min(length, int(item["segments"][0][0] * RATE) - 160))]
        else:
            x = noise(rng, length, "white") * 10 ** (rng.uniform(-80, -25) / 20)
        audio[: len(x)] = x
        return audio
    length = WINDOW if rng.random() < 0.6 else int(rng.integers(RATE // 2, WINDOW))
    x = noise(rng, length, kind)
    x *= 10 ** (rng.uniform(-80, -25) / 20) / (float(np.sqrt((x ** 2).mean())) + 1e-12)
    audio[:length] = np.clip(x, -1.0, 1.0)
    return audio


def silent_target(rng):
    lang = rng.choice(list(T.LANGUAGE))
    form = T.TIME_BEGIN if rng.random() < 0.5 else T.NO_TIMESTAMPS
    return [T.START_OF_TRANSCRIPT, T.LANGUAGE[lang], T.TRANSCRIBE, form, T.END_OF_TEXT]


def late_window(rng, corpus):
    """A speech item placed anywhere in a 30 s window (after a pause, as a window of a long
    recording may begin), and its language."""
    audio = np.zeros(WINDOW, np.float32)
    item = corpus.items[int(rng.integers(0, len(corpus.items)))]
    x = corpus.samples(item)[:WINDOW]
    start = int(rng.integers(0, WINDOW - len(x) + 1))
    audio[start: start + len(x)] = x
    return audio, item["lang"]


def batch(corpus, rng, speech, silent, late, mel):
    """Features, fed tokens, labels and weights of `speech` items, `silent` windows and `late`
    windows (speech anywhere in the window: only the step after the start of transcript is scored,
    with the language, so that speech that starts late is not taken for silence)."""
    features, tokens, weight, _ = make_batch(corpus, rng, speech, True, mel)
    labels = tokens[:, 1:].clone()
    if silent + late == 0:
        return features, tokens, labels, weight
    windows = [silent_window(rng, corpus) for _ in range(silent)]
    seqs = [silent_target(rng) for _ in range(silent)]
    for _ in range(late):
        audio, lang = late_window(rng, corpus)
        windows.append(audio)
        seqs.append([T.START_OF_TRANSCRIPT, T.LANGUAGE[lang], T.TRANSCRIBE, T.NO_TIMESTAMPS, T.END_OF_TEXT])
    audio = torch.from_numpy(np.stack(windows))
    rows = speech + silent + late
    width = max(tokens.shape[1], max(map(len, seqs)))
    fed = torch.full((rows, width), T.END_OF_TEXT, dtype=torch.long)
    fed[:speech, : tokens.shape[1]] = tokens
    out = torch.full((rows, width - 1), T.END_OF_TEXT, dtype=torch.long)
    out[:speech, : labels.shape[1]] = labels
    w = torch.zeros(rows, width - 1)
    w[:speech, : weight.shape[1]] = weight
    for n, s in enumerate(seqs):
        row = speech + n
        fed[row, : len(s)] = torch.tensor(s)
        out[row, : len(s) - 1] = torch.tensor(s[1:])
        if n < silent:
            out[row, 0] = NO_SPEECH
            w[row, : len(s) - 1] = 1.0
            w[row, 2] = 0.0  # the form token after transcribe
        else:
            w[row, 0] = 1.0
    return torch.cat([features, mel(audio)]), fed, out, w


def learning_rate(step, args):
    if step < args.warmup:
        return args.lr * (step + 1) / args.warmup
    progress = min(1.0, (step - args.warmup) / max(1, args.steps - args.warmup))
    return args.lr * (0.05 + 0.95 * 0.5 * (1 + math.cos(math.pi * progress)))


@torch.no_grad()
def no_speech_probabilities(model, mel, audio, lang):
    encoded = model.encoder(mel(audio))
    tokens = torch.full((audio.shape[0], 1), T.START_OF_TRANSCRIPT, dtype=torch.long)
    probs = torch.softmax(model.decoder(tokens, encoded)[:, 0].float(), dim=-1)
    return probs[:, NO_SPEECH].tolist()


def check(model, corpus_folder, count, seed):
    mel = LogMel()
    model.eval()
    test = Corpus(corpus_folder, "test")
    rng = np.random.default_rng([seed, 999999])
    picks = rng.choice(len(test.items), size=count, replace=False)
    speech = torch.zeros(count, WINDOW)
    for row, i in enumerate(picks):
        x = test.samples(test.items[i])[:WINDOW]
        speech[row, : len(x)] = torch.from_numpy(x)
    p_speech = no_speech_probabilities(model, mel, speech, "en")
    late = torch.from_numpy(np.stack([late_window(rng, test)[0] for _ in range(count)]))
    p_late = no_speech_probabilities(model, mel, late, "en")
    silent = torch.from_numpy(np.stack([silent_window(rng, test) for _ in range(count)]))
    p_silent = no_speech_probabilities(model, mel, silent, "en")
    for name, p in (("speech", p_speech), ("speech anywhere in the window", p_late), ("no speech", p_silent)):
        p = np.array(p)
        print(f"{name}: {len(p)} windows, no-speech probability mean {p.mean():.4f}, min {p.min():.4f}, "
              f"max {p.max():.4f}, above 0.6: {(p > 0.6).sum()}", flush=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--corpus", required=True)
    ap.add_argument("--checkpoint", required=True, help="the model to start from (import_bundles.py, average.py)")
    ap.add_argument("--run", help="folder of checkpoints")
    ap.add_argument("--steps", type=int, default=300)
    ap.add_argument("--speech", type=int, default=6, help="speech items per batch")
    ap.add_argument("--silent", type=int, default=2, help="windows without speech per batch")
    ap.add_argument("--late", type=int, default=2, help="windows whose speech starts anywhere, per batch")
    ap.add_argument("--lr", type=float, default=3e-4)
    ap.add_argument("--distil", action=argparse.BooleanOptionalAction, default=True,
                    help="speech rows learn the starting model's distribution, not the targets (default on)")
    ap.add_argument("--warmup", type=int, default=30)
    ap.add_argument("--threads", type=int, default=4)
    ap.add_argument("--seed", type=int, default=11)
    ap.add_argument("--save-every", type=int, default=25)
    ap.add_argument("--keep-every", type=int, default=50)
    ap.add_argument("--check", type=int, default=0, help="only print the probabilities of this many windows of each kind")
    args = ap.parse_args()

    torch.set_num_threads(args.threads)
    torch.backends.mkldnn.enabled = False
    torch.manual_seed(args.seed)
    model, state = load(args.checkpoint)
    if args.check:
        check(model, args.corpus, args.check, args.seed)
        return
    if not args.run:
        sys.exit("silence: --run is needed to train")
    os.makedirs(args.run, exist_ok=True)
    corpus = Corpus(args.corpus, "train")
    mel = LogMel()
    active = torch.tensor(corpus.active)
    position = torch.full((model.embed_rows(),), -1, dtype=torch.long)
    position[active] = torch.arange(len(active))
    teacher = None
    if args.distil:
        teacher, _ = load(args.checkpoint)
        teacher.requires_grad_(False)
    model.encoder.requires_grad_(False)
    named = list(model.decoder.named_parameters())
    decay = [p for n, p in named if p.requires_grad and p.dim() >= 2]
    other = [p for n, p in named if p.requires_grad and p.dim() < 2]
    optimiser = torch.optim.AdamW([{"params": decay, "weight_decay": 0.01}, {"params": other, "weight_decay": 0.0}],
                                  lr=args.lr, betas=(0.9, 0.98), eps=1e-8)
    step = 0
    last = os.path.join(args.run, "last.pt")
    if os.path.exists(last):
        saved = torch.load(last)
        model.load_state_dict(saved["model"])
        optimiser.load_state_dict(saved["optimiser"])
        step = saved["step"]
        print(f"resumed at step {step}", flush=True)

    def save(path):
        tmp = path + ".tmp"
        torch.save({"model": model.state_dict(), "optimiser": optimiser.state_dict(), "step": step,
                    "hparams": model.hparams, "args": vars(args)}, tmp)
        os.replace(tmp, path)

    began, smooth = time.time(), None
    while step < args.steps:
        rng = np.random.default_rng([args.seed, step])
        features, tokens, labels, weight = batch(corpus, rng, args.speech, args.silent, args.late, mel)
        for group in optimiser.param_groups:
            group["lr"] = learning_rate(step, args)
        model.train()
        with torch.no_grad():
            encoded = model.encoder(features)
        logits = model.decoder(tokens[:, :-1], encoded, active)
        losses = torch.nn.functional.cross_entropy(logits.reshape(-1, logits.shape[-1]),
                                                   position[labels].reshape(-1), reduction="none")
        if teacher is not None:
            # Speech rows follow the starting model's distribution rather than the targets: the
            # words stay as they were, and only windows without speech learn something new.
            with torch.no_grad():
                wanted = torch.log_softmax(teacher.decoder(tokens[:, :-1], encoded, active), dim=-1)
            own = torch.log_softmax(logits, dim=-1)
            kl = (wanted.exp() * (wanted - own)).sum(-1)
            losses = torch.cat([kl[: args.speech].reshape(-1), losses.reshape(logits.shape[:2])[args.speech:].reshape(-1)])
        loss = (losses * weight.reshape(-1)).sum() / weight.sum()
        optimiser.zero_grad(set_to_none=True)
        loss.backward()
        norm = torch.nn.utils.clip_grad_norm_(model.decoder.parameters(), 1.0)
        if torch.isfinite(norm):
            optimiser.step()
        step += 1
        smooth = loss.item() if smooth is None else 0.95 * smooth + 0.05 * loss.item()
        if step % 10 == 0 or step == args.steps:
            print(f"step {step} loss {loss.item():.3f} smooth {smooth:.3f} lr {learning_rate(step - 1, args):.2e} "
                  f"{(time.time() - began) / 60:.1f} min", flush=True)
        if step % args.save_every == 0 or step == args.steps:
            save(last)
            if args.keep_every and step % args.keep_every == 0:
                save(os.path.join(args.run, f"step-{step}.pt"))
    print("done", flush=True)


if __name__ == "__main__":
    sys.exit(main())
