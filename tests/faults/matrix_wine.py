#!/usr/bin/env python3
"""The rows of the fault matrix that make sense for MossLane.exe under Wine:
the Windows program on one end of the paced line, the Linux mosslane on the
other, one fault per row, and the same questions afterwards as in matrix.py:
nothing lost, nothing wrong under a final name, no partial file left, and both
ends still serving (a batch each way).

    tests/faults/matrix_wine.py WIN64_BUILD_DIR LINUX_MOSSLANE [--rows NAME,...]

Folder permissions do not bind root, so when the matrix runs as root the row
with a read-only incoming folder runs Wine as an unprivileged user, in a prefix
of its own that belongs to that user.
"""
import argparse
import os
import random
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "gui"))
import matrix  # noqa: E402
from matrix import Cable, Failure, Instance, classify, files_under, place, set_writable  # noqa: E402
from mossbox import Failure as BoxFailure, MossBox, wait_until  # noqa: E402

FAULT_AFTER_S = 2.0
SETTLE_DEADLINE_S = 150

# (name, Windows side sends?, line faults, the fault that strikes mid-file)
ROWS = [
    ("MossLane.exe receiving with bit errors 1e-4", False, {"bit_errors": 1e-4}, None),
    ("MossLane.exe receiving across a 3 s cable cut", False, {}, "cut"),
    ("MossLane.exe killed while receiving", False, {}, "kill"),
    ("MossLane.exe killed while sending", True, {}, "kill"),
    ("MossLane.exe incoming read-only mid-batch", False, {}, "readonly"),
]


class WindowsEnd:
    """MossLane.exe with its folders, in a prefix whose COM2 is one end of the line."""

    def __init__(self, box):
        self.name = "W"
        self.box = box
        self.in_dir, self.out_dir = box.path("in"), box.path("out")
        os.makedirs(self.in_dir, exist_ok=True)
        os.makedirs(self.out_dir, exist_ok=True)
        box.give(self.in_dir)
        box.give(self.out_dir)
        box.seed_folders(self.in_dir, self.out_dir)
        self.program = None

    def start(self):
        self.program = self.box.start()
        self.box.wait_main()
        wait_until(lambda: 5 in self.box.checked(), 30, "MossLane.exe with its port open")

    def alive(self):
        return self.program is not None and self.program.running()

    def idle(self):
        try:
            return self.box.texts().get("7") == "Idle"
        except BoxFailure:
            return False

    def panel(self):
        try:
            texts = self.box.texts()
        except BoxFailure:
            return "", ""
        return texts.get("7", ""), texts.get("1", "")

    def kill(self):
        self.program.kill()

    def stop(self):
        if self.alive():
            self.box.drive("command", 14, check=False)
            try:
                self.program.wait_exit(20)
            except BoxFailure:
                self.program.kill()


def await_started(windows, linux, windows_sends):
    """Until the big file is on its way, seen from the Linux end's lines."""
    wanted = "receiving big.bin" if windows_sends else "sending big.bin"
    deadline = time.monotonic() + 90
    while not any(line.startswith(wanted) for line in linux.lines()):
        if time.monotonic() > deadline:
            raise Failure("the big file never started")
        time.sleep(0.1)


def await_quiet(sender, receiver, deadline):
    quiet_since = None
    while time.monotonic() < deadline:
        waiting = [rel for rel in files_under(sender.out_dir)
                   if rel.split(os.sep)[0].lower() != "!unsent"]
        settled = not waiting and sender.idle() and receiver.idle()
        if settled:
            quiet_since = quiet_since or time.monotonic()
            if time.monotonic() - quiet_since >= matrix.QUIET_S:
                return
        else:
            quiet_since = None
        time.sleep(0.3)
    raise Failure("the first batch did not settle in time")


def move(sender, receiver, files, stage, what):
    place(sender.out_dir, files, stage)
    deadline = time.monotonic() + matrix.BATCH_DEADLINE_S
    while time.monotonic() < deadline:
        got = files_under(receiver.in_dir)
        if all(rel in got and open(got[rel], "rb").read() == data for rel, data in files.items()):
            return
        time.sleep(0.2)
    raise Failure(f"{what} did not arrive")


