#!/usr/bin/python3
"""Speaks the synthetic corpus: random Russian and English phrases of 3 to 8 words from the closed
vocabularies, with espeak-ng (varied voices, speeds, pitches, word gaps), resampled by sox to 16 kHz
mono, then given a random gain, leading/trailing silence, a channel colouring and a little noise.

Out folder layout:
  train/audio.npy, train/items.jsonl    training items (a sixth of them hold two phrases and a pause)
  test/audio.npy,  test/items.jsonl     held-out phrases: no training item says any of them
  long/<lang>-<n>.wav + .json           30-90 s recordings of several held-out phrases with pauses
An item: {"id","lang","text","offset","length","segments":[[start_s,end_s,text],...],"voice",...};
offset/length index the split's int16 sample array; segments time the speech inside the item.
Everything follows from --seed."""

import argparse
import json
import os
import random
import subprocess
import sys
from multiprocessing import Pool

import numpy as np

from vocabulary import VARIANTS, VOICES, WORDS

RATE = 16000


def phrase(rng, lang):
    return " ".join(rng.choice(WORDS[lang]) for _ in range(rng.randint(3, 8)))


def speak(text, lang, params):
    """espeak-ng -> sox -> float32 at 16 kHz."""
    voice = params["voice"] + ("+" + params["variant"] if params["variant"] else "")
    espeak = ["espeak-ng", "-v", voice, "-s", str(params["speed"]), "-p", str(params["pitch"]),
              "-g", str(params["gap"]), "--stdout", text]
    sox = ["sox", "-q", "-t", "wav", "-", "-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16",
           "-c", "1", "-"] + params["colour"].split()
    wav = subprocess.run(espeak, check=True, capture_output=True).stdout
    raw = subprocess.run(sox, input=wav, check=True, capture_output=True).stdout
    return np.frombuffer(raw, dtype="<i2").astype(np.float32) / 32768.0


def speech_span(x):
    """First and last sample of 10 ms frames within 40 dB of the loudest frame."""
    frames = len(x) // 160
    if frames == 0:
        return 0, len(x)
    energy = (x[: frames * 160].reshape(frames, 160) ** 2).mean(axis=1) + 1e-12
    db = 10 * np.log10(energy)
    loud = np.nonzero(db > db.max() - 40)[0]
    return int(loud[0]) * 160, int(loud[-1] + 1) * 160


def draw_params(rng, lang):
    return {
        "voice": rng.choice(VOICES[lang]),
        "variant": rng.choice(VARIANTS),
        "speed": rng.randint(120, 210),
        "pitch": rng.randint(20, 80),
        "gap": rng.choice([0, 0, 0, 1, 2, 4]),
        "colour": rng.choice(["", "", "", "lowpass 3600", "highpass 250", "treble -8", "bass +6"]),
        "gain_db": rng.uniform(-14.0, 0.0),
        "snr_db": rng.choice([None, rng.uniform(12, 22), rng.uniform(20, 40), rng.uniform(20, 40)]),
        "lead": rng.uniform(0.05, 0.6),
        "trail": rng.uniform(0.1, 0.5),
        "pause": rng.uniform(0.4, 1.5),
    }


def render(job):
    """One item: its phrases spoken with one voice, separated by pauses, then gain and noise."""
    texts, lang, params, seed = job
    rng = np.random.default_rng(seed)
    pieces, segments, t = [np.zeros(int(params["lead"] * RATE), np.float32)], [], params["lead"]
    for i, text in enumerate(texts):
        x = speak(text, lang, params)
        a, b = speech_span(x)
        x = x[a:b]
        if i:
            gap = np.zeros(int(params["pause"] * RATE), np.float32)
            pieces.append(gap)
            t += len(gap) / RATE
        segments.append([round(t, 3), round(t + len(x) / RATE, 3), text])
        pieces.append(x)
        t += len(x) / RATE
    pieces.append(np.zeros(int(params["trail"] * RATE), np.float32))
    y = np.concatenate(pieces)
    y *= 10 ** (params["gain_db"] / 20) * 0.7 / max(1e-6, float(np.abs(y).max()))
    if params["snr_db"] is not None:
        noise = rng.standard_normal(len(y)).astype(np.float32)
        if rng.random() < 0.5:  # brownish noise: hum-like rather than hiss
            noise = np.cumsum(noise)
            noise -= np.convolve(noise, np.ones(801) / 801, mode="same")
        speech_power = float((y ** 2).mean()) + 1e-12
        noise *= np.sqrt(speech_power / (10 ** (params["snr_db"] / 10)) / (float((noise ** 2).mean()) + 1e-12))
        y = y + noise
    y = np.clip(y, -1.0, 1.0)
    return (np.round(y * 32767)).astype(np.int16), segments


