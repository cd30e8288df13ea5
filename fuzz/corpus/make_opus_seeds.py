#!/usr/bin/env python3
"""Writes the seed inputs of the opus_packets fuzz target into the folder beside this script.

A record is one length byte and that many bytes of packet. The packets are hand-made: a table
of contents byte (configuration, mono, one frame) followed by pseudo-random frame bytes, which
the CELT and SILK decoders take as a frame of their size."""
import os
import random

HERE = os.path.dirname(os.path.abspath(__file__))


def toc(config: int, code: int = 0) -> int:
    return (config << 3) | code


def packet(rng: random.Random, config: int, frame_bytes: int) -> bytes:
    return bytes([toc(config)]) + bytes(rng.randrange(256) for _ in range(frame_bytes))


def records(*packets: bytes) -> bytes:
    return b"".join(bytes([len(p)]) + p for p in packets)


def main() -> None:
    rng = random.Random(7341)
    celt_10ms, celt_2_5ms, celt_5ms, celt_20ms, silk_10ms = 30, 28, 29, 31, 0
    seeds = {
        "ten_ms": records(*(packet(rng, celt_10ms, 59) for _ in range(4))),
        "short_frames": records(packet(rng, celt_2_5ms, 30),
                                *(packet(rng, celt_5ms, 40) for _ in range(6))),
        "too_long_and_silk": records(packet(rng, celt_20ms, 100), packet(rng, silk_10ms, 40)),
        "restart": records(packet(rng, celt_10ms, 59), packet(rng, celt_10ms, 59))
        + b"\x00" + records(packet(rng, celt_10ms, 59)),
        "bad_counts": records(bytes([toc(celt_10ms, 3), 0x00]), bytes([toc(celt_10ms, 3), 0x3f]),
                              bytes([toc(celt_10ms, 2), 0xff])),
    }
    folder = os.path.join(HERE, "opus_packets")
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
