#!/usr/bin/env python3
"""tallylib.dll under wine64 sends cards to tools/tally-service: COM1 of a
private prefix is one end of a pty pair, the service the other end. Each case
starts the service with its fault switches, runs the host program once, and
judges its messages and results, the card that arrived and the modem dialogue.
Usage: transmit_session.py SOURCE-DIR BIN-DIR [CASE...]
(under tests/with-pty-pair, which it starts itself when needed)"""

import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time

sys.dont_write_bytecode = True  # keep the source tree clean
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests"))
from winebox import WINESERVER, WineBox  # noqa: E402

# Level-1 messages: the last of them is what a host shows as the outcome.
MAIN_IDS = {107, 121, 201, 303, 401, 501, 503, 507}

# A card with what text-mode reading changes: CR LF pairs, a lone CR, bytes
# above 127, and a ^Z after which nothing is sent. 800 bytes before the ^Z
# make several blocks of 128 and one of 1024.
CARD = (b"Name: A. Customer\r\nCompany: ACME Corp\r\nModel: 486DX2/66, 8 MB\r\n"
        + b"Notes: caf\xe9 \xa9 1996\rsame line\r\n"
        + b"".join(b"Line %03d of the registration card\r\n" % n for n in range(20))
        + b"\x1a trailing bytes the library must not send\r\n")
# Every byte value but ^Z, LF and CR among them (no CR is followed by LF):
# three blocks of 2048.
CARD_ALL_BYTES = bytes(b for b in range(256) if b != 0x1A) * 16
# Exactly two payloads of 128-byte blocks (103 bytes each): ends with an empty block.
CARD_FULL_BLOCKS = b"x" * 102 + b"\r\n" + b"y" * 102 + b"\n"


def text_mode(data):
    return data.split(b"\x1a", 1)[0].replace(b"\r\n", b"\n")


def subsequence(wanted, ids):
    it = iter(ids)
    return all(any(i == w for i in it) for w in wanted)


class Case:
    """name, service switches, host arguments, and what must hold afterwards."""

    def __init__(self, name, switches, host, results, ids=(), last_main=None, card=CARD, block=128, flags=0,
                 attempts=3, dial_wait=10, arrives=True, log_has=(), log_lacks=(), inner=None, waits=()):
        self.__dict__.update(locals())
        del self.__dict__["self"]


