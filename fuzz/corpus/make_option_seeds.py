#!/usr/bin/env python3
"""Writes the seed inputs of the option_record fuzz target into corpus/option_record/."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def string(text: bytes) -> bytes:
    return struct.pack(">i", len(text)) + text


def record(active=b"Mail", terminate=b"", run=b"Editor", pic=12, hit=1,
           version=b"V.0.1.0 (build1"):
    return (b"\x01" + string(active) + b"\x00" + string(terminate) + b"\x01\x01" + b"\x01" +
            string(run) + struct.pack(">i", pic) + bytes([hit]) + string(version))


SEEDS = {
    "full": record(),
    "other_version": record(version=b"V.0.0.9 (build3", hit=0),
    "twelve_bytes": b"\x01" + string(b"") + b"\x00" + string(b"") + b"\x01\x00",
    "after_run_program": record()[:-(4 + 1 + 4 + 15)],
    "cut_version": record()[:-3],
    "long_length": b"\x01\x7f\xff\xff\xff" + b"abc",
    "bad_utf8": b"\x01" + string(b"\xc3\x28") + b"\x00" + string(b"") + b"\x01\x00",
}


def main():
    folder = os.path.join(HERE, "option_record")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)


if __name__ == "__main__":
    main()
