#!/usr/bin/env python3
"""tools/tally-service driven by a scripted caller on a pty pair: the modem's
answers, the login check, block decoding, ACK and NAK, the card file, and the
fault switches. The caller's encoder is written here on its own, so that the
service's decoder is checked against a second reading of the block format.
Usage: service_test.py   (makes its own pty pair with tests/with-pty-pair)"""

import os
import subprocess
import sys
import tempfile
import termios
import time
import tty
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SOURCE = os.path.normpath(os.path.join(HERE, "..", ".."))
SERVICE = os.path.join(SOURCE, "tools", "tally-service")

ACK, NAK = b"\x06", b"\x15"


# --- the caller's side of the wire

def _crc_table():
    table = []
    for n in range(256):
        c = n
        for _ in range(8):
            c = (c >> 1) ^ 0xEDB88320 if c & 1 else c >> 1
        table.append(c)
    return table


CRC_TABLE = _crc_table()


def crc32(data):
    crc = 0xFFFFFFFF
    for b in data:
        crc = CRC_TABLE[(crc ^ b) & 0xFF] ^ (crc >> 8)
    return crc ^ 0xFFFFFFFF


def pack7(data):
    out = bytearray()
    full = len(data) - len(data) % 7
    for g in range(0, full, 7):
        high = 0
        for k, b in enumerate(data[g:g + 7], start=1):
            out.append(b & 0x7F)
            if b & 0x80:
                high |= 0x80 >> k
        out.append(high)
    out += data[full:]
    out.append(0)
    return bytes(out)


def encode_block(payload, key, crc=None):
    text = format(crc32(payload) if crc is None else crc, "08x").encode()
    body = pack7(payload + text)
    key = bytes(c | 0x80 for c in key)
    return bytes(b ^ key[i % len(key)] for i, b in enumerate(body)) + b"\n"


def login_line(customer="006ACME", protocol=2, block=128, version="1.6"):
    text = f"{customer}!{protocol}#{block}$({version})".encode("latin-1")
    crc = format(crc32(text), "x").encode()
    return text + b" " + crc + b"\n", crc


def payload_size(block):
    return block - block // 8 - 9


