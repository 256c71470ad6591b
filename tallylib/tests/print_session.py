#!/usr/bin/env python3
"""Prints cards through tallylib.dll under Wine on a PostScript printer whose
output lands in a file, and reads the pages back with Ghostscript.
Usage: print_session.py SOURCE-DIR BIN-DIR"""

import html
import os
import re
import shutil
import subprocess
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from winebox import WineBox  # noqa: E402

SPOOLER = r"HKCU\Software\Wine\Printing\Spooler"
failures = []


def check(ok, what):
    print(("ok   " if ok else "FAIL ") + what)
    if not ok:
        failures.append(what)
    return ok


def read_pages(ps_path):
    """Pages of a PostScript file, each a list of (top, text) lines, top first."""
    xml = subprocess.run(["gs", "-q", "-dNOPAUSE", "-dBATCH", "-dSAFER", "-sDEVICE=txtwrite", "-dTextFormat=0",
                          "-sOutputFile=-", ps_path], capture_output=True, text=True, check=True).stdout
    pages = []
    for page in xml.split("<page")[1:]:
        rows = {}
        for x, y, c in re.findall(r'<char bbox="([\d.-]+) ([\d.-]+) [\d.-]+ [\d.-]+" c="([^"]*)"/>', page):
            rows.setdefault(float(y), []).append((float(x), html.unescape(c)))
        pages.append([(y, "".join(c for _, c in sorted(chars)).rstrip()) for y, chars in sorted(rows.items())])
    return pages


class Printer:
    def __init__(self, box, bin_dir):
        self.box, self.bin_dir, self.count = box, bin_dir, 0
        self.cards = os.path.join(box.tmp, "cards")
        os.makedirs(self.cards)

    def card(self, name, text):
        path = os.path.join(self.cards, name)
        with open(path, "w", newline="") as f:
            f.write(text)
        return path

    def print(self, card_path, setup=0, extra=(), timeout=120):
        """Prints a card; returns (result code, pages or None, helper exit code or None)."""
        self.count += 1
        out = os.path.join(self.box.tmp, f"out{self.count}.ps")
        self.box.reg_add(SPOOLER, "LPT1:", out)
        code, text = self.box.run(os.path.join(self.bin_dir, "tally_print.exe"), self.box.windows_path(card_path),
                                  str(setup), *extra, cwd=self.bin_dir, timeout=timeout)
        result = re.search(r"result (-?\d+)", text)
        helper = re.search(r"helper (\d+)", text)
        if not result:
            print(text)
        pages = read_pages(out) if os.path.exists(out) else None
        return (int(result.group(1)) if result else None), pages, (int(helper.group(1)) if helper else None)


def numbered(count):
    return "".join(f"line {i:03d}\r\n" for i in range(1, count + 1))


def check_layout(name, pages, count):
    """Whole lines in order; every page after the first starts one blank line lower."""
    text_lines = [t for page in pages for _, t in page]
    check(text_lines == [f"line {i:03d}" for i in range(1, count + 1)], f"{name}: every line once, whole, in order")
    first = pages[0]
    if not check(len(first) > 2, f"{name}: first page holds lines"):
        return
    pitch = first[1][0] - first[0][0]
    for n, page in enumerate(pages[1:], start=2):
        check(abs(page[0][0] - (first[0][0] + pitch)) < pitch / 4,
              f"{name}: page {n} begins with an empty line")


def run_cases(printer, box):
    code, pages, _ = printer.print(printer.card("long.txt", numbered(400)))
    check(code == 0 and pages is not None and len(pages) > 3, f"400 lines print on several pages ({code})")
    if not pages:
        return
    per_page = len(pages[0])
    check_layout("400 lines", pages, 400)

    count = 2 * per_page + per_page // 2
    code, pages, _ = printer.print(printer.card("three.txt", numbered(count)))
    check(code == 0 and pages is not None and len(pages) == 3, f"{count} lines make three pages ({code})")
    if pages:
        check_layout("three pages", pages, count)

    code, pages, _ = printer.print(printer.card("empty.txt", ""))
    check(code == 0 and pages is not None and len(pages) == 1 and pages[0] == [],
          f"an empty card prints one empty page ({code}, {pages})")

    code, pages, _ = printer.print(os.path.join(printer.cards, "missing.txt"))
    check(code == 101, f"a missing card gives 101 ({code})")
    code, pages, _ = printer.print(os.path.join(printer.cards, "p" * 600 + ".txt"))
    check(code == 101, f"an over-long card path gives 101 ({code})")

    words = [f"w{i:04d}" for i in range(1, 2501)]
    code, pages, _ = printer.print(printer.card("paragraph.txt", "start\r\n" + " ".join(words) + "\r\nend\r\n"),
                                   timeout=90)
    printed = " ".join(t for page in pages or [] for _, t in page).split()
    check(code == 0 and pages is not None and len(pages) > 1, f"a paragraph taller than a page prints ({code})")
    check(printed == ["start"] + words + ["end"], "the tall paragraph is printed whole and in order")

    code, pages, helper = printer.print(os.path.join(printer.cards, "long.txt"),
                                        extra=["tally_press_button.exe", "Printing...", "100"])
    check(code == 110 and helper == 0, f"Abort in the printing window gives 110 ({code}, helper {helper})")

    code, pages, helper = printer.print(os.path.join(printer.cards, "three.txt"), setup=1,
                                        extra=["tally_press_button.exe", "Print Setup", "2"])
    check(code == 112 and helper == 0 and pages is None,
          f"cancelling the setup dialog gives 112 and prints nothing ({code}, helper {helper})")

    for entry in (",,,", "NameOnly", "Tally Test Printer,wineps.drv"):
        code, pages, _ = printer.print(os.path.join(printer.cards, "three.txt"), extra=["--device", entry])
        check(code == 112 and pages is None, f"device entry {entry!r} gives 112 ({code})")

    # No spool file can be made: the job cannot start.
    spool = os.path.join(box.prefix, "drive_c", "windows", "system32", "spool", "PRINTERS")
    shutil.rmtree(spool, ignore_errors=True)
    with open(spool, "w"):
        pass
    code, pages, _ = printer.print(os.path.join(printer.cards, "three.txt"))
    check(code == 114, f"a job that cannot start gives 114 ({code})")


def main():
    source_dir, bin_dir = sys.argv[1], sys.argv[2]
    with WineBox(source_dir) as box:
        code, out = box.run(os.path.join(bin_dir, "tally_printer_setup.exe"), cwd=bin_dir)
        if check(code == 0, f"printer installed: {out.strip()}"):
            run_cases(Printer(box, bin_dir), box)
    print(f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
