#!/usr/bin/env python3
"""Names with accents between the Linux mosslane and MossLane.exe under Wine:
`mosslane send` offers a folder of UTF-8 names, MossLane.exe stores them
(its names are Windows ANSI, code page 1252), sends them back from its
outgoing folder, and `mosslane receive` stores them under the same names. A
name with no code page 1252 form arrives with "_" in place of what it lacks.
Usage: names_session.py WIN64_BUILD_DIR LINUX_MOSSLANE"""

import os
import shutil
import subprocess
import sys

from mossbox import MossBox, PtyPair, Suite, wait_until
from transfer_session import WineEnd, files_under, read

suite = Suite()
check = suite.check
COMMAND_DEADLINE_S = 120

# name sent -> name expected on both sides afterwards
NAMES = {
    "café.txt": "café.txt",
    "Ölpreis 2026.csv": "Ölpreis 2026.csv",
    "€ Übersicht «Juni».dat": "€ Übersicht «Juni».dat",
    "日本.bin": "__.bin",
}
FOLDER = "Größen"


def contents(name):
    return ("data of " + name + "\n").encode("utf-8")


def linux_to_windows(box_end, mosslane, device, work):
    src = os.path.join(work, "src", FOLDER)
    os.makedirs(src)
    for name in NAMES:
        with open(os.path.join(src, name), "wb") as f:
            f.write(contents(name))
    before = {n: read(os.path.join(src, n)) for n in NAMES}
    run = subprocess.run([mosslane, "send", "--device", device, "--timeout", "60", src],
                         capture_output=True, timeout=COMMAND_DEADLINE_S)
    out = run.stdout.decode("utf-8", "replace")
    check(run.returncode == 0, f"mosslane send exited {run.returncode}: {run.stderr!r}")
    check(f"renamed {FOLDER}\\日本.bin as {FOLDER}\\__.bin" in out, f"no renamed line: {out}")
    check({n: read(os.path.join(src, n)) for n in NAMES} == before, "the originals changed")
    wait_until(box_end.idle, 30, "MossLane.exe idle after the batch")
    got = files_under(box_end.in_dir)
    want = {f"{FOLDER}/{n}" for n in NAMES.values()}
    check(set(got) == want, f"MossLane.exe stored {sorted(got)}, expected {sorted(want)}")
    for sent, stored in NAMES.items():
        if not stored.endswith(".txt"):  # text files get CR LF there
            check(read(got[f"{FOLDER}/{stored}"]) == contents(sent), f"{stored}: other bytes")


def windows_to_linux(box_end, mosslane, device, work):
    # What MossLane.exe received goes back from its outgoing folder.
    shutil.move(os.path.join(box_end.in_dir, FOLDER), os.path.join(box_end.out_dir, FOLDER))
    incoming = os.path.join(work, "linux-in")
    os.makedirs(incoming)
    run = subprocess.run([mosslane, "receive", "--in", incoming, "--device", device,
                          "--timeout", "60", "--line-ends", "lf"],
                         capture_output=True, timeout=COMMAND_DEADLINE_S)
    check(run.returncode == 0, f"mosslane receive exited {run.returncode}: {run.stderr!r}")
    got = files_under(incoming)
    want = {f"{FOLDER}/{n}" for n in NAMES.values()}
    check(set(got) == want, f"mosslane stored {sorted(got)}, expected {sorted(want)}")
    for sent, stored in NAMES.items():
        check(read(got[f"{FOLDER}/{stored}"]) == contents(sent), f"{stored}: not the bytes sent")
    check(not files_under(box_end.out_dir), "MossLane.exe kept files in its outgoing folder")


def main():
    build = os.path.abspath(sys.argv[1])
    mosslane = sys.argv[2] if len(sys.argv) > 2 else ""
    if not os.access(mosslane, os.X_OK):
        print("skip names: no Linux mosslane (build the native preset first)")
        return 0
    with PtyPair() as cable, MossBox(build, ports={"COM2": cable.a}) as box:
        work = box.path("names-work")
        os.makedirs(work)
        end = WineEnd("windows", box)
        suite.run("UTF-8 names from mosslane send arrive in MossLane.exe as the same names",
                  linux_to_windows, end, mosslane, cable.b, work)
        suite.run("and come back to mosslane receive under the same names",
                  windows_to_linux, end, mosslane, cable.b, work)
        end.stop()
    return suite.finish()


if __name__ == "__main__":
    sys.exit(main())
