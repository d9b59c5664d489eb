"""The log-mel front end, the same computation as the runtime's "MelSpectrogram" bundle:
reflect-pad 200 samples each side, frames of 400 with hop 160 (the last frame dropped), periodic
Hann window, power spectrum bins 0..200 as a DFT by matrix products, Slaney-scale triangular filters
with area normalisation, log10(max(x, 1e-10)) floored at (window maximum - 8), then (x + 4) / 4,
rounded to Float16 as the runtime hands it on.

Any number of samples works (a short window is a prefix of the 30 s one when the audio ends at
least 200 samples before the short window does)."""

import math

import numpy as np
import torch

N_FFT, HOP, RATE = 400, 160, 16000


def hz_to_mel(f):
    f = np.asarray(f, dtype=np.float64)
    linear = f / (200.0 / 3.0)
    log = 15.0 + np.log(np.maximum(f, 1e-9) / 1000.0) / (math.log(6.4) / 27.0)
    return np.where(f >= 1000.0, log, linear)


def mel_to_hz(m):
    m = np.asarray(m, dtype=np.float64)
    linear = m * (200.0 / 3.0)
    log = 1000.0 * np.exp((math.log(6.4) / 27.0) * (m - 15.0))
    return np.where(m >= 15.0, log, linear)


def filter_bank(n_mels=80):
    """[n_mels, 201]: triangles between n_mels + 2 points evenly spaced in mel over 0..8000 Hz."""
    bins = np.arange(N_FFT // 2 + 1) * (RATE / N_FFT)
    points = mel_to_hz(np.linspace(hz_to_mel(0.0), hz_to_mel(RATE / 2), n_mels + 2))
    bank = np.zeros((n_mels, len(bins)))
    for i in range(n_mels):
        lower = (bins - points[i]) / (points[i + 1] - points[i])
        upper = (points[i + 2] - bins) / (points[i + 2] - points[i + 1])
        bank[i] = np.maximum(0.0, np.minimum(lower, upper)) * (2.0 / (points[i + 2] - points[i]))
    return bank


class LogMel(torch.nn.Module):
    def __init__(self, n_mels=80):
        super().__init__()
        n = np.arange(N_FFT)
        window = 0.5 - 0.5 * np.cos(2 * np.pi * n / N_FFT)
        k = np.arange(N_FFT // 2 + 1)[:, None]
        angle = 2 * np.pi * k * n[None, :] / N_FFT
        self.register_buffer("cos", torch.tensor(np.cos(angle) * window, dtype=torch.float32))
        self.register_buffer("sin", torch.tensor(np.sin(angle) * window, dtype=torch.float32))
        self.register_buffer("bank", torch.tensor(filter_bank(n_mels), dtype=torch.float32))

    @torch.no_grad()
    def forward(self, audio):
        """audio [B, N] float32 -> features [B, n_mels, N // 160]."""
        x = torch.nn.functional.pad(audio[:, None, :], (N_FFT // 2, N_FFT // 2), mode="reflect")[:, 0]
        frames = x.unfold(1, N_FFT, HOP)[:, :-1]  # [B, T, 400]
        power = (frames @ self.cos.T) ** 2 + (frames @ self.sin.T) ** 2  # [B, T, 201]
        mel = power @ self.bank.T  # [B, T, n_mels]
        log = torch.log10(torch.clamp(mel, min=1e-10))
        peak = log.amax(dim=(1, 2), keepdim=True)
        log = torch.maximum(log, peak - 8.0)
        return ((log + 4.0) / 4.0).half().float().transpose(1, 2).contiguous()
