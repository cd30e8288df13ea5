#!/usr/bin/env python3
"""Writes the seed inputs of the discovery_datagrams fuzz target into discovery_datagrams/ beside
this script. Each input is one byte for the sender's address form (0: IPv4, 1: IPv6, 2: none),
the address and port bytes of that form, then the datagram."""
import os
import socket
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def from4(host: str, port: int) -> bytes:
    return b"\x00" + socket.inet_pton(socket.AF_INET, host) + struct.pack("!H", port)


def from6(host: str, port: int) -> bytes:
    return b"\x01" + socket.inet_pton(socket.AF_INET6, host) + struct.pack("!H", port)


def identity(kind: int, second: int, port: int, uuid: bytes, name: bytes) -> bytes:
    return bytes([kind, second]) + struct.pack("<H", port) + bytes([len(uuid)]) + uuid + name


UUID = b"5A3C0E17B2D94F6880A1C4E7D2B93F05"

SEEDS = {
    "i_am_in": from4("192.168.1.30", 10221) + identity(1, 0x22, 7341, UUID, b"Porch"),
    "i_am_out": b"\x02" + identity(1, 0x23, 0, UUID, b"Porch"),
    "response": from6("fd00::5", 7341) + identity(30, 0x22, 0, UUID, "Küche".encode()),
    "scan_request": from4("192.168.1.20", 10221) + b"\x01\x21\x00\x00192.168.1.20",
    "server_command": from4("192.168.1.1", 10221) + b"\xc8\x23\x01\x00\x01A\x01B",
    "length_too_long": from4("10.0.0.1", 10221) + identity(1, 0x22, 7341, UUID, b"")[:20],
}

if __name__ == "__main__":
    folder = os.path.join(HERE, "discovery_datagrams")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