CASES = [
    Case("sent", [], "send", [0], ids=[104, 108, 107, 121, 127, 201, 213, 225, 303, 401], last_main=401,
         log_has=["command ATE1V1Q0\n", "command ATE1V1Q0X2M1\n", "dial 1 tone 5551234",
                  "customer 006ACME protocol 2 block size 128 version 1.6", "+++ escape", "command ATH\n"]),
    Case("sent-1024-pulse-blind-connect-speed", ["--connect-speed", "14400/ARQ/V42BIS"], "send", [0],
         ids=[225, 303, 401], last_main=401, block=1024, flags=12,
         log_has=["command ATE1V1Q0X1M1\n", "dial 1 pulse 5551234", "block size 1024"]),
    # NAK, NAK, ACK: the block goes three times and the card goes on.
    Case("sent-full-blocks", ["--nak-block", "2:2"], "send", [0], ids=[225, 303, 401], last_main=401,
         card=CARD_FULL_BLOCKS, log_has=["block 3 of 11 bytes, 0 data bytes, ACK", "(switch, 2)"]),
    # Time-out, time-out, ACK (4 s a wait for 128 bytes at 2400 bit/s): nothing is
    # sent while the library waits, and the next block follows the late ACK.
    Case("slow-ack", ["--slow-block", "3:9", "--log-data"], "send", [0], ids=[225, 401], last_main=401,
         log_has=["block 4 of 128 bytes"], waits=[("block 3 good, ACK in 9", "received", 9.0)]),
    Case("sent-2048-all-bytes", [], "send", [0], ids=[225, 303, 401], last_main=401, card=CARD_ALL_BYTES,
         block=2048, log_has=["block 3 of "]),
    Case("sent-through-noise", ["--noise", "40", "--connect-speed", "9600"], "send", [0], ids=[225, 401],
         last_main=401),
    Case("sent-after-endless-connect-line", ["--endless-line", "3"], "send", [0], ids=[225, 401], last_main=401),
    Case("missing-card", [], "send", [101], card=None, arrives=False, log_lacks=["command"]),
    Case("busy-then-sent", ["--dial", "busy,connect"], "send", [0], ids=[107, 111, 107, 225, 401],
         last_main=401, log_has=["dial 1 tone 5551234 (X2 M1) -> busy", "command AT&F\n",
                                 "dial 2 tone 5551234 (X2 M1) -> connect"]),
    Case("nak-nak-nak", ["--nak-block", "2"], "send", [108], ids=[201, 227, 303, 507], last_main=507,
         arrives=False, log_has=["block 2 good, NAK (switch, 3)"], log_lacks=["(switch, 4)", "block 3"]),
    Case("login-lost", ["--drop-at-login"], "send", [107], ids=[121, 123], last_main=121, arrives=False),
    Case("login-nak-3-then-sent", ["--reject-login", "3"], "send", [0], ids=[121, 127, 225, 401], last_main=401,
         log_has=["login rejected (switch, 3)"]),
    # Four NAKs count as a verification; the service then refuses the blocks.
    Case("login-always-refused", ["--reject-login", "always"], "send", [108], ids=[121, 127, 227, 507],
         last_main=507, arrives=False, log_has=["login rejected (switch, 4)"]),
    Case("no-modem", ["--silent"], "send", [104], ids=[104, 501], last_main=501, arrives=False),
    # Each pass: 1 s pause after the escape, 3 s for an answer, then CR; 0.25 s, ATQ0E1H, 2 s; 1 s pause.
    Case("phone-not-hung-up", ["--ignore-escape", "--log-data"], "send", [109], ids=[225, 303, 313],
         last_main=303, log_lacks=["hung up"],
         waits=[("received +++", "received <0d>", 4.0), ("received ATQ0E1H", "received +++", 3.0)]),
    # The dial wait is measured from the dial command: one silent attempt of 4 s.
    Case("dial-never-answered", ["--dial", "silent"], "send", [106], ids=[107, 111], arrives=False, attempts=1,
         dial_wait=4, waits=[("command ATDT", "dialling stopped", 4.0),
                             ("command ATE1V1Q0X2M1", "command ATDT", 1.0)]),
    Case("abort-in-dial-then-sent", ["--dial", "silent,connect"], "abort", [110, 0],
         ids=[107, 503, 104, 107, 225, 401], last_main=401, log_has=["dial 2 tone"]),
    # The abort exit hangs up with waits that work again.
    Case("abort-in-blocks", [], "abort-send", [110], ids=[213, 503, 311], last_main=503, arrives=False,
         log_has=["+++ escape", "hung up (ATH)"]),
    Case("customer-codes", [], "customers", [0, 0, 0, 0], ids=[401, 401, 401, 401],
         log_has=["customer 006M<fc>ller protocol", "customer 006NO_ID protocol", "customer 006AB protocol",
                  "customer 006ABCDEFGHIJK protocol", "command ATE1V1Q0X2M0\n"]),
    Case("pending-abort-then-sent", [], "abort-first", [110, 0], ids=[104, 503, 104, 225, 401], last_main=401),
    Case("status-window", ["--dial-delay", "3"], "window", [0]),
    Case("second-call-refused", [], "reenter", [0], ids=[225, 401], last_main=401, inner=102),
    Case("sample-host", [], "sample", [0], block=256, log_has=["customer 006ACME protocol 2 block size 256"]),
    Case("find-modem", [], "find", [], arrives=False),
    Case("find-no-modem", ["--silent"], "find", [], arrives=False),
]


