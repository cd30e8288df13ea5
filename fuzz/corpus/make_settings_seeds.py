#!/usr/bin/env python3
"""Writes the seed inputs of the settings fuzz targets (server_file, byte_fields,
keyed_archive) into the folders beside this script."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def string(text: bytes) -> bytes:
    return struct.pack(">i", len(text)) + text


def store(count: int, *texts: bytes) -> bytes:
    return struct.pack(">i", count) + b"".join(string(t) for t in texts)


def archive(*entries: bytes) -> bytes:
    return b"VKA1" + struct.pack(">i", len(entries)) + b"".join(entries)


SEEDS = {
    "server_file": {
        "one_pair": store(1, b"0123456789abcdef0123456789abcdef", b"pass"),
        "two_pairs": store(2, b"camera-one-uuid", b"pw", b"camera-two-uuid", "s\u00e9same".encode()),
        "count_zero": store(0, b"only-pair-uuid", b"password"),
        "truncated": store(3, b"camera-one-uuid", b"pw", b"camera-two")[:-3],
    },
    "byte_fields": {
        "fields": struct.pack(">ii", 1, -1) + struct.pack(">q", 1) + b"\x01" + string(b"abc"),
        "utf8": string("caf\u00e9".encode()) + string(b"\xc3\x28"),
    },
    "keyed_archive": {
        "record": archive(
            string(b"Name") + b"\x03" + string(b"Kitchen"),
            string(b"IP") + b"\x03" + string(b"192.168.1.20"),
            string(b"Port") + b"\x02" + struct.pack(">q", 7341),
            string(b"Password") + b"\x00",
            string(b"WAN") + b"\x01\x00",
        ),
        "empty": archive(),
    },
}

for target, files in SEEDS.items():
    os.makedirs(os.path.join(HERE, target), exist_ok=True)
    for name, data in files.items():
        with open(os.path.join(HERE, target, name), "wb") as out:
            out.write(data)
