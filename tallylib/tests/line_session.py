#!/usr/bin/env python3
"""Runs tally_line_tests.exe with Wine's COM1 and COM2 on the pty pair of
tests/with-pty-pair, COM3 on a plain file and COM4 on a missing device.
Usage: line_session.py SOURCE-DIR BIN-DIR"""

import os
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winebox import WINESERVER, WineBox  # noqa: E402


def main():
    source_dir, bin_dir = sys.argv[1], sys.argv[2]
    with WineBox(source_dir) as box:
        plain = os.path.join(box.tmp, "not-a-port")
        open(plain, "wb").close()
        ports = {"COM1": os.environ["MOSSLANE_SERIAL_PORT"], "COM2": os.environ["MOSSLANE_SERIAL_PEER"],
                 "COM3": plain, "COM4": os.path.join(box.tmp, "no-such-device")}
        for name, device in ports.items():
            box.reg_add(r"HKLM\Software\Wine\Ports", name, device)
        # The port links are made when the server starts.
        subprocess.run([WINESERVER, "-k"], env=box.env, capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=box.env, capture_output=True)
        code, out = box.run(os.path.join(bin_dir, "tally_line_tests.exe"), cwd=bin_dir, timeout=90)
        print(out)
        return 1 if code != 0 else 0


if __name__ == "__main__":
    sys.exit(main())
