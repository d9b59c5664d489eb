"""The speech model, written from the runtime's model description: a convolutional front and
pre-LayerNorm transformer encoder over log-mel frames, and a transformer decoder with learned
positions, cross-attention and an output layer tied to the token embedding. Parameter names follow
the common checkpoint layout so that the state dict exports as it is."""

import math

import numpy as np
import torch
import torch.nn.functional as F
from torch import nn

LN_EPS = 1e-5


def sinusoids(frames, width):
    """sin of t * g_i in the first width/2 channels, cos in the rest; g_i = 10000^(-i / (width/2 - 1))."""
    half = width // 2
    g = np.exp(-math.log(10000.0) * np.arange(half) / (half - 1))
    t = np.arange(frames)[:, None] * g[None, :]
    return torch.tensor(np.concatenate([np.sin(t), np.cos(t)], axis=1), dtype=torch.float32)


class Attention(nn.Module):
    def __init__(self, width, heads):
        super().__init__()
        self.heads = heads
        self.q_proj = nn.Linear(width, width)
        self.k_proj = nn.Linear(width, width, bias=False)
        self.v_proj = nn.Linear(width, width)
        self.out_proj = nn.Linear(width, width)

    def project_kv(self, source):
        return self._split(self.k_proj(source)), self._split(self.v_proj(source))

    def _split(self, x):
        b, t, w = x.shape
        return x.view(b, t, self.heads, w // self.heads).transpose(1, 2)

    def forward(self, x, source=None, mask=None, kv=None):
        """x [B, T, W]; keys/values from `source` (self-attention when None) or precomputed `kv`;
        `mask` is added to the scores."""
        q = self._split(self.q_proj(x))
        k, v = kv if kv is not None else self.project_kv(x if source is None else source)
        scores = (q @ k.transpose(-1, -2)) / math.sqrt(q.shape[-1])
        if mask is not None:
            scores = scores + mask
        out = torch.softmax(scores, dim=-1) @ v
        b, h, t, d = out.shape
        return self.out_proj(out.transpose(1, 2).reshape(b, t, h * d))


class Block(nn.Module):
    def __init__(self, width, heads, cross):
        super().__init__()
        self.self_attn = Attention(width, heads)
        self.self_attn_layer_norm = nn.LayerNorm(width, eps=LN_EPS)
        if cross:
            self.encoder_attn = Attention(width, heads)
            self.encoder_attn_layer_norm = nn.LayerNorm(width, eps=LN_EPS)
        self.fc1 = nn.Linear(width, 4 * width)
        self.fc2 = nn.Linear(4 * width, width)
        self.final_layer_norm = nn.LayerNorm(width, eps=LN_EPS)

    def forward(self, x, mask=None, encoded=None, cross_kv=None):
        x = x + self.self_attn(self.self_attn_layer_norm(x), mask=mask)
        if encoded is not None or cross_kv is not None:
            x = x + self.encoder_attn(self.encoder_attn_layer_norm(x), source=encoded, kv=cross_kv)
        return x + self.fc2(F.gelu(self.fc1(self.final_layer_norm(x))))


class Encoder(nn.Module):
    def __init__(self, n_mels, width, heads, layers, frames=1500):
        super().__init__()
        self.conv1 = nn.Conv1d(n_mels, width, 3, padding=1)
        self.conv2 = nn.Conv1d(width, width, 3, stride=2, padding=1)
        self.embed_positions = nn.Embedding(frames, width)
        self.embed_positions.weight.data.copy_(sinusoids(frames, width))
        self.embed_positions.weight.requires_grad_(False)
        self.layers = nn.ModuleList(Block(width, heads, cross=False) for _ in range(layers))
        self.layer_norm = nn.LayerNorm(width, eps=LN_EPS)

    def forward(self, mel):
        """mel [B, n_mels, T] (T even, at most 3000) -> [B, T/2, width]."""
        x = F.gelu(self.conv2(F.gelu(self.conv1(mel)))).transpose(1, 2)
        x = x + self.embed_positions.weight[: x.shape[1]]
        for layer in self.layers:
            x = layer(x)
        return self.layer_norm(x)


class Decoder(nn.Module):
    def __init__(self, vocab, width, heads, layers, positions=448):
        super().__init__()
        self.embed_tokens = nn.Embedding(vocab, width)
        self.embed_positions = nn.Embedding(positions, width)
        self.layers = nn.ModuleList(Block(width, heads, cross=True) for _ in range(layers))
        self.layer_norm = nn.LayerNorm(width, eps=LN_EPS)
        nn.init.normal_(self.embed_tokens.weight, std=0.02)
        nn.init.normal_(self.embed_positions.weight, std=0.01)

    def forward(self, tokens, encoded, active=None):
        """tokens [B, T] -> logits [B, T, vocab], causal. With `active` (ids whose embedding rows are
        the only non-zero ones), logits of those ids plus one last column standing for all the others,
        whose logits are exactly 0: the same softmax at a fraction of the cost."""
        t = tokens.shape[1]
        x = self.embed_tokens(tokens) + self.embed_positions.weight[:t]
        mask = torch.full((t, t), float("-inf")).triu(1)
        for layer in self.layers:
            x = layer(x, mask=mask, encoded=encoded)
        x = self.layer_norm(x)
        if active is None:
            return x @ self.embed_tokens.weight.T
        logits = x @ self.embed_tokens.weight[active].T
        rest = math.log(self.embed_tokens.weight.shape[0] - len(active))
        return torch.cat([logits, torch.full_like(logits[..., :1], rest)], dim=-1)


class SpeechModel(nn.Module):
    def __init__(self, n_mels=80, width=192, heads=4, encoder_layers=3, decoder_layers=3, vocab=51865):
        super().__init__()
        self.hparams = dict(n_mels=n_mels, width=width, heads=heads, encoder_layers=encoder_layers,
                            decoder_layers=decoder_layers, vocab=vocab)
        self.encoder = Encoder(n_mels, width, heads, encoder_layers)
        self.decoder = Decoder(vocab, width, heads, decoder_layers)

    def forward(self, mel, tokens, active=None):
        return self.decoder(tokens, self.encoder(mel), active)

    def keep_only(self, active):
        """Zeroes the embedding rows of every id outside `active` (they never occur in training)."""
        with torch.no_grad():
            keep = torch.zeros(self.embed_rows(), dtype=torch.bool)
            keep[active] = True
            self.decoder.embed_tokens.weight[~keep] = 0.0

    def embed_rows(self):
        return self.decoder.embed_tokens.weight.shape[0]

    @torch.no_grad()
    def greedy(self, mel, prompt, end_token, max_tokens=120):
        """Greedy decoding of a batch with a shared prompt; returns the tokens after the prompt, up to
        (not including) the end token. Recomputes the prefix each step: slow but obviously right."""
        encoded = self.encoder(mel)
        tokens = torch.tensor([prompt] * mel.shape[0])
        done = torch.zeros(mel.shape[0], dtype=torch.bool)
        for _ in range(max_tokens):
            nxt = self.decoder(tokens, encoded)[:, -1].argmax(-1)
            nxt = torch.where(done, torch.full_like(nxt, end_token), nxt)
            tokens = torch.cat([tokens, nxt[:, None]], dim=1)
            done |= nxt == end_token
            if done.all():
                break
        out = []
        for row in tokens[:, len(prompt):].tolist():
            out.append(row[: row.index(end_token)] if end_token in row else row)
        return out


def checkpoint_config(hp):
    """config.json of the common checkpoint layout."""
    return {"model_type": "whisper", "d_model": hp["width"], "encoder_layers": hp["encoder_layers"],
            "encoder_attention_heads": hp["heads"], "decoder_layers": hp["decoder_layers"],
            "decoder_attention_heads": hp["heads"], "encoder_ffn_dim": 4 * hp["width"],
            "decoder_ffn_dim": 4 * hp["width"], "num_mel_bins": hp["n_mels"], "vocab_size": hp["vocab"],
            "max_source_positions": 1500, "max_target_positions": 448}
