#!/usr/bin/env python3
"""Synthesises the application's sounds into this folder.

alarm.mp3    two alternating tones, about 2 s, encoded with ffmpeg's libmp3lame
shutter1.wav a short two-click shutter noise, 48 kHz mono 16-bit

Run from anywhere: python3 resources/make-sounds.py (needs ffmpeg on PATH).
"""
import math
import os
import random
import struct
import subprocess
import tempfile
import wave

HERE = os.path.dirname(os.path.abspath(__file__))


def write_wav(path, rate, samples):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        clipped = (max(-32767, min(32767, int(round(s * 32767)))) for s in samples)
        out.writeframes(b"".join(struct.pack("<h", s) for s in clipped))


def alarm(rate=44100):
    """Eight 0.25 s beeps alternating between 880 Hz and 660 Hz, each with a soft edge."""
    beep = 0.25
    samples = []
    for index in range(8):
        frequency = 880.0 if index % 2 == 0 else 660.0
        count = int(beep * rate)
        for n in range(count):
            t = n / rate
            # 10 ms fade in and out so that the tone changes do not click.
            edge = min(1.0, t / 0.01, (beep - t) / 0.01)
            tone = (math.sin(2 * math.pi * frequency * t)
                    + 0.3 * math.sin(2 * math.pi * 2 * frequency * t)
                    + 0.15 * math.sin(2 * math.pi * 3 * frequency * t))
            samples.append(0.55 * edge * tone)
    return samples


def shutter(rate=48000):
    """Two filtered noise clicks 70 ms apart, each decaying within a few tens of ms."""
    rng = random.Random(7341)
    length = int(0.22 * rate)
    samples = [0.0] * length
    for start, gain, decay in ((0.0, 0.9, 0.012), (0.07, 0.7, 0.025)):
        first = int(start * rate)
        low = 0.0
        for n in range(first, length):
            t = (n - first) / rate
            noise = rng.uniform(-1.0, 1.0)
            # A one-pole low-pass takes the hiss off the noise.
            low += 0.35 * (noise - low)
            samples[n] += gain * math.exp(-t / decay) * (0.6 * low + 0.4 * noise)
    peak = max(abs(s) for s in samples)
    return [0.9 * s / peak for s in samples]


def main():
    write_wav(os.path.join(HERE, "shutter1.wav"), 48000, shutter())
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "alarm.wav")
        write_wav(source, 44100, alarm())
        subprocess.run(["ffmpeg", "-hide_banner", "-loglevel", "error", "-y", "-i", source,
                        "-codec:a", "libmp3lame", "-b:a", "128k", "-map_metadata", "-1",
                        "-write_xing", "0", "-id3v2_version", "0",
                        os.path.join(HERE, "alarm.mp3")], check=True)


if __name__ == "__main__":
    main()
