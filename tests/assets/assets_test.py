#!/usr/bin/env python3
"""Reads back the generated help file, icon and About bitmap with readers of
this test's own and checks what the program and the help viewer rely on.

    assets_test.py --help-file H --help-source S --pictures DIR --generator make-help.py
"""

import argparse
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

ARGS = None

VGA_PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128), (0, 128, 128),
    (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0), (0, 0, 255),
    (255, 0, 255), (0, 255, 255), (255, 255, 255),
]

# --- A reader for Windows 3.1 help files ---------------------------------------------------


def cstring(data, at):
    end = data.index(b"\0", at)
    return data[at:end], end + 1


def expand_lz77(src, limit):
    out, i = bytearray(), 0
    while i < len(src) and len(out) < limit:
        flags = src[i]
        i += 1
        for bit in range(8):
            if i >= len(src) or len(out) >= limit:
                break
            if flags >> bit & 1:
                word, = struct.unpack_from("<H", src, i)
                i += 2
                distance, length = (word & 0xFFF) + 1, (word >> 12) + 3
                if distance > len(out):
                    raise AssertionError("LZ77 reference before the start of the block")
                for _ in range(length):
                    out.append(out[-distance])
            else:
                out.append(src[i])
                i += 1
    return bytes(out)


class Compressed:
    """The help file's variable-length numbers, read from a byte string."""

    def __init__(self, data):
        self.data, self.at = data, 0

    def byte(self):
        self.at += 1
        return self.data[self.at - 1]

    def short(self):
        self.at += 2
        return struct.unpack_from("<h", self.data, self.at - 2)[0]

    def long(self):
        self.at += 4
        return struct.unpack_from("<i", self.data, self.at - 4)[0]

    def cushort(self):
        b = self.byte()
        return b // 2 + 128 * self.byte() if b & 1 else b // 2

    def csshort(self):
        b = self.byte()
        return b // 2 + 128 * self.byte() - 16384 if b & 1 else b // 2 - 64

    def culong(self):
        w, = struct.unpack_from("<H", self.data, self.at)
        self.at += 2
        if w & 1:
            hi, = struct.unpack_from("<H", self.data, self.at)
            self.at += 2
            return w // 2 + 32768 * hi
        return w // 2


def read_btree(content, leaves=None):
    """Returns (structure, entries) of a B+ tree; each entry a tuple of fields.
    With a list for leaves, appends (page number, entry count) of each leaf."""
    magic, flags, page_size, structure, _, _, root, neg_one, pages, levels, total = struct.unpack_from(
        "<HHH16shhhhhhi", content)
    assert magic == 0x293B, hex(magic)
    assert neg_one == -1
    structure = structure.rstrip(b"\0").decode()
    page = lambda n: content[38 + n * page_size: 38 + (n + 1) * page_size]
    assert len(content) == 38 + pages * page_size, "tree size does not match its page count"
    node = root
    for _ in range(levels - 1):
        node = struct.unpack_from("<h", page(node), 4)[0]     # PreviousPage: the leftmost child
    entries, previous = [], -1
    while node != -1:
        p = page(node)
        unused, count, prev, nxt = struct.unpack_from("<Hhhh", p)
        assert prev == previous, "leaf pages are not linked both ways"
        at = 8
        for _ in range(count):
            fields = []
            for kind in structure:
                if kind in "zFi":
                    value, at = cstring(p, at)
                elif kind in "L4":
                    value, = struct.unpack_from("<i", p, at)
                    at += 4
                elif kind == "2":
                    value, = struct.unpack_from("<h", p, at)
                    at += 2
                else:
                    raise AssertionError(f"unknown field kind {kind!r}")
                fields.append(value)
            entries.append(tuple(fields))
        assert unused == page_size - at, "a leaf's free-byte count is wrong"
        if leaves is not None:
            leaves.append((node, count))
        previous, node = node, nxt
    assert len(entries) == total, "entry count in the header differs from the leaves"
    return structure, entries


