#!/usr/bin/env python3
"""The paced line emulator: its speed, its bounded buffer and its faults."""
import json
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import tty
import unittest

EMULATOR = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tools", "line-emulator")


class Line:
    def __init__(self, *options):
        self.work = tempfile.mkdtemp(prefix="line-emulator-test.")
        self.stats_path = os.path.join(self.work, "stats.json")
        self.process = subprocess.Popen(
            [sys.executable, EMULATOR, "--link-a", os.path.join(self.work, "a"),
             "--link-b", os.path.join(self.work, "b"), "--stats", self.stats_path, *options],
            stdout=subprocess.PIPE, text=True)
        assert self.process.stdout.readline().strip() == "ready"
        self.a = self.open_end("a")
        self.b = self.open_end("b")

    def open_end(self, name):
        fd = os.open(os.path.join(self.work, name), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(fd)
        return fd

    def stop(self):
        os.close(self.a)
        os.close(self.b)
        self.process.send_signal(signal.SIGTERM)
        self.process.wait(timeout=10)
        self.process.stdout.close()
        with open(self.stats_path) as f:
            stats = json.load(f)
        shutil.rmtree(self.work, ignore_errors=True)
        return stats


def pattern(count):
    return bytes((i * 7 + i // 256) & 0xFF for i in range(count))


def send_and_receive(line, data, quiet_s=0.5):
    """Writes data at A while reading B; returns what arrived and when the
    first and last pieces came."""
    received = bytearray()
    sent = 0
    first = last = None
    idle_since = time.monotonic()
    while time.monotonic() - idle_since < quiet_s:
        writers = [line.a] if sent < len(data) else []
        readable, writable, _ = select.select([line.b], writers, [], 0.05)
        if writable:
            try:
                sent += os.write(line.a, data[sent:sent + 4096])
            except BlockingIOError:
                pass
        if readable:
            piece = os.read(line.b, 65536)
            now = time.monotonic()
            first = first or now
            last = now
            received += piece
            idle_since = now
        elif sent < len(data):
            idle_since = time.monotonic()
    return bytes(received), first, last


class Pacing(unittest.TestCase):
    def test_bytes_arrive_at_the_chosen_rate(self):
        for baud, seconds in ((19200, 2.0), (57600, 2.0), (115200, 2.0)):
            with self.subTest(baud=baud):
                line = Line("--baud", str(baud))
                data = pattern(int(baud / 10 * seconds))
                start = time.monotonic()
                received, _, last = send_and_receive(line, data)
                line.stop()
                self.assertEqual(received, data)
                rate = len(data) * 10 / (last - start)
                # Never faster than the line, and close to it.
                self.assertLessEqual(rate, baud * 1.005)
                self.assertGreater(rate, baud * 0.97)

    def test_idle_line_earns_no_burst(self):
        line = Line("--baud", "19200")
        time.sleep(1.0)
        data = pattern(960)  # half a second of line time
        start = time.monotonic()
        received, _, last = send_and_receive(line, data)
        line.stop()
        self.assertEqual(received, data)
        self.assertGreater(last - start, 0.48)

    def test_a_reader_that_stops_holds_the_writer_back_without_losing_bytes(self):
        line = Line("--baud", "0", "--buffer", "4096")
        data = pattern(4 * 1024 * 1024)
        sent = 0
        while sent < len(data):
            if not select.select([], [line.a], [], 0.5)[1]:
                break
            try:
                sent += os.write(line.a, data[sent:sent + 4096])
            except BlockingIOError:
                pass
        self.assertLess(sent, len(data), "the writer was never held back")
        received, _, _ = send_and_receive(line, data[sent:], quiet_s=1.0)
        line.stop()
        # What the writer handed over before it was held back comes first.
        self.assertEqual(len(received), len(data))
        self.assertEqual(received, data)


def bit_flips(a, b):
    return sum(bin(x ^ y).count("1") for x, y in zip(a, b))


class Faults(unittest.TestCase):
    COUNT = 20000

    def run_line(self, *options):
        line = Line("--baud", "0", *options)
        received, _, _ = send_and_receive(line, pattern(self.COUNT))
        return received, line.stop()

    def test_bit_errors_at_their_rate_and_repeatable_from_the_seed(self):
        first, stats = self.run_line("--bit-errors", "1e-3", "--seed", "5")
        again, _ = self.run_line("--bit-errors", "1e-3", "--seed", "5")
        other, _ = self.run_line("--bit-errors", "1e-3", "--seed", "6")
        self.assertEqual(len(first), self.COUNT, "bit errors drop nothing")
        flips = bit_flips(first, pattern(self.COUNT))
        # 160 expected in 160000 data bits; far outside this the rate is wrong.
        self.assertGreater(flips, 100)
        self.assertLess(flips, 230)
        self.assertEqual(flips, stats["a_to_b"]["bit_errors"])
        self.assertEqual(first, again)
        self.assertNotEqual(first, other)

    def test_drops_at_their_rate_and_repeatable_from_the_seed(self):
        first, stats = self.run_line("--drops", "1e-3", "--seed", "5")
        again, _ = self.run_line("--drops", "1e-3", "--seed", "5")
        dropped = self.COUNT - len(first)
        self.assertGreater(dropped, 5)
        self.assertLess(dropped, 45)
        self.assertEqual(dropped, stats["a_to_b"]["dropped"])
        self.assertEqual(first, again)

    def test_clean_line_changes_nothing_in_either_direction(self):
        line = Line("--baud", "0")
        data = bytes(range(256)) * 20
        os.write(line.b, data)
        back = bytearray()
        deadline = time.monotonic() + 5
        while len(back) < len(data) and time.monotonic() < deadline:
            if select.select([line.a], [], [], 0.1)[0]:
                back += os.read(line.a, 65536)
        received, _, _ = send_and_receive(line, data)
        line.stop()
        self.assertEqual(back, data)
        self.assertEqual(received, data)


if __name__ == "__main__":
    unittest.main()
