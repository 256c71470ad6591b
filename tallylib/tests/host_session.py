#!/usr/bin/env python3
"""Runs the host test program and the in-process tests of the library in one
Wine prefix with a display (the status window needs one).
Usage: host_session.py SOURCE-DIR BIN-DIR"""

import os
import sys
import tempfile

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winebox import WineBox  # noqa: E402


def main():
    source_dir, bin_dir = sys.argv[1], sys.argv[2]
    failed = False
    with WineBox(source_dir) as box:
        scratch = tempfile.mkdtemp(dir=box.tmp)
        for program, args in (("tally_host_tests.exe", [box.windows_path(scratch)]),
                              ("tally_internal_tests.exe", [])):
            code, out = box.run(os.path.join(bin_dir, program), *args, cwd=bin_dir)
            print(f"== {program}: exit {code}\n{out}")
            failed |= code != 0
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
