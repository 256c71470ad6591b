#!/usr/bin/env python3
"""The help viewer opens the generated help file at its contents, each jump
of the contents leads to its topic, an index entry of each topic leads to
it, and HELP_QUIT closes the viewer.

    help_viewer_test.py SOURCE_DIR PROBE.exe MossLane.hlp MossLane.help.txt SHOT.png

Runs under wine64 in a prefix and X display of its own; the screenshot of
the viewer showing the contents is kept as SHOT.png for review."""

import os
import re
import struct
import sys
import zlib

here = os.path.dirname(os.path.abspath(__file__))


def source_topics(path):
    """(title, context id) of each topic, the jumps of the first one, and
    for each topic an index keyword that leads to it alone."""
    topics, jumps, keywords = [], [], {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            m = re.match(r"^= (.+?)\s*\{([^}]*)\}\s*$", line)
            if m:
                topics.append((m.group(1), m.group(2)))
            elif line.startswith("Keywords:") and topics:
                for k in line[len("Keywords:"):].split(";"):
                    keywords.setdefault(k.strip().lower(), (k.strip(), set()))[1].add(topics[-1][0])
            elif len(topics) == 1:
                jumps += re.findall(r"\[([^\]]+)\]\(([A-Za-z0-9_.]+)\)", line)
    own = {}
    for spelling, titles in keywords.values():
        if len(titles) == 1:
            own.setdefault(next(iter(titles)), spelling)
    return topics, jumps, own


def bmp_to_png(bmp, png):
    """The probe's 24-bit bottom-up screenshot as a PNG."""
    with open(bmp, "rb") as f:
        data = f.read()
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits = struct.unpack_from("<iiHH", data, 18)
    if bits != 24 or width <= 0 or height <= 0:
        raise ValueError(f"unexpected screenshot format {width}x{height}x{bits}")
    stride = (width * 3 + 3) & ~3
    rows = bytearray()
    for y in range(height - 1, -1, -1):
        row = data[offset + y * stride: offset + y * stride + width * 3]
        rows.append(0)
        for x in range(0, len(row), 3):
            rows += bytes((row[x + 2], row[x + 1], row[x]))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF)
    with open(png, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(bytes(rows), 6)) + chunk(b"IEND", b""))
    # Share of pixels drawn in a green that dominates (hotspots), and of dark ones (text).
    pixels = [tuple(data[offset + y * stride + x * 3: offset + y * stride + x * 3 + 3])
              for y in range(height) for x in range(width)]
    green = sum(1 for b, g, r in pixels if g > 90 and r < g // 2 and b < g // 2) / len(pixels)
    dark = sum(1 for b, g, r in pixels if b + g + r < 200) / len(pixels)
    return width, height, green, dark


def main(argv):
    if len(argv) != 6:
        print(__doc__, file=sys.stderr)
        return 2
    source_dir, probe, help_file, source, shot = argv[1:]
    sys.path.insert(0, os.path.join(source_dir, "tallylib", "tests"))
    from winebox import WineBox

    topics, jumps, own_keywords = source_topics(source)
    # The contents is already on screen when the index is used: a choice
    # leading there would change nothing to wait for.
    own_keywords.pop(topics[0][0], None)
    titles = {context.lower(): title for title, context in topics}
    failures = []
    with WineBox(source_dir) as box:
        bmp = os.path.join(box.tmp, "shot.bmp")
        labels = [label for label, _ in jumps] + [f"index:{k}" for k in own_keywords.values()]
        code, out = box.run(probe, box.windows_path(help_file), box.windows_path(bmp), *labels, timeout=240)
        print(out)
        if os.path.exists(bmp):
            width, height, green, dark = bmp_to_png(bmp, shot)
            print(f"screenshot of the help viewer ({width}x{height}, {green:.1%} link green, {dark:.1%} dark): {shot}")
            # A blank or black capture would show neither green links nor text on white.
            if green < 0.001 or not 0.001 < dark < 0.5:
                failures.append(f"the screenshot shows no contents (green {green:.4f}, dark {dark:.4f})")
        else:
            failures.append("no screenshot")
    lines = out.splitlines()
    contents = next((l[len("CONTENTS "):] for l in lines if l.startswith("CONTENTS ")), None)
    if contents is None:
        failures.append("the viewer showed no topic")
    else:
        shown = contents.split("\\n")
        if shown[0] != topics[0][0]:
            failures.append(f"first topic shown is {shown[0]!r}, not the contents {topics[0][0]!r}")
        for label, _ in jumps:
            if label not in contents:
                failures.append(f"contents lacks the entry {label!r}")
    for label, target in jumps:
        expected = f"JUMP {label} -> {titles[target.lower()]}"
        if expected not in lines:
            failures.append(f"jump {label!r} did not lead to {titles[target.lower()]!r}")
    for title, keyword in own_keywords.items():
        if f"INDEX {keyword} -> {title}" not in lines:
            failures.append(f"index entry {keyword!r} did not lead to {title!r}")
    if len(own_keywords) < len(topics) - 1:
        failures.append("some topic has no index entry of its own")
    for line in lines:
        if line.startswith("ERRORBOX"):
            failures.append(f"the viewer showed a message box: {line}")
    if "QUIT ok" not in lines:
        failures.append("HELP_QUIT left the viewer open")
    if code != 0 and not failures:
        failures.append(f"probe exit code {code}")
    for f in failures:
        print("FAIL:", f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