class Session:
    def __init__(self, box, bin_dir, source_dir):
        self.box, self.bin_dir, self.source_dir = box, bin_dir, source_dir
        self.scratch = tempfile.mkdtemp(dir=box.tmp)
        # COM1 is the cable; COM2 to COM4 lead nowhere, as on a PC with one port.
        box.reg_add(r"HKLM\Software\Wine\Ports", "COM1", os.environ["MOSSLANE_SERIAL_PORT"])
        for n in (2, 3, 4):
            box.reg_add(r"HKLM\Software\Wine\Ports", f"COM{n}", "/nonexistent/ttyS9")
        subprocess.run([WINESERVER, "-k"], env=box.env, capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=box.env, capture_output=True, timeout=30)
        subprocess.run([WINESERVER, "-p"], env=box.env, check=True)

    def run(self, case):
        work = tempfile.mkdtemp(dir=self.scratch, prefix=case.name + ".")
        card_path = os.path.join(work, "card.txt")
        if case.card is not None:
            with open(card_path, "wb") as f:
                f.write(case.card)
        received, log_path = os.path.join(work, "received.txt"), os.path.join(work, "service.log")
        service = subprocess.Popen(
            [sys.executable, os.path.join(self.source_dir, "tools", "tally-service"),
             "--device", os.environ["MOSSLANE_SERIAL_PEER"], "--card-out", received, "--log", log_path,
             *case.switches], stdout=subprocess.PIPE, text=True)
        try:
            if "ready" not in service.stdout.readline():
                return ["the service did not start"]
            started = time.monotonic()
            host = [os.path.join(self.bin_dir, "tally_transmit_host.exe"), case.host, self.box.windows_path(card_path),
                    str(case.block), str(case.flags), str(case.attempts), str(case.dial_wait)]
            if case.host == "sample":  # the README's sample host, as a host developer runs it
                host = [os.path.join(self.bin_dir, "send_card.exe"), self.box.windows_path(card_path), "5551234",
                        "ACME", "--block", str(case.block)]
            outcome = {}
            runner = threading.Thread(target=lambda: outcome.update(
                zip(("code", "out"), self.box.run(*host, cwd=self.bin_dir, timeout=240))))
            runner.start()
            watched = self.watch_window(log_path, work) if case.host == "window" else []
            runner.join()
            code, out = outcome.get("code", -1), outcome.get("out", "")
            elapsed = time.monotonic() - started
        finally:
            service.terminate()
            service.wait(timeout=10)
            service.stdout.close()
        with open(log_path, encoding="utf-8") as f:
            log = f.read()
        print(f"== {case.name}: exit {code}, {elapsed:.1f} s\n{out}-- service log:\n{log}")
        return watched + self.judge(case, code, out, log, received)

    def watch_window(self, log_path, work):
        """While the dial is answered slowly, the library's status window must be up."""
        deadline = time.monotonic() + 60
        while time.monotonic() < deadline:
            if os.path.exists(log_path) and "dial 1" in open(log_path, encoding="utf-8").read():
                break
            time.sleep(0.1)
        else:
            return ["no dial within 60 s"]
        time.sleep(0.5)
        found = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "^Transmission Information$"],
                               env=self.box.env, capture_output=True, text=True).stdout.split()
        # TALLY_SCREENSHOT=FILE.png keeps a picture of the screen to look at (ImageMagick's import).
        shot = os.environ.get("TALLY_SCREENSHOT")
        if shot and shutil.which("import"):
            subprocess.run(["import", "-window", "root", shot], env=self.box.env, capture_output=True)
        return [] if found else ["no visible \"Transmission Information\" window during the dial"]

    def judge(self, case, code, out, log, received):
        faults = []
        lines = out.splitlines()
        results = [int(l.split()[1].rstrip(":")) for l in lines if l.lower().startswith("result ")]
        ids = [int(l.split()[1]) for l in lines if l.startswith("id ")]
        if code != 0:
            faults.append(f"host exit {code}")
        if results != case.results:
            faults.append(f"results {results}, expected {case.results}")
        if not subsequence(case.ids, ids):
            faults.append(f"messages {ids} lack {case.ids} in this order")
        mains = [i for i in ids if i in MAIN_IDS]
        if case.last_main and (not mains or mains[-1] != case.last_main):
            faults.append(f"last main message {mains[-1:]} , expected {case.last_main}")
        if case.inner is not None and f"inner-result {case.inner}" not in lines:
            faults.append(f"no inner-result {case.inner}")
        if case.arrives:
            if not os.path.exists(received):
                faults.append("no card arrived")
            else:
                with open(received, "rb") as f:
                    got = f.read()
                if got != text_mode(case.card):
                    faults.append(f"card arrived as {got!r}")
        elif os.path.exists(received) and case.results[-1:] != [0]:
            faults.append("a card arrived from a failed transmission")
        for text in case.log_has:
            if text not in log:
                faults.append(f"service log lacks {text!r}")
        for text in case.log_lacks:
            if text in log:
                faults.append(f"service log has {text!r}")
        faults += self.judge_special(case, lines, ids)
        faults += self.judge_waits(case, log)
        return faults

    @staticmethod
    def judge_waits(case, log):
        """Each (first, then, seconds): the next service log line with then
        after each one with first comes no sooner than seconds later. Only a
        lower bound: a slow machine makes waits longer, never shorter."""
        entries = []
        for line in log.splitlines():
            stamp, _, text = line.strip().partition(" ")
            entries.append((float(stamp), text))
        faults = []
        for first, then, seconds in case.waits:
            starts = [(n, t) for n, (t, text) in enumerate(entries) if first in text]
            if not starts:
                faults.append(f"service log lacks {first!r}")
            for n, t in starts:
                after = next((t2 for t2, text in entries[n + 1:] if then in text), None)
                if after is not None and after - t < seconds - 0.2:
                    faults.append(f"{then!r} {after - t:.2f} s after {first!r}, expected {seconds} s or more")
        return faults

    @staticmethod
    def judge_special(case, lines, ids):
        if case.name == "sample-host":  # it prints every message text, indented
            texts = [l[2:] for l in lines if l.startswith("  ")]
            wanted = ["Looking for modem on COM1 at 2400 baud.", "Found a modem on COM1", "Dialing the modem.",
                      "Logging in.", "We received login verification.", "Transmission successful",
                      "Hanging up the phone.", "Registration successful!"]
            if not subsequence(wanted, texts):
                return [f"texts {texts} lack {wanted} in this order"]
        if case.name == "find-modem" and "found 1 port 1 speed 2400" not in lines:
            return ["FindModem did not find the modem on COM1 at 2400"]
        if case.name == "find-no-modem" and not any(l.startswith("found 0 ") for l in lines):
            return ["FindModem found a modem where none answers"]
        if case.name == "missing-card" and ids:
            return [f"messages {ids} before the card was found missing"]
        return []


def main():
    source_dir, bin_dir, wanted = sys.argv[1], sys.argv[2], sys.argv[3:]
    if "MOSSLANE_SERIAL_PORT" not in os.environ:
        os.execv(os.path.join(source_dir, "tests", "with-pty-pair"),
                 ["with-pty-pair", sys.executable, os.path.abspath(__file__), *sys.argv[1:]])
    cases = [c for c in CASES if not wanted or c.name in wanted]
    failed = []
    started = time.monotonic()
    with WineBox(source_dir) as box:
        session = Session(box, bin_dir, source_dir)
        for case in cases:
            faults = session.run(case)
            for fault in faults:
                print(f"FAIL {case.name}: {fault}")
            if faults:
                failed.append(case.name)
    print(f"{len(cases) - len(failed)} of {len(cases)} cases passed in {time.monotonic() - started:.0f} s"
          + (f"; failed: {', '.join(failed)}" if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
