#!/usr/bin/env python3
"""Writes the seed inputs of the netlink_messages fuzz target into netlink_messages/ beside
this script: datagrams as the kernel sends them on a route socket (host byte order, x86-64)."""
import os
import socket
import struct

HERE = os.path.dirname(os.path.abspath(__file__))

RTM_NEWLINK, RTM_NEWADDR, RTM_NEWROUTE = 16, 20, 24
NLMSG_ERROR, NLMSG_DONE = 2, 3
NLM_F_MULTI = 2
IFF_UP, IFF_RUNNING, IFF_MULTICAST = 0x1, 0x40, 0x1000


def align(data: bytes) -> bytes:
    return data + b"\0" * (-len(data) % 4)


def attribute(kind: int, payload: bytes) -> bytes:
    return align(struct.pack("=HH", 4 + len(payload), kind) + payload)


def message(kind: int, body: bytes, sequence: int = 1, flags: int = NLM_F_MULTI) -> bytes:
    return align(struct.pack("=IHHII", 16 + len(body), kind, flags, sequence, 0) + body)


def link(index: int, name: bytes, flags: int) -> bytes:
    info = struct.pack("=BxHiII", socket.AF_UNSPEC, 1, index, flags, 0xFFFFFFFF)
    return message(RTM_NEWLINK, info + attribute(3, name + b"\0"))  # IFLA_IFNAME


def address(index: int, family: int, text: str, prefix: int) -> bytes:
    raw = socket.inet_pton(family, text)
    head = struct.pack("=BBBBI", family, prefix, 0, 0, index)
    return message(RTM_NEWADDR, head + attribute(1, raw) + attribute(2, raw))  # ADDRESS, LOCAL


def route(family: int, oif: int, destination: bytes = b"", length: int = 0) -> bytes:
    head = struct.pack("=BBBBBBBBI", family, length, 0, 0, 254, 3, 0, 1, 0)  # main, boot, unicast
    attributes = attribute(15, struct.pack("=I", 254)) + attribute(4, struct.pack("=i", oif))
    if destination:
        attributes += attribute(1, destination)
    return message(RTM_NEWROUTE, head + attributes)


def multipath(family: int, *oifs: int) -> bytes:
    hops = b"".join(struct.pack("=HBBi", 8, 0, 0, oif) for oif in oifs)
    head = struct.pack("=BBBBBBBBI", family, 0, 0, 0, 254, 3, 0, 1, 0)
    return message(RTM_NEWROUTE, head + attribute(9, hops))  # RTA_MULTIPATH


SEEDS = {
    "dump_reachable": link(2, b"en0", IFF_UP | IFF_RUNNING | IFF_MULTICAST)
    + address(2, socket.AF_INET, "10.213.0.1", 24)
    + address(2, socket.AF_INET6, "fd00:213::1", 64)
    + route(socket.AF_INET, 2)
    + multipath(socket.AF_INET6, 3, 2)
    + message(NLMSG_DONE, struct.pack("=i", 0)),
    "error": message(NLMSG_ERROR, struct.pack("=i", -1) + struct.pack("=IHHII", 20, 26, 0x301, 1, 0),
                     flags=0),
    "cut_short": (link(1, b"lo", IFF_UP | IFF_RUNNING | 0x8)
                  + route(socket.AF_INET6, 1, socket.inet_pton(socket.AF_INET6, "fe80::"), 64))[:-6],
}

if __name__ == "__main__":
    folder = os.path.join(HERE, "netlink_messages")
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), "wb") as out:
            out.write(data)