class HelpFile:
    def __init__(self, data):
        self.data = data
        magic, directory, free, size = struct.unpack_from("<iiii", data)
        assert magic == 0x00035F3F, "not a help file"
        assert size == len(data), "EntireFileSize differs from the file's size"
        assert free == -1
        structure, entries = read_btree(self.internal(directory))
        assert structure == "z4"
        names = [name for name, _ in entries]
        assert names == sorted(names), "internal directory is not sorted"
        self.files = {name.decode(): self.internal(offset) for name, offset in entries}
        self.offsets = {name.decode(): offset for name, offset in entries} | {"(directory)": directory}

    def internal(self, offset):
        reserved, used, _ = struct.unpack_from("<iiB", self.data, offset)
        assert reserved >= used + 9 and offset + reserved <= len(self.data), "internal file out of bounds"
        return self.data[offset + 9: offset + 9 + used]

    def system(self):
        s = self.files["|SYSTEM"]
        magic, minor, major, _, flags = struct.unpack_from("<HHHiH", s)
        assert (magic, minor, major) == (0x036C, 21, 1)
        records, at = {}, 12
        while at < len(s):
            kind, size = struct.unpack_from("<HH", s, at)
            records[kind] = s[at + 4: at + 4 + size]
            at += 4 + size
        assert at == len(s), "|SYSTEM records overrun the file"
        return flags, records

    def blocks(self):
        flags, _ = self.system()
        topic = self.files["|TOPIC"]
        assert len(topic) % 4096 == 0, "|TOPIC is not made of whole 4k blocks"
        assert flags in (0, 4)
        out = []
        for b in range(len(topic) // 4096):
            raw = topic[b * 4096: (b + 1) * 4096]
            header = struct.unpack_from("<iii", raw)
            body = expand_lz77(raw[12:], 0x4000) if flags == 4 else raw[12:]
            out.append((header, body))
        return out, (0x4000 if flags == 4 else 4096 - 12)

    def links(self):
        """Every TOPICLINK in order, followed by NextBlock from the first."""
        blocks, size = self.blocks()
        links, pos, prev, seen = [], 12, -1, set()
        while pos != -1:
            assert pos not in seen, "topic links loop"
            seen.add(pos)
            block, offset = (pos - 12) // size, (pos - 12) % size
            body = blocks[block][1]
            block_size, len2, back, nxt, len1, kind = struct.unpack_from("<iiiiiB", body, offset)
            assert offset + block_size <= len(body), "a topic link runs past its block"
            assert back == prev, "PrevBlock does not point at the previous link"
            data1 = body[offset + 21: offset + len1]
            data2 = body[offset + len1: offset + block_size]
            assert len2 == len(data2), "LinkData2 is not stored as is"
            links.append({"pos": pos, "block": block, "kind": kind, "data1": data1, "data2": data2})
            prev, pos = pos, nxt
        return links

    def topics(self):
        """Topics with title, header fields, text, jumps and TOPICOFFSET."""
        topics, chars, block = [], 0, -1
        for link in self.links():
            if link["block"] != block:
                block, chars = link["block"], 0
            if link["kind"] == 0x02:
                fields = struct.unpack("<iiiiiii", link["data1"])
                title = link["data2"].split(b"\0")[0].decode("cp1252")
                topics.append({"title": title, "fields": fields, "pos": link["pos"], "text": "",
                               "jumps": [], "offset": block * 0x8000 + chars, "records": [],
                               "fonts": set()})
            elif link["kind"] == 0x20:
                text, jumps, length, fonts = parse_display(link["data1"], link["data2"])
                topics[-1]["fonts"] |= fonts
                topics[-1]["text"] += text
                topics[-1]["jumps"] += jumps
                topics[-1]["records"].append(link["pos"])
                chars += length
            else:
                raise AssertionError(f"unexpected record type {link['kind']:#x}")
        return topics


def parse_display(data1, data2):
    """Text, jumps (hash, label), TopicLength and fonts of one displayable record."""
    r = Compressed(data1)
    r.culong()
    length = r.cushort()
    assert length == len(data2), "TopicLength does not count the record's characters"
    r.at += 4                                  # two unknown bytes and the paragraph id
    bits, = struct.unpack_from("<H", data1, r.at)
    r.at += 2
    if bits & 0x0001:
        r.culong()
    for bit in (0x0002, 0x0004, 0x0008, 0x0010, 0x0020, 0x0040):
        if bits & bit:
            r.csshort()
    assert not bits & 0x0300, "borders and tabs are not expected"
    strings = data2.split(b"\0")
    text, jumps, s, hotspot, fonts_used = "", [], 0, None, set()
    while True:
        piece = strings[s].decode("cp1252")
        s += 1
        text += piece
        if hotspot is not None:
            hotspot[1] += piece
        code = r.byte()
        if code == 0xFF:
            break
        if code == 0x80:
            fonts_used.add(r.short())
        elif code in (0x81, 0x82):
            text += "\n"
        elif code == 0xE3:
            hotspot = [r.long(), ""]
        elif code == 0x89:
            assert hotspot is not None, "end of hotspot without a start"
            jumps.append(tuple(hotspot))
            hotspot = None
        else:
            raise AssertionError(f"unexpected formatting command {code:#x}")
    assert r.at == len(data1), "formatting commands do not end at the end of LinkData1"
    assert s == len(strings) - 1, "strings left over after the last command"
    return text, jumps, length, fonts_used


# --- Checks shared by the real help file and the large fixture -------------------------------

def check_structure(test, hlp):
    """The consistency the viewer depends on, without knowing the content."""
    keyword_files = {"|KWBTREE", "|KWDATA", "|KWMAP"}
    names = set(hlp.files)
    if names & keyword_files:
        test.assertLessEqual(keyword_files, names, "part of the keyword index is missing")
    test.assertEqual(names - keyword_files, {"|SYSTEM", "|FONT", "|TOPIC", "|CONTEXT", "|TTLBTREE"})
    # ReservedSpace counts the FILEHEADER itself.
    spans = sorted((off, off + struct.unpack_from("<i", hlp.data, off)[0]) for off in hlp.offsets.values())
    for (_, end), (start, _) in zip(spans, spans[1:]):
        test.assertLessEqual(end, start, "internal files overlap")

    blocks, size = hlp.blocks()
    topics = hlp.topics()
    links = hlp.links()
    by_offset = {t["offset"]: t for t in topics}
    test.assertEqual(len(by_offset), len(topics), "two topics share a TOPICOFFSET")

    # Block headers: the first link of each block and the links before it.
    for b, (header, _) in enumerate(blocks):
        in_block = [l["pos"] for l in links if l["block"] == b]
        before = [l["pos"] for l in links if l["block"] < b]
        test.assertTrue(in_block, f"block {b} holds no link")
        test.assertEqual(header[1], in_block[0], f"FirstTopicLink of block {b}")
        test.assertEqual(header[0], before[-1] if before else -1, f"LastTopicLink of block {b}")

    # The last link closes the file; every real topic has text.
    real = [t for t in topics if t["title"]]
    test.assertEqual(topics[-1]["title"], "", "no closing record after the last topic")
    for i, t in enumerate(real):
        _, back, forward, number, nonscroll, scroll, next_topic = t["fields"]
        test.assertEqual(number, i)
        test.assertTrue(t["records"], f"topic {t['title']!r} has no text")
        test.assertEqual(t["offset"] >> 15, (t["records"][0] - 12) // size,
                         f"topic {t['title']!r} starts in another block than its text")
        test.assertEqual(scroll, t["records"][0], "Scroll does not point at the first text")
        test.assertEqual(nonscroll, -1)
        following = real[i + 1] if i + 1 < len(real) else topics[-1]
        test.assertEqual(next_topic, following["pos"], "NextTopic is not the next topic header")
        test.assertEqual(back, real[i - 1]["offset"] if i else -1, "browse back")
        test.assertEqual(forward, real[i + 1]["offset"] if i + 1 < len(real) else -1, "browse forward")

    # Contents, context and title trees all name topic starts.
    _, records = hlp.system()
    contents, = struct.unpack("<i", records[3])
    test.assertEqual(contents, real[0]["offset"], "the contents topic is not the first topic")
    test.assertTrue(records[1].rstrip(b"\0"), "the help file has no title")
    structure, context = read_btree(hlp.files["|CONTEXT"])
    test.assertEqual(structure, "L4")
    test.assertEqual([h for h, _ in context], sorted(h for h, _ in context), "|CONTEXT not sorted by hash")
    test.assertEqual(sorted(o for _, o in context), sorted(t["offset"] for t in real))
    structure, titles = read_btree(hlp.files["|TTLBTREE"])
    test.assertEqual(structure, "Lz")
    test.assertEqual([(o, s.decode("cp1252")) for o, s in titles], [(t["offset"], t["title"]) for t in real])

    # Every jump names a context that leads to a topic; every font exists.
    targets = dict(context)
    descriptors, = struct.unpack_from("<H", hlp.files["|FONT"], 2)
    for t in real:
        test.assertLess(max(t["fonts"]), descriptors, f"{t['title']!r} selects a missing font")
        for h, label in t["jumps"]:
            test.assertIn(h, targets, f"jump {label!r} in {t['title']!r} has no target")
            test.assertIn(targets[h], by_offset)
        test.assertNotIn("**", t["text"])
        test.assertNotIn("](", t["text"])
    hlp.keywords = check_keywords(test, hlp, by_offset)
    return real, targets, by_offset


def check_keywords(test, hlp, by_offset):
    """{keyword: [topic titles]} from the keyword index, checked on the way."""
    if "|KWBTREE" not in hlp.files:
        return {}
    leaves = []
    structure, entries = read_btree(hlp.files["|KWBTREE"], leaves)
    test.assertEqual(structure, "F24")
    names = [k.decode("cp1252") for k, _, _ in entries]
    test.assertEqual(names, sorted(names, key=str.lower), "keywords not in the viewer's order")
    test.assertEqual(len({n.lower() for n in names}), len(names), "a keyword listed twice")
    data, index, used = hlp.files["|KWDATA"], {}, 0
    for name, (_, count, at) in zip(names, entries):
        test.assertGreater(count, 0)
        test.assertEqual(at, used, "keyword data not in keyword order")
        offsets = struct.unpack_from(f"<{count}i", data, at)
        used = at + 4 * count
        for o in offsets:
            test.assertIn(o, by_offset, f"keyword {name!r} leads to no topic")
        index[name] = [by_offset[o]["title"] for o in offsets]
    test.assertEqual(used, len(data), "keyword data has bytes no keyword uses")
    kwmap = hlp.files["|KWMAP"]
    test.assertEqual(len(kwmap), 6 * len(leaves))
    first = 0
    for i, (page, count) in enumerate(leaves):
        test.assertEqual(struct.unpack_from("<iH", kwmap, 6 * i), (first, page), "|KWMAP entry")
        first += count
    return index


def compile_source(text, directory):
    src, out = os.path.join(directory, "in.help.txt"), os.path.join(directory, "out.hlp")
    with open(src, "w", encoding="utf-8") as f:
        f.write(text)
    result = subprocess.run([sys.executable, ARGS.generator, src, out], capture_output=True, text=True)
    return result, out


class GeneratedHelpFile(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(ARGS.help_file, "rb") as f:
            cls.hlp = HelpFile(f.read())
        with open(ARGS.help_source, encoding="utf-8") as f:
            cls.source = f.read()

    def test_structure_is_consistent(self):
        check_structure(self, self.hlp)

    def test_topics_follow_the_source(self):
        real, _, _ = check_structure(self, self.hlp)
        expected = re.findall(r"^= (.+?)\s*\{", self.source, re.M)
        self.assertEqual([t["title"] for t in real], expected)
        title = re.search(r"^Title:\s*(.+)$", self.source, re.M).group(1).strip()
        self.assertEqual(self.hlp.system()[1][1], title.encode("cp1252") + b"\0")
        for t in real:
            self.assertTrue(t["text"].startswith(t["title"] + "\n"), f"{t['title']!r} does not show its title")
        expected_keywords, title = {}, None
        for line in self.source.splitlines():
            m = re.match(r"^= (.+?)\s*\{", line)
            if m:
                title = m.group(1)
            elif line.startswith("Keywords:"):
                for k in line[len("Keywords:"):].split(";"):
                    titles = expected_keywords.setdefault(k.strip().lower(), [])
                    if title not in titles:
                        titles.append(title)
        self.assertEqual({k.lower(): v for k, v in self.hlp.keywords.items()}, expected_keywords)

    def test_contents_jumps_to_every_topic(self):
        real, targets, by_offset = check_structure(self, self.hlp)
        reached = {by_offset[targets[h]]["title"] for h, _ in real[0]["jumps"]}
        self.assertEqual(reached, {t["title"] for t in real[1:]})

    def test_manual_covers_what_users_meet(self):
        real, _, _ = check_structure(self, self.hlp)
        text = {t["title"]: t["text"] for t in real}
        everything = "\n".join(text.values())
        cases = [
            ("The menu commands", ["Set Incoming Folder...", "Set Outgoing Folder...", "Text Files...", "Port",
                                   "COM1", "COM4", "Baud", "115200", "57600", "19200", "Handshaking", "CTS",
                                   "None", "Clean Registry and Exit", "Exit", "Contents...",
                                   "About Moss Lane..."]),
            ("What the window shows", ["Idle", "Handshaking...", "Sending:", "Receiving:", "Finished",
                                       "Bytes Left", "Errors", "Files", "Total Bytes", "Cancel"]),
            ("Files that were not sent: the !unsent folder", ["!unsent"]),
            ("Text files and line ends", ["Translate incoming text files", "CR LF", ".txt"]),
            ("When nothing moves", ["The serial port is not available.", "10 seconds", "null-modem",
                                    "Baud", "Handshaking", "running"]),
            ("Setting the incoming and outgoing folders", ["incoming folder", "outgoing folder", "Select"]),
        ]
        for title, phrases in cases:
            with self.subTest(topic=title):
                self.assertIn(title, text)
                for phrase in phrases:
                    self.assertIn(phrase, text[title])
        self.assertNotIn("\ufffd", everything)

    def test_blocks_fit_the_viewer_buffers(self):
        flags, _ = self.hlp.system()
        self.assertEqual(flags, 4, "topic blocks should be LZ77 with 4k blocks")
        blocks, size = self.hlp.blocks()
        for header, body in blocks:
            self.assertLessEqual(len(body), size)

    def test_fonts_are_described(self):
        f = self.hlp.files["|FONT"]
        faces, descriptors, face_at, desc_at = struct.unpack_from("<HHHH", f)
        self.assertEqual(face_at, 8)
        self.assertEqual(len(f), desc_at + 11 * descriptors)
        face_len = (desc_at - face_at) // faces
        for d in range(descriptors):
            _, half_points, _, face = struct.unpack_from("<BBBH", f, desc_at + 11 * d)
            self.assertLess(face, faces)
            self.assertTrue(16 <= half_points <= 40)
        self.assertTrue(f[face_at:face_at + face_len].rstrip(b"\0"))


class GeneratorInput(unittest.TestCase):
    GOOD = "Title: T\n\n= First {first}\nSee [second](second).\n\n= Second {second}\nText.\n"

    def test_bad_sources_are_refused_with_their_line(self):
        cases = [
            ("jump to a missing topic", self.GOOD.replace("(second)", "(third)"), "line 4"),
            ("context id used twice", self.GOOD.replace("{second}", "{First}"), "line 6"),
            ("text before the first topic", "Title: T\nstray text\n= A {a}\nx\n", "line 2"),
            ("topic line without id", "Title: T\n= A\nx\n", "line 2"),
            ("id with a space", "Title: T\n= A {a b}\nx\n", "line 2"),
            ("character outside the ANSI code page", self.GOOD.replace("Text.", "Text \u2192 more."), "\u2192"),
            ("topic without text", self.GOOD + "= Empty {empty}\n", "line 8"),
            ("no title", self.GOOD.replace("Title: T\n", ""), "Title"),
            ("unbalanced bold", self.GOOD.replace("Text.", "**Text."), "line 7"),
            ("empty keyword", self.GOOD.replace("Text.", "Keywords: a;;b\nText."), "line 7"),
            ("keywords before any topic", "Title: T\nKeywords: a\n= A {a}\nx\n", "line 2"),
        ]
        for name, source, message in cases:
            with self.subTest(name), tempfile.TemporaryDirectory() as d:
                result, out = compile_source(source, d)
                self.assertEqual(result.returncode, 1, result.stderr)
                self.assertIn(message, result.stderr)
                self.assertFalse(os.path.exists(out), "a refused source still left a help file")

    def test_large_manual_spans_blocks_and_tree_pages(self):
        # Enough topics that |TOPIC needs many blocks and the title tree more
        # than one page, with a contents topic jumping to each.
        n = 160
        parts = ["Title: Large\n", "= Contents {contents}\n"]
        parts += [f"* [Topic number {i}](t{i})\n" for i in range(n)]
        for i in range(n):
            parts.append(f"\n= Topic number {i} {{t{i}}}\n")
            parts.append(f"Keywords: keyword number {i} of the large manual; shared; Shared\n")
            parts.append(("Words of a paragraph that the viewer wraps. " * (8 + i % 5)) + f"End of {i}.\n")
            parts.append(f"\n* item {i} **bold** and back to [the contents](contents)\n")
        with tempfile.TemporaryDirectory() as d:
            result, out = compile_source("".join(parts), d)
            self.assertEqual(result.returncode, 0, result.stderr)
            with open(out, "rb") as f:
                hlp = HelpFile(f.read())
        real, targets, by_offset = check_structure(self, hlp)
        self.assertEqual(len(real), n + 1)
        self.assertGreater(len(hlp.blocks()[0]), 5)
        self.assertGreater(struct.unpack_from("<h", hlp.files["|TTLBTREE"], 32)[0], 1, "title tree fits one page")
        self.assertEqual(hlp.keywords["shared"], [t["title"] for t in real[1:]])
        self.assertEqual(len(hlp.keywords), n + 1)
        self.assertGreater(struct.unpack_from("<h", hlp.files["|KWBTREE"], 32)[0], 1, "keywords fit one page")
        for t in real[1:]:
            self.assertIn(f"End of {t['fields'][3] - 1}.", t["text"])
            (h, label), = t["jumps"]
            self.assertIs(by_offset[targets[h]], real[0])


# --- Pictures ------------------------------------------------------------------------------


def palette(data, at, count=16):
    return [(data[at + 4 * i + 2], data[at + 4 * i + 1], data[at + 4 * i]) for i in range(count)]


def pixel4(rows, stride, height, x, y):
    """Colour index of (x, y), y counted from the top, in bottom-up 4-bit rows."""
    byte = rows[(height - 1 - y) * stride + x // 2]
    return byte >> 4 if x % 2 == 0 else byte & 15


class Pictures(unittest.TestCase):
    def read(self, name):
        with open(os.path.join(ARGS.pictures, name), "rb") as f:
            return f.read()

    def test_icon_holds_32_and_16_pixel_images_in_16_colours(self):
        ico = self.read("mosslane.ico")
        reserved, kind, count = struct.unpack_from("<HHH", ico)
        self.assertEqual((reserved, kind, count), (0, 1, 2))
        sizes = []
        for i in range(count):
            w, h, colours, _, planes, bits, size, offset = struct.unpack_from("<BBBBHHII", ico, 6 + 16 * i)
            sizes.append(w)
            with self.subTest(size=w):
                self.assertEqual((w, h, colours, planes, bits), (w, w, 16, 1, 4))
                self.assertLessEqual(offset + size, len(ico))
                hsize, bw, bh, bplanes, bbits, compression = struct.unpack_from("<IiiHHI", ico, offset)
                self.assertEqual((hsize, bw, bh, bplanes, bbits, compression), (40, w, 2 * w, 1, 4, 0))
                xor_stride, and_stride = ((w * 4 + 31) // 32) * 4, ((w + 31) // 32) * 4
                self.assertEqual(size, 40 + 64 + xor_stride * w + and_stride * w)
                self.assertEqual(palette(ico, offset + 40), VGA_PALETTE)
                xor = ico[offset + 104: offset + 104 + xor_stride * w]
                mask = ico[offset + 104 + xor_stride * w: offset + size]
                clear = lambda x, y: mask[(w - 1 - y) * and_stride + x // 8] >> (7 - x % 8) & 1
                # Rounded corners show the desktop; the middle is opaque.
                self.assertTrue(clear(0, 0) and clear(w - 1, 0) and clear(0, w - 1) and clear(w - 1, w - 1))
                self.assertFalse(clear(w // 2, w // 2))
                # Where the mask is clear the image must be black, or the screen shows inverted.
                for y in range(w):
                    for x in range(w):
                        if clear(x, y):
                            self.assertEqual(pixel4(xor, xor_stride, w, x, y), 0, (x, y))
        self.assertEqual(sizes, [32, 16])

    def test_about_bitmap_is_376_by_200_in_16_colours(self):
        bmp = self.read("mosslane.bmp")
        magic, size, _, _, offset = struct.unpack_from("<2sIHHI", bmp)
        self.assertEqual((magic, size), (b"BM", len(bmp)))
        hsize, w, h, planes, bits, compression, image, _, _, used, _ = struct.unpack_from("<IiiHHIIiiII", bmp, 14)
        self.assertEqual((hsize, w, h, planes, bits, compression), (40, 376, 200, 1, 4, 0))
        self.assertIn(used, (0, 16))
        self.assertEqual(offset, 14 + 40 + 64)
        self.assertEqual(image, 188 * 200)
        self.assertEqual(len(bmp), offset + image)
        self.assertEqual(palette(bmp, 54), VGA_PALETTE)

    def test_about_text_area_is_plain_white(self):
        # The About window writes two black lines centred on x = 94 at baselines
        # 90 and 113 in a 12-pixel font: the area must stay white to be read.
        bmp = self.read("mosslane.bmp")
        rows = bmp[118:]
        for y in range(90 - 12, 113 + 5):
            for x in range(94 - 70, 94 + 70):
                self.assertEqual(pixel4(rows, 188, 200, x, y), 15, (x, y))
        right = {pixel4(rows, 188, 200, x, y) for y in range(0, 200, 3) for x in range(188, 376, 3)}
        self.assertGreaterEqual(len(right), 6, "the right half carries no picture")


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--help-file", required=True)
    parser.add_argument("--help-source", required=True)
    parser.add_argument("--pictures", required=True)
    parser.add_argument("--generator", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
