#!/usr/bin/env python3
"""Measures how fast two real mosslane processes move files over a pty pair.

A pty passes bytes as fast as the processes write them, so the figures show
the protocol's own cost (one acknowledgement per block, scans, file work),
not a serial line's speed; the time the same bytes need at 115200 bit/s is
printed beside them. Run through tools/bench-transfer.
"""
import os
import random
import shutil
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
from mosslane_e2e import Instance, files_under  # noqa: E402

CASES = [
    ("one 8 MiB file", [("big.bin", 8 * 1024 * 1024)]),
    ("400 files of 1 KiB in 20 folders", [(f"d{i % 20}/f{i}.bin", 1024) for i in range(400)]),
    ("100 files of 100 bytes", [(f"small{i}.bin", 100) for i in range(100)]),
]


def line_seconds(total_bytes, files):
    # Data blocks plus a header, EOT and replies per file, 10 bits a byte.
    wire = total_bytes * 1029 / 1024 + files * (133 + 4)
    return wire * 10 / 115200


def run_case(name, files, sender, receiver, stage, rng):
    for rel, size in files:
        path = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(path) or stage, exist_ok=True)
        with open(path, "wb") as f:
            f.write(rng.randbytes(size))
    before = len(receiver.lines())
    sender_before = len(sender.lines())
    placed = time.monotonic()
    for entry in os.listdir(stage):
        os.rename(os.path.join(stage, entry), os.path.join(sender.out_dir, entry))
    # Timed from the link opening, not from the sender's next scan.
    while "opening" not in sender.lines()[sender_before:]:
        if time.monotonic() - placed > 30:
            raise SystemExit(f"{name}: the sender never opened the link")
        time.sleep(0.005)
    start = time.monotonic()
    while not any(l.startswith("finished") for l in receiver.lines()[before:]):
        if time.monotonic() - start > 600:
            raise SystemExit(f"{name}: no finished line in 600 s")
        time.sleep(0.005)
    elapsed = time.monotonic() - start
    total = sum(size for _, size in files)
    arrived = len(files_under(receiver.in_dir))
    print(f"{name:34s} {elapsed:7.2f} s  {total / elapsed / 1024:9.1f} KiB/s  "
          f"({arrived} files arrived; at 115200 bit/s about {line_seconds(total, len(files)):.0f} s)")
    shutil.rmtree(receiver.in_dir)
    os.makedirs(receiver.in_dir)


def main():
    mosslane = os.path.abspath(sys.argv[1])
    port_a = os.environ["MOSSLANE_SERIAL_PORT"]
    port_b = os.environ["MOSSLANE_SERIAL_PEER"]
    work = tempfile.mkdtemp(prefix="mosslane-bench.")
    rng = random.Random(1)
    sides = []
    try:
        b = Instance("B", work, port_b, mosslane)
        sides.append(b)
        b.await_line("ready", time.monotonic() + 10)
        a = Instance("A", work, port_a, mosslane)
        sides.append(a)
        a.await_line("ready", time.monotonic() + 10)
        for i, (name, files) in enumerate(CASES):
            run_case(name, files, a, b, os.path.join(work, f"stage{i}"), rng)
    finally:
        for side in sides:
            side.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
