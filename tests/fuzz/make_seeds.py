#!/usr/bin/env python3
"""Writes the seed corpus of the fuzz targets from the protocol's own
examples: whole conversations for the receiving side, received paths for the
incoming-name rules. Run it again after changing the examples."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
SOH, STX, EOT, ACK, NAK, CAN = 0x01, 0x02, 0x04, 0x06, 0x15, 0x18


def crc16(data):
    crc = 0
    for byte in data:
        crc ^= byte << 8
        for _ in range(8):
            crc = ((crc << 1) ^ 0x1021) if crc & 0x8000 else crc << 1
            crc &= 0xFFFF
    return crc


def packet(number, data, long_packet=False):
    size = 1024 if long_packet else 128
    field = bytes(data[:size]).ljust(size, b"\0")
    crc = crc16(field)
    return bytes([STX if long_packet else SOH, number, number ^ 0xFF]) + field + bytes([crc >> 8, crc & 0xFF])


def header(path, size):
    raw = path.encode("latin-1")
    long_header = len(raw) >= 124
    field = bytearray(1024 if long_header else 128)
    field[:len(raw)] = raw
    at = 1020 if long_header else 124
    field[at:at + 4] = size.to_bytes(4, "big")
    return packet(0, field, long_header)


END = packet(0, b"")


def blocks(content):
    out, number, at = [], 1, 0
    while at < len(content):
        long_block = len(content) - at >= 1024
        n = 1024 if long_block else min(128, len(content) - at)
        out.append(packet(number & 0xFF, content[at:at + n], long_block))
        number, at = number + 1, at + n
    return out


def one_file(path, content):
    """The chunks a sender answers the receiver's writes with, in order:
    ready -> header; ACK -> nothing, ready -> block 1; ACK -> next block ...;
    ACK -> EOT; ACK -> nothing, ready -> next header."""
    chunks = [header(path, len(content)), b""]
    data = blocks(content)
    chunks += data[:1] or [bytes([EOT])]
    for block in data[1:]:
        chunks.append(block)
    if data:
        chunks.append(bytes([EOT]))
    chunks.append(b"")
    return chunks


def encode(options, chunks):
    out = bytearray([options])
    for chunk in chunks:
        if len(chunk) < 0x80:
            out.append(len(chunk))
        else:
            out += bytes([0x80 | (len(chunk) >> 8), len(chunk) & 0xFF])
        out += chunk
    return bytes(out)


def receiver_seeds():
    hello = one_file("a.txt", b"hello") + [END]
    damaged = bytearray(packet(1, b"data"))
    damaged[20] ^= 0x40
    yield "trace-docs-a-txt", encode(1, one_file("docs\\a.txt", b"hello") + [END])
    yield "empty-batch", encode(0, [END])
    yield "zero-byte-file", encode(0, one_file("empty.bin", b"") + [END])
    yield "exact-1024", encode(0, one_file("k.bin", bytes(range(256)) * 4) + [END])
    yield "1025-bytes", encode(0, one_file("k1.bin", b"z" * 1025) + [END])
    yield "text-crlf", encode(3, one_file("notes.txt", b"one\ntwo\r" + b"x" * 120 + b"\r\nthree\n") + [END])
    yield "path-123", encode(0, one_file("p" * 119 + ".bin", b"short header") + [END])
    yield "path-124", encode(0, one_file("q" * 120 + ".bin", b"long header") + [END])
    yield "two-files", encode(0, one_file("a.bin", b"A" * 300) + one_file("sub\\b.bin", b"B" * 2500) + [END])
    yield "damaged-then-good", encode(0, [header("a.bin", 4), b"", bytes(damaged), packet(1, b"data"), bytes([EOT]), b"", END])
    yield "duplicate-block", encode(0, [header("a.bin", 200), b"", packet(1, b"p" * 128), packet(1, b"p" * 128), packet(2, b"q" * 72), bytes([EOT]), b"", END])
    yield "repeated-eot", encode(0, [header("a.bin", 0), b"", bytes([EOT]), b"", bytes([EOT]), b"", END])
    yield "peer-cancels", encode(0, [header("a.bin", 4096), b"", packet(1, b"h" * 1024, True), bytes([CAN, CAN])])
    yield "hostile-paths", encode(0, one_file("..\\..\\escape.txt", b"x") + one_file("C:\\drive.txt", b"y") + one_file("!partial.0", b"z") + [END])
    yield "disk-full", encode(4, one_file("big.bin", b"f" * 2000) + [END])
    yield "slow-reads", encode(0x38, hello)
    yield "no-nul-in-path", encode(0, [packet(0, b"A" * 128), b""])


def name_seeds():
    yield "plain", b"a.txt"
    yield "nested", b"docs\\letters\\a.txt"
    yield "clash", b"a.txt\0a.txt\0a.b.txt\0a.b.txt\0readme\0readme"
    yield "unsafe", b"a:b|c.txt\0x<y>z\"q.txt\0ctl\x01\x1f.txt\0caf\xe9.txt"
    yield "escape", b"..\\..\\escape.txt\0\\lead.txt\0two\\\\slashes.txt\0.\\dot.txt\0C:\\drive.txt\0/x/y.txt"
    yield "dots", b"..\0.\0\0dir\\\0...\0trail.\0space "
    yield "partial", b"!partial.0\0sub\\!PARTIAL.12\0!partial.\0!partial.1x"
    yield "long-name", b"n" * 259 + b"\0" + b"m" * 260
    yield "deep", b"\\".join([b"d" * 200] * 5) + b"\\" + b"n" * 90


def write(kind, seeds):
    folder = os.path.join(HERE, "corpus", kind)
    os.makedirs(folder, exist_ok=True)
    for name, data in seeds:
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    write("receiver", receiver_seeds())
    write("names", name_seeds())