class Caller:
    """The library's end of the line: raw, read with deadlines."""

    def __init__(self, path):
        self.fd = os.open(path, os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        tty.setraw(self.fd)
        attrs = termios.tcgetattr(self.fd)
        attrs[2] |= termios.CLOCAL | termios.CREAD
        termios.tcsetattr(self.fd, termios.TCSANOW, attrs)
        self.pending = bytearray()

    def close(self):
        os.close(self.fd)

    def send(self, data):
        os.write(self.fd, data)

    def _fill(self, until):
        import select
        wait = until - time.monotonic()
        if wait <= 0:
            return False
        ready, _, _ = select.select([self.fd], [], [], wait)
        if ready:
            try:
                self.pending += os.read(self.fd, 4096)
            except (BlockingIOError, OSError):
                time.sleep(0.01)
        return True

    def expect(self, wanted, timeout=3.0):
        """Everything up to and including wanted; fails the test on a time-out."""
        until = time.monotonic() + timeout
        while wanted not in self.pending:
            if not self._fill(until):
                raise AssertionError(f"{wanted!r} not received in {timeout} s; got {bytes(self.pending)!r}")
        end = self.pending.index(wanted) + len(wanted)
        got = bytes(self.pending[:end])
        del self.pending[:end]
        return got

    def read_for(self, seconds):
        until = time.monotonic() + seconds
        while self._fill(until):
            pass
        got = bytes(self.pending)
        self.pending.clear()
        return got

    def command(self, text, timeout=3.0):
        self.send(text.encode() + b"\r")
        return self.expect(b"OK\r\n", timeout)


class ServiceCase(unittest.TestCase):
    """One service process per test, on the pty pair's other end."""

    switches = []

    def start(self, *switches):
        """Starts a service with these switches, in place of any running one."""
        if getattr(self, "service", None):
            self.stop()
        else:
            self.addCleanup(self.stop)
        self.tmp = tempfile.mkdtemp(prefix="tally-service-test.")
        self.card = os.path.join(self.tmp, "card.txt")
        self.log = os.path.join(self.tmp, "service.log")
        self.service = subprocess.Popen(
            [sys.executable, SERVICE, "--device", os.environ["MOSSLANE_SERIAL_PEER"], "--card-out", self.card,
             "--log", self.log, *switches], stdout=subprocess.PIPE, text=True)
        self.assertIn("ready", self.service.stdout.readline())
        self.caller = Caller(os.environ["MOSSLANE_SERIAL_PORT"])
        self.caller.read_for(0.05)  # whatever an earlier test left on the line

    def stop(self):
        if not self.service:
            return
        if self.service.poll() is None:
            self.service.terminate()
        self.service.wait(timeout=10)
        self.service.stdout.close()
        self.service = None
        self.caller.close()

    def log_text(self):
        with open(self.log, encoding="utf-8") as f:
            return f.read()

    def connect(self, dial="ATDT5551234"):
        self.caller.command("ATE1V1Q0X2M1")
        self.caller.send(dial.encode() + b"\r")
        return self.caller.expect(b"CONNECT")

    def login(self, block=128):
        line, key = login_line(block=block)
        self.caller.send(line)
        self.caller.expect(b"Login OK #")
        return key

    def send_block(self, payload, key, answer=ACK):
        self.caller.send(encode_block(payload, key))
        self.assertEqual(answer, self.caller.expect(answer)[-1:])

    def hang_up(self):
        time.sleep(1.2)
        self.caller.send(b"+++")
        self.caller.expect(b"OK\r\n", timeout=3)
        self.caller.command("ATH")


class ModemDialogue(ServiceCase):
    def test_commands_and_their_answers(self):
        self.start()
        # (sent, exact reply): echo on, verbal results, until a command changes that.
        table = [
            (b"AT\r", b"AT\r\r\nOK\r\n"),
            (b"ATE1V1Q0\r", b"ATE1V1Q0\r\r\nOK\r\n"),
            (b"ATE1V1Q0X2M1\r", b"ATE1V1Q0X2M1\r\r\nOK\r\n"),
            (b"at&f\r", b"at&f\r\r\nOK\r\n"),
            (b"ATY\r", b"ATY\r\r\nERROR\r\n"),
            (b"ATX7\r", b"ATX7\r\r\nERROR\r\n"),
            (b"ATO\r", b"ATO\r\r\nERROR\r\n"),  # no call to return to
            (b"\r", b"\r"),  # an empty line gets no result
            (b"ATE0\r", b"ATE0\r\r\nOK\r\n"),  # echoed as typed, off afterwards
            (b"ATV0\r", b"0\r"),
            (b"ATY\r", b"4\r"),
            (b"ATQ1\r", b""),
            (b"ATQ0V1E1\r", b"\r\nOK\r\n"),
            (b"ATS0=0S7?&D2L1\r", b"ATS0=0S7?&D2L1\r\r\nOK\r\n"),
            (b"ATE0Z\r", b"ATE0Z\r\r\nOK\r\n"),  # Z brings echo back for the next line
            (b"AT\r", b"AT\r\r\nOK\r\n"),
        ]
        for sent, reply in table:
            with self.subTest(sent=sent):
                self.caller.send(sent)
                self.assertEqual(reply, self.caller.read_for(0.3))

    def test_dial_outcomes(self):
        # (switches, dial command, awaited result)
        table = [
            ([], "ATDT5551234", b"\r\nCONNECT\r\n"),
            (["--connect-speed", "14400"], "ATDT5551234", b"\r\nCONNECT 14400\r\n"),
            (["--connect-speed", "28800/ARQ"], "ATDT5551234", b"\r\nCONNECT 28800/ARQ\r\n"),
            (["--dial", "busy"], "ATDT5551234", b"\r\nBUSY\r\n"),
            (["--dial", "no-carrier"], "ATDP5551234", b"\r\nNO CARRIER\r\n"),
            (["--dial", "no-dial-tone"], "ATDT5551234", b"\r\nNO DIAL TONE\r\n"),
        ]
        for switches, dial, result in table:
            with self.subTest(switches=switches):
                self.start(*switches)
                self.caller.command("ATE0")
                self.caller.send(dial.encode() + b"\r")
                self.assertEqual(result, self.caller.read_for(1.0))

    def test_busy_first_then_connect_after_factory_reset(self):
        self.start("--dial", "busy,connect")
        self.caller.command("ATE1V1Q0X2M1")
        self.caller.send(b"ATDT5551234\r")
        self.caller.expect(b"BUSY\r\n")
        self.caller.send(b"\r")  # the library's "stop dialling" on an idle modem: no answer
        self.assertEqual(b"\r", self.caller.read_for(0.5))
        self.caller.command("AT&F")
        self.caller.command("ATE1V1Q0X2M1")
        self.caller.send(b"ATDT5551234\r")
        self.caller.expect(b"CONNECT\r\n")
        log = self.log_text()
        self.assertIn("dial 1 tone 5551234 (X2 M1) -> busy", log)
        self.assertIn("dial 2 tone 5551234 (X2 M1) -> connect", log)

    def test_slow_dial_and_a_key_that_stops_it(self):
        self.start("--dial-delay", "2")
        self.caller.command("ATE0")
        self.caller.send(b"ATDT1\r")
        self.assertEqual(b"", self.caller.read_for(1.2))  # nothing yet
        self.caller.expect(b"CONNECT", timeout=2)
        self.start("--dial", "silent")
        self.caller.command("ATE0")
        self.caller.send(b"ATDT1\r")
        self.assertEqual(b"", self.caller.read_for(1.0))
        self.caller.send(b"\r")
        self.caller.expect(b"\r\nNO CARRIER\r\n")
        self.caller.command("AT")  # back in command mode

    def test_silent_modem_answers_nothing(self):
        self.start("--silent")
        self.caller.send(b"ATE1V1Q0\r")
        self.assertEqual(b"", self.caller.read_for(0.8))

    def test_noise_before_every_answer(self):
        self.start("--noise", "40")
        self.caller.send(b"ATE0\r")
        got = self.caller.read_for(0.5)
        self.assertTrue(got.endswith(b"\r\nOK\r\n"), got)
        noise = got[len(b"ATE0\r"):-len(b"\r\nOK\r\n")]
        self.assertEqual(40, len(noise))
        for b in noise:
            self.assertFalse(bytes([b]).isalnum() or b in (0x06, 0x0A, 0x15), f"noise byte {b:#x}")


class Escape(ServiceCase):
    def test_escape_with_guard_times_then_hang_up(self):
        self.start("--calls", "1")
        self.connect()
        self.caller.expect(b"\r\n")
        time.sleep(1.2)
        self.caller.send(b"+++")
        self.assertEqual(b"", self.caller.read_for(0.7))  # the guard time after it runs
        self.caller.expect(b"\r\nOK\r\n", timeout=1.5)
        self.caller.command("ATH")
        self.service.wait(timeout=5)  # --calls 1: the call has ended
        self.assertIn("call 1 ended", self.log_text())

    def test_plus_signs_that_are_no_escape(self):
        # (switches, seconds of silence before, bytes sent)
        table = [
            ([], 1.2, b"x+++"),  # data right before them
            ([], 0.2, b"+++"),  # too soon after the CONNECT line
            ([], 1.2, b"++++"),  # a fourth plus sign
            (["--ignore-escape"], 1.2, b"+++"),
        ]
        for switches, silence, sent in table:
            with self.subTest(switches=switches, sent=sent, silence=silence):
                self.start(*switches)
                self.connect()
                self.caller.expect(b"\r\n")
                time.sleep(silence)
                self.caller.send(sent)
                self.assertEqual(b"", self.caller.read_for(2.0))
                self.caller.send(b"ATH\r")  # still online: data, not a command
                self.assertEqual(b"", self.caller.read_for(0.5))

    def test_the_library_hang_up_line_after_a_silent_escape_pass(self):
        # The library's fallback when +++ got no answer: CR, then ATQ0E1H.
        self.start()
        self.connect()
        self.caller.expect(b"\r\n")
        time.sleep(1.2)
        self.caller.send(b"+++")
        self.caller.expect(b"OK\r\n", timeout=3)
        self.caller.send(b"\r")
        self.caller.command("ATQ0E1H")
        self.assertIn("hung up (ATH)", self.log_text())

    def test_idle_call_is_dropped(self):
        self.start("--idle-hangup", "1")
        self.connect()
        self.caller.expect(b"\r\n")
        self.caller.expect(b"\r\nNO CARRIER\r\n", timeout=2.5)
        self.caller.command("AT")


class Login(ServiceCase):
    def test_login_lines(self):
        good, _ = login_line()
        text = good.rpartition(b" ")[0]
        crc = good.rpartition(b" ")[2][:-1]
        wrong = format((int(crc, 16) + 1) & 0xFFFFFFFF, "x").encode()
        self.assertNotEqual(crc, crc.upper())  # letters in it, so its upper case is another text
        # (line, answer)
        table = [
            (encode_block(b"card data", crc), NAK),  # a block before any login
            (text + b" " + wrong + b"\n", NAK),
            (text + b" " + crc.upper() + b"\n", NAK),
            (text + crc + b"\n", NAK),  # no blank before the CRC text
            (login_line(block=64)[0], NAK),  # block size outside 128 to 2048
            (b"006ACME " + format(crc32(b"006ACME"), "x").encode() + b"\n", NAK),  # no protocol part
            (good, b"Login OK #"),
            (good, b"Login OK #"),  # logged in already: the same line answered again
        ]
        self.start()
        self.connect()
        for line, answer in table:
            with self.subTest(line=line):
                self.caller.send(line)
                self.assertEqual(answer, self.caller.expect(answer)[-len(answer):])
        self.assertIn("customer 006ACME protocol 2 block size 128 version 1.6", self.log_text())
        self.start()
        self.connect()
        self.caller.send(login_line(customer="006M\xfcller")[0])  # Windows ANSI letters in the code
        self.caller.expect(b"Login OK #")

    def test_rejected_logins(self):
        good, _ = login_line()
        for switches, answers in ((["--reject-login", "2"], [NAK, NAK, b"Login OK #"]),
                                  (["--reject-login", "always"], [NAK] * 5)):
            with self.subTest(switches=switches):
                self.start(*switches)
                self.connect()
                for answer in answers:
                    self.caller.send(good)
                    self.assertEqual(answer, self.caller.expect(answer)[-len(answer):])

    def test_call_lost_at_login(self):
        self.start("--drop-at-login")
        self.connect()
        self.caller.expect(b"\r\n")
        self.caller.send(login_line()[0])
        self.caller.expect(b"\r\nNO CARRIER\r\n")
        self.caller.command("AT")  # the modem is back in command mode

    def test_endless_connect_line(self):
        self.start("--endless-line", "1.5")
        self.connect()
        self.assertNotIn(b"\n", self.caller.read_for(1.0))
        self.caller.expect(b"\r\n", timeout=2)
        self.login()


class Blocks(ServiceCase):
    def transmit(self, card, block):
        """Sends card the way the library does: full payloads, then the end rule."""
        key = self.login(block)
        size = payload_size(block)
        for at in range(0, len(card), size):
            self.send_block(card[at:at + size], key)
        if len(card) % size == 0:
            self.send_block(b"", key)  # a full last block, or nothing: an empty end block
        return key

    def test_cards_arrive_whole(self):
        all_bytes = bytes(range(256)) * 9
        # (card, block size)
        table = [
            (b"", 128),
            (b"A" * 103, 128),  # one full block and the empty end block
            (b"B" * 104, 128),  # a full block and one of a single byte
            (b"line one\nline two\n", 128),
            (all_bytes[:887 * 2], 1024),
            (all_bytes, 2048),
            (bytes(range(0x80, 0x100)) * 3, 256),
        ]
        for card, block in table:
            with self.subTest(size=len(card), block=block):
                self.start()
                self.connect()
                self.transmit(card, block)
                with open(self.card, "rb") as f:
                    self.assertEqual(card, f.read())
                self.hang_up()

    def test_block_size_on_the_line(self):
        # A full block of B bytes (B a multiple of 8) is exactly B bytes; the empty block 11.
        for block in (128, 256, 512, 1024, 2048):
            self.assertEqual(block, len(encode_block(b"x" * payload_size(block), b"1234abcd")))
        self.assertEqual(11, len(encode_block(b"", b"1234abcd")))

    def test_no_card_file_until_the_end_block(self):
        self.start()
        self.connect()
        key = self.login()
        self.send_block(b"C" * 103, key)
        self.assertFalse(os.path.exists(self.card))
        self.send_block(b"", key)
        self.assertTrue(os.path.exists(self.card))

    def test_damaged_blocks_are_refused_and_can_be_sent_again(self):
        self.start()
        self.connect()
        key = self.login()
        payload = b"Customer: ACME\nModel: 386\n"
        good = encode_block(payload, key)
        flipped = bytearray(good)
        flipped[5] ^= 0x01
        # (bytes on the line, answer)
        table = [
            (bytes(flipped), NAK),  # one bit changed on the line
            (encode_block(payload, key, crc=crc32(payload) ^ 1), NAK),  # CRC text of other data
            (encode_block(payload, b"0badf00d"), NAK),  # another key
            (good[:-3] + b"\n", NAK),  # cut short
            (b"\n", NAK),  # nothing at all
            (good, ACK),
            (encode_block(b"", key), ACK),
        ]
        for line, answer in table:
            with self.subTest(line=line):
                self.caller.send(line)
                self.assertEqual(answer, self.caller.expect(answer)[-1:])
        with open(self.card, "rb") as f:
            self.assertEqual(payload, f.read())

    def test_over_long_line_is_refused_once(self):
        self.start()
        self.connect()
        key = self.login()
        self.caller.send(b"\xaa" * 5000)
        self.assertEqual(NAK, self.caller.read_for(0.5)[-1:])
        self.caller.send(b"\xaa" * 100 + b"\n")  # the rest of the same line: no answer
        self.assertEqual(b"", self.caller.read_for(0.3))
        self.send_block(b"after", key)

    def test_nak_switch(self):
        # (switch, answers to the same good second block)
        table = [
            ("2:2", [NAK, NAK, ACK]),
            ("2", [NAK, NAK, NAK, NAK]),
        ]
        for rule, answers in table:
            with self.subTest(rule=rule):
                self.start("--nak-block", rule)
                self.connect()
                key = self.login()
                self.send_block(b"D" * 103, key)
                for answer in answers:
                    self.send_block(b"E" * 10, key, answer)

    def test_slow_answer_to_a_block(self):
        self.start("--slow-block", "2:1.5")
        self.connect()
        key = self.login()
        self.send_block(b"F" * 103, key)
        self.caller.send(encode_block(b"G" * 5, key))
        self.assertEqual(b"", self.caller.read_for(1.2))
        self.assertEqual(ACK, self.caller.expect(ACK, timeout=1.0))
        with open(self.card, "rb") as f:  # on disk before the late ACK
            self.assertEqual(b"F" * 103 + b"G" * 5, f.read())

    def test_card_out_per_call(self):
        tmp = tempfile.mkdtemp(prefix="tally-service-test.")
        self.start("--card-out", os.path.join(tmp, "card-{call}.txt"))
        for n in (1, 2):
            self.connect()
            key = self.login()
            self.send_block(f"call {n}".encode(), key)
            self.hang_up()
        for n in (1, 2):
            with open(os.path.join(tmp, f"card-{n}.txt"), "rb") as f:
                self.assertEqual(f"call {n}".encode(), f.read())


def main():
    if "MOSSLANE_SERIAL_PORT" not in os.environ:
        os.execv(os.path.join(SOURCE, "tests", "with-pty-pair"),
                 ["with-pty-pair", sys.executable, os.path.abspath(__file__), *sys.argv[1:]])
    unittest.main()


if __name__ == "__main__":
    sys.dont_write_bytecode = True
    main()