def run_row(index, build, mosslane):
    name, windows_sends, faults, fault = ROWS[index]
    started = time.monotonic()
    result = {"row": name, "verdict": "FAIL", "detail": "", "serves": "no"}
    cable = linux = windows = None
    user = matrix.UNPRIVILEGED if fault == "readonly" and os.geteuid() == 0 else None
    with MossBox(build, user=user) as box:
        try:
            cable = Cable(box.path("ttyW"), box.path("ttyL"), faults.get("bit_errors", 0.0),
                          faults.get("drops", 0.0), seed=index + 11)
            cable.start()
            if user is not None:
                os.chmod(cable.device(0), 0o666)
            box.reg_add(r"HKLM\Software\Wine\Ports", "COM2", cable.device(0))
            box.restart_server()
            windows = WindowsEnd(box)
            linux = Instance("L", box.path("linux"), box.path("ttyL"), mosslane)
            windows.start()
            linux.start()
            rng = random.Random(index)
            sent = {"big.bin": rng.randbytes(80000), "docs/b.bin": rng.randbytes(6000),
                    "c.bin": rng.randbytes(3000), "empty.bin": b""}
            sender, receiver = (windows, linux) if windows_sends else (linux, windows)
            place(sender.out_dir, sent, box.path("stage"))
            if fault:
                await_started(windows, linux, windows_sends)
                time.sleep(FAULT_AFTER_S)
                if fault == "cut":
                    cable.cut(3.0)
                elif fault == "readonly":
                    set_writable(windows.in_dir, False)
                else:
                    windows.kill()
                    if not windows_sends and "big.bin" in files_under(windows.in_dir):
                        raise Failure("the half file is under its final name after the kill")
                    result["after kill"] = sorted(files_under(windows.in_dir))
                    windows.start()
            await_quiet(sender, receiver, time.monotonic() + SETTLE_DEADLINE_S)
            if fault == "readonly":
                set_writable(windows.in_dir, True)
            report = classify(sent, sender, receiver)
            result.update(report)
            stage = box.path("stage")
            move(linux, windows, {"second/x.bin": rng.randbytes(4000)}, stage, "a batch to MossLane.exe")
            move(windows, linux, {"back.bin": rng.randbytes(3000)}, stage, "a batch from MossLane.exe")
            result["serves"] = "yes"
            matrix.judge(result, report, (windows, linux))
        except (Failure, BoxFailure) as failure:
            result["detail"] = str(failure)
        finally:
            if windows is not None:
                set_writable(windows.in_dir, True)
            if linux is not None:
                linux.stop()
            if windows is not None:
                windows.stop()
            if cable is not None:
                result["line faults"] = cable.injected()
                cable.stop()
    result["seconds"] = round(time.monotonic() - started)
    return result


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("mosslane")
    parser.add_argument("--rows", help="comma-separated row names (default: all)")
    args = parser.parse_args()
    if not os.access(args.mosslane, os.X_OK):
        print(f"skip: no Linux mosslane at {args.mosslane} (build the native preset first)")
        return 0
    results = [run_row(i, os.path.abspath(args.build), os.path.abspath(args.mosslane))
               for i, (name, _, _, _) in enumerate(ROWS)
               if not args.rows or name in args.rows.split(",")]
    print(matrix.table(results))
    for r in results:
        notes = [r["detail"]] if r.get("detail") else []
        if "after kill" in r:
            notes.append(f"incoming folder right after the kill: {r['after kill']}")
        if r.get("numbered"):
            notes.append(f"resent under a numbered name: {r['numbered']}")
        if r.get("duplicates"):
            notes.append(f"in two places: {r['duplicates']}")
        if notes:
            print(f"{r['row']}: " + "; ".join(notes))
    return 0 if all(r["verdict"] == "PASS" for r in results) else 1


if __name__ == "__main__":
    sys.exit(main())
