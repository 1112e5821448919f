#!/usr/bin/env python3
"""Synthesizes the program's two sounds into sounds/tick.wav and sounds/alert.wav.

Standard library only, deterministic: running it again gives the same bytes. The sizes are fixed
because the program has always shipped sounds of exactly these lengths:
  tick  - a soft tick-tock loop, PCM mono 22050 Hz 16-bit, 142,336 bytes of samples, 142,380 in all;
  alert - a short two-note chime, PCM stereo 22050 Hz 16-bit, 351,236 bytes of samples,
          354,160 in all (an INFO list and a JUNK chunk sit before the samples).
"""

import math
import os
import random
import struct
import sys

RATE = 22050
TICK_TOTAL, TICK_DATA = 142_380, 142_336
ALERT_TOTAL, ALERT_DATA = 354_160, 351_236


def chunk(tag: bytes, payload: bytes) -> bytes:
    """One RIFF chunk: tag, little-endian size, payload, and a pad byte after an odd payload."""
    pad = b"\0" if len(payload) % 2 else b""
    return tag + struct.pack("<I", len(payload)) + payload + pad


def fmt_chunk(channels: int) -> bytes:
    block = channels * 2
    return chunk(b"fmt ", struct.pack("<HHIIHH", 1, channels, RATE, RATE * block, block, 16))


def pcm16(samples) -> bytes:
    """Clamps floats in [-1, 1] to 16-bit little-endian samples."""
    out = bytearray()
    for s in samples:
        v = max(-32767, min(32767, int(round(s * 32767))))
        out += struct.pack("<h", v)
    return bytes(out)


def riff(chunks) -> bytes:
    body = b"WAVE" + b"".join(chunks)
    return b"RIFF" + struct.pack("<I", len(body)) + body


def tick_wave() -> bytes:
    frames = TICK_DATA // 2
    # Four strokes spread evenly, so the loop seams without a gap: tick, tock, tick, tock.
    period = frames // 4
    rng = random.Random(20240517)
    noise = [rng.uniform(-1.0, 1.0) for _ in range(400)]
    samples = [0.0] * frames
    for stroke in range(4):
        start = stroke * period
        pitch = 2100.0 if stroke % 2 == 0 else 1650.0
        for i in range(600):
            t = i / RATE
            body = math.sin(2 * math.pi * pitch * t) * math.exp(-t * 420.0)
            click = noise[i] * math.exp(-t * 2500.0) if i < len(noise) else 0.0
            taper = min(1.0, (600 - i) / 100)  # no step at the stroke's end
            samples[start + i] += (0.16 * body + 0.05 * click) * taper
    data = pcm16(samples)
    assert len(data) == TICK_DATA
    wave = riff([fmt_chunk(1), chunk(b"data", data)])
    assert len(wave) == TICK_TOTAL, len(wave)
    return wave


def bell(t: float, freq: float) -> float:
    """A struck bell: a few inharmonic partials, each dying away at its own rate."""
    partials = ((1.0, 1.0, 1.6), (2.0, 0.45, 2.6), (2.76, 0.25, 3.8), (5.4, 0.08, 6.0))
    return sum(a * math.sin(2 * math.pi * freq * r * t) * math.exp(-t * d) for r, a, d in partials)


def alert_wave() -> bytes:
    frames = ALERT_DATA // 4  # whole stereo frames; the last odd bytes are padded below
    notes = ((0.00, 1318.5), (0.42, 1046.5))  # E6 then C6
    out = bytearray()
    fade_start = frames - RATE // 4
    for n in range(frames):
        t = n / RATE
        left = right = 0.0
        for onset, freq in notes:
            if t >= onset:
                dt = t - onset
                attack = min(1.0, dt * 400.0)
                v = bell(dt, freq) * attack
                # The first note leans left, the second right: a little width, nothing more.
                pan = 0.35 if freq > 1200 else -0.35
                left += v * (1.0 - pan) * 0.5
                right += v * (1.0 + pan) * 0.5
        fade = 1.0 if n < fade_start else (frames - n) / (frames - fade_start)
        out += pcm16((left * 0.42 * fade, right * 0.42 * fade))
    data = bytes(out) + b"\0" * (ALERT_DATA - len(out))
    assert len(data) == ALERT_DATA

    info = b"INFO" + chunk(b"INAM", b"Tomato chime\0") + chunk(b"ISFT", b"make_sounds.py\0")
    fixed = 12 + len(fmt_chunk(2)) + len(chunk(b"LIST", info)) + 8 + len(data)
    junk = ALERT_TOTAL - fixed - 8  # the payload of the JUNK chunk that fills up to the size
    assert junk >= 0 and junk % 2 == 0, junk
    wave = riff([fmt_chunk(2), chunk(b"LIST", info), chunk(b"JUNK", b"\0" * junk), chunk(b"data", data)])
    assert len(wave) == ALERT_TOTAL, len(wave)
    return wave


def main() -> int:
    here = os.path.dirname(os.path.abspath(__file__))
    out_dir = os.path.join(here, "sounds")
    os.makedirs(out_dir, exist_ok=True)
    for name, wave in (("tick.wav", tick_wave()), ("alert.wav", alert_wave())):
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(wave)
        print(f"{name}: {len(wave)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
