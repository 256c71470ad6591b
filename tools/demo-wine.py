#!/usr/bin/env python3
"""The shipped program at work: two MossLane.exe under Wine, each in a prefix of
its own with COM2 mapped to one end of a virtual null-modem cable, exchange the
sample folder. Windows appear on $DISPLAY when it is set, else on a private
Xvfb with screenshots saved. Run by tools/demo; usage: demo-wine.py WIN64_BUILD_DIR"""

import os
import random
import shutil
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tests", "gui"))
from mossbox import Failure, MossBox, PtyPair, wait_until  # noqa: E402

DEADLINE_S = 240
TEXT = (".txt", ".ini")


def samples(rng):
    lf = b"MossLane demo\nThese lines end in LF here\nand arrive ending in CR LF.\n"
    return {
        "docs/readme.txt": lf,
        "docs/2026/summary.txt": b"Q1\t100\nQ2\t140\nQ3\t90\n",
        "docs/settings.ini": b"[link]\nport=COM2\nspeed=57600\n",
        "data/measurements.bin": rng.randbytes(300000),
        "data/one-packet.bin": rng.randbytes(1029),
        "empty-and-small/empty.txt": b"",
        "empty-and-small/one-byte.dat": b"x",
    }


def offer(files, out_dir, stage):
    """Written aside, then renamed in: no scan sees half a file."""
    for rel, data in files.items():
        path = os.path.join(stage, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)
    for entry in os.listdir(stage):
        os.rename(os.path.join(stage, entry), os.path.join(out_dir, entry))


def waiting(folder):
    return [os.path.join(d, n) for d, _, names in os.walk(folder) for n in names]


def report(files, in_dir, label):
    bad = 0
    for rel, data in sorted(files.items()):
        path = os.path.join(in_dir, rel)
        if not os.path.exists(path):
            print(f"   {label}  {rel:<34} {len(data):>8} bytes  MISSING")
            bad += 1
            continue
        with open(path, "rb") as f:
            got = f.read()
        crlf = data.replace(b"\r\n", b"\n").replace(b"\r", b"\n").replace(b"\n", b"\r\n")
        if got == data:
            how = "identical"
        elif rel.endswith(TEXT) and got == crlf:
            how = f"translated to CR LF ({len(got)} bytes)"
        else:
            how = "DIFFERENT"
            bad += 1
        print(f"   {label}  {rel:<34} {len(data):>8} bytes  {how}")
    return bad


class Side:
    def __init__(self, name, box):
        self.name, self.box = name, box
        self.in_dir, self.out_dir = box.path("in"), box.path("out")
        os.makedirs(self.in_dir)
        os.makedirs(self.out_dir)
        box.seed_folders(self.in_dir, self.out_dir)
        # The sample holds .ini files too: both sides treat them as text.
        box.reg_binary("TextExtensions", b".txt .ini".ljust(256, b"\0"))
        self.program = box.start()
        box.wait_main()
        wait_until(lambda: box.checked() == [5, 9, 11], 20, f"{name}: COM2 open")

    def state(self):
        return self.box.texts()["7"]


def main():
    build = os.path.abspath(sys.argv[1])
    display = os.environ.get("DISPLAY") or None
    shots = os.path.join(build, "demo-shots")
    rng = random.Random()
    with PtyPair() as cable, MossBox(build, {"COM2": cable.a}, display) as box_a, \
            MossBox(build, {"COM2": cable.b}, display) as box_b:
        print(f"== cable: {cable.a} <-> {cable.b}")
        print(f"== windows on {'your display ' + display if display else 'private displays ' + box_a.display + ' ' + box_b.display}")
        a, b = Side("A", box_a), Side("B", box_b)
        print(f"== A ({box_a.prefix}) and B ({box_b.prefix}) run MossLane.exe, minimised, on COM2 at 57600 bit/s, CTS")
        sent_a = samples(rng)
        sent_b = {"replies/thanks.txt": b"Thanks, all received.\n"}
        print(f"== A offers {len(sent_a)} files, B offers {len(sent_b)}")
        offer(sent_a, a.out_dir, box_a.path("stage"))
        offer(sent_b, b.out_dir, box_b.path("stage"))
        start = time.monotonic()
        pictures = set()
        seen = []
        while waiting(a.out_dir) or waiting(b.out_dir) or a.state() != "Idle" or b.state() != "Idle":
            if time.monotonic() - start > DEADLINE_S:
                raise Failure("the transfers did not finish in time")
            for side in (a, b):
                if not side.program.running():
                    raise Failure(f"{side.name} stopped")
                texts = side.box.texts()
                line = f"{texts['7']} {texts['1']}".strip()
                if texts["7"] not in ("Idle", "<no answer>") and (side.name, line) not in seen:
                    seen.append((side.name, line))
                    print(f"   {side.name}: {line}")
                if not display and texts["7"] in ("Sending:", "Receiving:") and side.name not in pictures:
                    pictures.add(side.name)
                    path = side.box.screenshot(os.path.join(shots, f"demo-{side.name}.png"), "MossLane")
                    print(f"   screenshot of {side.name}'s window: {path}")
            time.sleep(0.05)
        print(f"== what moved (took {time.monotonic() - start:.0f}s)")
        bad = report(sent_a, b.in_dir, "A -> B") + report(sent_b, a.in_dir, "B -> A")
        if not display:
            for side in (a, b):
                side.box.drive("show")
                path = side.box.screenshot(os.path.join(shots, f"demo-{side.name}-after.png"), "MossLane")
                print(f"   screenshot of {side.name}'s window afterwards: {path}")
        print("== stopping both (File > Exit)")
        for side in (a, b):
            side.box.drive("command", 14)
            code = side.program.wait_exit()
            print(f"   {side.name} exited with {code}")
            bad += code != 0
    print("== demo finished: every file arrived" if not bad else "== demo FAILED")
    return 1 if bad else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except Failure as e:
        print(f"== demo FAILED: {e}", file=sys.stderr)
        sys.exit(1)