def write_split(folder, jobs, workers):
    os.makedirs(folder, exist_ok=True)
    chunks, offset = [], 0
    with open(os.path.join(folder, "items.jsonl"), "w") as index, Pool(workers) as pool:
        for n, ((texts, lang, params, _), (audio, segments)) in enumerate(zip(jobs, pool.imap(render, jobs, 16))):
            item = {"id": n, "lang": lang, "text": " ".join(texts), "offset": offset, "length": len(audio),
                    "segments": segments, **{k: params[k] for k in ("voice", "variant", "speed", "pitch")}}
            index.write(json.dumps(item, ensure_ascii=False) + "\n")
            chunks.append(audio)
            offset += len(audio)
            if n % 2000 == 0:
                print(f"{folder}: {n}/{len(jobs)}", file=sys.stderr, flush=True)
    np.save(os.path.join(folder, "audio.npy"), np.concatenate(chunks))


def write_wav(path, audio):
    subprocess.run(["sox", "-q", "-t", "raw", "-r", str(RATE), "-e", "signed", "-b", "16", "-c", "1", "-",
                    path], input=audio.tobytes(), check=True)


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--out", required=True)
    ap.add_argument("--train-per-language", type=int, default=12000)
    ap.add_argument("--test-per-language", type=int, default=300)
    ap.add_argument("--long-per-language", type=int, default=2)
    ap.add_argument("--seed", type=int, default=7)
    ap.add_argument("--workers", type=int, default=4)
    args = ap.parse_args()
    rng = random.Random(args.seed)

    held_out = {lang: set() for lang in WORDS}
    test_jobs, long_phrases = [], {}
    for lang in WORDS:
        while len(held_out[lang]) < args.test_per_language:
            p = phrase(rng, lang)
            if p not in held_out[lang]:
                held_out[lang].add(p)
                test_jobs.append(([p], lang, draw_params(rng, lang), rng.getrandbits(32)))
        long_phrases[lang] = [phrase(rng, lang) for _ in range(40 * args.long_per_language)]
        held_out[lang].update(long_phrases[lang])

    train_jobs = []
    for n in range(args.train_per_language * len(WORDS)):
        lang = list(WORDS)[n % len(WORDS)]
        texts = []
        for _ in range(2 if rng.random() < 1 / 6 else 1):
            p = phrase(rng, lang)
            while p in held_out[lang]:
                p = phrase(rng, lang)
            texts.append(p)
        train_jobs.append((texts, lang, draw_params(rng, lang), rng.getrandbits(32)))

    write_split(os.path.join(args.out, "test"), test_jobs, args.workers)

    os.makedirs(os.path.join(args.out, "long"), exist_ok=True)
    for lang in WORDS:
        for k in range(args.long_per_language):
            target = rng.uniform(35, 85)
            texts, pieces, segments, t = long_phrases[lang][40 * k:40 * (k + 1)], [], [], 0.0
            for text in texts:
                if t > target:
                    break
                audio, segs = render(([text], lang, draw_params(rng, lang), rng.getrandbits(32)))
                for s, e, w in segs:
                    segments.append([round(t + s, 3), round(t + e, 3), w])
                pieces.append(audio)
                pieces.append(np.zeros(int(rng.uniform(0.5, 2.5) * RATE), np.int16))
                t += (len(audio) + len(pieces[-1])) / RATE
            name = os.path.join(args.out, "long", f"{lang}-{k + 1}")
            write_wav(name + ".wav", np.concatenate(pieces))
            with open(name + ".json", "w") as f:
                json.dump({"lang": lang, "duration": round(t, 3), "segments": segments}, f, ensure_ascii=False,
                          indent=1)

    write_split(os.path.join(args.out, "train"), train_jobs, args.workers)


if __name__ == "__main__":
    main()
